#pragma once
#include <QObject>

// The simulated board's input layer: desktop keys stand in for the panel keys (Enter = OK,
// Left, Right, M = MODE, Escape or Backspace = BACK). Installed on the application by main on the
// simulated board only; every other key passes untouched.
class SimKeyFilter : public QObject {
    Q_OBJECT
public:
    explicit SimKeyFilter(QObject* parent = nullptr);
    static int panelKey(int desktopKey); // the panel code, or 0 for a key that is not mapped

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
