#pragma once
#include "ui/edit_origin.h"
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// EDID settings page (code 8, from the input choice page): the width, height and refresh rate
// (60 or 30) that each of the six inputs announces to its source. Three levels: input tabs, the
// edit row, the refresh rate being changed.
class EDIDset : public VyrPage {
    Q_OBJECT
public:
    // What the edit row accepts; anything else is refused with the row left open, nothing written.
    static constexpr int kMinWidth = 640, kMaxWidth = 4095; // an EDID timing holds 12 bits of width
    static constexpr int kMinHeight = 480, kMaxHeight = 2160;

    explicit EDIDset(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;

    // Asks for one number on the keypad: true with *out inside [min, max] when the operator
    // confirmed one. Set when the keypad is built; without it the fields cannot be edited.
    static std::function<bool(const QString& title, const QString& value, int min, int max, int* out)> askNumber;

    uint8_t ui_line_select = 0; // 0 width, 1 height, 2 rate, 3 Delete, 4 Cancel, 5 Save
    uint8_t ui_seltype = 0;     // 0 input tabs, 1 edit row, 2 rate being changed
    uint8_t refresh_choice = 0; // 1 = 60, 0 = 30
    uint8_t current_input = 2;  // input id
    QString current_name;

    QLabel* tab_name[6];
    QFrame* tab_marker;
    QFrame* frame_source = nullptr;
    QLabel* tile_name = nullptr;
    QLabel* tile_timing = nullptr;
    QFrame* frame_add;
    QLabel* label_edid_source;
    QLabel* label_W;
    QLabel* label_H;
    QLabel* label_freq;
    QLabel* label_rate;
    QLabel* label_note; // why Save stored nothing; hidden otherwise
    QString refused_timing; // "WxH@R" the input's receiver does not take; empty: the ranges
    bool changed_elsewhere = false; // the note says the record was written elsewhere meanwhile
    QLineEdit* lineEdit_W;
    QLineEdit* lineEdit_H;
    QPushButton* button_delete;
    QPushButton* button_cancel;
    QPushButton* button_save;

    static int inputAtTab(int tab); // tab order HDMI1, HDMI2, HDMI3, HDMI4, DVI, EXT
    static QString inputName(int id);

public Q_SLOTS:
    void slot_Button_back_clicked() override;

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void vyr_button_input_clicked();
    void vyr_button_source_clicked();
    bool vyr_button_ok_clicked(); // false: refused, the row stays open
    void vyr_button_cancel_clicked();
    void on_Button_freq_clicked();
    void source_init();
    void editField(QLineEdit* field);
    QWidget* lineEntry(int i) const;
    void styleLineEntry(int i, bool focused);
    void setNoteText();
    void showNote();
    QVariantList rowValues() const; // width, height and rate as the row shows them

    QString field_normal, field_focused, field_changing, button_normal, button_focused;
    QString saved_rate_text; // what the rate showed when level 2 was entered
    uint8_t saved_choice = 0;
    EditOrigin origin_; // the record the row was opened on
};

extern QPointer<EDIDset> g_edidset;
