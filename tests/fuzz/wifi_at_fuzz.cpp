// The Wi-Fi configuration port: one datagram per piece of the input ("AT+SETDATA=2,..." stores
// hostapd's and udhcpd's files and builds the interface command), sent through a loopback socket
// to the port's own read loop (runOnce13769), which hands it to the Wi-Fi handler as the program
// wires it; each datagram has at most one answer, back to its sender and in one datagram.
// The last piece is what the board's ifconfig prints, which the read-back of "AT+CHECKDATA" parses.
// The hostapd file the commands leave is read as hostapd reads it: one "key=value" a line, no key
// twice, an SSID of 1-32 bytes and a passphrase (where there is one) of 8-63 printable characters.
// After each datagram the access point restarts as its worker would: the interface command it runs
// names one unicast host address and nothing else.
#include "fuzz_board.h"
#include "fuzz_net.h"

#include "comm/udpnetmanage.h"
#include "comm/udpserver.h"
#include "comm/wifi_config.h"
#include "params/config_engine.h"
#include "platform/paths.h"
#include "platform/sim/sim_board.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <sys/socket.h>
#include <unistd.h>

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
        for (ssize_t n; (n = recv(fd, buffer.data(), buffer.size(), 0)) >= 0; ++answers)
            if (uint32_t(n) > UdpServer::kReplyMax || n == 0)
                FuzzBoard::fail("an answer of %zd bytes", n);
        if (answers > 1 || udp->pending13769() != 0)
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
    QSet<QByteArray> keys;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const int eq = line.indexOf('=');
        const QByteArray key = line.left(eq), value = line.mid(eq + 1);
        bool printable = true;
        for (char c : value)
            printable = printable && uint8_t(c) >= 0x20 && c != 0x7F;
        const bool bad = eq <= 0 || keys.contains(key) || (key == "ssid" && (value.isEmpty() || value.size() > 32 || !printable)) ||
                         (key == "wpa_passphrase" && (value.size() < 8 || value.size() > 63 || !printable));
        if (bad)
            FuzzBoard::fail("hostapd would not read this line of its file: \"%s\"", line.constData());
        keys.insert(key);
    }
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
