#pragma once
// FPGA 0 brought up on the simulated board with its LED network, the worker driven pass by pass
// with the tick advanced here. Shared by the card link, job, replay and brightness tests.
#include "fpga_up.h"

#include "base/global.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "fpga/fpga_jobs_block.h"
#include "fpga/fpga_manage.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "video_chips/keltosource.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using Bytes = std::vector<uint8_t>;

class LedCards : public ::testing::Test {
public:
    static Bytes sealed(Bytes b)
    {
        b.push_back(uint8_t(Utils::BCC(b.data(), uint32_t(b.size()))));
        return b;
    }
    static bool checkOk(const Bytes& b) { return !b.empty() && Utils::BCC(b.data(), uint32_t(b.size() - 1)) == b.back(); }

protected:
    void SetUp() override
    {
        store = VyrRamPara::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        ASSERT_TRUE(bringUpFpga0([this] { tick(); })) << "FPGA 0 not up";
        platform::Sim::fpgaChip().clearLog();
        platform::Sim::fpgaChip().clearPackets();
    }
    void TearDown() override
    {
        const std::vector<std::string> v = platform::Sim::fpgaChip().violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            G_timeTicks.fetch_add(1);
            fpga->runOnce();
        }
    }
    bool runUntil(const std::function<bool()>& done, int maxTicks)
    {
        for (int i = 0; i < maxTicks && !done(); ++i)
            tick();
        return done();
    }
    // Cards answer searches: a few search cycles put their counts into the image.
    void searchCards(int cycles = 2) { tick(cycles * int(fpga_manage::kSearchTicks) + 2); }
    // The interrupt service as a transport runs it.
    void serveInterrupt()
    {
        PosixLock lock(fpga->pass_mutex);
        fpga->reg_IRQ_Dealwith(0, 0);
    }
    void postJob(uint8_t job)
    {
        g_send_para[1] = 0;
        g_send_para[0] = job;
    }
    bool runJob(int maxTicks) { return runUntil([] { return g_send_para[0].load() == 0; }, maxTicks); }
    VyrRamPara* store = nullptr;
    fpga_manage* fpga = nullptr;
};
