#include "platform/sim/board_config.h"

#include "platform/board.h"
#include "platform/paths.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace platform::Sim {
namespace {

struct Named {
    const char* name;
    HdmiTiming timing;
};

HdmiTiming make(uint16_t ha, uint16_t hfront, uint16_t hs, uint16_t hb, uint16_t va, uint16_t vfront, uint16_t vs,
                uint16_t vb, uint32_t khz, bool positive)
{
    HdmiTiming t;
    t.hactive = ha;
    t.hsync = hs;
    t.hback = hb;
    t.htotal = uint16_t(ha + hfront + hs + hb);
    t.vactive = va;
    t.vsync = vs;
    t.vback = vb;
    t.vtotal = uint16_t(va + vfront + vs + vb);
    t.hpositive = t.vpositive = positive;
    t.pixelClockKHz = khz;
    return t;
}

const Named kTimings[] = {
    {"1920x1080p60", make(1920, 88, 44, 148, 1080, 4, 5, 36, 148500, true)},
    {"1920x1080p50", make(1920, 528, 44, 148, 1080, 4, 5, 36, 148500, true)},
    {"1280x720p60", make(1280, 110, 40, 220, 720, 5, 5, 20, 74250, true)},
    {"1280x720p50", make(1280, 440, 40, 220, 720, 5, 5, 20, 74250, true)},
    {"1024x768p60", make(1024, 24, 136, 160, 768, 3, 6, 29, 65000, false)},
    {"3840x2160p30", make(3840, 176, 88, 296, 2160, 8, 10, 72, 297000, true)},
    {"3840x2160p60", make(3840, 176, 88, 296, 2160, 8, 10, 72, 594000, true)},
};

// Without a board.json: HDMI 1 (input 2) and HDMI 3 (input 4) carry a picture, ports 1 and 2
// have four cards each.
const char* const kDefaults = R"({
    "inputs": {
        "0": "none",
        "1": "none",
        "2": "1920x1080p60",
        "3": "none",
        "4": "3840x2160p60",
        "5": "none"
    },
    "cards": {
        "1": 4,
        "2": 4
    }
}
)";

}

// The receivers pass the picture on to the scaler chip, which measures it on its own port:
// inputs 0-5 reach ports 3, 2, 1, 0 (CMOS) and 5, 4 (V-by-One, lanes by pixel clock).
static void feedScaler(int input, const HdmiTiming& t)
{
    static const int kPort[6] = {3, 2, 1, 0, 5, 4};
    C331Chip::InputTiming in;
    in.present = t.htotal > 0 && t.vtotal > 0 && t.pixelClockKHz > 0;
    in.htotal = t.htotal;
    in.vtotal = t.vtotal;
    in.hact = t.hactive;
    in.interlaced = t.interlaced;
    in.fv = in.present ? t.pixelClockKHz * 1000.0 / (double(t.htotal) * t.vtotal) * (t.interlaced ? 2 : 1) : 0;
    in.lanes = t.pixelClockKHz > 300000 ? 8 : t.pixelClockKHz > 150000 ? 4 : 2;
    c331Chip().setInput(kPort[input], in);
}

std::optional<HdmiTiming> standardTiming(const std::string& name)
{
    for (const Named& n : kTimings)
        if (name == n.name)
            return n.timing;
    return std::nullopt;
}

std::string configureFromFile(const std::string& path)
{
    namespace pt = boost::property_tree;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        std::ofstream(path) << kDefaults;
    }
    pt::ptree tree;
    try {
        pt::read_json(path, tree);
    } catch (const pt::json_parser_error& e) {
        return path + ": " + e.message() + " (no input carries a signal, no cards)\n";
    }

    std::string problems;
    const pt::ptree none; // get_child's fallback is returned by reference: it must outlive the loops
    // Inputs 0-3 go to the IT6602 receivers, inputs 4-5 to the iTE6805 receivers.
    for (const auto& [key, value] : tree.get_child("inputs", none)) {
        const std::string name = value.get_value<std::string>();
        char* end = nullptr;
        const long input = std::strtol(key.c_str(), &end, 10);
        if (key.empty() || *end || input < 0 || input >= I2cBoard::Inputs) {
            problems += "board.json: no input \"" + key + "\"\n";
            continue;
        }
        if (name == "none")
            continue;
        const std::optional<HdmiTiming> timing = standardTiming(name);
        if (!timing)
            problems += "board.json: input " + key + ": unknown timing \"" + name + "\"\n";
        else if (input >= I2cBoard::It6602Count)
            i2cBoard().ite6805(int(input) - I2cBoard::It6602Count).connect(*timing);
        else
            i2cBoard().it6602(int(input)).connect(*timing);
        if (timing)
            feedScaler(int(input), *timing);
    }
    for (const auto& [key, value] : tree.get_child("cards", none)) {
        char* end = nullptr;
        const long port = std::strtol(key.c_str(), &end, 10);
        const int count = value.get_value<int>(-1);
        if (key.empty() || *end || port < 1 || port > LedNetwork::Ports || count < 0 || count > 4096) {
            problems += "board.json: cards \"" + key + "\": port 1-16 with 0-4096 cards expected\n";
            continue;
        }
        fpgaChip().setCards(int(port - 1), count);
    }
    if (const auto udp = tree.get_optional<std::string>("udp_port")) {
        char* end = nullptr;
        const long port = std::strtol(udp->c_str(), &end, 10);
        if (udp->empty() || *end || port < 1 || port > 65535)
            problems += "board.json: udp_port \"" + *udp + "\": 1-65535 expected\n";
        else
            setControlUdpPort(int(port));
    }
    return problems;
}

}

namespace platform {

void configureBoard()
{
    using namespace Sim;
    // The polling program needs no bus logs, FPGA 0 runs only on the synthesiser's clock and
    // measures the picture the scaler chip sends it.
    i2cBoard().setLogging(false);
    c331Chip().setLogLimit(0);
    fpgaChip().setLogLimit(0);
    fpgaChip().setClockGate([] { return i2cBoard().clockSynth().locked(); });
    fpgaChip().setPictureSource(scalerOutput);
    const std::string problems = configureFromFile(Paths::root() + "/sim/board.json");
    if (!problems.empty())
        fputs(problems.c_str(), stderr);
}

}
