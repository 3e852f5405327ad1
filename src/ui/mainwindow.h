#pragma once
#include <QElapsedTimer>
#include <QFont>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <cstdint>

class QLabel;
class QPushButton;
class Ui_MainWindow;

// The root menu (code 1) for the whole run: four menu entries, the key lock, the tools row with
// black screen, mute and the user-mode bar for recalling and storing, and the system's 10 ms tick.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;
    void menulist_init();
    void para_init();
    void language_changed();
    void ip_changed();
    void syncUpdate();
    void mode_init();          // rebuilds the (hidden) user-mode bar
    void mode_window_close();  // leaves the bar: states cleared, bar and pointer hidden
    void update_start();       // upgrade dialog, from any thread
    void update_over();
    // The upgrade's progress window lives with the tools above ui/: the upgrade registers how to
    // show it, move it on by one tick and close it, from app/ before the panel's tick starts. All
    // three run on the GUI thread.
    struct UpgradeWindow {
        void (*start)();
        void (*tick)();
        void (*over)();
    };
    static void setUpgradeWindow(const UpgradeWindow& window);
    void getagelog();          // one ageing-log sample
    static void appendAgeLine(const QString& line); // log it and count the counter's step

    Ui_MainWindow* ui;
    QWidget* widget_mode = nullptr; // the user-mode bar
    QLabel* label_pointer;
    QLabel* label_mode_title = nullptr;
    QList<QPushButton*> mode_buttons;
    QFont bar_font;
    uint8_t call_state = 0;
    uint8_t save_state = 0;
    uint8_t lock_state = 0;
    uint8_t ui_select = 0;
    uint8_t bar_index = 0;
    uint8_t pending_tip = 0; // a user mode was stored or recalled: the next refresh shows the check mark
    QWidget* focus_widget = nullptr;
    QWidget* focus_list[10];
    const QString style_menu_normal;
    const QString style_tool_normal;
    const QString style_menu_focused;
    const QString style_tool_focused;
    const QString style_bar;
    const QString style_slot_normal;
    const QString style_slot_focused;

public Q_SLOTS:
    void slot_update_timer_ticks(); // one 10 ms tick
    void slot_timer_elapsed();      // the timer: one tick per 10 ms that really passed
    void on_machinestate_clicked();
    void on_inputchoose_clicked();
    void on_custommode_clicked();
    void on_option_clicked();
    void on_Button_lock_clicked();
    void on_tools_clicked();
    void on_toolButton1_clicked();
    void on_toolButton2_clicked();
    void on_toolButton3_clicked();
    void on_toolButton4_clicked();
    void vyr_button_mode_clicked();
    void on_usermodesel_clicked(char direction); // 0 left, 1 right
    void on_deletewidgetmode_clicked();
    void on_toolusermode_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    static constexpr int kFirstTool = 6; // focus list index of toolButton1
    bool menuBlocked();
    void setFocusEntry(int index);  // focus list index 0-9
    void openBar(bool store);
    void showBar();
    void setToolPicture(QPushButton* button, const char* name);
    bool tools_shown_ = false;
    bool call_picture_ = false;
    bool save_picture_ = false;
    bool store_failed_ = false; // the store bar's last store did not reach its file
    bool reboot_issued_ = false;
    QElapsedTimer clock_;
    qint64 counted_ = 0;
};

extern QPointer<MainWindow> g_mainwindow;
extern QWidget* g_mode[16];
extern uint8_t g_mode_blank_check;
extern int32_t factoryage_log_diff3;
extern int32_t factoryage_log_diff5;
extern int32_t factoryage_log_diff10;
extern int32_t factoryage_log_diff20;
extern int32_t factoryage_log_diffmore;
