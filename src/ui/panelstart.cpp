#include "panelstart.h"

#include "global.h"
#include "lockwindow.h"
#include "mainwindow.h"
#include "syncupdate.h"
#include "vyrrampara.h"

void showPanel()
{
    auto* root = new MainWindow(nullptr);
    g_mainwindow = root;
    root->show();
    auto* home = new LockWindow(nullptr);
    g_lockwindow = home;
    g_page_focus = 0;
    home->show();
    // Queued even from the GUI thread: a refresh never runs inside the caller's critical section
    // (a hand-over lock or the signal mutex), and never re-enters itself.
    QObject::connect(VyrRamPara::pInstance(), &VyrRamPara::sig_update_para, SyncUpdate::pInstance(),
                     &SyncUpdate::para_sync, Qt::QueuedConnection);
}
