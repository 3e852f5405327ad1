#pragma once
#include <QDialog>
#include <QPointer>

class QKeyEvent;
class QLabel;

// A notice over whatever the panel shows: red-framed, it takes the keys until OK or BACK puts it
// away, or its owner takes it down. GUI thread only.
class PanelNotice : public QDialog {
    Q_OBJECT
public:
    explicit PanelNotice(QWidget* parent = nullptr);
    QString text() const;
    // Shows `text` in the notice `slot` holds (made, deleted on close, when it holds none), on top.
    static void show(QPointer<PanelNotice>& slot, const QString& text);
    // Takes the notice `slot` holds down, if any.
    static void takeDown(QPointer<PanelNotice>& slot);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    QLabel* label_ = nullptr;
};
