// The device information page: reached from the root menu, serial number line, input states from
// the timing records, FPGA version from the register cache, port panel rebuilt only on a link
// refresh, keys that change nothing, MODE, and its texts.
#include "fpga_up.h"
#include "panel_fixture.h"
#include "panel_checks.h"
#include "panel_store.h"
#include "managers.h"
#include "fpga_up.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "ui/machinestate.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/custommode.h"
#include "ui/panelkeys.h"
#include "platform/sim/devices/fpga_chip.h"

#include <QApplication>
#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <memory>

using namespace PanelKey;

TEST_F(PanelTest, DeviceInfoShowsSerialInputsAndVersionsAndKeysChangeNothing)
{
    g_language = 7; // unknown: English
    g_str_barcode.set(QStringLiteral(" "));
    Panel::setInputTiming(store, 2, 1920, 1080, 60);
    Panel::setInputTiming(store, 3, 1920, 1080, 0); // no refresh: offline
    Panel::setInputTiming(store, 5, 3840, 2160, 30);
    Script s;
    s.key(OK)
        .choose("machinestate")
        .until([] { return g_page_focus.load() == 2 && QApplication::activeWindow() == g_machinestate.data(); }, "device page")
        .act([] {
            MachineState* p = g_machinestate;
            EXPECT_EQ(p->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("Devices"));
            EXPECT_EQ(p->label_2->text(), QStringLiteral("SN:QZ9999"));
            EXPECT_EQ(p->label_MCU->text(), QStringLiteral("MCU:V11.02.01 2024-10-20"));
            const bool online[6] = {false, false, true, false, false, true};
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(p->source_online[i], online[i]) << i;
            EXPECT_EQ(p->port_links, 0) << "no FPGA manager: every port offline";
        })
        .keys({OK, Left, Right})
        .act([] { Panel::pump(20); })
        .act([] { EXPECT_TRUE(g_page_focus.load() == 2 && g_machinestate); })
        // A refresh re-reads the inputs.
        .act([this] {
            Panel::setInputTiming(store, 3, 1920, 1080, 50);
            g_machinestate->syncUpdate(1);
            EXPECT_TRUE(g_machinestate->source_online[3]);
        })
        .key(Back)
        .until([] { return g_page_focus.load() == 1 && !g_machinestate; }, "root menu");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, DeviceInfoSerialLineAndFpgaVersion)
{
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    ASSERT_TRUE(fpga);
    struct Case {
        uint8_t r28, r29, r30, r31;
        const char* line;
    };
    const Case cases[] = {
        {0x05, 0x09, 0x03, 0x24, "FPGA:V11.00.05 2024-03-09"},
        {0x1A, 0x31, 0x12, 0x25, "FPGA:V11.00.1a 2025-12-31"},
    };
    for (const Case& c : cases) {
        fpga->MCU_REG_func[0][28] = c.r28;
        fpga->MCU_REG_func[0][29] = c.r29;
        fpga->MCU_REG_func[0][30] = c.r30;
        fpga->MCU_REG_func[0][31] = c.r31;
        std::unique_ptr<MachineState> page(new MachineState);
        EXPECT_EQ(page->label_FPGA1->text(), QLatin1String(c.line));
    }
    g_str_barcode.set(QStringLiteral("  "));
    std::unique_ptr<MachineState> page(new MachineState);
    EXPECT_EQ(page->label_2->text(), QStringLiteral("SN:  "));
    g_str_barcode.set(QStringLiteral("QZ2024A1"));
    page.reset(new MachineState);
    EXPECT_EQ(page->label_2->text(), QStringLiteral("SN:QZ2024A1"));
    // The FPGA is not up (state byte not 3): all sixteen ports offline; only code 11 rebuilds them.
    fpga->MCU_REG_func[0][80] = 0;
    // Watched through a guarded pointer: a new panel may take the freed one's address.
    QPointer<QFrame> panel(page->port_panel);
    page->syncUpdate(1);
    EXPECT_TRUE(panel && panel == page->port_panel);
    page->syncUpdate(11);
    EXPECT_TRUE(panel.isNull()) << "the old panel is replaced";
    EXPECT_EQ(page->port_links, 0);
    EXPECT_EQ(page->port_panel->findChildren<QLabel*>().size(), 32);
}

// The simulated FPGA's design revision, as the page reads it from the FPGA once it is up: the
// date in registers 29-31 is a date of the calendar.
TEST_F(PanelTest, DeviceInfoShowsTheSimulatedFpgasDesignDate)
{
    ASSERT_TRUE(bringUpFpga0ByItsPasses()) << "FPGA 0 not up";
    std::unique_ptr<MachineState> page(new MachineState);
    const QString line = page->label_FPGA1->text();
    ASSERT_TRUE(line.startsWith(QStringLiteral("FPGA:V11.00."))) << line.toStdString();
    const QDate date = QDate::fromString(line.section(QLatin1Char(' '), 1), QStringLiteral("yyyy-MM-dd"));
    EXPECT_TRUE(date.isValid()) << line.toStdString();
    EXPECT_GE(date.year(), 2020) << line.toStdString();
}

