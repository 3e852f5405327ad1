#pragma once
#include <QDialog>
#include <QPointer>

class QKeyEvent;
class QLabel;

// The notice a start gives when the last FPGA 0 image write did not end with its read-back (a power
// cut between its erase and its last chunk): FPGA 0 holds half an image, the wall may stay dark,
// and only the USB upgrade run again mends it. Shown over the home screen until OK or BACK.
class UpgradeNotice : public QDialog {
    Q_OBJECT
public:
    explicit UpgradeNotice(QWidget* parent = nullptr);
    QString text() const;
    // GUI thread, once the panel is shown: logs the cut write and shows the notice; nothing when
    // the last write ended.
    static void showAtStart();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    QLabel* label_ = nullptr;
};

extern QPointer<UpgradeNotice> g_upgrade_notice;
