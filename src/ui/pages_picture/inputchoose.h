#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;

// Input choice page (code 3): for each window that is on, choose one of the six inputs or one of
// an input's crops. Level 0 walks the window bar and the crop and EDID buttons, level 1 the six
// input tabs, level 2 the entries of the chosen input (the input itself, then its crops by
// number), three per screen page.
class InputChoose : public VyrPage {
    Q_OBJECT
public:
    explicit InputChoose(QWidget* parent = nullptr);
    void menulist_init();
    void language_changed() override;
    void syncUpdate(int code) override;
    void initMenu();
    void TextCreate(uint8_t window);
    void input_source_changed(uint8_t window);
    void imagemenu();
    void image_select();
    void on_Button_source_clicked();
    void initSource();
    void crop_source_num_update();
    void source_name_update();
    void source_check_update();
    uint8_t get_source_num(uint8_t input) const;
    uint8_t source_current_check();
    void para_source_index_init();
    void para_uiselect_init();
    void vyr_source_button_clicked();
    void vyr_button_inputcut_clicked();
    void vyr_button_EDID_clicked();

    // State the tests look at.
    uint8_t ui_seltype = 0;
    uint8_t current_window = 0;
    uint8_t current_source = 0;  // input whose entries are listed
    uint8_t current_tab = 0;
    uint8_t current_page = 0;
    uint8_t max_page = 0;
    uint8_t bar_count = 0;
    uint8_t bar_window[6] = {};

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    uint8_t entryInUse(uint8_t input) const; // entry of `input` the current window shows, 0xFF when none
    void readWindowSource();
    bool hasSignal(uint8_t input) const;

    const QString style_focus;
    const QString style_focus_level1;
    const QString style_focus_hidden;
    const QString style_button;
    const QString style_button_focused;
    const QString style_tab;
    const QString style_tab_focused;
    const QString style_list;
    const QString style_list_focused;
    uint8_t source_count[6] = {}; // entries (crops + 1) by list position
    uint8_t saved_select = 0;     // level-0 focus to return to
    uint8_t window_source = 0;    // the current window's input as last read or written
    uint16_t window_is_crop = 0;
    uint8_t window_crop_index = 0;
    QString current_name;
    QFrame* container = nullptr;
    QFrame* focus_frame = nullptr;
    QFrame* list_frame = nullptr;
    QFrame* frame1;
    QLabel* tab_name[6];
    QLabel* tab_pixmap[6];
    QLabel* window_name[6] = {};
    QPushButton* button_inputcut;
    QPushButton* button_EDID;
};

extern QPointer<InputChoose> g_inputchoose;
