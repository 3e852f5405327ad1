#pragma once
#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QPushButton;

// The home screen (code 0), shown over the root menu at start and after BACK on the root menu:
// LED size, address, brightness, contrast, audio, and for each of the six windows its number, the
// name of what it shows and its input's resolution or state. OK or a tap opens the root menu.
class LockWindow : public QDialog {
    Q_OBJECT
public:
    explicit LockWindow(QWidget* parent = nullptr);
    ~LockWindow() override;
    void para_init();
    void image_init();
    void language_changed();
    void ip_changed();
    bool volume_check() const;
    void syncUpdate();

public Q_SLOTS:
    void on_main_Button_clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void openRootMenu();
    void setLedText(int width, int height);
    void setVolumePicture(bool on);
    QWidget* widget;
    QLabel* label_LED_icon;
    QLabel* label_input;
    QLabel* label_ip;
    QLabel* label_IPaddr;
    QLabel* label_bright_icon;
    QLabel* label_bright;
    QLabel* label_contrast_icon;
    QLabel* label_contrast;
    QLabel* label_volume_icon;
    QLabel* label_volume;
    QPushButton* main_Button;
    QFrame* list_frame = nullptr;
};

extern QPointer<LockWindow> g_lockwindow;
