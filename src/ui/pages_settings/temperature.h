#pragma once
#include "ui/edit_origin.h"
#include "ui/pages_settings/picture_edit.h"
#include "ui/vyrpage.h"

#include <QPointer>
#include <cstdint>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;

// Colour temperature page (code 20, under the picture menu): the colour-temperature type (custom,
// warm, nature, cool), chosen and then written, and the red, green and blue gains of the custom
// type, stepped live on the wall.
class temperature : public VyrPage {
    Q_OBJECT
public:
    explicit temperature(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;

    static uint32_t fieldOf(int item); // block field of gain item 1-3
    static int storedType();           // the type the scaler applies (the low byte's two low bits)

    uint8_t type_index = 0;
    uint8_t saved_type_index = 0;
    uint8_t edit_flag = 0;
    QFrame* frame;
    QLabel* label_type;
    QLabel* label_name_red;
    QLabel* label_name_green;
    QLabel* label_name_blue;
    QComboBox* comboBox_type;
    QLineEdit* lineEdit_name_red;
    QLineEdit* lineEdit_name_green;
    QLineEdit* lineEdit_name_blue;
    PictureWriter* writer;
    SteppedValue gain_value; // the gain being edited
    EditOrigin type_origin;  // what the type being chosen started from

    static const char kComboNormal[];
    static const char kComboFocused[];
    static const char kComboChoosing[];

public Q_SLOTS:
    void slot_Button_back_clicked() override;
    void on_button_type_clicked();

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void para_init();
    void menulist_init();
    void get_sel_value();
    void updownset_sel_value(char mode);
    void showGains(); // every gain the page does not hold itself, as the block has it now
    void followType(); // the type as the block has it now, kept as the operator's while they chose another
    QLineEdit* gain(int item) const;
    QLineEdit* focused_edit = nullptr;
};

extern QPointer<temperature> g_temperature;
