#pragma once
// The input manager's thread stepped by hand on the simulated board, observed through the chips.
#include "edid_checks.h"
#include "input_board.h"

#include "video_chips/keltosource.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"

#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"
#include "store_face.h"

#include <gtest/gtest.h>

#include <QMutexLocker>
#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace keltosource_test {

using namespace edid_checks;
using namespace input_board;
using platform::Sim::i2cBoard;
using TestRoot::logHas;

class KeltoSource : public ::testing::Test {
protected:
    void SetUp() override
    {
        ConfigEngine::pInstance();
        store = VyrRamPara::pInstance();
        fpga_manage::instanceWithoutWorker();
        g_check_source = 255;
        // The tables the box ships with, which the check at every start reads and leaves alone.
        for (int i = 0; i < 6; ++i)
            i2cBoard().eeprom(i).setContents(edid::defaultFor(i));
        k = keltosource::pInstance();
        ASSERT_EQ(k->initializeWithoutThread(), 0);
    }
    // Runs passes, moving the tick counter by `ticksPerPass` before each one.
    void run(int passes, uint32_t ticksPerPass = 1)
    {
        for (int i = 0; i < passes; ++i) {
            G_timeTicks += ticksPerPass;
            k->runOnce();
        }
    }
    // Through the path states and the EDID check into the running state.
    void toRunning(const char* check)
    {
        g_check_edid = check;
        for (int i = 0; i < 2000 && k->path_state != keltosource::PathRunning; ++i)
            run(1, 5);
        ASSERT_EQ(k->path_state, keltosource::PathRunning);
    }
    void fillAllEeproms()
    {
        for (int i = 0; i < 6; ++i) {
            std::array<uint8_t, 256> t{};
            t[0] = t[7] = 0;
            for (int b = 1; b < 7; ++b)
                t[b] = 0xFF;
            t[10] = uint8_t(i + 1);
            t[127] = uint8_t(-(6 * 0xFF + i + 1));
            t[255] = 0;
            i2cBoard().eeprom(i).setContents(t);
        }
    }
    // Every EEPROM filled, input 2's damaged behind its write-protect line, and the first check
    // ("Once") run into the running state: input 2's repair has failed.
    void runFirstCheckWithInput2Unrepairable()
    {
        fillAllEeproms();
        auto t = i2cBoard().eepromContents(2);
        t[0] = 0x55;
        i2cBoard().eeprom(2).setContents(t);
        i2cBoard().eeprom(2).setProtectLine([] { return true; });
        toRunning("Once");
    }
    // Running, with the IT6602 of input 2 fed the timing until its resolution record shows it.
    bool showOnInput2(const platform::Sim::HdmiTiming& timing, const std::vector<uint8_t>& expected)
    {
        toRunning("Never");
        run(3);
        i2cBoard().it6602(2).connect(timing);
        for (int i = 0; i < 50 && blockOf(2) != expected; ++i)
            run(1);
        return blockOf(2) == expected;
    }
    // An input's resolution record (block 0x100 + 6 input) and timing record, read as the pages
    // and the scaler read them, under their locks.
    std::vector<uint8_t> blockOf(int input)
    {
        PosixLock lock(store->mutex);
        return std::vector<uint8_t>(testBlock(store) + blk::inputResolution(input),
                                    testBlock(store) + blk::inputResolution(input) + blk::kInputResolutionSize);
    }
    HDMI_INFO record(int input)
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        return k->hdminfo[input];
    }
    VyrRamPara* store = nullptr;
    keltosource* k = nullptr;
};

}
