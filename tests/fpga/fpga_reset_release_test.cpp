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
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// The worker's release step on a thread of its own, run as fast as it goes while the test asks.
// The test waits for whole passes of it, asleep: any number of requests costs little on a loaded
// machine.
class ReleaseWorker {
public:
    explicit ReleaseWorker(fpga_manage* fpga) : thread_([this, fpga] {
        while (!stop_.load()) {
            fpga->check_fpga_rst();
            passes_.fetch_add(1);
            if (waiting_.load()) {
                std::lock_guard<std::mutex> lock(mutex_);
                passed_.notify_all();
            }
        }
    }) {}
    ~ReleaseWorker()
    {
        stop_ = true;
        thread_.join();
    }
    // Returns once a whole pass has begun and ended after the call: it saw the state as it is now.
    void wholePass()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const uint64_t seen = passes_.load();
        waiting_ = true;
        passed_.wait(lock, [&] { return passes_.load() >= seen + 2; });
        waiting_ = false;
    }

private:
    std::atomic<bool> stop_{false}, waiting_{false};
    std::atomic<uint64_t> passes_{0};
    std::mutex mutex_;
    std::condition_variable passed_;
    std::thread thread_;
};

TEST(FpgaResetRelease, NoEarlierThan200TicksAfterARequestFromAnotherThread)
{
    VyrRamPara::pInstance();
    keltosource::pInstance();
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    ASSERT_NE(fpga, nullptr);
    ReleaseWorker worker(fpga);
    auto released = [fpga] { return fpga->rst_pending[0].load() == 0; };
    int early = 0, late = 0;
    G_timeTicks = 1000;
    for (int i = 0; i < 3000 && early == 0 && late == 0; ++i) {
        // The previous request's stamp is 201 ticks old by now: paired with it, this request
        // would be released at once.
        const uint32_t asked = G_timeTicks.load();
        fpga->hold_in_reset(0);
        // The tick stands still: any release seen now came before 200 ticks had passed.
        worker.wholePass();
        if (released() || resetLine() != 0) {
            ++early;
            break;
        }
        G_timeTicks = asked + 200;
        worker.wholePass();
        if (released()) {
            ++early;
            break;
        }
        G_timeTicks = asked + 201;
        worker.wholePass();
        if (!released())
            ++late;
        EXPECT_EQ(resetLine(), 16) << i;
    }
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
    ReleaseWorker worker(fpga);
    G_timeTicks = 1000;
    fpga->hold_in_reset(0);
    int lost = 0;
    for (int i = 0; i < 3000 && lost == 0; ++i) {
        G_timeTicks += 201; // the previous request is due: the worker releases it now
        fpga->hold_in_reset(0);
        // A whole pass later, whatever release was under way has ended.
        worker.wholePass();
        if (fpga->rst_pending[0].load() != 1 || resetLine() != 0)
            ++lost;
    }
    EXPECT_EQ(lost, 0) << "a request made during a release was dropped or released at once";
}

} // namespace
