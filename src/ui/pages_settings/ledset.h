#pragma once
#include "ui/edit_origin.h"
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class My_lineEdit;

// LED screen size page (code 13, under the output menu): width and height of the LED wall, typed
// on the keypad and clamped as they come in; Apply makes them the panel and output size, and when
// the size really changed, lets the first window cover the new canvas and has the FPGA take it.
class ledset : public VyrPage {
    Q_OBJECT
public:
    static constexpr int kMinSide = 64;
    static constexpr int kMaxSide = 8188;
    static constexpr int64_t kMaxArea = 10485760; // pixels the typed sizes are clamped to
    static constexpr int kAreaSideAtMax = 1280;   // the other side that fits with a side of 8188
    static int64_t areaLimit(); // pixels Apply takes: kMaxArea, or the scaler's lower limit

    explicit ledset(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;
    void para_init();     // both fields from the block
    void menulist_init(); // focus on the width field

    // Asks the keypad for one entry: true with the digits typed. The panel's keypad unless a test
    // puts its own in its place.
    static std::function<bool(const QString& title, const QString& value, QString* typed)> askEntry;

    QFrame* frame;
    QLabel* label_note_led_w;
    QLabel* label_ledw;
    QLabel* label_ledh;
    My_lineEdit* lineEdit_ledw;
    My_lineEdit* lineEdit_ledh;
    QLabel* label_warning;
    QLabel* label_tip;
    QPushButton* Button_apply;
    QPushButton* Button_cancle;
    QString edit_name; // object name of the field the keypad is open for

public Q_SLOTS:
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text); // the keypad's digits for the field being edited
    void on_Button_apply1_clicked();
    void slot_Button_back_clicked() override;

Q_SIGNALS:
    void clicked();

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void okReleased() override;

private:
    void styleEntry(int index, bool focused);
    QWidget* entry(int index) const;
    void showTip(); // the limit line, or the refusal of the last Apply with the allowed range

    const QString edit_normal, edit_focused, button_normal, button_focused;
    const QString name_w, name_h;
    uint32_t requested_ = 0; // width << 16 | height applied last, until the scaler took or refused it
    uint32_t replaced_ = 0;  // the size that request replaced, which a refusal puts back
    static QVariantList storedSize(); // the LED width and height the box applied
    EditOrigin origin_;      // the size the fields were filled from, or Apply last wrote
    int64_t refusedLimit_ = 0; // not 0: the last Apply was above this many pixels and refused
};

extern QPointer<ledset> g_ledset;