// Bit n of the link word lights port n + 1, whichever pictures the panel uses for the two states.
TEST_F(PanelTest, DeviceInfoPortLinkBitNLightsPortNPlusOne)
{
    ASSERT_TRUE(bringUpFpga0ByItsPasses()) << "FPGA 0 not up";
    platform::Sim::FpgaChip& chip = platform::Sim::fpgaChip();
    std::unique_ptr<MachineState> page(new MachineState);
    auto picture = [&](int port) {
        auto* l = page->port_panel->findChild<QLabel*>(QStringLiteral("port%1state").arg(port));
        return l ? l->pixmap(Qt::ReturnByValue).toImage() : QImage();
    };
    for (uint16_t word : {0x0001, 0x0002, 0x0080, 0x0100, 0x8000, 0x7FFE}) {
        for (int n = 0; n < 16; ++n)
            chip.setLinked(n, (word >> n) & 1);
        page->syncUpdate(11);
        EXPECT_EQ(page->port_links, word);
        int lit = 0, dark = 0;
        while (!((word >> lit) & 1))
            ++lit;
        while ((word >> dark) & 1)
            ++dark;
        const QImage on = picture(lit + 1), off = picture(dark + 1);
        ASSERT_NE(on, off) << word;
        for (int n = 0; n < 16; ++n)
            EXPECT_EQ(picture(n + 1), (word >> n) & 1 ? on : off) << "word " << word << " port " << n + 1;
    }
}

TEST_F(PanelTest, ModeOnTheDeviceInfoPageOpensUserModes)
{
    Script s;
    s.key(OK)
        .choose("machinestate")
        .until([] { return g_page_focus.load() == 2 && QApplication::activeWindow() == g_machinestate.data(); }, "device page")
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
        .act([] {
            EXPECT_FALSE(g_machinestate);
            EXPECT_EQ(g_mode_shortcut_key.load(), 1);
        });
    ASSERT_TRUE(s.run());
}

namespace {
// The label shows that picture, drawn as the page draws it into the label's size.
}

// Inputs show their connector, lit when a signal is there; ports show the link pictures of the
// port view; each panel's bar carries its name in the page's language (7: English).
TEST_F(PanelTest, DeviceInfoShowsConnectorsLinksAndWordedPanelBars)
{
    ASSERT_TRUE(bringUpFpga0([] {
        G_timeTicks.fetch_add(1);
        fpga_manage::p_fpga_manage->runOnce();
        platform::Sim::fpgaChip().watchLines();
    }));
    for (int port : {0, 7, 8, 15})
        platform::Sim::fpgaChip().setLinked(port, true);
    const struct {
        uint16_t rate;
        const char* picture;
    } inputs[6] = {
        {60, ":/png/extlv.png"}, {0, ":/png/DVI.png"},      {30, ":/png/HDMI13_lv.png"},
        {0, ":/png/HDMI13_1.png"}, {60, ":/png/HDMI20_lv.png"}, {0, ":/png/HDMI20.png"},
    };
    for (int i = 0; i < 6; ++i)
        Panel::setInputTiming(store, i, 1920, 1080, inputs[i].rate);
    const struct {
        int language;
        const char *output, *input, *version;
    } bars[] = {
        {0, ":/png/output_state.png", ":/png/input_state.png", ":/png/version_state.png"},
        {2, ":/png/ru_output_state.png", ":/png/ru_input_state.png", ":/png/ru_version_state.png"},
        {3, ":/png/vn_output_state.png", ":/png/vn_input_state.png", ":/png/vn_version_state.png"},
        {4, ":/png/tn_output_state.png", ":/png/tn_input_state.png", ":/png/tn_version_state.png"},
        {7, ":/png/en_output_state.png", ":/png/en_input_state.png", ":/png/en_version_state.png"},
    };
    for (const auto& b : bars) {
        g_language = uint8_t(b.language);
        std::unique_ptr<MachineState> page(new MachineState);
        EXPECT_TRUE(Panel::showsScaled(page->label_state1, b.output, Qt::IgnoreAspectRatio)) << b.output;
        EXPECT_TRUE(Panel::showsScaled(page->label_state2, b.input, Qt::IgnoreAspectRatio)) << b.input;
        EXPECT_TRUE(Panel::showsScaled(page->label_state3, b.version, Qt::IgnoreAspectRatio)) << b.version;
        if (b.language != 7)
            continue;
        for (int i = 0; i < 6; ++i)
            EXPECT_TRUE(Panel::showsScaled(page->source_pixmap[i], inputs[i].picture, Qt::KeepAspectRatio)) << "input " << i;
        EXPECT_EQ(page->port_links, 0x8181);
        for (int n = 0; n < 16; ++n) {
            auto* link = page->port_panel->findChild<QLabel*>(QStringLiteral("port%1state").arg(n + 1));
            const bool on = n == 0 || n == 7 || n == 8 || n == 15;
            EXPECT_TRUE(Panel::showsScaled(link, on ? ":/png/online_up.png" : ":/png/offline_up.png", Qt::KeepAspectRatio)) << "port " << n + 1;
        }
        Panel::shot(page.get(), QStringLiteral("device_info_links"));
    }
}
