// Text commands of the configuration port 13769 ("AT+..."), one per datagram, one answer each.
#include "comm/wifi_config.h"

#include "comm/udpnetmanage.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "params/config_engine.h"
#include "base/utils.h"
#include "base/atomic_file.h"
#include "comm/file_transfer.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
const char* const kVersion = "OK+GETVER=0,5FAF,22032001,02,00,00,2022-03-2109:06:00,VYR_R58_IN_V13PCB20210915";

void trace(const char* text)
{
    if (traceOn())
        printf("%s\n", text);
}

std::vector<std::string> fields(const std::string& text)
{
    std::vector<std::string> f;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(',', from);
        f.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return f;
        from = at + 1;
    }
}

bool smallNumber(const std::string& t, int low, int high, int* value)
{
    if (t.empty() || t.size() > 2)
        return false;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return v >= low && v <= high;
}

// The text without one trailing line end ("\r\n", "\n" or "\r").
std::string withoutLineEnd(const std::string& t)
{
    if (t.size() >= 2 && t.compare(t.size() - 2, 2, "\r\n") == 0)
        return t.substr(0, t.size() - 2);
    if (!t.empty() && (t.back() == '\n' || t.back() == '\r'))
        return t.substr(0, t.size() - 1);
    return t;
}

// A configuration file as it was before a command rewrote it, to put back when the command fails.
class FileCopy {
public:
    explicit FileCopy(const char* path) : m_path(path)
    {
        QFile file(QString::fromStdString(platform::Paths::resolve(path)));
        m_existed = file.open(QIODevice::ReadOnly);
        if (m_existed)
            m_bytes = file.readAll();
    }
    bool existed() const { return m_existed; }
    const QByteArray& bytes() const { return m_bytes; }
    void restore() const
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        if (!m_existed)
            QFile::remove(QString::fromStdString(platform::Paths::resolve(m_path)));
        else if (!file_transfer::writeVerified(m_path, reinterpret_cast<const uint8_t*>(m_bytes.constData()),
                                               uint32_t(m_bytes.size()), 0644))
            writeLogMsg(LOG_ERROR, std::string("Wi-Fi: ") + m_path + " could not be put back");
    }

private:
    const char* m_path;
    bool m_existed = false;
    QByteArray m_bytes;
};

bool validPort(const std::string& t)
{
    if (t.empty() || t.size() > 5)
        return false;
    long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    return v >= 1 && v <= 65535;
}
}

bool R58_WIFI_CONFIG::answer(const uint8_t* data, uint32_t length, std::string* out)
{
    if (!data || length < 3 || memcmp(data, "AT+", 3) != 0) {
        trace("NOT AT CMD !!");
        return false;
    }
    trace("AT CMD!!");
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), length));
    const std::vector<std::string> f = fields(text);
    const std::string& word = f[0];
    if (word == "AT+CHECKDATA") {
        trace("wifi query CMD!!");
        wifi_config_file_read();
        const Settings s = settings();
        *out = "OK+CHECKDATA=" + s.wifi_mode + "," + s.ap_ssid + "," + s.ap_security + "," + s.ap_passphrase + "," +
               s.ap_channel + "," + s.ap_ip + "," + s.tcp_port + "," + s.ap_mac + "," + s.baud_rate;
    } else if (word == "AT+SETDATA=1") {
        trace("wifi sta set CMD!!");
        *out = "OK+SETDATA";
    } else if (word == "AT+SETDATA=2") {
        *out = setAccessPoint(f) ? "OK+SETDATA" : "ERR";
    } else if (word == "AT+SETDATA=3") {
        trace("wifi ap+sta set CMD!!");
        *out = "OK+SETDATA";
    } else if (word == "AT+RST") {
        trace("wifi reset CMD!!");
        set_wifi_reset_flag();
        *out = "OK";
    } else if (word == "AT+RESTORE") {
        trace("wifi restore CMD!!");
        Settings factory = settings();
        factory.ap_ssid = "VYR-WIFI_C1";
        factory.ap_security = "0";
        factory.ap_passphrase = "40617293";
        factory.ap_channel = "6";
        // "ERR" changes nothing: the settings stay and the access point is not restarted.
        if (writeHostapd(factory)) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_s.ap_ssid = factory.ap_ssid;
                m_s.ap_security = factory.ap_security;
                m_s.ap_passphrase = factory.ap_passphrase;
                m_s.ap_channel = factory.ap_channel;
            }
            set_wifi_reset_flag();
            *out = "OK";
        } else {
            *out = "ERR";
        }
    } else if (word == "AT+GETVER") {
        trace("wifi get version CMD!!");
        *out = kVersion;
    } else {
        trace("wifi CMD error!!");
        *out = "ERR";
    }
    return true;
}

