#pragma once
#include "ui/edit_origin.h"
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>

class QComboBox;
class QFrame;
class QLabel;

// Other-settings page (code 17, under the advanced menu): the audio of a chosen window, the switch
// effect and point-to-point display of all windows, a projection row that does nothing, and the
// Wi-Fi access point. Each row is a selector: OK starts editing, left and right change the entry,
// OK applies it, BACK puts back what was shown.
class othersetup : public VyrPage {
    Q_OBJECT
public:
    static constexpr int kRows = 6; // window, audio, switch effect, projection, Wi-Fi, point-to-point
    static constexpr uint8_t kFadeTime = 60;

    explicit othersetup(QWidget* parent = nullptr);
    // The Wi-Fi manager registers, when it is created, how to restart its access point: switching
    // Wi-Fi on asks for that at once. Atomic: the manager is created before the panel's thread runs
    // pages, and tests create their own.
    static void setWifiReset(void (*reset)());
    void language_changed() override; // title and captions; the selectors keep their texts
    void syncUpdate(int code) override;

    void menulist_init();
    void para_init();             // repairs the audio window, then shows the block
    void on_button_box_clicked(); // applies the edit value of the focused row, when it changes it

    uint8_t editing = 0;
    uint8_t edit_value = 0;
    uint8_t edit_start = 0;
    uint8_t option_count[kRows] = {6, 2, 2, 1, 2, 2};
    EditOrigin edit_origin; // what the row being edited started from

    QFrame* frame;
    QLabel* label_name_volume;
    QLabel* label_name_switch;
    QLabel* label_name_mode;
    QLabel* label_wifi;
    QLabel* label_name_DBD;
    QComboBox* ImageVolume;  // one entry per window that is on; the entry's data is the window
    QComboBox* volume_state; // off, on
    QComboBox* switch_state; // seamless, fade
    QComboBox* mode_state;   // one entry
    QComboBox* wifi_state;   // on, off
    QComboBox* dbd_state;    // off, on

    QString style_combo_normal;
    QString style_combo_focused;
    QString style_combo_editing;

public Q_SLOTS:
    void slot_Button_back_clicked() override;

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    QComboBox* row(int i) const;
    int chosenWindow() const; // window of the chooser's current entry, -1 when none
    void showBlock();         // every row as the block holds it now, the row being edited aside
    int storedEntry(int row) const; // the entry of row 1, 2, 4 or 5 that the box applied
    void followEditedRow();         // the row being edited starts again from another writer's entry
    void showAudioOf(int window);
    void applyAudio();
    void applySwitchEffect();
    void applyWifi();
    void applyPointToPoint();
};

extern QPointer<othersetup> g_othersetup;
