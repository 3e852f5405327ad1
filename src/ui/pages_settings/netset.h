#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// LED output port view (code 14, under the output menu): the sixteen output ports four at a time,
// each with its link state, and the area FPGA 0's parameter image holds for the selected one.
// Read-only: it writes nothing.
class netset : public VyrPage {
    Q_OBJECT
public:
    static constexpr int kPorts = 16;
    static constexpr int kColumns = 4;
    static constexpr int kRefreshMs = 1000; // links and areas re-read while shown

    explicit netset(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;
    void initMenu();
    void wlan_para_get(unsigned short port); // detail fields of the port and the four names
    void initWlan();                         // the four link icons
    void para_init() {}
    void menulist_init();
    static QString portName(int number, int language); // number from 1

    uint8_t ui_sel = 0;        // column of the selected port, 0-3
    uint8_t ui_min_select = 0; // port in the first column, 0-12
    QPushButton* cell[kColumns];
    QLabel* link_icon[kColumns]; // L1label-L4label
    QLabel* port_label[kColumns]; // LED1label-LED4label
    QString link_picture[kColumns]; // resource path each icon shows
    QLabel* l_p;
    QLabel* r_p;
    QFrame* net_frame;
    QFrame* xywh_frame;
    QLabel* x_label;
    QLabel* y_label;
    QLabel* w_label;
    QLabel* h_label;
    QLineEdit* x_lineEdit;
    QLineEdit* y_lineEdit;
    QLineEdit* w_lineEdit;
    QLineEdit* h_lineEdit;

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void moveSelection(bool right);
    void placeHighlight();
    void refreshPorts();

    const QString cell_normal, cell_selected;
    QTimer* refresh_timer;
};

extern QPointer<netset> g_netset;
