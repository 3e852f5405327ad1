#pragma once
#include "ui/edit_origin.h"
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class My_lineEdit;

// Wired network page (code 22, under the communication menu): address, mask and gateway of eth0
// as three rows of four octet fields, edited on the keypad; Apply checks the set, stores it in
// the INI file and sets the interface up again.
class linkwlan : public VyrPage {
    Q_OBJECT
public:
    static constexpr int kFields = 12;      // focus 0-11 the octets row by row
    static constexpr int kApply = 12, kCancel = 13;

    // What the last Apply did, also shown on the page. ChangedElsewhere: another writer set the
    // address while the page was open; nothing was written and the rows the operator did not
    // touch now show what is in force.
    enum class Outcome { None, Unchanged, Refused, NotSaved, Applied, SavedNotApplied, ChangedElsewhere };

    explicit linkwlan(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;
    void para_init() {}
    void menulist_init();
    void on_Button_net_apply_clicked();

    QString rowText(int row) const; // the row's four fields joined with dots
    Outcome outcome() const { return outcome_; }

    QFrame* frame;
    QLabel* label_IpSet;
    QLabel* label_netmask;
    QLabel* label_gateway;
    QLabel* label_result;
    My_lineEdit* field[kFields];
    QLabel* dot[9];
    QPushButton* Button_apply;
    QPushButton* Button_cancle;
    My_lineEdit* focused_field = nullptr;
    QPushButton* focused_button = nullptr;

public Q_SLOTS:
    void slot_Button_back_clicked() override;
    void show_numberkeyboard_ui(QString text); // a tap on a field, or OK on it

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void setLook(int index, bool focused);
    void fillRow(int row, const QString& value);
    void showOutcome(Outcome outcome, int reason);
    static QVariantList inForce(); // address, mask and gateway as the globals hold them

    QString style_field_focus, style_button, style_button_focus, style_first, style_middle, style_last;
    Outcome outcome_ = Outcome::None;
    int reason_ = 0; // Ipv4::Verdict of a refusal
    EditOrigin origin_; // the set the rows were filled from
};

extern QPointer<linkwlan> g_linkwlan;
