#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

class QLabel;
class QPushButton;

// Output menu (code 6, under the settings menu): LED screen size and LED output ports, and a line
// with the LED screen size now set.
class OutputSet : public VyrPage {
    Q_OBJECT
public:
    explicit OutputSet(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override; // also the size line: PC tools set the LED size too

    QPushButton* Button_ledset;
    QPushButton* Button_lanset;
    QLabel* label_info;
    QLabel* label_note_OK;
    QLabel* label_note_back;

private:
    void showSize();

public Q_SLOTS:
    void on_Button_ledset_clicked();
    void on_Button_lanset_clicked();
};

extern QPointer<OutputSet> g_outputset;

// A text entry of the small menus: 90x80, white 9-point text, no keyboard focus.
QPushButton* menuTextButton(QWidget* page, const char* name, int x, int y);
