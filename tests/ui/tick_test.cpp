// The 10 ms tick: the clock, the delayed reboot and the ageing log.
#include "panel_fixture.h"

#include "base/global.h"
#include "ui/mainwindow.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <QElapsedTimer>
#include <QThread>

TEST_F(PanelTest, TickCountsAndWrapsAround)
{
    G_timeTicks = 0xFFFFFFFEu;
    Panel::tick(3);
    EXPECT_EQ(G_timeTicks.load(), 1u);
}

TEST_F(PanelTest, RebootIsIssuedOnceThreeSecondsAfterTheRequestAcrossTheWrap)
{
    int reboots = 0;
    platform::Sim::shellSim().setRebootHandler([&reboots] { ++reboots; });
    G_timeTicks = 0xFFFFFF00u;
    G_reboot_tickTicks = 0xFFFFFF00u;
    g_app_reset_flag = 1;
    // Across the wrap the elapsed count is one less, so the 301st tick is the first one due.
    Panel::tick(300);
    EXPECT_EQ(reboots, 0);
    Panel::tick(1);
    EXPECT_EQ(reboots, 1);
    Panel::tick(200);
    EXPECT_EQ(reboots, 1) << "one reboot, not one per tick";
    EXPECT_EQ(TestRoot::shellLog().count(QStringLiteral("reboot")), 1);
}

TEST_F(PanelTest, NoRebootWithoutTheRequestFlag)
{
    int reboots = 0;
    platform::Sim::shellSim().setRebootHandler([&reboots] { ++reboots; });
    G_reboot_tickTicks = 0;
    Panel::tick(400);
    EXPECT_EQ(reboots, 0);
}

TEST_F(PanelTest, AgeingPeriodRenewsItsStampEveryThreeMinutes)
{
    G_factoryage_ticks = 1000;
    G_timeTicks = 1000 + 17998;
    Panel::tick(1);
    EXPECT_EQ(G_factoryage_ticks.load(), 1000u) << "17999 ticks: not yet";
    Panel::tick(1);
    EXPECT_EQ(G_factoryage_ticks.load(), 19000u);

    G_factoryage_ticks = 0xFFFFFFF0u; // across the wrap, one tick later
    G_timeTicks = 0xFFFFFFF0u + 17999;
    Panel::tick(1);
    EXPECT_EQ(G_factoryage_ticks.load(), 0xFFFFFFF0u);
    Panel::tick(1);
    EXPECT_EQ(G_factoryage_ticks.load(), G_timeTicks.load());
    EXPECT_TRUE(factoryage_log.isEmpty()) << "no FPGA: no sample, stamp renewed anyway";
}

TEST(AgeLog, KeepsSevenDaysAndCountsTheCounterSteps)
{
    factoryage_log.clear();
    for (int i = 0; i < 3361; ++i)
        MainWindow::appendAgeLine(QStringLiteral("01-01 00:%1 7 0 0").arg(i));
    EXPECT_EQ(factoryage_log.size(), 3360);
    EXPECT_EQ(factoryage_log.first(), QStringLiteral("01-01 00:1 7 0 0")) << "the oldest sample goes";
    EXPECT_EQ(factoryage_log_diff3 + factoryage_log_diff5 + factoryage_log_diff10 + factoryage_log_diff20 +
                  factoryage_log_diffmore,
              0)
        << "an unchanged counter counts nothing";

    struct Step {
        int from, to;
        int32_t* counter;
    };
    const Step steps[] = {
        {255, 2, &factoryage_log_diff5}, {10, 11, &factoryage_log_diff3}, {10, 12, &factoryage_log_diff3},
        {10, 13, &factoryage_log_diff5}, {10, 15, &factoryage_log_diff10}, {10, 19, &factoryage_log_diff10},
        {10, 20, &factoryage_log_diff20}, {10, 29, &factoryage_log_diff20}, {10, 30, &factoryage_log_diffmore},
        {250, 20, &factoryage_log_diffmore},
    };
    for (const Step& s : steps) {
        MainWindow::appendAgeLine(QStringLiteral("01-02 10:00 %1 0 0").arg(s.from));
        const int32_t before = *s.counter;
        MainWindow::appendAgeLine(QStringLiteral("01-02 10:03 %1 0 0").arg(s.to));
        EXPECT_EQ(*s.counter, before + 1) << s.from << " -> " << s.to;
    }
}

TEST_F(PanelTest, TimerCountsEveryPeriodThatPassedWhileTheGuiThreadWasBusy)
{
    // The panel's clock starts inside the first call: `outer` bounds it from above, `busy` from below,
    // whatever the scheduler does between the calls.
    QElapsedTimer outer;
    outer.start();
    g_mainwindow->slot_timer_elapsed(); // starts the clock
    QElapsedTimer busy;
    busy.start();
    const uint32_t before = G_timeTicks.load();
    QThread::msleep(105); // the GUI thread busy, as during a save
    const qint64 least = busy.elapsed();
    g_mainwindow->slot_timer_elapsed();
    const qint64 most = outer.elapsed();
    EXPECT_GE(G_timeTicks.load() - before, uint32_t(least / 10 - 1));
    EXPECT_LE(G_timeTicks.load() - before, uint32_t(most / 10 + 1));
}
