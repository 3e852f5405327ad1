#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

// Factory page (code 18, under the advanced menu): the panel language, three factory resets of the
// parameter block (the third also restores the wired address settings) and which on-screen fonts
// the scaler's flash holds. Worked by the keys only; nothing is connected to its widgets.
class factory : public VyrPage {
    Q_OBJECT
public:
    // What each reset restores (the value is also the focus entry of its button).
    enum Reset { KeepIp = 1, KeepIpEdid = 2, ResetAll = 3 };
    static const char* const kDefaultIp;
    static const char* const kDefaultMask;
    static const char* const kDefaultGateway;

    explicit factory(QWidget* parent = nullptr);
    void para_init() {}
    void menulist_init();
    void language_changed() override;
    void syncUpdate(int code) override;
    void on_Button_lang_clicked();
    void on_Button_reset1_clicked() { factoryReset(KeepIp); }
    void on_Button_reset2_clicked() { factoryReset(KeepIpEdid); }
    void on_Button_reset3_clicked() { factoryReset(ResetAll); }

    // One font presence line: head, then the 32, 64 and 128 items green when present, red when
    // not. Bits of the scaler's presence word: 0 32CN, 1 32EN, 2 64CN, 3 64EN.
    static QString fontLine(bool chinese, uint32_t presence, int language);

    uint8_t lang_edit = 0;  // 1 while the language box is being edited
    uint8_t lang_index = 0; // entry of the box, 0-4, in the codes of g_language

    QFrame* frame;
    QLabel* label_lang;
    QComboBox* Box_lang_2;
    QLabel* label;
    QLabel* label_rst;
    QLabel* label_ip;
    QLabel* label_edid;
    QLabel* label_all;
    QPushButton* Button_rst1;
    QPushButton* Button_rst2;
    QPushButton* Button_rst3;
    QLabel* label2;
    QLabel* FontCN;
    QLabel* FontEN;

    const QString box_normal, box_focused, box_editing, button_normal, button_focused;

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void factoryReset(Reset kind);
    void fontLinesUpdate();
    void styleEntry(uint8_t entry, bool focused);
};

extern QPointer<factory> g_factory;
