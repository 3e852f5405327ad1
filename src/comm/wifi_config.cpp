// Access-point manager of wlan0: settings, configuration files, start-up and restart machine,
// live interface values.
#include "comm/wifi_config.h"

#include "comm/file_transfer.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/ipv4_settings.h"
#include "base/logMsg.h"
#include "base/race_pause.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/scaler_hand_over.h"
#include "params/vyrrampara.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "ui/pages_settings/othersetup.h"

#include <QFile>
#include <QMutexLocker>
#include <QSettings>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <vector>

std::atomic<R58_WIFI_CONFIG*> R58_WIFI_CONFIG::p_wifi{nullptr};

namespace {
constexpr uint32_t kStartUpTicks = 100; // a little over 1 s between start-up steps
constexpr uint32_t kResetTicks = 300;   // a little over 3 s between reset steps
const char* const kKillHostapd = "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`";
const char* const kKillUdhcpd = "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`";

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(sep, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return parts;
        from = at + 1;
    }
}

bool allDigits(const std::string& t, size_t maxLength)
{
    if (t.empty() || t.size() > maxLength)
        return false;
    for (char c : t)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The DHCP pool that the udhcpd file hands out: hosts .150 to .199 of the access point's /24.
constexpr uint32_t kPoolFirst = 150, kPoolLast = 199;

// Reads "key" of hostapd's file as hostapd does: the text after the first "=" of the line that
// starts with the key, whole (an SSID may hold '"', ';' or blanks); the last such line counts.
std::string hostapdValue(const QByteArray& file, const std::string& key)
{
    std::string value;
    for (const QByteArray& raw : file.split('\n')) {
        std::string line = raw.toStdString();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
            value = line.substr(key.size() + 1);
    }
    return value;
}

std::string trimLineEnd(std::string t)
{
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r'))
        t.pop_back();
    return t;
}

void putDotted(uint8_t* p, const std::string& text)
{
    if (!R58_WIFI_CONFIG::validAddress(text))
        return;
    const std::vector<std::string> parts = split(text, '.');
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(std::stoi(parts[size_t(i)]));
}

// Reads "key" of a section-less INI file; empty when missing.
QString iniValue(QSettings& ini, const char* key)
{
    const QVariant v = ini.value(QString::fromLatin1(key));
    return v.type() == QVariant::StringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
}
}

R58_WIFI_CONFIG* R58_WIFI_CONFIG::pInstance()
{
    if (!p_wifi.load()) {
        R58_WIFI_CONFIG* wifi = new R58_WIFI_CONFIG;
        wifi->initialize();
        p_wifi = wifi;
    }
    return p_wifi.load();
}

R58_WIFI_CONFIG::R58_WIFI_CONFIG()
{
    // The wired side's checks read the address the published manager uses.
    Ipv4::setAccessPointInUse([](std::string* address) {
        if (R58_WIFI_CONFIG* wifi = p_wifi.load()) {
            std::lock_guard<std::mutex> lock(wifi->m_mutex);
            *address = wifi->m_set_ip;
        }
    });
    // The panel's Wi-Fi switch restarts the published manager's access point.
    othersetup::setWifiReset([] {
        if (R58_WIFI_CONFIG* wifi = p_wifi.load())
            wifi->set_wifi_reset_flag();
    });
}

R58_WIFI_CONFIG::~R58_WIFI_CONFIG()
{
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_stop = true;
    }
    m_stop_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (p_wifi == this)
        p_wifi = nullptr;
}

