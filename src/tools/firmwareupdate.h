#pragma once
#include <QDialog>
#include <QPointer>

class QLabel;

// The upgrade dialog shown while a new application or image is written. So far a caption with a
// running dot line that the tick advances.
class FirmwareUpdate : public QDialog {
    Q_OBJECT
public:
    explicit FirmwareUpdate(QWidget* parent = nullptr);
    void update_time_deal(); // one tick of the animation
    int frame() const { return frame_; }

private:
    QLabel* label_;
    int frame_ = 0;
};

extern QPointer<FirmwareUpdate> g_move_update;
void firmware_update_start(); // shows the dialog, creating it on first use (GUI thread)
void firmware_update_over();  // closes it
