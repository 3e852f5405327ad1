#pragma once
#include "ui/pages_settings/picture_edit.h"
#include "ui/vyrpage.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

class QFrame;
class QLabel;
class QLineEdit;
class My_lineEdit;

// Picture quality page (code 19, under the picture menu): brightness, sharpness, contrast and
// saturation 0-100, stepped live on the wall, and the reset of all picture fields.
class quality : public VyrPage {
    Q_OBJECT
public:
    explicit quality(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;

    static uint32_t fieldOf(int item); // block field of focus item 0-3 (not the block's order)

    uint8_t edit_flag = 0;
    QFrame* frame;
    QLabel* label_bright;
    QLabel* label_Sharpness;
    QLabel* label_Contrast;
    QLabel* label_Saturation;
    QLabel* label_reset;
    QLineEdit* lineEdit_bright;
    QLineEdit* lineEdit_Sharpness;
    QLineEdit* lineEdit_Contrast;
    QLineEdit* lineEdit_Saturation;
    My_lineEdit* lineEdit_Reset;
    PictureWriter* writer;
    SteppedValue value; // the value being edited

    static const char kStyleNormal[];
    static const char kStyleFocused[];
    static const char kStyleEditing[];

public Q_SLOTS:
    void slot_Button_back_clicked() override;
    void on_Button_reset_clicked();

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void para_init(); // every value the page does not hold itself, as the block has it now
    void menulist_init();
    void get_sel_value();
    void updownset_sel_value(char mode);
    QLineEdit* item(int i) const;
};

extern QPointer<quality> g_quality;