std::string R58_WIFI_CONFIG::startAddress() const
{
    // The INI value is checked again here: a bad one would reach the shell at every start, or cut
    // the phone off from the box at every start.
    const std::string stored = g_str_wifi_ip.get().toStdString();
    if (validApAddress(stored))
        return stored;
    // The default may lie on the wired subnet too (an address set before that was refused, or
    // an edited INI file): then host .101 of the first private /24 the wired subnet leaves free.
    std::string address = kDefaultAddress;
    for (int n = 0; n < 3 * 256 && !validApAddress(address); ++n) {
        const int k = n % 256;
        address = n < 256 ? "192.168." + std::to_string((22 + k) % 256) + ".101"
                : n < 512 ? "10." + std::to_string(k) + ".22.101"
                          : "172." + std::to_string(16 + k % 16) + "." + std::to_string(k) + ".101";
    }
    writeLogMsg(LOG_ERROR, "Wi-Fi: stored access-point address refused, " + address + " is used");
    return address;
}

void R58_WIFI_CONFIG::useAddress(const std::string& address)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_s.ap_ip = address;
        m_set_ip = address;
    }
    // The DHCP pool must lie on the /24 in use, whatever an earlier start or command left.
    const QByteArray wanted = QByteArray::fromStdString(udhcpdText(address));
    QFile file(QString::fromStdString(platform::Paths::resolve(kUdhcpdConf)));
    if (file.exists() && (!file.open(QIODevice::ReadOnly) || file.readAll() != wanted))
        writeUdhcpd(address);
}

int R58_WIFI_CONFIG::initialize(bool thread)
{
    wifi_ap_state = 0;
    g_wifi_reset_flag = 0;
    wifi_ap_timeticks = G_timeTicks.load();
    wifi_reset_timeticks = G_timeTicks.load();
    undoCutSet();
    useAddress(startAddress());
    if (!thread || m_thread.joinable())
        return 0;
    try {
        m_thread = std::thread([this] { run(); });
        pthread_setname_np(m_thread.native_handle(), "wifi_config");
    } catch (const std::exception&) {
        if (traceOn())
            printf("create wifi thread failed\n");
        writeLogMsg(LOG_ERROR, "create wifi thread failed");
        return 255;
    }
    return 0;
}

void R58_WIFI_CONFIG::run()
{
    std::unique_lock<std::mutex> lock(m_stop_mutex);
    while (!m_stop) {
        lock.unlock();
        // A step is stamped with the tick read before it runs: ticks counted while it runs belong
        // to the wait for the next step.
        const uint32_t now = G_timeTicks.load();
        if (TickAlarm::reached(now, wifi_ap_timeticks.load() + kStartUpTicks + 1)) {
            wifi_ap_start_up();
            RacePause::at(RacePause::AfterWifiStep);
            wifi_ap_timeticks = now;
        }
        if (TickAlarm::reached(now, wifi_reset_timeticks.load() + kResetTicks + 1)) {
            wifi_reset();
            wifi_reset_timeticks = now;
        }
        // Sleep until the tick of the nearer step. A restart request only moves its step later,
        // so nothing needs to wake us sooner.
        const uint32_t due = TickAlarm::earlier(wifi_ap_timeticks.load() + kStartUpTicks + 1,
                                                wifi_reset_timeticks.load() + kResetTicks + 1);
        lock.lock();
        if (m_stop)
            break;
        m_due = false;
        RacePause::at(RacePause::BeforeTickAlarm);
        if (m_alarm.arm(due))
            m_stop_cv.wait_for(lock, TickAlarm::limit(due), [this] { return m_stop || m_due; });
        m_alarm.disarm();
    }
}

bool R58_WIFI_CONFIG::wifiOff() const
{
    // Any non-zero switch value means off, in the start-up and in the reset step alike; the switch
    // as the box applied it, not a tool's write that waits for its apply.
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return false;
    ScalerHandOver handOver;
    return uint8_t(store->boxWord(blk::kWifiOff)) != 0;
}

