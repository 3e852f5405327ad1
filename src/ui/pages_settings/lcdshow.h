#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>

class QComboBox;
class QFrame;
class QLabel;

// Front LCD page (code 15, under the advanced menu): the return-to-main time and the auto-lock
// time, each a selector of three choices. The choices act on nothing and are not kept: every
// opening shows the first of each. One choice index serves both selectors.
class lcdshow : public VyrPage {
    Q_OBJECT
public:
    explicit lcdshow(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int) override {} // no refresh while open: the texts follow at the next opening
    void para_init();
    void menulist_init();

    uint8_t edit_flag = 0;    // 0 browsing, 1 editing the focused selector
    uint8_t choice_index = 0; // 0-2, shared by the two selectors
    QFrame* frame;
    QLabel* label_backmainwindow;
    QLabel* label_autolock;
    QComboBox* comboBox_back;
    QComboBox* comboBox_lock;
    QComboBox* focused = nullptr;

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    QString style_nofocus, style_focus, style_editing;
};

extern QPointer<lcdshow> g_lcdshow;
