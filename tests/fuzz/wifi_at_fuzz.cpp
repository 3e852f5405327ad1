// The Wi-Fi configuration port: one datagram per piece of the input ("AT+SETDATA=2,..." stores
// hostapd's and udhcpd's files and builds the interface command), sent through a loopback socket
// to the port's own read loop (runOnce13769), which hands it to the Wi-Fi handler as the program
// wires it; each datagram has at most one answer, back to its sender and in one datagram.
// The last piece is what the board's ifconfig prints, which the read-back of "AT+CHECKDATA" parses.
// The hostapd file the commands leave is read as hostapd reads it: one "key=value" a line, no key
// twice, an SSID of 1-32 bytes, a 2.4 GHz channel (1-14), a WPA mode 0-3 and, with WPA, a
// passphrase of 8-63 printable characters. What the manager stores and shows stays in the same
// ranges: the read-back's channel and security (0, or WPA 1-3 as 2-4); its TCP port is the
// control port in force, the only one a command may name.
// After each datagram the access point restarts as its worker would: the interface command it runs
// names one unicast host address and nothing else.
#include "fuzz_board.h"
#include "fuzz_net.h"

#include "base/global.h"
#include "comm/udpnetmanage.h"
#include "comm/udpserver.h"
#include "comm/wifi_config.h"
#include "params/config_engine.h"
#include "platform/paths.h"
#include "platform/sim/sim_board.h"

#include <QFile>
#include <QRegularExpression>
#include <QList>
#include <QMap>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {
udpnetManage* udp;
R58_WIFI_CONFIG* wifi;

bool setUp()
{
    FuzzBoard::start();
    ConfigEngine::pInstance();
    wifi = new R58_WIFI_CONFIG;
    wifi->initialize(false);
    udp = new udpnetManage;
    udpnetManage::p_udpnetManage = udp; // where the handler queues its answer
    if (udp->initialize(0, 0, false) != 0)
        FuzzBoard::fail("no UDP sockets");
    udpnetManage::set_wifi_AT_cmd_manage([](const uint8_t* d, uint32_t n) { wifi->wifi_AT_cmd_manage(d, n); });
    return true;
}

