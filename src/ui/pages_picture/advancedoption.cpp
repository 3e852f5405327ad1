#include "ui/pages_picture/advancedoption.h"

#include "ui/numberkeyboard.h"
#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_recovery_file.h"
#include "ui/option.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/pages_settings/factory.h"
#include "ui/pages_settings/factoryage.h"
#include "ui/pages_settings/lcdshow.h"
#include "ui/pages_settings/othersetup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

QPointer<AdvancedOption> g_advancedoption;
// The panel's keypad, captioned "key" with the code hidden; tests put their own in its place.
std::function<void(AdvancedOption*)> AdvancedOption::askAccessCode = [](AdvancedOption* page) {
    QPointer<AdvancedOption> self(page);
    int code = 0;
    if (g_numberkeyboard && g_numberkeyboard->getNumber(QStringLiteral("key"), QStringLiteral("**********"), 0, 99999, &code) && self)
        self->confirmString(QString::number(code));
};

namespace {
const char kAccessCode[] = "6093";

const char* const kTexts[5][5] = {
    {"LCD显示", "其他", "接收卡\n恢复", "出厂", "老化"},
    {"LCD display", "Others", "Rcv\nrecovery", "Factory", "Aging"},
    {"Экран LCD", "Прочее", "Восстан.\nкарт", "Заводские", "Прогон"},
    {"Màn hình\nLCD", "Khác", "Khôi phục\nthẻ nhận", "Nhà máy", "Lão hóa"},
    {"LCD顯示", "其他", "接收卡\n恢復", "出廠", "老化"},
};
}

AdvancedOption::AdvancedOption(QWidget* parent)
    : VyrPage(12, "AdvancedOption", UiText::TitleAdvancedOption, parent)
{
    Button_LCDshow = menuTextButton(this, "Button_LCDshow", 15, 47);
    Button_other = menuTextButton(this, "Button_other", 115, 47);
    Button_rcv_recovery = menuTextButton(this, "Button_rcv_recovery", 215, 47);
    Button_factory = menuTextButton(this, "Button_factory", 15, 137);
    Button_age = menuTextButton(this, "Button_age", 115, 137);
    placeNotes(this, &label_note_OK, &label_note_back);
    style_normal = QStringLiteral(
        "background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)");
    style_focused = QStringLiteral("background-color: rgb(33, 36, 53); border:2px solid "
                                   "rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)");
    style_grey = PanelWidgets::boxStyle(PanelWidgets::kUnavailable) + QStringLiteral("border:2px;border-radius:10px;padding:2px 4px;");
    style_grey_focused = PanelWidgets::boxStyle(PanelWidgets::kUnavailable) +
                         QStringLiteral("border:2px solid rgb(255,171,84);border-radius:10px;padding:2px 4px;");
    connect(Button_LCDshow, &QPushButton::clicked, this, &AdvancedOption::on_Button_LCDshow_clicked);
    connect(Button_other, &QPushButton::clicked, this, &AdvancedOption::on_Button_other_clicked);
    connect(Button_rcv_recovery, &QPushButton::clicked, this, &AdvancedOption::on_Button_rcv_recovery_clicked);
    connect(Button_factory, &QPushButton::clicked, this, &AdvancedOption::on_Button_factory_clicked);
    connect(Button_age, &QPushButton::clicked, this, &AdvancedOption::on_Button_age_clicked);
    setFocusList({Button_LCDshow, Button_other, Button_rcv_recovery, Button_factory, Button_age});
    language_changed();
}

void AdvancedOption::language_changed()
{
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage) {
        if (rcvRecovery* reader = fpga->rcvrecovery) {
            if (reader->get_dir_file(QStringLiteral("/data/rcvrecovery")) == 0)
                rcv_file_count = uint8_t(reader->recovery_files().size());
        }
    }
    VyrPage::language_changed();
    const auto& t = kTexts[languageColumn(g_language.load())];
    Button_LCDshow->setText(QString::fromUtf8(t[0]));
    Button_other->setText(QString::fromUtf8(t[1]));
    Button_rcv_recovery->setText(QString::fromUtf8(t[2]));
    Button_factory->setText(QString::fromUtf8(t[3]));
    Button_age->setText(QString::fromUtf8(t[4]));
    restyle();
}

void AdvancedOption::requestRetext()
{
    QMetaObject::invokeMethod(
        qApp,
        [] {
            if (g_advancedoption && g_page_focus.load() == 12)
                g_advancedoption->language_changed();
        },
        Qt::QueuedConnection);
}

void AdvancedOption::restyle()
{
    for (QWidget* w : focus_list) {
        const bool grey = w == Button_rcv_recovery && rcv_file_count == 0;
        const bool focused = w == focus_widget;
        w->setStyleSheet(grey ? (focused ? style_grey_focused : style_grey) : (focused ? style_focused : style_normal));
    }
}

void AdvancedOption::keyReleaseEvent(QKeyEvent* event)
{
    VyrPage::keyReleaseEvent(event);
    if (event->key() == PanelKey::Left || event->key() == PanelKey::Right)
        restyle(); // the recovery entry keeps its grey while unusable
}

void AdvancedOption::okReleased()
{
    switch (ui_select) {
    case 0: on_Button_LCDshow_clicked(); break;
    case 1: on_Button_other_clicked(); break;
    case 2: on_Button_rcv_recovery_clicked(); break;
    case 3: on_Button_factory_clicked(); break;
    case 4: on_Button_age_clicked(); break;
    default: break;
    }
}

void AdvancedOption::on_Button_LCDshow_clicked() { PageNav::openModal(new lcdshow(nullptr)); }
void AdvancedOption::on_Button_other_clicked() { PageNav::openModal(new othersetup(nullptr)); }
void AdvancedOption::on_Button_factory_clicked() { PageNav::openModal(new factory(nullptr)); }

void AdvancedOption::on_Button_rcv_recovery_clicked()
{
    if (rcv_file_count != 0)
        PageNav::open(PageNav::kRcvRecoveryPage);
}

void AdvancedOption::on_Button_age_clicked()
{
    if (age_unlocked == 1) {
        PageNav::openModal(new factoryage(nullptr));
        return;
    }
    if (askAccessCode)
        askAccessCode(this);
}

void AdvancedOption::confirmString(const QString& text)
{
    // Only while this menu is on top: a code typed for another page never opens the log.
    if (text != QLatin1String(kAccessCode) || g_page_focus.load() != 12 || g_advancedoption != this)
        return;
    QPointer<AdvancedOption> self(this);
    age_unlocked = 1;
    on_Button_age_clicked();
    if (self)
        self->age_unlocked = 0;
}
