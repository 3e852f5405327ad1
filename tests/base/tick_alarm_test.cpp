// The tick alarm rings once, on the burst that reaches its tick, across the counter's wrap; an
// alarm armed at a tick already reached says so instead of waiting for a burst that came before.
#include "base/global.h"
#include "base/tick_alarm.h"

#include <gtest/gtest.h>

TEST(TickAlarm, RingsOnceWhenTheTickIsReachedAndNeverBefore)
{
    int rings = 0;
    TickAlarm alarm([&] { ++rings; });
    for (const uint32_t target : {100u, 0xFFFFFFFEu}) {
        rings = 0;
        G_timeTicks = target - 10;
        const uint32_t armings = TickAlarm::armings();
        EXPECT_TRUE(alarm.arm(target));
        EXPECT_EQ(TickAlarm::armings(), armings + 1) << "tests see the worker go to sleep on it";
        TickAlarm::advanced(target - 5);
        EXPECT_EQ(rings, 0) << target;
        TickAlarm::advanced(target + 3); // a burst may pass the tick
        EXPECT_EQ(rings, 1) << target;
        TickAlarm::advanced(target + 8);
        EXPECT_EQ(rings, 1) << "once per arming";
        for (const uint32_t now : {target, target + 1}) {
            G_timeTicks = now;
            EXPECT_FALSE(alarm.arm(target)) << "already reached at " << now;
            EXPECT_EQ(TickAlarm::armings(), armings + 1) << "an arming refused is no sleep";
            TickAlarm::advanced(now + 1);
            EXPECT_EQ(rings, 1) << "not armed";
        }
    }
    G_timeTicks = 0;
    alarm.arm(10);
    alarm.disarm();
    TickAlarm::advanced(20);
    EXPECT_EQ(rings, 1) << "disarmed";
    {
        int other = 0;
        TickAlarm gone([&] { ++other; });
        gone.arm(5);
    }
    TickAlarm::advanced(30); // the destroyed alarm is no longer asked
}
