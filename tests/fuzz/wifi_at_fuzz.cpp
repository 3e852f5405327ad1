// The Wi-Fi configuration port: one datagram per piece of the input ("AT+SETDATA=2,..." stores
// hostapd's and udhcpd's files and builds the interface command), answered as the port answers.
// The last piece is what the board's ifconfig prints, which the read-back of "AT+CHECKDATA" parses.
#include "fuzz_board.h"

#include "comm/wifi_config.h"
#include "params/config_engine.h"
#include "platform/sim/sim_board.h"

#include <string>

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
    for (const QByteArray& datagram : pieces) {
        std::string answer;
        wifi->answer(reinterpret_cast<const uint8_t*>(datagram.constData()), uint32_t(datagram.size()), &answer);
    }
    FuzzBoard::settle();
    return 0;
}
