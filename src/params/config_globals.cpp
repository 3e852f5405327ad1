// Utils::getIPAddress lives with the store it reads: base declares it, and only the INI store knows
// the settings it copies into the configuration globals.
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/config_engine.h"

uint32_t Utils::getIPAddress()
{
    ConfigEngine* config = ConfigEngine::p_config;
    if (!config)
        return 0;
    auto text = [config](ConfigItem::ConfigName id) { return config->read_config_variant(id).toString(); };

    bool ok = false;
    const int port = config->read_config_variant(ConfigItem::TcpPort).toString().trimmed().toInt(&ok);
    if (ok && port > 0 && port <= 65535) {
        g_port = port;
    } else {
        writeLogMsg(LOG_WARNING, "config/TcpPort \"" + text(ConfigItem::TcpPort).toStdString()
                                     + "\" is no port, using 5005");
        g_port = 5005;
    }
    g_int_tcp_port = g_port.load();

    // Addresses reach shell commands and the panel: a value that is not dotted IPv4 keeps the
    // previous one.
    auto address = [&text](ConfigItem::ConfigName id, SharedText& global, const char* key) {
        const QString value = text(id);
        if (isDottedIPv4(value)) {
            global = value;
            return;
        }
        writeLogMsg(LOG_WARNING, std::string("config/") + key + " \"" + value.toStdString()
                                     + "\" is no IPv4 address, keeping " + global.get().toStdString());
    };
    address(ConfigItem::IPAddress, g_str_ip, "IPAddress");
    address(ConfigItem::SubNetMask, g_srt_mask, "SubNetMask");
    address(ConfigItem::GateWay, g_str_gateway, "GateWay");
    g_str_barcode = text(ConfigItem::Barcode);
    address(ConfigItem::WifiIPAddress, g_str_wifi_ip, "WifiIPAddress");
    g_check_edid = text(ConfigItem::EDIDCheck);
    g_check_source = text(ConfigItem::SourceCheck).trimmed().toUInt();
    g_imagelayoutpassword = text(ConfigItem::ImageLayoutPassword);
    g_skyhub_cloudserverip = text(ConfigItem::SkyhubServerIp);
    g_skyhub_cloudserverport = text(ConfigItem::SkyhubServerPort).trimmed().toInt(); // blank gives 0
    g_skyhub_clouduserid = text(ConfigItem::SkyhubUserIp);
    g_skyhub_controllername = text(ConfigItem::SkyhubControllerName);
    g_vyr_max_pixel = text(ConfigItem::VyrMaxPixel).trimmed().toUInt();
    g_usb_grade_path = text(ConfigItem::UsbUpgradeDir);

    const QString blank = QStringLiteral(" ");
    const bool noCloud = g_skyhub_cloudserverip == blank && g_skyhub_clouduserid == blank
        && g_skyhub_controllername == blank && g_skyhub_cloudserverport.load() == 0;
    g_skyhub_cloud = noCloud ? 0 : 1;
    return 0;
}
