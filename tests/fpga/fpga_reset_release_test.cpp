// An FPGA restart asked for by another thread (a transport's group 0x84, the upgrade) while the
// FPGA worker runs its passes: the reset is released no earlier than 200 ticks after the request.
#include "fpga_up.h"

#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/sim_board.h"
#include "video_chips/keltosource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Waits (briefly) until the worker has released the reset; false when it has not.
bool released(fpga_manage* fpga, int spins)
{
    for (int i = 0; i < spins; ++i) {
        if (fpga->rst_pending[0].load() == 0)
            return true;
        std::this_thread::yield();
    }
    return fpga->rst_pending[0].load() == 0;
}

TEST(FpgaResetRelease, NoEarlierThan200TicksAfterARequestFromAnotherThread)
{
    VyrRamPara::pInstance();
    keltosource::pInstance();
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    ASSERT_NE(fpga, nullptr);
    // The worker's release step, run as fast as it goes while the requests come.
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop.load())
            fpga->check_fpga_rst();
    });
    constexpr int kRequests = 3000;
    int early = 0, late = 0;
    G_timeTicks = 1000;
    for (int i = 0; i < kRequests && early == 0 && late == 0; ++i) {
        // The previous request's stamp is 201 ticks old by now: paired with it, this request
        // would be released at once.
        const uint32_t asked = G_timeTicks.load();
        fpga->hold_in_reset(0);
        // The tick stands still: any release seen now came before 200 ticks had passed.
        if (released(fpga, 50) || resetLine() != 0) {
            ++early;
            break;
        }
        G_timeTicks = asked + 200;
        if (released(fpga, 50)) {
            ++early;
            break;
        }
        G_timeTicks = asked + 201;
        if (!released(fpga, 1000000))
            ++late;
        EXPECT_EQ(resetLine(), 16) << i;
    }
    stop = true;
    worker.join();
    EXPECT_EQ(early, 0) << "requests released before 200 ticks had passed";
    EXPECT_EQ(late, 0) << "requests not released 201 ticks after";
}

// A request that comes while the worker releases the previous one (a tool asking again at once) is
// kept: the line stays low and the request pending, to be released 200 ticks after it.
TEST(FpgaResetRelease, ARequestWhileThePreviousIsReleasedIsKept)
{
    VyrRamPara::pInstance();
    keltosource::pInstance();
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    ASSERT_NE(fpga, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> passes{0};
    std::thread worker([&] {
        while (!stop.load()) {
            fpga->check_fpga_rst();
            ++passes;
        }
    });
    G_timeTicks = 1000;
    fpga->hold_in_reset(0);
    int lost = 0;
    for (int i = 0; i < 3000 && lost == 0; ++i) {
        G_timeTicks += 201; // the previous request is due: the worker releases it now
        fpga->hold_in_reset(0);
        // Two whole passes later, whatever release was under way has ended.
        const uint64_t seen = passes.load();
        while (passes.load() < seen + 2)
            std::this_thread::yield();
        if (fpga->rst_pending[0].load() != 1 || resetLine() != 0)
            ++lost;
    }
    stop = true;
    worker.join();
    EXPECT_EQ(lost, 0) << "a request made during a release was dropped or released at once";
}

} // namespace
