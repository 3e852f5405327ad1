// The system's 10 ms tick and the ageing log it samples.
#include "ui/mainwindow.h"

#include "base/tick_alarm.h"

#include "ui/pages_settings/factoryage.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "ui/syncupdate.h"
#include "ui/tip.h"
#include "base/utils.h"

#include <QDateTime>
#include <QMetaObject>
#include <QMutexLocker>

int32_t factoryage_log_diff3 = 0;
int32_t factoryage_log_diff5 = 0;
int32_t factoryage_log_diff10 = 0;
int32_t factoryage_log_diff20 = 0;
int32_t factoryage_log_diffmore = 0;

namespace {
constexpr uint32_t kRebootDelayTicks = 300;
constexpr uint32_t kAgeingPeriodTicks = 18000;
constexpr int kAgeLogLines = 3360; // seven days at one sample every three minutes
MainWindow::UpgradeWindow upgradeWindow = {};
}

void MainWindow::setUpgradeWindow(const UpgradeWindow& window)
{
    upgradeWindow = window;
}

void MainWindow::slot_timer_elapsed()
{
    // Qt drops the timeouts that fall due while the GUI thread is busy (a save pauses it for
    // 100 ms); counting the periods that really passed keeps every thread's clock on time.
    if (!clock_.isValid())
        clock_.start();
    const qint64 due = clock_.elapsed() / 10;
    if (counted_ >= due)
        return;
    while (counted_ < due) {
        ++counted_;
        slot_update_timer_ticks();
    }
    TickAlarm::advanced(G_timeTicks.load());
}

void MainWindow::slot_update_timer_ticks()
{
    G_timeTicks.fetch_add(1);
    if (g_update_flag.load() && upgradeWindow.tick)
        upgradeWindow.tick();
    if (g_tip_flag.load() && g_tip)
        g_tip->tip_outtime_deal();
    // One "reboot" is enough: the board goes down while the command runs.
    if (g_app_reset_flag.load() && !reboot_issued_ && Utils::getTimeSpace(G_reboot_tickTicks.load()) >= kRebootDelayTicks) {
        reboot_issued_ = true;
        Utils::system_plain(QStringLiteral("reboot"));
    }
    if (SyncUpdate::p_SyncUpdate)
        SyncUpdate::p_SyncUpdate->retryFailedSave();
    if (Utils::getTimeSpace(G_factoryage_ticks.load()) < kAgeingPeriodTicks)
        return;
    G_factoryage_ticks = G_timeTicks.load();
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (fpga && pc_cmd_valid.load() == 0 && fpga->get_fpga_status())
        getagelog();
    if (g_factoryage)
        g_factoryage->update_agelog();
    G_factoryage_ticks = G_timeTicks.load();
}

void MainWindow::getagelog()
{
    QString time;
    {
        QMutexLocker locker(&Utils::_system_mutex);
        time = (fpga_manage::clock ? fpga_manage::clock() : QDateTime::currentDateTime()).toString(QStringLiteral("MM-dd hh:mm"));
    }
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return;
    fpga->read_from_register(40, 0);
    fpga->read_from_register(42, 0);
    fpga->read_from_register(43, 0);
    const uint8_t* regs = fpga->MCU_REG_func[0];
    appendAgeLine(time + QLatin1Char(' ') + QString::number(regs[42]) + QLatin1Char(' ') + QString::number(regs[40]) +
                  QLatin1Char(' ') + QString::number(regs[43]));
}

void MainWindow::appendAgeLine(const QString& line)
{
    factoryage_log.append(line);
    while (factoryage_log.size() > kAgeLogLines)
        factoryage_log.removeFirst();
    if (factoryage_log.size() < 2)
        return;
    // Field 2 is register 42, a counter that wraps at 256.
    const QStringList now = factoryage_log.last().split(QLatin1Char(' '));
    const QStringList before = factoryage_log.at(factoryage_log.size() - 2).split(QLatin1Char(' '));
    if (now.size() < 3 || before.size() < 3)
        return;
    const int n = now.at(2).toInt();
    const int o = before.at(2).toInt();
    const int d = n - o + (o > n ? 256 : 0);
    if (d <= 0)
        return;
    if (d <= 2)
        ++factoryage_log_diff3;
    else if (d <= 4)
        ++factoryage_log_diff5;
    else if (d <= 9)
        ++factoryage_log_diff10;
    else if (d <= 19)
        ++factoryage_log_diff20;
    else
        ++factoryage_log_diffmore;
}

void MainWindow::update_start()
{
    // Called from transport and FPGA threads: the dialog is shown from the GUI thread.
    QMetaObject::invokeMethod(this, [] {
        if (upgradeWindow.start)
            upgradeWindow.start();
    }, Qt::QueuedConnection);
}

void MainWindow::update_over()
{
    QMetaObject::invokeMethod(this, [] {
        if (upgradeWindow.over)
            upgradeWindow.over();
    }, Qt::QueuedConnection);
}
