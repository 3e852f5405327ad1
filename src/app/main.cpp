#include "base/global.h"
#include "ui/mainwindow.h"
#include "ui/panelstart.h"
#include "platform/board.h"
#include "platform/paths.h"
#include "ui/simkeyfilter.h"
#include "app/startup.h"
#include "base/tsan_order.h"
#include "tools/program_check.h"
#include "tools/usbserver.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    // Started as a candidate to replace the running program: check, touch nothing, end.
    if (argc >= 2 && std::strcmp(argv[1], program_check::kArgument) == 0)
        return program_check::checkMode(argc, argv);
    if (platform::isSimulated()) {
        // The simulated board keeps its files under $VYR_ROOT (./var/root unless set).
        if (!getenv("VYR_ROOT") || !*getenv("VYR_ROOT"))
            setenv("VYR_ROOT", "var/root", 1);
        const QString root = QDir(QString::fromLocal8Bit(getenv("VYR_ROOT"))).absolutePath();
        QDir().mkpath(root);
        platform::Paths::setRoot(root.toStdString());
        printf("vyrR58N on the simulated board, root %s\n", root.toLocal8Bit().constData());
        fflush(stdout);
    }
    platform::configureBoard();

    startSystem();

    QApplication app(argc, argv);
    if (platform::isSimulated())
        app.installEventFilter(new SimKeyFilter(&app));

    showPanel();
    connectPages();
    startUsbServer(); // after the pages: its codes go to the page refresh

    // The system tick counts 10 ms periods from the clock (slot_timer_elapsed catches up on every
    // period that passed), so the timer need not wake the GUI thread 100 times a second: at 100 ms
    // the counters keep their 10 ms unit, the panel's pop-ups and progress still move 10 times a
    // second, and the idle box saves most of a percent of a core. Workers waiting for a tick are
    // woken by their tick alarms after each burst.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, g_mainwindow.data(), &MainWindow::slot_timer_elapsed);
    tick.start(100);

    vyr_tsan::orderPostedEvents();
    return app.exec();
}
