#pragma once
#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;

// The pop-up of 300 ticks: a check mark (type 1) or a USB stick message (types 3-5). It is shown
// application-modal without a nested event loop, so it takes the keys while it is up but no
// caller waits on it, and a refresh or save is never held up or re-entered by it.
class TIP : public QDialog {
    Q_OBJECT
public:
    explicit TIP(QWidget* parent = nullptr);
    void tip_create(int type);
    void tip_show();
    void tip_outtime_deal(); // one tick; hides the pop-up at the 300th
    QLabel* contentLabel() const { return label_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QFrame* frame_ = nullptr;
    QLabel* label_ = nullptr;
    int ticks_ = 0;
};

extern QPointer<TIP> g_tip;
