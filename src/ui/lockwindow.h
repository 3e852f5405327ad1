#pragma once
#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;

// The home screen (code 0), shown over the root menu at start and after BACK on the root menu.
// So far it shows the LED size and the IP address; OK or a tap anywhere opens the root menu.
class LockWindow : public QDialog {
    Q_OBJECT
public:
    explicit LockWindow(QWidget* parent = nullptr);
    void para_init();
    void language_changed();
    void ip_changed();
    void syncUpdate();

public Q_SLOTS:
    void on_main_Button_clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void openRootMenu();
    QWidget* widget;
    QLabel* label_LED_icon;
    QLabel* label_input;
    QLabel* label_ip;
    QLabel* label_IPaddr;
    QPushButton* main_Button;
};

extern QPointer<LockWindow> g_lockwindow;
