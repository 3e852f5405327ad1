#pragma once
#include "ui/vyrpage.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>

class QFrame;
class QLabel;
class QLineEdit;
class My_lineEdit;

// Picture values handed to the scaler one change at a time. While the scaler has not yet taken
// the previous change (its change flag is set) the newest value of each field waits here and
// goes out as soon as the flag is clear: on the page's next refresh or a short retry timer, and
// at the latest when the page goes away. So neither a step nor an undo is lost to a busy scaler.
class PictureWriter : public QObject {
    Q_OBJECT
public:
    explicit PictureWriter(QObject* parent);
    ~PictureWriter() override;
    static bool scalerBusy();          // the scaler has not yet taken the last change
    // Stores value (0-100) as the field's whole 16-bit word with a hand-over, now or once the
    // scaler is free. True when it was written now.
    bool write(uint32_t field, int value);
    bool waiting() const { return !waiting_.empty(); }
    bool waitingFor(uint32_t field) const { return waiting_.count(field) != 0; }
    void drop() { waiting_.clear(); retry_.stop(); }
    // Writes what waits when the scaler is free, or regardless (merged into the pending change)
    // when forced.
    void flush(bool force = false);

    static constexpr int kRetryMs = 100;

    // One key on a value being edited (mode 0 up, 1 down, 2 keep, 3 undo to the kept value):
    // the new value, held to 0-100.
    static int step(int current, int& saved, char mode);

private:
    std::map<uint32_t, uint16_t> waiting_;
    QTimer retry_;
};

// Picture quality page (code 19, under the picture menu): brightness, sharpness, contrast and
// saturation 0-100, stepped live on the wall, and the reset of all picture fields.
class quality : public VyrPage {
    Q_OBJECT
public:
    explicit quality(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;

    static uint32_t fieldOf(int item); // block field of focus item 0-3 (not the block's order)
    static int shown(uint32_t field);  // the stored value as the page shows it, 0-100

    uint8_t edit_flag = 0;
    int current_value = 0;
    int saved_value = 0;
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
    void para_init();
    void menulist_init();
    void get_sel_value();
    void updownset_sel_value(char mode);
    QLineEdit* item(int i) const;
};

extern QPointer<quality> g_quality;
