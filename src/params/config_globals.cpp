// Utils::getIPAddress and Utils::initIPAddress live with the store they read: base declares them,
// and only the INI store knows the settings they copy into the configuration globals.
#include "base/global.h"
#include "base/ipv4_settings.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/config_engine.h"
#include "platform/shell.h"

#include <QMutexLocker>
#include <QStringList>

#include <initializer_list>
#include <string>
#include <vector>

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

namespace {
// A network tool with its argument list under _system_mutex: the addresses are never parsed by a
// shell. 0 or 255, as system_mutex.
int toolMutex(std::initializer_list<QString> argv)
{
    std::vector<std::string> args;
    for (const QString& a : argv)
        args.push_back(a.toLatin1().toStdString());
    QMutexLocker locker(&Utils::_system_mutex);
    const int rc = platform::shell().run(args);
    if (rc != 0)
        writeLogMsg(LOG_WARNING, "network set-up: \"" + QStringList(argv).join(QLatin1Char(' ')).toStdString()
                                     + "\" ended with status " + std::to_string(rc));
    return rc == 0 ? 0 : 255;
}
}

uint32_t Utils::initIPAddress()
{
    // The stored values become the globals even without eth0, so a page shows what is stored.
    getIPAddress();
    // One copy of each, so the commands use the addresses that were checked.
    return applyIPAddress(g_str_ip, g_srt_mask, g_str_gateway);
}

uint32_t Utils::applyIPAddress(const QString& ip, const QString& mask, const QString& gateway)
{
    if (system_mutex(QStringLiteral("ifconfig eth0 &>/dev/null")) != 0)
        return 255;
    const Ipv4::Verdict verdict = Ipv4::check(ip, mask, gateway);
    if (verdict != Ipv4::Verdict::Ok) {
        writeLogMsg(LOG_ERROR, ("initIPAddress: refused address ip=\"" + ip + "\" mask=\"" + mask
                                + "\" gateway=\"" + gateway + "\": ").toStdString() + Ipv4::verdictName(verdict));
        return 255;
    }
    const QString eth0 = QStringLiteral("eth0");
    toolMutex({QStringLiteral("route"), QStringLiteral("del"), QStringLiteral("default"), QStringLiteral("wlan0")});
    const int set = toolMutex({QStringLiteral("ifconfig"), eth0, ip, QStringLiteral("netmask"), mask});
    toolMutex({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("-host"), gateway, QStringLiteral("dev"), eth0});
    toolMutex({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"), QStringLiteral("gw"), gateway,
               QStringLiteral("metric"), QStringLiteral("100")});
    toolMutex({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("-host"), QStringLiteral("255.255.255.255"), eth0});
    toolMutex({QStringLiteral("route"), QStringLiteral("del"), QStringLiteral("255.255.255.255"), QStringLiteral("wlan1")});
    // The route commands fail harmlessly when their route is already there or was never set.
    return set == 0 ? 0 : 255;
}
