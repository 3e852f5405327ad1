// The LED output port view reached by keys from the home screen, against FPGA 0 brought up on the
// simulated board: the ports four at a time with their link state, the area of the selected port
// from FPGA 0's parameter image, scrolling to both ends, the FPGA down, refreshes, texts.
#include "fpga_up.h"
#include "panel_fixture.h"
#include "panel_checks.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/sim_board.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_settings/netset.h"
#include "ui/panelkeys.h"
#include "video_chips/keltosource.h"
#include "store_face.h"

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <mutex>

using namespace PanelKey;
using platform::Sim::fpgaChip;

namespace {

// Home screen, root menu, settings, output menu, its second entry.
Script& toPortView(Script& s)
{
    return s.key(OK)
        .choose("option")
        .until([] { return Panel::onTop(5); }, "settings menu")
        .choose("output_set")
        .until([] { return Panel::onTop(6); }, "output menu")
        .choose("Button_lanset")
        .until([] { return Panel::onTop(14) && g_netset; }, "port view");
}

// Port p's area as the FPGA's parameter image holds it: x, y, width, height, each over 255 so
// both bytes count.
uint16_t area(int port, int field) { return uint16_t(1000 * (field + 1) + 17 * port + 256); }

QString areaText(int port, int field) { return QString::number(area(port, field)); }

bool showsPicture(QLabel* label, const char* path)
{
    const QPixmap picture = label->pixmap(Qt::ReturnByValue);
    const QImage expected = QImage(QLatin1String(path)).convertToFormat(QImage::Format_ARGB32);
    return !picture.isNull() && !expected.isNull() && picture.toImage().convertToFormat(QImage::Format_ARGB32) == expected;
}
const char kOnline[] = ":/png/online_up.png";
const char kOffline[] = ":/png/offline_up.png";

class PortView : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        g_language = 1;
        keltosource::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        ASSERT_TRUE(fpga);
    }

    // FPGA 0 brought up by its worker, as after the scaler's start and with the clock running.
    void bringUp()
    {
        ASSERT_TRUE(bringUpFpga0([this] { tick(); }, 3000));
    }

    void tick()
    {
        G_timeTicks.fetch_add(1);
        fpga->runOnce();
        fpgaChip().watchLines();
    }

    // The ports' areas in FPGA 0's parameter image, at the positions the FPGA reads them from.
    void fillImage()
    {
        const uint32_t first[16] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584, 592, 600, 608, 616, 624, 632};
        std::lock_guard<std::mutex> lock(fpga->image_mutex);
        uint8_t* image = fpga->MCU_RAM_PARA_func[0];
        for (int p = 0; p < 16; ++p)
            for (int f = 0; f < 4; ++f) {
                image[first[p] + 2 * f] = uint8_t(area(p, f));
                image[first[p] + 2 * f + 1] = uint8_t(area(p, f) >> 8);
            }
    }

    static void expectColumns(int firstPort, const QString& prefix = QStringLiteral("LED"))
    {
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(g_netset->port_label[c]->text(), prefix + QString::number(firstPort + c)) << "column " << c;
    }

    static void expectArea(int port)
    {
        EXPECT_EQ(g_netset->x_lineEdit->text(), areaText(port, 0)) << "port " << port + 1;
        EXPECT_EQ(g_netset->y_lineEdit->text(), areaText(port, 1));
        EXPECT_EQ(g_netset->w_lineEdit->text(), areaText(port, 2));
        EXPECT_EQ(g_netset->h_lineEdit->text(), areaText(port, 3));
    }

    fpga_manage* fpga = nullptr;
};

}

