#pragma once
// The iTE6805 driver stepped as the input manager steps it, against the simulated receivers;
// observed through the chips' registers and logs, the block, the timing records and the scaler's
// words.
#include "input_board.h"

#include "video_chips/drv_i2c.h"
#include "video_chips/iTE6805_SYS.h"
#include "video_chips/keltosource.h"

#include "base/global.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_manage.h"
#include "test_root.h"
#include "store_face.h"

#include <gtest/gtest.h>

#include <QMutexLocker>
#include <vector>

namespace ite6805_test {

using namespace input_board;
using platform::Sim::HdmiTiming;
using platform::Sim::i2cBoard;
using platform::Sim::Ite6805Chip;
using TestRoot::logHas;

constexpr uint8_t kChannel[2] = {0x20, 0x10};

inline HdmiTiming make(uint16_t ha, uint16_t hfront, uint16_t hs, uint16_t hb, uint16_t va, uint16_t vfront, uint16_t vs,
                uint16_t vb, uint32_t khz)
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
    t.pixelClockKHz = khz;
    return t;
}

inline const HdmiTiming P2160p60 = make(3840, 176, 88, 296, 2160, 8, 10, 72, 594000);

class Ite6805Fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ConfigEngine::pInstance();
        store = VyrRamPara::pInstance();
        fpga_manage::instanceWithoutWorker();
        scaler = c331_manage::instanceWithoutWorker();
        k = keltosource::pInstance();
        ASSERT_EQ(k->initializeWithoutThread(), 0);
        s = k->ite6805;
        pathOn(true);
    }
    static void pathOn(bool on) { setGpio(kIte6805Path, on ? 16 : 0); }
    Ite6805Chip& chip(int dev) { return i2cBoard().ite6805(dev); }
    // `passes` polling passes of one device, each after its channel was selected.
    void run(int dev, int passes, uint32_t ticksPerPass = 1)
    {
        for (int i = 0; i < passes; ++i) {
            G_timeTicks += ticksPerPass;
            ASSERT_EQ(k->i2c->i2c_write(k->ite6805->fd, 0xEE, kChannel[dev], nullptr, 0), 1);
            s->iTE6805_FSM(dev);
        }
    }
    std::vector<uint8_t> blockOf(int input) const
    {
        const uint8_t* p = testBlock(store) + blk::inputResolution(uint32_t(input));
        return std::vector<uint8_t>(p, p + 6);
    }
    static std::vector<uint8_t> le(uint16_t w, uint16_t h, uint8_t rate)
    {
        return {uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), rate, 0};
    }
    HDMI_INFO record(int input)
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        return k->hdminfo[input];
    }
    int portWord(int port)
    {
        QMutexLocker lock(&Utils::_check_nosig_mutex);
        return scaler->port_check[port];
    }
    void scalerTakes(int port)
    {
        QMutexLocker lock(&Utils::_check_nosig_mutex);
        scaler->port_check[port] &= ~1;
    }

    VyrRamPara* store = nullptr;
    c331_manage* scaler = nullptr;
    keltosource* k = nullptr;
    ite6805_sys* s = nullptr;
};

}