// The access point restarted as its worker restarts it (stop, then the interface's start-up step).
void restartAccessPoint()
{
    platform::Sim::shellSim().clearLog();
    wifi->set_wifi_reset_flag();
    for (int step = 0; step < 2; ++step)
        wifi->wifi_reset();
    wifi->wifi_ap_start_up();
    static const QRegularExpression form(QStringLiteral("^ifconfig wlan0 (\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    for (const std::string& command : platform::Sim::shellSim().commands()) {
        if (command.rfind("ifconfig wlan0", 0) != 0)
            continue;
        const QRegularExpressionMatch m = form.match(QString::fromStdString(command));
        const int a = m.captured(1).toInt(), d = m.captured(4).toInt();
        const bool unicast = a >= 1 && a <= 223 && a != 127 && d >= 1 && d <= 254 && m.captured(2).toInt() <= 255 &&
                             m.captured(3).toInt() <= 255;
        if (!m.hasMatch() || !unicast)
            FuzzBoard::fail("the access point starts with \"%s\"", command.c_str());
    }
}

// Decimal digits of a value from low to high (or no text at all, where that may be).
bool inRange(const std::string& text, long low, long high, bool emptyToo)
{
    if (text.empty())
        return emptyToo;
    if (text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const size_t first = std::min(text.find_first_not_of('0'), text.size() - 1);
    return text.size() - first <= 6 && std::stol(text.substr(first)) >= low && std::stol(text.substr(first)) <= high;
}

// The read-back's answer: mode, SSID, security, passphrase and channel lead it (the live values
// behind them may hold commas).
void checkAnswer(const QByteArray& answer)
{
    if (!answer.startsWith("OK+CHECKDATA="))
        return;
    const QList<QByteArray> f = answer.mid(int(strlen("OK+CHECKDATA="))).split(',');
    if (f.size() < 9 || f[0] != "2")
        FuzzBoard::fail("the read-back answers \"%s\"", answer.constData());
    const std::string security = f[2].toStdString(), channel = f[4].toStdString();
    if (security == "1" || !inRange(security, 0, 4, true) || !inRange(channel, 1, 14, true))
        FuzzBoard::fail("the read-back answers security \"%s\" and channel \"%s\"", security.c_str(), channel.c_str());
}

// Each piece a datagram from one tool socket, served once it has arrived; the answers read back.
void sendThroughThePort(const std::vector<QByteArray>& datagrams)
{
    const int fd = FuzzNet::udpTool();
    const sockaddr_in to = FuzzNet::loopback(udp->server()->port13769());
    std::vector<uint8_t> buffer(UdpServer::kDatagramMax);
    for (const QByteArray& d : datagrams) {
        if (sendto(fd, d.constData(), size_t(d.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) != d.size())
            FuzzBoard::fail("cannot send a datagram");
        if (!FuzzNet::readable(udp->server()->socket13769(), 1000))
            FuzzBoard::fail("a datagram did not arrive");
        while (FuzzNet::readable(udp->server()->socket13769(), 0))
            udp->runOnce13769(0);
        int answers = 0;
        for (ssize_t n; (n = recv(fd, buffer.data(), buffer.size(), 0)) >= 0; ++answers) {
            if (uint32_t(n) > UdpServer::kReplyMax || n == 0)
                FuzzBoard::fail("an answer of %zd bytes", n);
            checkAnswer(QByteArray(reinterpret_cast<const char*>(buffer.data()), int(n)));
        }
        if (!inRange(wifi->settings().tcp_port, g_port.load(), g_port.load(), true))
            FuzzBoard::fail("the TCP port \"%s\" stored, the control port is %d", wifi->settings().tcp_port.c_str(),
                            int(g_port.load()));
        // An AT command has its one answer; anything else none.
        if (answers != (d.startsWith("AT+") ? 1 : 0) || udp->pending13769() != 0)
            FuzzBoard::fail("a datagram has %d answers, %zu more waiting", answers, udp->pending13769());
        restartAccessPoint();
    }
    close(fd);
}
void checkHostapd()
{
    QFile file(QString::fromStdString(platform::Paths::resolve(R58_WIFI_CONFIG::kHostapdConf)));
    if (!file.open(QIODevice::ReadOnly))
        return;
    QMap<QByteArray, QByteArray> keys;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const int eq = line.indexOf('=');
        const QByteArray key = line.left(eq), value = line.mid(eq + 1);
        bool printable = true;
        for (char c : value)
            printable = printable && uint8_t(c) >= 0x20 && c != 0x7F;
        const std::string number = value.toStdString();
        const bool bad = eq <= 0 || keys.contains(key) || (key == "ssid" && (value.isEmpty() || value.size() > 32 || !printable)) ||
                         (key == "wpa_passphrase" && (value.size() < 8 || value.size() > 63 || !printable)) ||
                         (key == "channel" && !inRange(number, 1, 14, false)) || (key == "wpa" && !inRange(number, 0, 3, false));
        if (bad)
            FuzzBoard::fail("hostapd would not read this line of its file: \"%s\"", line.constData());
        keys.insert(key, value);
    }
    for (const char* key : {"interface", "ssid", "channel", "wpa"})
        if (!keys.contains(key))
            FuzzBoard::fail("the hostapd file has no %s", key);
    if (keys.value("wpa") != "0" && !keys.contains("wpa_passphrase"))
        FuzzBoard::fail("the hostapd file asks for WPA %s without a passphrase", keys.value("wpa").constData());
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = setUp();
    (void)ready;
    std::vector<QByteArray> pieces = FuzzBoard::split(data, size, "#AT#");
    platform::Sim::shellSim().clearScripts();
    if (pieces.size() > 1) {
        platform::Sim::shellSim().script("ifconfig", 0, pieces.back().toStdString());
        pieces.pop_back();
    }
    sendThroughThePort(pieces);
    checkHostapd();
    FuzzBoard::settle();
    return 0;
}