TEST_F(PortView, ReachedByKeysShowsPortOneItsAreaAndTheLinksOfTheFirstFour)
{
    bringUp();
    fillImage();
    fpgaChip().setLinked(0, true);
    fpgaChip().setLinked(2, true);
    fpgaChip().setLinked(5, true);
    Script s;
    toPortView(s).act([] {
        EXPECT_EQ(g_netset->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("Port output"));
        EXPECT_EQ(g_netset->ui_select, 0);
        expectColumns(1);
        expectArea(0);
        EXPECT_TRUE(showsPicture(g_netset->link_icon[0], kOnline));
        EXPECT_TRUE(showsPicture(g_netset->link_icon[1], kOffline)) << "its area is set, its link is not";
        EXPECT_TRUE(showsPicture(g_netset->link_icon[2], kOnline));
        EXPECT_TRUE(showsPicture(g_netset->link_icon[3], kOffline));
        EXPECT_EQ(g_netset->net_frame->geometry(), QRect(24, 40, 58, 41));
        EXPECT_EQ(g_netset->x_label->text(), QStringLiteral("X"));
        EXPECT_EQ(g_netset->w_label->text(), QStringLiteral("W"));
        EXPECT_FALSE(g_netset->l_p->pixmap(Qt::ReturnByValue).isNull());
        EXPECT_FALSE(g_netset->r_p->pixmap(Qt::ReturnByValue).isNull());
        Panel::shot(g_netset, QStringLiteral("netset_links"));
        // Its re-read runs slowly and only while the page is shown.
        const QList<QTimer*> timers = g_netset->findChildren<QTimer*>();
        ASSERT_EQ(timers.size(), 1);
        EXPECT_TRUE(timers[0]->isActive());
        EXPECT_GE(timers[0]->interval(), 1000);
        std::unique_ptr<netset> hidden(new netset);
        EXPECT_FALSE(hidden->findChild<QTimer*>()->isActive());
    })
        .key(OK)
        .act([] { Panel::pump(20); })
        .act([] { EXPECT_TRUE(Panel::onTop(14)) << "OK does nothing"; })
        .key(Back)
        .until([] { return Panel::onTop(6) && !g_netset; }, "output menu")
        .act([] { EXPECT_EQ(g_outputset->ui_select, 1); });
    ASSERT_TRUE(s.run());
}

TEST_F(PortView, SelectionMovesOverTheSixteenPortsAndTheRowScrollsAtItsEnds)
{
    bringUp();
    fillImage();
    fpgaChip().setLinked(13, true);
    fpgaChip().setLinked(1, true);
    struct Step {
        int key;
        int port, column, first; // selected port (from 0), its column, port in column 0
    };
    const Step steps[] = {
        {Left, 0, 0, 0}, // nothing before port 1
        {Right, 1, 1, 0},
        {Right, 2, 2, 0},
        {Right, 3, 3, 0},
        {Right, 4, 3, 1}, // scrolls: ports 2-5
        {Left, 3, 2, 1},
        {Left, 2, 1, 1},
        {Left, 1, 0, 1},
        {Left, 0, 0, 0}, // scrolls back
        {Right, 1, 1, 0},  {Right, 2, 2, 0},  {Right, 3, 3, 0},  {Right, 4, 3, 1},  {Right, 5, 3, 2},
        {Right, 6, 3, 3},  {Right, 7, 3, 4},  {Right, 8, 3, 5},  {Right, 9, 3, 6},  {Right, 10, 3, 7},
        {Right, 11, 3, 8}, {Right, 12, 3, 9}, {Right, 13, 3, 10}, {Right, 14, 3, 11},
        {Right, 15, 3, 12}, // the fifteenth right: port 16, ports 13-16 shown
        {Right, 15, 3, 12}, // the sixteenth changes nothing
        {Left, 14, 2, 12},
    };
    Script s;
    toPortView(s);
    int n = 0;
    for (const Step& st : steps) {
        s.key(st.key)
            .until([st] { return g_netset->ui_select == st.port && g_netset->ui_sel == st.column &&
                                 g_netset->ui_min_select == st.first; },
                   "step " + std::to_string(n++))
            .act([st] {
                expectColumns(st.first + 1);
                expectArea(st.port);
                EXPECT_EQ(g_netset->net_frame->x(), 24 + 68 * st.column);
                for (int c = 0; c < 4; ++c) {
                    const int port = st.first + c;
                    EXPECT_TRUE(showsPicture(g_netset->link_icon[c], port == 13 || port == 1 ? kOnline : kOffline))
                        << "port " << port + 1;
                }
            });
    }
    ASSERT_TRUE(s.run(10000));
}

TEST_F(PortView, FpgaDownShowsNoValuesAndEveryPortOffline)
{
    // Never brought up: the state byte is not 3, whatever the image and the links hold.
    fillImage();
    fpgaChip().setLinked(0, true);
    fpgaChip().setLinked(1, true);
    Script s;
    toPortView(s)
        .act([] {
            for (QLineEdit* e : {g_netset->x_lineEdit, g_netset->y_lineEdit, g_netset->w_lineEdit, g_netset->h_lineEdit})
                EXPECT_EQ(e->text(), QStringLiteral("-")) << e->objectName().toStdString();
            for (int c = 0; c < 4; ++c)
                EXPECT_TRUE(showsPicture(g_netset->link_icon[c], kOffline));
        })
        .key(Right)
        .until([] { return g_netset->ui_select == 1; }, "port 2")
        .act([] { EXPECT_EQ(g_netset->w_lineEdit->text(), QStringLiteral("-")); });
    ASSERT_TRUE(s.run());
}

