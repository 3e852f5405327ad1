#include "ui/panelstart.h"
#include <QMutexLocker>
#include "base/utils.h"

#include "base/global.h"
#include "ui/lockwindow.h"
#include "ui/mainwindow.h"
#include "ui/numberkeyboard.h"
#include "ui/syncupdate.h"
#include "ui/topwindow.h"
#include "params/vyrrampara.h"

void showPanel()
{
    auto* root = new MainWindow(nullptr);
    g_mainwindow = root;
    root->show();
    auto* home = new LockWindow(nullptr);
    g_lockwindow = home;
    g_page_focus = 0;
    home->show();
    TopWindow::activate(home); // no window manager hands the keys to a shown window
    placeNumberKeyboard(root);
    // Queued even from the GUI thread: a refresh never runs inside the caller's critical section
    // (a hand-over lock or the signal mutex), and never re-enters itself.
    // Workers already emit (under the signal mutex) while the panel starts: connecting under it too
    // orders the two on the connection list.
    QMutexLocker emitting(&Utils::_test_signal_mutex);
    QObject::connect(VyrRamPara::pInstance(), &VyrRamPara::sig_update_para, SyncUpdate::pInstance(),
                     &SyncUpdate::para_sync, Qt::QueuedConnection);
}
