// Files the program reads back at start and on request, one per piece of the input: a user mode's
// record (a damaged one is marked empty), hostapd's file and the station's wpa_supplicant.conf as
// the Wi-Fi read-back parses them, and what the board's ifconfig prints for the interfaces.
#include "fuzz_board.h"

#include "comm/wifi_config.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/sim/sim_board.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBoard::start();
    static R58_WIFI_CONFIG* wifi = [] {
        VyrRamPara::pInstance();
        ConfigEngine::pInstance();
        return new R58_WIFI_CONFIG;
    }();
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    std::vector<QByteArray> piece = FuzzBoard::split(data, size, "#FILE#");
    piece.resize(4);
    FuzzBoard::writeFile(VyrRamPara::modeFilePath(0).toStdString(), piece[0]);
    if (store->mode_file_deal(0, 0) != uint32_t(store->VyrUserModeSaved(0)))
        FuzzBoard::fail("a mode read as saved does not show as saved");
    FuzzBoard::writeFile(R58_WIFI_CONFIG::kHostapdConf, piece[1]);
    FuzzBoard::writeFile("/etc/wpa_supplicant.conf", piece[2]);
    platform::Sim::shellSim().clearScripts();
    platform::Sim::shellSim().script("ifconfig", 0, piece[3].toStdString());
    wifi->wifi_config_file_read();
    wifi->putDeviceInfo(std::vector<uint8_t>(400).data());
    FuzzBoard::settle();
    return 0;
}
