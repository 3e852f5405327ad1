#pragma once
#include <QPointer>
#include <QWidget>

class QLabel;

// User-mode page (code 4): shown without a modal loop, from the root menu or by MODE from any
// page. So far its frame in the page navigation; MODE is ignored here.
class CustomMode : public QWidget {
    Q_OBJECT
public:
    explicit CustomMode(QWidget* parent = nullptr);
    void language_changed();
    void syncUpdate();

public Q_SLOTS:
    void slot_Button_back_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    QLabel* label_title;
};

extern QPointer<CustomMode> g_custommode;