bool R58_WIFI_CONFIG::setAccessPoint(const std::vector<std::string>& f)
{
    // Every field is checked before anything is stored: they end up in hostapd's and udhcpd's
    // files and in the interface command.
    if (f.size() < 8)
        return false;
    int security = 0, channel = 0;
    const std::string& ssid = f[2];
    const std::string& passphrase = f[4];
    const std::string& ip = f[6];
    // Phone apps end the datagram with a line end; it is no part of the port.
    const std::string port = withoutLineEnd(f[7]);
    if (!smallNumber(f[3], 0, 4, &security) || !smallNumber(f[5], 0, 13, &channel) || !validSsid(ssid) ||
        !validApAddress(ip) || !validPort(port))
        return false;
    // The control port is set with the wired address and takes a restart; here only the one in
    // force is taken back as the read-back gave it. Another would be answered OK and never used.
    if (std::stol(port) != long(g_port.load())) {
        writeLogMsg(LOG_WARNING, "Wi-Fi: TCP port " + port + " refused, the control port is " + std::to_string(g_port.load()));
        return false;
    }
    const std::string wpa = security >= 2 ? std::to_string(security - 1) : std::to_string(security);
    // A passphrase under 8 characters goes into no file (writeHostapd leaves it out for an open
    // access point): refused, not answered as set.
    if (!validPassphrase(passphrase, wpa) || (!passphrase.empty() && passphrase.size() < 8))
        return false;
    Settings next = settings();
    next.ap_ssid = ssid;
    next.ap_security = wpa;
    next.ap_passphrase = passphrase;
    next.ap_channel = std::to_string(channel + 1);
    next.ap_ip = ip;
    next.tcp_port = port;
    // All or nothing: "ERR" leaves both files, the stored address and the settings as they were,
    // and so does a power cut: the undo record holds them until the last file is written.
    const FileCopy hostapd(kHostapdConf), udhcpd(kUdhcpdConf);
    ConfigEngine* config = ConfigEngine::p_config;
    const QString address = QString::fromStdString(ip);
    const QString stored = config ? config->read_config_variant(ConfigItem::WifiIPAddress).toString() : QString();
    const QString undo = QString::fromStdString(platform::Paths::resolve(kSetUndo));
    QDir().mkpath(QFileInfo(undo).absolutePath()); // a fresh /etc: the config writers make it too
    bool ok = writeFileAtomically(QString::fromLatin1(kSetUndo),
                                  stored.toLatin1() + '\n' + (hostapd.existed() ? hostapd.bytes() : QByteArray())) &&
              writeHostapd(next) && writeUdhcpd(ip);
    // Compared with what the INI file holds now, not with the address loaded at start: that one
    // set back must be stored too, or the next start brings up the address it replaced.
    if (ok && (!config || stored != address)) {
        trace("\n  ip compare error !");
        ok = config && config->write_config_variant(ConfigItem::WifiIPAddress, address);
    }
    if (!ok) {
        hostapd.restore();
        udhcpd.restore();
    }
    QFile::remove(undo);
    syncParentDirectory(undo.toStdString()); // answered OK, the set stays after a power cut
    if (!ok)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_s = next;
        m_set_ip = ip;
    }
    if (f[1] == "1")
        set_wifi_reset_flag();
    return true;
}

void R58_WIFI_CONFIG::undoCutSet()
{
    QFile file(QString::fromStdString(platform::Paths::resolve(kSetUndo)));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray record = file.read(64 * 1024);
    file.close();
    const int end = record.indexOf('\n');
    if (end < 0) { // not one this program wrote
        file.remove();
        return;
    }
    const QString address = QString::fromLatin1(record.left(end));
    const QByteArray text = record.mid(end + 1);
    bool ok;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        const QString path = QString::fromStdString(platform::Paths::resolve(kHostapdConf));
        ok = text.isEmpty() ? !QFile::exists(path) || QFile::remove(path)
                            : file_transfer::writeVerified(kHostapdConf, reinterpret_cast<const uint8_t*>(text.data()),
                                                           uint32_t(text.size()), 0644);
    }
    ConfigEngine* config = ConfigEngine::p_config;
    if (config && config->read_config_variant(ConfigItem::WifiIPAddress).toString() != address)
        ok = config->write_config_variant(ConfigItem::WifiIPAddress, address) && ok;
    g_str_wifi_ip = address;
    writeLogMsg(ok ? LOG_WARNING : LOG_ERROR, ok ? "Wi-Fi: a set cut by a power loss was undone"
                                                 : "Wi-Fi: a set cut by a power loss could not be undone");
    if (ok)
        file.remove();
}

void R58_WIFI_CONFIG::wifi_AT_cmd_manage(const uint8_t* data, uint32_t length)
{
    std::string text;
    if (!answer(data, length, &text))
        return;
    if (udpnetManage* udp = udpnetManage::p_udpnetManage) {
        if (!udp->answer_13769(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size())))
            writeLogMsg(LOG_WARNING, "Wi-Fi: answer list full, answer dropped");
    }
}
