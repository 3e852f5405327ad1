#include "app/startup.h"

#include "scaler/c331_manage.h"
#include "params/config_engine.h"
#include "base/delay.h"
#include "fpga/fpga_manage.h"
#include "video_chips/keltosource.h"
#include "base/logMsg.h"
#include "comm/card_file_events.h"
#include "comm/file_transfer.h"
#include "comm/networkmanage.h"
#include "comm/serial_transport.h"
#include "comm/udpnetmanage.h"
#include "comm/wifi_config.h"
#include "params/vyrrampara.h"
#include "tools/panel_tools.h"
#include "tools/rcv_recovery.h"
#include "tools/smartmapping.h"
#include "tools/upgrade_notice.h"

#include <QCoreApplication>

void startSystem()
{
    Delay::ms(2000);
    writeLogMsg(LOG_INFO, "vyrR58N starting");
    ConfigEngine::pInstance();
    VyrRamPara::pInstance();
    file_transfer::removeLeftovers(); // before a transport can start an upload
    keltosource::pInstance();
    fpga_manage::pInstance();
    keltosource::p_kelto_source->initialize();
    c331_manage::pInstance();
    udpnetManage::pInstance();
    Qz_uart_inout::pInstance();
    networkManage::pInstance();
    Qz_uart_inout_4G::pInstance();
    R58_WIFI_CONFIG::pInstance();
    udpnetManage::set_wifi_AT_cmd_manage([](const uint8_t* data, uint32_t length) {
        R58_WIFI_CONFIG::p_wifi.load()->wifi_AT_cmd_manage(data, length);
    });
}

void connectPages()
{
    registerPanelTools();
    CardFileEvents* files = CardFileEvents::instance();
    QObject::connect(files, &CardFileEvents::recoveryFilesChanged, qApp, &rcv_recovery::cardFilesChanged,
                     Qt::QueuedConnection);
    QObject::connect(files, &CardFileEvents::mappingFilesChanged, qApp, &SmartMapping::cardFilesChanged,
                     Qt::QueuedConnection);
    UpgradeNotice::showAtStart(); // an FPGA image write cut by a power loss
}
