#pragma once
#include <QDialog>
#include <QPointer>
#include <cstdint>

class QLabel;
class QTimerEvent;

// Full-screen notice while an upgrade or a file upload runs: a bouncing picture and "Updating"
// with dots. The GUI tick animates it (update_time_deal) while g_update_flag is set.
class FirmwareUpdate : public QDialog {
    Q_OBJECT
public:
    explicit FirmwareUpdate(QWidget* parent = nullptr);
    void update_time_deal(); // one 10 ms tick
    void language_changed();
    void handleTimerID1();   // picture one pixel on
    void handleTimerID2();   // dots one step on

    QLabel* label_picture;
    QLabel* label_text;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void placeText(const QString& text, int factor);
    int timer1_ = 0, timer2_ = 0; // never started: the tick drives the animation
    int x_ = 128, y_ = 60;
    uint32_t dots_ = 0;
    uint8_t down_ = 1;
};

extern QPointer<FirmwareUpdate> g_move_update;
void firmware_update_start(); // GUI thread: shows the one dialog, creating it when absent
void firmware_update_over();  // GUI thread: closes and deletes it