void R58_WIFI_CONFIG::wifi_ap_start_up()
{
    if (wifiOff())
        return;
    switch (wifi_ap_state.load()) {
    case 0: {
        std::string ip;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ip = m_set_ip;
        }
        if (!validApAddress(ip)) {
            ip = startAddress();
            useAddress(ip);
        }
        Utils::system_mutex(QStringLiteral("ifconfig wlan0 %1").arg(QString::fromStdString(ip)));
        wifi_ap_state = 1;
        break;
    }
    case 1:
        Utils::system_mutex(QStringLiteral("udhcpd -fS /etc/udhcpd.conf &"));
        wifi_ap_state = 2;
        break;
    case 2:
        Utils::system_mutex(QStringLiteral("/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B"));
        wifi_ap_state = 3;
        break;
    default:
        break;
    }
}

int R58_WIFI_CONFIG::wifi_reset()
{
    const bool off = wifiOff();
    const uint8_t flag = g_wifi_reset_flag.load();
    if (flag == 1 || (flag == 0 && off)) {
        if (wifi_ap_state.load() == 3) {
            Utils::system_mutex(QString::fromLatin1(kKillHostapd));
            Utils::system_mutex(QString::fromLatin1(kKillUdhcpd));
        }
        g_wifi_reset_flag = 2;
    } else if (flag == 2 && !off) {
        wifi_ap_state = 0;
        g_wifi_reset_flag = 0;
    }
    return 1;
}

void R58_WIFI_CONFIG::set_wifi_reset_flag()
{
    g_wifi_reset_flag = 1;
    wifi_reset_timeticks = G_timeTicks.load();
}

QString R58_WIFI_CONFIG::get_network_info(int selector)
{
    static const char* const commands[8] = {
        "ifconfig wlan0 | grep inet", "route -n | grep wlan0 |grep U", "ifconfig wlan0 | grep inet",
        "ifconfig wlan0 | grep HWaddr", "ifconfig wlan1 | grep inet", "route -n | grep wlan1 |grep UG",
        "ifconfig wlan1 | grep inet", "ifconfig wlan1 | grep HWaddr"};
    if (selector < 0 || selector > 7)
        return QStringLiteral("ERR");
    std::string out;
    if (platform::shell().capture(commands[selector], &out) != 0 && out.empty()) {
        if (traceOn())
            printf("popen failed !!\n");
        return QStringLiteral("ERR");
    }
    std::string value = "ERR";
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > 999)
            line.resize(999);
        switch (selector % 4) {
        case 0:
        case 2: {
            // busybox prints an "inet6 addr:" line too; it carries no IPv4 address.
            if (line.find("inet6") != std::string::npos)
                break;
            const std::vector<std::string> f = split(line, ':');
            if (selector % 4 == 0 && f.size() > 1)
                value = split(f[1], ' ')[0];
            else if (selector % 4 == 2 && f.size() > 3)
                value = trimLineEnd(f[3]);
            break;
        }
        case 1: {
            const std::vector<std::string> f = split(line, ' ');
            if (f.size() > 9)
                value = f[9];
            break;
        }
        case 3: {
            const std::vector<std::string> f = split(line, ' ');
            if (f.size() > 9) {
                const std::vector<std::string> m = split(f[9], ':');
                if (m.size() >= 6)
                    value = m[0] + m[1] + m[2] + m[3] + m[4] + m[5];
            }
            break;
        }
        }
    }
    return QString::fromStdString(value);
}

