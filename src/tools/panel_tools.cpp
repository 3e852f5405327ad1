#include "tools/panel_tools.h"

#include "tools/firmware_usbgrade.h"
#include "tools/firmwareupdate.h"
#include "tools/rcv_recovery.h"
#include "tools/smartmapping.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"

void registerPanelTools()
{
    PageNav::registerPage(PageNav::kSmartMappingPage, PageNav::entry<SmartMapping, &g_smartmapping>(),
                          []() -> VyrPage* { return new SmartMapping(nullptr); });
    PageNav::registerPage(PageNav::kRcvRecoveryPage, PageNav::entry<rcv_recovery, &g_rcv_recovery>(),
                          []() -> VyrPage* { return new rcv_recovery(nullptr); });
    PageNav::registerPage(PageNav::kUsbUpgradePage, PageNav::entry<firmware_usbgrade, &g_firmware_usbgrade>(),
                          []() -> VyrPage* { return new firmware_usbgrade(nullptr); });
    MainWindow::setUpgradeWindow({firmware_update_start,
                                  [] {
                                      if (g_move_update)
                                          g_move_update->update_time_deal();
                                  },
                                  firmware_update_over});
}
