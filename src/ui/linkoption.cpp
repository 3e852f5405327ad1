#include "ui/linkoption.h"

#include "base/global.h"
#include "ui/linkcom.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/pages_settings/linkwlan.h"

#include <QPushButton>

QPointer<LinkOption> g_linkoption;

namespace {
const char* const kTexts[5][3] = {
    {"串口连接", "网口设置", "USB升级"},
    {"Serial port", "Net connect", "USB UPDATE"},
    {"COM-порт", "Сетевое по\nдключение", "Обновление\nчерез USB"},
    {"Cài đặt cổng\n nối tiếp", "Cài đặt\ncổng mạng", "Sử dụng ổ USB\nđể cập nhập"},
    {"串口連接", "網口設置", "USB昇級"},
};
}

LinkOption::LinkOption(QWidget* parent)
    : VyrPage(10, "LinkOption", UiText::TitleLinkOption, parent)
{
    Button_com = menuTextButton(this, "Button_com", 15, 47);
    Button_wlan = menuTextButton(this, "Button_wlan", 115, 47);
    Button_usb = menuTextButton(this, "Button_usb", 215, 47);
    language_changed();
    setFocusList({Button_com, Button_wlan, Button_usb});
}

void LinkOption::language_changed()
{
    VyrPage::language_changed();
    const auto& t = kTexts[languageColumn(g_language.load())];
    Button_com->setText(QString::fromUtf8(t[0]));
    Button_wlan->setText(QString::fromUtf8(t[1]));
    Button_usb->setText(QString::fromUtf8(t[2]));
}

void LinkOption::okReleased()
{
    switch (ui_select) {
    case 0: on_Button_linkcom_clicked(); break;
    case 1: on_Button_linkwlan_clicked(); break;
    case 2: on_Button_firmware_usbgrade_clicked(); break;
    default: break;
    }
}

void LinkOption::on_Button_linkcom_clicked() { PageNav::openModal(new linkcom(nullptr)); }
void LinkOption::on_Button_linkwlan_clicked() { PageNav::openModal(new linkwlan(nullptr)); }
void LinkOption::on_Button_firmware_usbgrade_clicked() { PageNav::open(PageNav::kUsbUpgradePage); }

void LinkOption::slot_Button_back_clicked()
{
    // The settings menu keeps the language it had when this menu opened.
    PageNav::back(this, false);
}