int R58_WIFI_CONFIG::wifi_config_file_read()
{
    Settings s;
    s.wifi_mode = "2";
    {
        // Not through an INI reader: it takes '"' for a quote and ';' for a comment, both legal
        // in an SSID and a passphrase.
        QFile file(QString::fromStdString(platform::Paths::resolve(kHostapdConf)));
        const QByteArray text = file.open(QIODevice::ReadOnly) ? file.read(64 * 1024) : QByteArray();
        s.ap_ssid = hostapdValue(text, "ssid");
        const std::string wpa = hostapdValue(text, "wpa");
        s.ap_security = (wpa == "1" || wpa == "2" || wpa == "3") ? std::to_string(wpa[0] - '0' + 1) : wpa;
        s.ap_passphrase = hostapdValue(text, "wpa_passphrase");
        s.ap_channel = hostapdValue(text, "channel");
    }
    s.ap_ip = get_network_info(0).toStdString();
    s.tcp_port = std::to_string(g_port.load());
    s.ap_mac = get_network_info(3).toStdString();
    {
        QSettings ini(QString::fromStdString(platform::Paths::resolve("/etc/wpa_supplicant.conf")), QSettings::IniFormat);
        s.sta_ssid = iniValue(ini, "ssid").toStdString() + "\n";
        s.sta_psk = iniValue(ini, "psk").toStdString() + "\n";
    }
    s.sta_ip = get_network_info(4).toStdString();
    s.sta_ip2 = get_network_info(4).toStdString();
    s.sta_gateway = get_network_info(5).toStdString();
    s.sta_mask = get_network_info(6).toStdString();
    s.sta_port = "5005";
    s.sta_mac = get_network_info(7).toStdString();
    s.baud_rate = "115200";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_s = s;
    return 1;
}

bool R58_WIFI_CONFIG::wifi_ap_config_file_create()
{
    return writeHostapd(settings());
}

bool R58_WIFI_CONFIG::writeHostapd(const Settings& s)
{
    if (!validSsid(s.ap_ssid) || !validWpa(s.ap_security) || !validPassphrase(s.ap_passphrase, s.ap_security) ||
        !validChannel(s.ap_channel)) {
        writeLogMsg(LOG_ERROR, "Wi-Fi: access-point settings refused, hostapd file kept");
        return false;
    }
    std::string text = "interface=wlan0\nssid=" + s.ap_ssid + "\nctrl_interface=/var/run/hostapd\nchannel=" +
                       s.ap_channel + "\nhw_mode=g\ndriver=rtl871xdrv\nwpa=" + s.ap_security + "\n";
    // hostapd refuses to start on a passphrase line outside 8-63 characters, even without WPA;
    // an open access point may have any passphrase stored, so such a one is left out.
    if (s.ap_passphrase.size() >= 8)
        text += "wpa_passphrase=" + s.ap_passphrase + "\n";
    text += "wpa_key_mgmt=WPA-PSK\n";
    text += "wpa_pairwise=CCMP\nieee80211n=1\nht_capab=[SHORT-GI-20][SHORT-GI-40][HT40+]\neap_server=1\n"
            "wps_state=2\nuuid=12345678-9abc-def0-1234-56789abcdef0\ndevice_name=RTL8192CU\n"
            "manufacturer=Realtek\nmodel_name=RTW_SOFTAP\nmodel_number=WLAN_CU\nserial_number=12345\n"
            "device_type=6-0050F204-1\nos_version=01020300\n"
            "config_methods=label display push_button keypad\nbeacon_int=100\nwme_enabled=1\n"
            "max_num_sta=8\nwpa_group_rekey=86400\n";
    bool ok;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        ok = file_transfer::writeVerified(kHostapdConf, reinterpret_cast<const uint8_t*>(text.data()),
                                          uint32_t(text.size()), 0644);
    }
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    if (!ok)
        writeLogMsg(LOG_ERROR, "Wi-Fi: the hostapd file could not be written");
    return ok;
}

bool R58_WIFI_CONFIG::wifi_ap_udhcpd_config_file_create()
{
    std::string ip;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ip = m_set_ip;
    }
    return validApAddress(ip) && writeUdhcpd(ip);
}

std::string R58_WIFI_CONFIG::udhcpdText(const std::string& ip)
{
    const std::vector<std::string> p = split(ip, '.');
    if (p.size() != 4)
        return std::string();
    const std::string net = p[0] + "." + p[1] + "." + p[2] + ".";
    return "#\nstart  " + net + "150\nend  " + net + "199\n#\ninterface wlan0\n#\noption dns " + net +
           "1\noption router " + net + "1\noption subnet 255.255.255.0\n#\noption domain local\noption lease 86400\n";
}

