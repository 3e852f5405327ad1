#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

class QFrame;
class QLabel;
class QPushButton;

// Serial port page (code 21, under the communication menu): the fixed settings of the control
// port, 115200 baud, 8 data bits, 1 stop bit. Nothing on it can be changed.
class linkcom : public VyrPage {
    Q_OBJECT
public:
    explicit linkcom(QWidget* parent = nullptr);
    void language_changed() override;

    QFrame* frame;
    QLabel* label_baud;
    QLabel* label_bit;
    QLabel* label_stop;
    QPushButton* Button_baud;
    QPushButton* pushButton;
    QPushButton* pushButton_2;

protected:
    void okReleased() override {}
};

extern QPointer<linkcom> g_linkcom;
