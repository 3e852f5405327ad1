#include "global.h"
#include "lockwindow.h"
#include "mainwindow.h"
#include "platform/board.h"
#include "platform/paths.h"
#include "simkeyfilter.h"
#include "startup.h"
#include "syncupdate.h"
#include "vyrrampara.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
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

    startSystem();

    QApplication app(argc, argv);
    if (platform::isSimulated())
        app.installEventFilter(new SimKeyFilter(&app));

    auto* root = new MainWindow(nullptr);
    g_mainwindow = root;
    root->show();
    auto* home = new LockWindow(nullptr);
    g_lockwindow = home;
    g_page_focus = 0;
    home->show();

    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, root, &MainWindow::slot_timer_elapsed);
    tick.start(10);

    // Queued even from the GUI thread: a refresh never runs inside the caller's critical section
    // (a hand-over lock or the signal mutex), and never re-enters itself.
    QObject::connect(VyrRamPara::pInstance(), &VyrRamPara::sig_update_para, SyncUpdate::pInstance(),
                     &SyncUpdate::para_sync, Qt::QueuedConnection);

    return app.exec();
}
