#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;

// Advanced menu (code 12, under the settings menu): LCD display, other settings, receiving-card
// recovery (usable only while recovery files exist), factory functions and the ageing log, which
// opens only after the access code has been typed on the keypad.
class AdvancedOption : public VyrPage {
    Q_OBJECT
public:
    explicit AdvancedOption(QWidget* parent = nullptr);
    void language_changed() override; // also counts the recovery files again
    // Safe from any thread (recovery files stored or removed by the protocol): carried out in the
    // GUI thread, and only if this menu is still the page on top when the queued call runs.
    static void requestRetext();

    // Asks the operator for the access code and hands the confirmed text to confirmString; set by
    // the keypad when it is built. Without it the ageing log stays closed.
    static std::function<void(AdvancedOption*)> askAccessCode;

    uint8_t rcv_file_count = 0;
    uint8_t age_unlocked = 0;

    QPushButton* Button_LCDshow;
    QPushButton* Button_other;
    QPushButton* Button_rcv_recovery;
    QPushButton* Button_factory;
    QPushButton* Button_age;
    QLabel* label_note_OK;
    QLabel* label_note_back;

public Q_SLOTS:
    void on_Button_LCDshow_clicked();
    void on_Button_other_clicked();
    void on_Button_rcv_recovery_clicked();
    void on_Button_factory_clicked();
    void on_Button_age_clicked();
    void confirmString(const QString& text);

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void okReleased() override;

private:
    void restyle();
    QString style_grey;
    QString style_grey_focused;
};

extern QPointer<AdvancedOption> g_advancedoption;
