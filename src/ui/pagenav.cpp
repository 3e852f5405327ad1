#include "ui/pagenav.h"

#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_settings/factory.h"
#include "ui/pages_settings/factoryage.h"
#include "base/global.h"
#include "ui/pages_picture/imagelayout.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/pages_settings/lcdshow.h"
#include "ui/pages_settings/ledset.h"
#include "ui/linkcom.h"
#include "ui/linkoption.h"
#include "ui/pages_settings/linkwlan.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"
#include "ui/mainwindow.h"
#include "ui/pages_settings/netset.h"
#include "ui/option.h"
#include "ui/pages_settings/othersetup.h"
#include "ui/outputset.h"
#include "ui/pages_settings/quality.h"
#include "ui/pages_settings/temperature.h"
#include "ui/pages_settings/test_chart.h"
#include "ui/topwindow.h"
#include "params/vyrrampara.h"

#include <QApplication>
#include <QMetaObject>
#include <vector>

namespace PageNav {

namespace {

Entry kEntries[kPageCount] = {
    entry<LockWindow, &g_lockwindow>(),        entry<MainWindow, &g_mainwindow>(),
    entry<MachineState, &g_machinestate>(),    entry<InputChoose, &g_inputchoose>(),
    entry<CustomMode, &g_custommode>(),        entry<Option, &g_option>(),
    entry<OutputSet, &g_outputset>(),          entry<InputCut, &g_inputcut>(),
    entry<EDIDset, &g_edidset>(),              entry<ImageLayout, &g_imagelayout>(),
    entry<LinkOption, &g_linkoption>(),        entry<ImageQuality, &g_imagequality>(),
    entry<AdvancedOption, &g_advancedoption>(), entry<ledset, &g_ledset>(),
    entry<netset, &g_netset>(),                entry<lcdshow, &g_lcdshow>(),
    entry<test_chart, &g_test_chart>(),        entry<othersetup, &g_othersetup>(),
    entry<factory, &g_factory>(),              entry<quality, &g_quality>(),
    entry<temperature, &g_temperature>(),      entry<linkcom, &g_linkcom>(),
    entry<linkwlan, &g_linkwlan>(),            entry<factoryage, &g_factoryage>(),
    {}, {}, {}, // the tools' pages (smart mapping, card recovery, USB upgrade): registerPage
};
VyrPage* (*makers[kPageCount])() = {}; // registered pages only

// BACK targets; 3 and 7 are decided at the time of the key.
const int kParent[kPageCount] = {1, 0, 1, 1, 1, 1, 5, 5, 3, 5, 5, 5, 5, 6, 6, 12, 5, 12, 12, 11, 11, 10, 10, 12, 5, 12, 10};

bool valid(int code) { return code >= 0 && code < kPageCount; }

}

void registerPage(int code, Entry row, VyrPage* (*make)())
{
    if (!valid(code))
        return;
    kEntries[code] = row;
    makers[code] = make;
}

void open(int code)
{
    if (valid(code) && makers[code])
        openModal(makers[code]());
}

QWidget* page(int code)
{
    return valid(code) && kEntries[code].get ? kEntries[code].get() : nullptr;
}

void forget(int code)
{
    if (valid(code) && kEntries[code].clear)
        kEntries[code].clear();
}

int parentCode(int code)
{
    if (code == 3)
        return g_imagelayout ? 9 : 1;
    if (code == 7)
        return g_inputchoose ? 3 : 5;
    return valid(code) ? kParent[code] : 1;
}

bool languageChanged()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    return store && store->VyrLanguageChanged() != 0;
}

void retext(int code)
{
    QWidget* w = page(code);
    if (!w)
        return;
    if (auto* p = qobject_cast<VyrPage*>(w))
        p->language_changed();
    else if (auto* m = qobject_cast<MainWindow*>(w))
        m->language_changed();
    else if (auto* l = qobject_cast<LockWindow*>(w))
        l->language_changed();
    else if (auto* c = qobject_cast<CustomMode*>(w))
        c->language_changed();
}

void refresh(int code, int signal)
{
    QWidget* w = page(code);
    if (!w)
        return;
    if (auto* p = qobject_cast<VyrPage*>(w))
        p->syncUpdate(signal);
    else if (auto* m = qobject_cast<MainWindow*>(w))
        m->syncUpdate();
    else if (auto* l = qobject_cast<LockWindow*>(w))
        l->syncUpdate();
    else if (auto* c = qobject_cast<CustomMode*>(w))
        c->syncUpdate();
}

void activate(int code)
{
    // The keys go to the window a person sees: the page, or a pop-up or the keypad over it.
    TopWindow::activate(page(code));
}

void openModal(VyrPage* child)
{
    const int code = child->pageCode();
    if (!valid(code) || !kEntries[code].store || !kEntries[code].store(child)) {
        delete child;
        return;
    }
    g_page_focus = uint8_t(code);
    child->exec();
    // The child, and perhaps the page that opened it (MODE), may be gone now: touch nothing.
}

void back(VyrPage* page, bool retextParent)
{
    const int code = page->pageCode();
    page->setAttribute(Qt::WA_DeleteOnClose);
    page->close();
    forget(code);
    const int parent = parentCode(code);
    if (retextParent)
        retext(parent);
    g_page_focus = uint8_t(parent);
    activate(parent);
}

void closePage(int code)
{
    QWidget* w = page(code);
    if (!w)
        return;
    forget(code);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->close();
}

void modeShortcut()
{
    // Deepest first: the chain from the page on top down to the root menu, then whatever else is
    // still open above it, so no modal loop or page pointer is left behind the user-mode page.
    std::vector<int> order;
    for (int c = g_page_focus.load(); valid(c) && c >= 2 && order.size() < size_t(kPageCount); c = parentCode(c))
        order.push_back(c);
    for (int c = kPageCount - 1; c >= 2; --c)
        order.push_back(c);
    order.push_back(0);
    for (int c : order)
        if (c != 4)
            closePage(c);
    g_mode_shortcut_key = 1;
    g_page_focus = 4;
    QMetaObject::invokeMethod(qApp, [] { showUserModes(); }, Qt::QueuedConnection);
}

void showHome()
{
    auto* home = new LockWindow(nullptr);
    g_lockwindow = home;
    g_page_focus = 0;
    home->show();
    home->activateWindow();
}

void showUserModes()
{
    if (g_custommode) {
        activate(4);
        return;
    }
    auto* modes = new CustomMode(nullptr);
    g_custommode = modes;
    g_page_focus = 4;
    modes->show();
    modes->activateWindow();
}

}