bool R58_WIFI_CONFIG::writeUdhcpd(const std::string& ip)
{
    bool ok = true;
    if (QFile::exists(QString::fromStdString(platform::Paths::resolve(kUdhcpdConf)))) {
        const std::string text = udhcpdText(ip);
        QMutexLocker lock(&Utils::_file_deal_mutex);
        ok = file_transfer::writeVerified(kUdhcpdConf, reinterpret_cast<const uint8_t*>(text.data()),
                                          uint32_t(text.size()), 0644);
    }
    Utils::system_plain(QStringLiteral("sync"));
    return ok;
}

R58_WIFI_CONFIG::Settings R58_WIFI_CONFIG::settings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_s;
}

void R58_WIFI_CONFIG::putDeviceInfo(uint8_t* b)
{
    const Settings s = settings();
    b[217] = uint8_t(std::atoi(s.wifi_mode.c_str()));
    // The access point's MAC goes out one hex digit per byte (its first six digits).
    for (size_t i = 0; i < 6 && i < s.ap_mac.size(); ++i)
        b[218 + i] = uint8_t(std::max(0, Utils::hexDigit(s.ap_mac[i])));
    const int port = std::atoi(s.tcp_port.c_str());
    b[288] = uint8_t(port);
    b[289] = uint8_t(port >> 8);
    putDotted(b + 290, s.ap_ip);
    // The station MAC text has no separators: its twelve digits are read as six pairs.
    if (s.sta_mac.size() >= 12) {
        for (size_t i = 0; i < 6; ++i) {
            const int h = Utils::hexDigit(s.sta_mac[2 * i]), l = Utils::hexDigit(s.sta_mac[2 * i + 1]);
            b[294 + i] = h < 0 || l < 0 ? 0 : uint8_t(h * 16 + l);
        }
    }
    b[364] = uint8_t(5005 & 0xFF);
    b[365] = uint8_t(5005 >> 8);
    putDotted(b + 366, s.sta_ip2);
    putDotted(b + 370, s.sta_mask);
    putDotted(b + 374, s.sta_gateway);
}

bool R58_WIFI_CONFIG::validAddress(const std::string& text)
{
    return text.size() <= 15 && Utils::isDottedIPv4(QString::fromStdString(text));
}

bool R58_WIFI_CONFIG::validApAddress(const std::string& text)
{
    uint32_t a = 0;
    if (text.size() > 15 || !Ipv4::parse(QString::fromStdString(text), &a))
        return false;
    const uint32_t first = a >> 24, host = a & 0xFF;
    if (first == 0 || first == 127 || first >= 224) // no unicast host address
        return false;
    if (host == 0 || host == 255 || (host >= kPoolFirst && host <= kPoolLast))
        return false;
    return !Ipv4::overlapsWired(a, g_str_ip.get(), g_srt_mask.get());
}

bool R58_WIFI_CONFIG::validSsid(const std::string& text)
{
    if (text.empty() || text.size() > 32)
        return false;
    // Any printable character, in UTF-8; no control character, which would break the file's line.
    const QString s = QString::fromUtf8(text.c_str(), int(text.size()));
    if (s.toUtf8() != QByteArray(text.c_str(), int(text.size())))
        return false;
    for (QChar c : s)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            return false;
    return true;
}

bool R58_WIFI_CONFIG::validPassphrase(const std::string& text, const std::string& wpa)
{
    // hostapd takes 8-63 printable ASCII characters.
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    if (wpa == "0")
        return text.size() <= 63;
    return text.size() >= 8 && text.size() <= 63;
}

bool R58_WIFI_CONFIG::validWpa(const std::string& text)
{
    return text.size() == 1 && text[0] >= '0' && text[0] <= '3';
}

bool R58_WIFI_CONFIG::validChannel(const std::string& text)
{
    return allDigits(text, 2) && std::stoi(text) >= 1 && std::stoi(text) <= 14;
}
