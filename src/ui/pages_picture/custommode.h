#pragma once
#include <QFont>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class vyrcontrol;

// User-mode page (code 4): shown without a modal loop, from the root menu or by MODE from any
// page (MODE is ignored here). Browses the sixteen slots; for a saved one shows its header, a
// preview of its six windows or of its on-screen menu, and invokes or deletes it.
class CustomMode : public QWidget {
    Q_OBJECT
public:
    explicit CustomMode(QWidget* parent = nullptr);
    void init();
    void lcd_para_init();
    void image_para_init();
    void language_changed();
    void syncUpdate();
    int get_mode_status() const; // 1 when slot g_mode_select holds a saved mode
    static void color_fill(QLabel* label, char window);

    uint8_t ui_select = 0;     // slot shown by the selector
    uint8_t row_active = 0;    // 0 keys move through the slots, 1 through the buttons
    uint8_t button_select = 0; // 0 Invoke, 1 Delete, 2 More
    uint8_t more_hidden = 0;   // 1 when the mode has no on-screen menu (two buttons)

    vyrcontrol* selector;
    QWidget* preview_widget = nullptr;
    QFont preview_font;
    QLabel* label_title;
    QFrame* frame;
    QLabel* label_ID;
    QLabel* label_using;
    QLabel* label_name;
    QLabel* label_LED;
    QLabel* label_brightness;
    QLabel* label_blank;
    QPushButton* Button_use;
    QPushButton* Button_delete;
    QPushButton* Button_more;

public Q_SLOTS:
    void slot_Button_back_clicked();
    void on_Button_use_clicked();
    void on_Button_delete_clicked();
    void vyr_button_mode_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void menulist_init();
    void vyr_button_selinfo(int kind, int button);
    QPushButton* rowButton(int button) const;
    void drawWindows(const uint8_t* body);
    void drawMenu(uint32_t m);

    const QString style_focused;
    const QString style_normal;
};

extern QPointer<CustomMode> g_custommode;
extern QPointer<QWidget> g_button_focus; // the row button that last received a style