// Links and areas follow the FPGA while the page is open: a link report of the worker, and the
// page's own slow re-read (which also sees the FPGA going down).
TEST_F(PortView, OpenPageFollowsLinkReportsAndTheFpgaGoingDown)
{
    bringUp();
    fillImage();
    for (int i = 0; i < 20; ++i)
        tick(); // the worker has reported the links it sees now
    Script s;
    toPortView(s)
        .act([this] {
            EXPECT_TRUE(showsPicture(g_netset->link_icon[3], kOffline));
            fpgaChip().setLinked(3, true);
            for (int i = 0; i < 20; ++i)
                tick(); // its link watch reports the change (code 11)
        })
        .until([] { return showsPicture(g_netset->link_icon[3], kOnline); }, "port 4 online")
        .act([this] {
            expectArea(0);
            // Reset, as after a new LED size: released 201 ticks later, its bring-up starts over.
            fpga->hold_in_reset(0);
            for (int i = 0; i < 202; ++i)
                tick();
            EXPECT_NE(fpga->reg_cached(0, FpgaReg::State), FpgaReg::StateUp);
        })
        .until([] { return g_netset->x_lineEdit->text() == QStringLiteral("-"); }, "values gone with the FPGA")
        .act([] {
            for (int c = 0; c < 4; ++c)
                EXPECT_TRUE(showsPicture(g_netset->link_icon[c], kOffline));
        });
    ASSERT_TRUE(s.run(8000));
}

TEST_F(PortView, ModeLeavesForTheUserModes)
{
    Script s;
    toPortView(s)
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
        .act([] {
            EXPECT_FALSE(g_netset);
            EXPECT_FALSE(g_outputset);
            EXPECT_EQ(g_mode_shortcut_key, 1);
        });
    ASSERT_TRUE(s.run());
}

TEST_F(PortView, TextsAndPortNamesInEveryLanguageFitAndFollowALanguageChange)
{
    struct Lang {
        int code;
        const char *title, *w, *h, *prefix;
    };
    const Lang langs[] = {
        {0, "网口输出", "宽", "高", "网口LED"},
        {1, "Port output", "W", "H", "LED"},
        {2, "Настройка LAN", "Ширина", "Высота", "LED"},
        {3, "Cài đặt cổng MẠNG", "Rộng", "Cao", "LED"},
        {4, "網口輸出", "寬", "高", "網口LED"},
        {9, "Port output", "W", "H", "LED"},
    };
    bringUp();
    fillImage();
    QStringList bad;
    for (const Lang& l : langs) {
        g_language = uint8_t(l.code);
        std::unique_ptr<netset> page(new netset);
        EXPECT_EQ(page->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QString::fromUtf8(l.title));
        EXPECT_EQ(page->w_label->text(), QString::fromUtf8(l.w));
        EXPECT_EQ(page->h_label->text(), QString::fromUtf8(l.h));
        EXPECT_EQ(page->x_label->text(), QStringLiteral("X"));
        EXPECT_EQ(page->y_label->text(), QStringLiteral("Y"));
        EXPECT_EQ(page->port_label[0]->text(), QString::fromUtf8(l.prefix) + QStringLiteral("1"));
        if (l.code > 4)
            continue;
        bad << Panel::misfits(page.get(), QStringLiteral("netset%1").arg(l.code));
        bad << Panel::lowContrast(page.get(), QStringLiteral("netset%1").arg(l.code));
        Panel::shot(page.get(), QStringLiteral("netset_%1").arg(l.code));
        // The longest names, at the end of the row.
        page->ui_select = 15;
        page->ui_sel = 3;
        page->ui_min_select = 12;
        page->wlan_para_get(15);
        EXPECT_EQ(page->port_label[3]->text(), QString::fromUtf8(l.prefix) + QStringLiteral("16"));
        bad << Panel::misfits(page.get(), QStringLiteral("netset%1_end").arg(l.code));
        bad << Panel::lowContrast(page.get(), QStringLiteral("netset%1_end").arg(l.code));
        Panel::shot(page.get(), QStringLiteral("netset_%1_end").arg(l.code));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();

    // Open in English, then the language changes: the names follow at the next refresh.
    g_language = 1;
    testBlock(store)[blk::kLanguage] = store->shadow[blk::kLanguage] = 1;
    Script s;
    toPortView(s)
        .act([] { expectColumns(1); })
        .act([this] {
            testBlock(store)[blk::kLanguage] = 0;
            Panel::refresh(1);
        })
        .until([] { return g_netset->port_label[0]->text() == QStringLiteral("网口LED1"); }, "Chinese names")
        .act([] {
            expectColumns(1, QStringLiteral("网口LED"));
            EXPECT_EQ(g_netset->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("网口输出"));
        });
    ASSERT_TRUE(s.run());
}
