#pragma once
#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <vector>

class QLabel;
class QPushButton;

// A line edit that announces a tap on itself, so that its page can open the keypad for it.
class My_lineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit My_lineEdit(QWidget* parent = nullptr);

Q_SIGNALS:
    void send_show(QString text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The one numeric keypad of the run (right half of the screen), worked with the five keys or by
// taps on C, erase, cancel and OK. A page asks it for one number at a time: the answer comes back
// from that call only, so no other page and no stale field ever receives it.
class NumberKeyboard : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxDigits = 5;
    explicit NumberKeyboard(QWidget* parent = nullptr);

    // Title and shown value for the next opening; the typed digits start afresh, and any number of
    // up to five digits is taken.
    void label_show(const QString& title, const QString& value);
    void language_changed();
    // Opens modally for one entry. True with the number in *out when OK carried a number within
    // [min, max]; an empty or out-of-range entry is refused on the keypad (the shown value goes
    // back to the old one, marked, with the accepted range under it) and the keypad stays open. Cancel or BACK: false, *out untouched.
    bool getNumber(const QString& title, const QString& value, int min, int max, int* out);
    // The same for a field: its text changes only when a number is accepted.
    bool editField(QLineEdit* field, const QString& title, int min, int max);

    QString valueText() const;  // what the value field shows
    QString titleText() const;
    bool refusedShown() const { return refused_; }
    uint16_t ui_select = 0;     // focused key, kept between uses

Q_SIGNALS:
    void sendKeyBoardUIDataToLineEdit(QString text);

public Q_SLOTS:
    void on_ButtonC_clicked();
    void on_ButtonX_clicked();
    void on_Button_ok_clicked();
    void on_Button_close_clicked();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void setKeyStyle(int index, bool focused);
    void typeDigit(int digit);
    void showRefused(bool on);

    QLabel* label;
    QLineEdit* lineEdit;
    QLabel* label_range; // the accepted range, shown under the value while a refusal is
    std::vector<QPushButton*> focus_list; // 1-9, 0, C, erase, cancel, OK
    QWidget* focus_widget = nullptr;
    const QString style_key;
    const QString style_key_focused;
    const QString style_ok;
    const QString style_ok_focused;
    QIcon erase_icon;         // dark, on the white key
    QIcon erase_icon_focused; // light, on the dark face of the focused key
    QString l_str;     // digits typed since the keypad was opened or cleared
    QString old_value; // shown at opening; back after a refused entry
    int min_ = 0;
    int max_ = 99999;
    bool accepted_ = false;
    int result_ = 0;
    bool refused_ = false;
};

extern QPointer<NumberKeyboard> g_numberkeyboard;
extern QPointer<QLineEdit> g_lineedit; // the field the open entry is for, cleared with it

// Places the keypad over the right half of the root menu's screen.
void placeNumberKeyboard(QWidget* mainWindow);
