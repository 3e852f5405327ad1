#pragma once
// The panel with the scaler brought up against the simulated chip (its worker driven pass by pass
// from the test, so its refresh reaches the page on top at once) and the FPGA manager beside it:
// what the picture setting pages hand over is seen in the scaler's call log and the chip's
// registers.
#include "panel_fixture.h"
#include "panel_checks.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"
#include "scaler/c331_manage.h"
#include "ui/lockwindow.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "video_chips/keltosource.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStringList>
#include <string>
#include <vector>

namespace picture_test {

using platform::Sim::c331Chip;

// Back to where a test starts, for a test that drives the panel more than once: the home screen
// on top and the root menu's focus on its first entry.
inline void restart()
{
    PageNav::closePage(4);
    if (g_mainwindow) {
        g_mainwindow->menulist_init();
    }
    if (!g_lockwindow)
        PageNav::showHome();
    PageNav::activate(0);
}

// From the home screen: OK to the root menu, then its settings entry.
inline Script& toSettings(Script& s)
{
    return s.act(restart)
        .until([] { return QApplication::activeWindow() == PageNav::page(0); }, "home screen")
        .key(PanelKey::OK)
        .choose("option")
        .until([] { return Panel::onTop(5); }, "settings menu");
}

// Settings menu, then its picture entry.
inline Script& toPictureMenu(Script& s)
{
    return toSettings(s)
        .choose("image_quality")
        .until([] { return Panel::onTop(11); }, "picture menu");
}

// Line edits and selectors are not measured by the panel's text check; their text (the current
// entry for a selector) must fit inside the frame as well.
inline QStringList fieldMisfits(QWidget* page, const QString& where)
{
    QStringList out;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        QString text;
        if (auto* e = qobject_cast<QLineEdit*>(w))
            text = e->text();
        else if (auto* c = qobject_cast<QComboBox*>(w))
            text = c->currentText();
        else
            continue;
        w->ensurePolished();
        const int room = w->contentsRect().width() - 4; // the 1 px borders and a little air
        const int need = QFontMetrics(w->font()).horizontalAdvance(text);
        if (need > room)
            out << QStringLiteral("%1/%2 \"%3\": needs %4, has %5").arg(where, w->objectName(), text).arg(need).arg(room);
    }
    return out;
}

// Every entry of a selector, not only the one shown.
inline QStringList comboMisfits(QComboBox* c, const QString& where)
{
    QStringList out;
    c->ensurePolished();
    for (int i = 0; i < c->count(); ++i) {
        const int need = QFontMetrics(c->font()).horizontalAdvance(c->itemText(i));
        if (need > c->contentsRect().width() - 4)
            out << QStringLiteral("%1/%2 \"%3\"").arg(where, c->objectName(), c->itemText(i));
    }
    return out;
}

class PicturePageTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        keltosource::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        scaler = c331_manage::p_c331_manage;
        ASSERT_TRUE(scaler);
    }

    void bringUp()
    {
        for (int i = 0; i < 10 && scaler->thread_state < 6; ++i)
            scaler->runOnce();
        ASSERT_EQ(scaler->thread_state, 6);
        scaler->runOnce(); // the upkeep left by the bring-up
        scaler->call_log.clear();
        scaler->change_flag = 0;
    }

    // One pass of the scaler worker; its refresh reaches the page on top before this returns.
    void pass()
    {
        scaler->runOnce();
        QCoreApplication::sendPostedEvents();
    }

    uint8_t flag() const { return scaler->change_flag.load(); }

    // The picture setters the scaler called since the log was last cleared.
    std::vector<std::string> pictureCalls() const
    {
        std::vector<std::string> out;
        for (const std::string& c : scaler->call_log.calls())
            if (c.rfind("c331_Set", 0) == 0)
                out.push_back(c);
        return out;
    }

    // The same chip register on all eight output channels.
    std::vector<uint32_t> onAllChannels(uint32_t desc) const
    {
        std::vector<uint32_t> v;
        for (uint32_t n = 0; n < 8; ++n)
            v.push_back(c331Chip().value(desc, 16 * n));
        return v;
    }

    fpga_manage* fpga = nullptr;
    c331_manage* scaler = nullptr;
};

}
