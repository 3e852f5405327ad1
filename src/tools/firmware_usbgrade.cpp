#include "tools/firmware_usbgrade.h"

QPointer<firmware_usbgrade> g_firmware_usbgrade;

firmware_usbgrade::firmware_usbgrade(QWidget* parent)
    : VyrPage(26, "firmware_usbgrade", UiText::TitleUsbUpgrade, parent)
{
}
