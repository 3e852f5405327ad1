// The Wi-Fi configuration port: one datagram per piece of the input ("AT+SETDATA=2,..." stores
// hostapd's and udhcpd's files and builds the interface command), answered as the port answers.
// The last piece is what the board's ifconfig prints, which the read-back of "AT+CHECKDATA" parses.
// The hostapd file the commands leave is read as hostapd reads it: one "key=value" a line, no key
// twice, an SSID of 1-32 bytes and a passphrase (where there is one) of 8-63 printable characters.
#include "fuzz_board.h"

#include "comm/wifi_config.h"
#include "params/config_engine.h"
#include "platform/paths.h"
#include "platform/sim/sim_board.h"

#include <QFile>
#include <QSet>
#include <string>
#include <vector>

namespace {
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
    FuzzBoard::start();
    static R58_WIFI_CONFIG* wifi = [] {
        ConfigEngine::pInstance();
        auto* w = new R58_WIFI_CONFIG;
        w->initialize(false);
        return w;
    }();
    std::vector<QByteArray> pieces = FuzzBoard::split(data, size, "#AT#");
    platform::Sim::shellSim().clearScripts();
    if (pieces.size() > 1) {
        platform::Sim::shellSim().script("ifconfig", 0, pieces.back().toStdString());
        pieces.pop_back();
    }
    for (const QByteArray& piece : pieces) {
        // In a buffer of its own size (a QByteArray adds a zero byte), as the socket gives it.
        const std::vector<uint8_t> datagram(piece.begin(), piece.end());
        std::string answer;
        wifi->answer(datagram.data(), uint32_t(datagram.size()), &answer);
    }
    checkHostapd();
    FuzzBoard::settle();
    return 0;
}
