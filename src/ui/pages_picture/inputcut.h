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
class My_lineEdit;

// Crop page (code 7, from the input choice page or the settings menu): the crops of each input,
// six entries to a screen page, added, edited and deleted through an editor of X, Y, W and H.
// Levels: 0 input tabs, 1 entry list, 2 editor of a new crop, 3 editor of an existing crop.
class InputCut : public VyrPage {
    Q_OBJECT
public:
    static constexpr int kMaxCoordinate = 32767; // the table keeps signed 16-bit numbers

    explicit InputCut(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;

    // Asks for one number on the keypad: true with *out inside [min, max] when one was confirmed.
    // Tests put their own in its place.
    static std::function<bool(const QString& title, const QString& value, int min, int max, int* out)> askNumber;

    uint8_t get_source_num(uint8_t id) const; // entry count of the input (crops + 1), 0 above 5
    // The input's active width and height when all three timing words are present, else false.
    static bool inputTiming(uint8_t input, int* width, int* height, int* rate = nullptr);

    uint8_t level = 0;          // 0 tabs, 1 list, 2 new-crop editor, 3 existing-crop editor
    uint8_t edit_select = 0;    // editor focus: 0 X, 1 Y, 2 W, 3 H, 4 Delete, 5 Cancel, 6 OK
    uint8_t current_page = 0;   // screen page of the list
    uint8_t last_page = 0;
    uint8_t current_input = 2;  // input id
    uint8_t current_entry = 0;  // entry whose crop the editor shows (1 and up)
    QString current_name;

    QLabel* tab_name[6];
    QLabel* tab_pixmap[6];
    QFrame* tab_marker;
    QFrame* frame_source = nullptr;
    QPushButton* button_add = nullptr;
    QFrame* frame_add;
    QLabel* label_change_source;
    QLabel* label_crop;
    QLabel* label_X;
    QLabel* label_Y;
    QLabel* label_W;
    QLabel* label_H;
    My_lineEdit* lineEdit_X;
    My_lineEdit* lineEdit_Y;
    My_lineEdit* lineEdit_W;
    My_lineEdit* lineEdit_H;
    QPushButton* button_delete;
    QPushButton* button_cancel;
    QPushButton* button_ok;
    QLabel* label_note;         // why an entry or a store was refused; hidden otherwise

public Q_SLOTS:
    void slot_Button_back_clicked() override;
    void vyr_button_source_clicked();
    void vyr_button_add_clicked();
    void vyr_button_cancel_clicked();
    void vyr_button_ok_clicked();
    void vyr_button_delete_clicked();
    void show_numberkeyboard_ui(QString text);

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    enum class Note { None, TableFull, OutsideInput, CropGone };

    void vyr_button_input_clicked();
    void vyr_sel_info(int position, int kind);
    void source_init();
    void source_name_update();
    void crop_source_num_update();
    uint8_t source_current_check();
    void para_changed_over();
    void closeEditor(); // back to the list at the position the editor was opened from, redrawn
    bool tableFull() const;
    void showNote(Note note);
    QWidget* editorWidget(int position) const;
    My_lineEdit* fieldAt(int position) const;
    QVariantList fieldValues() const; // X, Y, W, H as the editor shows them
    bool changedUnderEditor();        // refills the editor when the crop was rewritten elsewhere
    void keyTabs(int key);
    void keyList(int key);
    void keyEditor(int key);

    QString tile_focused, tile_normal, field_normal, field_focused;
    uint8_t saved_tab = 0;        // tab the list was entered from
    uint8_t saved_list = 0;       // list position the editor was entered from
    uint8_t source_count[6] = {}; // entry counts by input id
    int edit_index = -1;          // table index of the crop being edited, fixed at the opening
    uint16_t edit_id = 0;         // its id word at the opening
    EditOrigin origin_;           // its rectangle at the opening
    Note note_ = Note::None;
};

extern QPointer<InputCut> g_inputcut;
