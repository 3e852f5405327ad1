// The race points tests hold: a thread that comes to a held point stops there until the test lets
// it go, each time it comes while the point is held.
#include "base/race_pause.h"
#include "program.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

TEST(RacePause, AHeldPointStopsEachArrivalUntilPassedAndNoneOnceReleased)
{
    const RacePause::Point point = RacePause::AfterWifiStep;
    std::atomic<int> through{0};
    auto comeBy = [&](int times) {
        for (int i = 0; i < times; ++i) {
            RacePause::at(point);
            ++through;
        }
    };
    RacePause::hold(point);
    std::thread worker(comeBy, 2);
    EXPECT_TRUE(waitFor([&] { return RacePause::parked(point) == 1; }, 2000));
    EXPECT_EQ(through.load(), 0);
    RacePause::pass(point);
    EXPECT_TRUE(waitFor([&] { return through.load() == 1 && RacePause::parked(point) == 1; }, 2000)) << "stopped again";
    RacePause::release(point);
    worker.join();
    EXPECT_EQ(through.load(), 2);
    EXPECT_EQ(RacePause::parked(point), 0);
    comeBy(3); // released: nobody stops
    EXPECT_EQ(through.load(), 5);
}
