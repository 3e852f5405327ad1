// The receiving-card recovery page with the FPGA worker and the simulated LED network behind it:
// Query and Recovery by keys from the home screen, the progress on the round bar, the result
// lines, failures shown as failures, the keys refused while the bar is up, a page closed during
// a job, and the texts in each language.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "test_root.h"
#include "fpga_up.h"
#include "rcv_recovery_files.h"
#include "running_fpga.h"

#include "base/bytes.h"
#include "base/global.h"
#include "fpga/fpga_jobs_block.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_network.h"
#include "tools/rcv_recovery.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/custommode.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/qroundprogressbar.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace PanelKey;
using platform::Sim::fpgaChip;
using platform::Sim::LedNetwork;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kConfig = 0x11223344;

QByteArray pattern(int n, int seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + seed) & 0xFF);
    return b;
}


QLabel* row(rcv_recovery* page, const char* name)
{
    return page && page->frame_file ? page->frame_file->findChild<QLabel*>(QLatin1String(name)) : nullptr;
}
QString rowText(rcv_recovery* page, const char* name)
{
    QLabel* l = row(page, name);
    return l ? l->text() : QStringLiteral("<none>");
}


// FPGA 0 up with port 0 (2 cards) and port 1 (4 cards) of one screen; card 2 of port 1 keeps a
// 2500-byte RAM write in the recovery file.
class RecoveryPage : public PanelTest {
public:
    void SetUp() override
    {
        PanelTest::SetUp();
        if (HasFatalFailure())
            return;
        fpga = fpga_manage::instanceWithoutWorker();
        ASSERT_TRUE(bringUpFpga0([this] { work(1); })) << "FPGA 0 not up";
        fpgaChip().setCards(0, 2);
        fpgaChip().setCards(1, 4);
        fpgaChip().editNetwork([](LedNetwork& n) {
            for (int p : {0, 1})
                for (auto& c : n.port(p).cards)
                    c.configId = kConfig;
        });
        work(2 * int(fpga_manage::kSearchTicks) + 2);
        Panel::pump();
        fpgaChip().clearPackets();
        data = pattern(2500, 5);
        CardFiles::Op op;
        op.type = 1;
        op.target = 1;
        op.targetAddr = 0x1000;
        op.data = data;
        screen.configId = kConfig;
        screen.nets = {CardFiles::Net{0, {{}, {}}}, CardFiles::Net{1, {{}, {}, {op}, {}}}};
        g_language = 1;
    }
    void TearDown() override
    {
        const std::vector<std::string> v = fpgaChip().violations();
        EXPECT_TRUE(v.empty()) << v.front();
        PanelTest::TearDown();
    }
    // Worker passes with the tick advanced; queued signals are not delivered here.
    void work(int ticks)
    {
        for (int i = 0; i < ticks; ++i) {
            G_timeTicks.fetch_add(1);
            fpga->runOnce();
        }
    }
    bool runJob(int maxTicks)
    {
        for (int i = 0; i < maxTicks && g_send_para[0].load() != 0; ++i)
            work(1);
        return g_send_para[0].load() == 0;
    }
    void writeFile(const std::vector<CardFiles::Screen>& screens)
    {
        ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", CardFiles::packedFile(screens)));
    }
    void badCard(int port, int card)
    {
        fpgaChip().editNetwork([=](LedNetwork& n) { n.port(port).cards[size_t(card)].configId = 0x99; });
    }
    int searches(int port)
    {
        int n = 0;
        for (const Bytes& p : fpgaChip().packets(port))
            n += p.size() == 30 && p[16] == 1;
        return n;
    }
    // From the home screen: settings menu, advanced menu, its recovery entry.
    Script& toRecoveryPage(Script& s)
    {
        return s.key(OK)
            .choose("option")
            .until([] { return Panel::onTop(5); }, "settings menu")
            .choose("AdvanceButton")
            .until([] { return Panel::onTop(12); }, "advanced menu")
            .choose("Button_rcv_recovery")
            .until([] { return Panel::onTop(25) && g_rcv_recovery; }, "recovery page");
    }

    fpga_manage* fpga = nullptr;
    QByteArray data;
    CardFiles::Screen screen;
};

}

TEST_F(RecoveryPage, QueryFindsTheCardAndRecoveryGivesItsDataBack)
{
    writeFile({screen});
    badCard(1, 2);
    std::vector<int> shown; // bar values seen while the query ran
    Script s;
    toRecoveryPage(s)
        .act([] {
            rcv_recovery* p = g_rcv_recovery;
            EXPECT_EQ(rowText(p, "label_empty"), QStringLiteral("No receiving cards that need to be updated!"));
            EXPECT_EQ(p->ui_select, 0);
            EXPECT_TRUE(p->Button_check->styleSheet().contains(QStringLiteral("rgb(255,171,84)")));
            EXPECT_FALSE(p->Button_self_covery->styleSheet().contains(QStringLiteral("rgb(255,171,84)")));
            Panel::shot(p, QStringLiteral("rcv_recovery_open"));
        })
        .key(OK)
        .until([] { return g_send_para[0].load() == 5; }, "query posted")
        .act([] {
            ASSERT_TRUE(g_qround_bar);
            EXPECT_EQ(g_qround_bar->parentWidget(), g_rcv_recovery.data());
            EXPECT_EQ(g_qround_bar->geometry(), QRect(120, 70, 100, 100));
        })
        .act([&] { work(200); })
        .until([] { return g_qround_bar && g_qround_bar->value() > 0; }, "progress on the bar")
        .act([&] {
            shown.push_back(int(g_qround_bar->value()));
            Panel::shot(g_rcv_recovery, QStringLiteral("rcv_recovery_query_running"));
            ASSERT_TRUE(runJob(3000));
            // Everything the worker said is still on its way: the page is reached only by the queue.
            EXPECT_TRUE(g_qround_bar);
            EXPECT_EQ(row(g_rcv_recovery, "label_line0"), nullptr);
        })
        .until([] { return !g_qround_bar && row(g_rcv_recovery, "label_line0"); }, "bar closed, line shown")
        .act([&] {
            rcv_recovery* p = g_rcv_recovery;
            EXPECT_EQ(p->rcv_lines, QStringList{QStringLiteral("01/02/03/04")});
            const QString line = rowText(p, "label_line0");
            EXPECT_TRUE(line.startsWith(QStringLiteral("Find Screen01, LED02, Rcv<font color = #FFFFFF >03</font>")))
                << line.toStdString();
            EXPECT_EQ(p->refused, 0u);
            EXPECT_EQ(row(p, "label_failed"), nullptr);
            EXPECT_EQ(searches(0), 1);
            EXPECT_EQ(searches(1), 1);
            EXPECT_EQ(getU32(fpgaChip().packets(1).at(0).data() + 17), kConfig) << "search with the file's config id";
            Panel::shot(p, QStringLiteral("rcv_recovery_query_found"));
            fpgaChip().clearPackets();
        })
        .key(Right)
        .until([] { return g_rcv_recovery->ui_select == 1; }, "focus on Recovery")
        .key(OK)
        .until([] { return g_send_para[0].load() == 6 && g_qround_bar; }, "recovery posted")
        .act([&] { ASSERT_TRUE(runJob(4000)); })
        .until([] { return !g_qround_bar && row(g_rcv_recovery, "label_empty"); }, "bar closed, list emptied")
        .act([&] {
            rcv_recovery* p = g_rcv_recovery;
            EXPECT_EQ(p->result_count, 0);
            EXPECT_EQ(row(p, "label_failed"), nullptr);
            EXPECT_TRUE(p->Button_self_covery->styleSheet().contains(QStringLiteral("rgb(255,171,84)")));
            Panel::shot(p, QStringLiteral("rcv_recovery_restored"));
        });
    ASSERT_TRUE(s.run(20000));
    ASSERT_FALSE(shown.empty());
    EXPECT_LT(shown[0], 100);
    // The card got its 2500 bytes back in three RAM packets; no other card was written.
    const auto log = fpgaChip().packets(1);
    ASSERT_EQ(log.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(getU16(log[k].data()), 0x1002) << "card 2 of port 1";
        EXPECT_EQ(log[k][9], 0x60);
    }
    const LedNetwork net = fpgaChip().network();
    EXPECT_EQ(cardRam(net.port(1).cards[2], 0x1000, 2500), Bytes(data.begin(), data.end()));
    for (int c : {0, 1, 3})
        EXPECT_TRUE(net.port(1).cards[size_t(c)].ram.empty()) << c;
    EXPECT_TRUE(fpgaChip().packets(0).empty());
}

// While the bar is up the page cannot be left (BACK, MODE) and the focus does not move; once the
// job has closed it, MODE leaves for the user modes and closes the advanced menu too.
TEST_F(RecoveryPage, KeysAreRefusedWhileTheBarIsUp)
{
    writeFile({screen});
    badCard(1, 2);
    Script s;
    toRecoveryPage(s)
        .key(OK)
        .until([] { return g_send_para[0].load() == 5 && g_qround_bar; }, "query posted")
        .keys({Back, Mode, Left, Right, OK})
        .act([] { Panel::pump(50); })
        .act([] {
            EXPECT_TRUE(Panel::onTop(25)) << "still on the recovery page";
            EXPECT_TRUE(g_rcv_recovery);
            EXPECT_TRUE(g_advancedoption);
            EXPECT_FALSE(g_custommode);
            EXPECT_EQ(g_rcv_recovery->ui_select, 0);
            EXPECT_EQ(g_send_para[0].load(), 5) << "OK posts nothing more";
        })
        .act([&] { ASSERT_TRUE(runJob(3000)); })
        .until([] { return !g_qround_bar; }, "bar closed")
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
        .act([] {
            EXPECT_FALSE(g_rcv_recovery);
            EXPECT_FALSE(g_advancedoption);
        });
    ASSERT_TRUE(s.run(20000));
}

TEST_F(RecoveryPage, BackLeavesForTheAdvancedMenuOnceTheJobHasEnded)
{
    writeFile({screen});
    Script s;
    toRecoveryPage(s)
        .key(OK)
        .until([] { return g_qround_bar; }, "query posted")
        .act([&] { ASSERT_TRUE(runJob(3000)); })
        .until([] { return !g_qround_bar; }, "bar closed")
        .key(Back)
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .act([] {
            EXPECT_FALSE(g_rcv_recovery);
            EXPECT_EQ(g_advancedoption->rcv_file_count, 1);
        });
    ASSERT_TRUE(s.run(20000));
}

// A query or recovery that a card did not answer, or that the file refused, ends with a failure
// on the page, never as if it had worked.
TEST_F(RecoveryPage, FailedJobsAreShownAsFailures)
{
    const struct {
        const char* what;
        std::function<void(RecoveryPage*)> arrange;
    } rows[] = {
        {"silent port", [](RecoveryPage* t) {
             t->writeFile({t->screen});
             fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).silent = true; });
         }},
        {"file under another name", [](RecoveryPage* t) {
             ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX.old", CardFiles::packedFile({t->screen})));
         }},
        {"file cut short", [](RecoveryPage* t) {
             ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", CardFiles::packedFile({t->screen}).left(20)));
         }},
    };
    for (const auto& r : rows) {
        QDir(QString::fromStdString(TestRoot::path("/data/rcvrecovery"))).removeRecursively();
        fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).silent = false; });
        r.arrange(this);
        rcv_recovery page;
        Panel::release(&page, OK);
        ASSERT_EQ(g_send_para[0].load(), 5) << r.what;
        ASSERT_TRUE(runJob(3000)) << r.what;
        Panel::pump();
        EXPECT_FALSE(g_qround_bar) << r.what << ": the bar closes";
        EXPECT_EQ(rowText(&page, "label_failed"), QStringLiteral("Query failed!")) << r.what;
        EXPECT_EQ(row(&page, "label_line0"), nullptr) << r.what;
        EXPECT_EQ(rowText(&page, "label_empty"), QStringLiteral("No receiving cards that need to be updated!")) << r.what;
    }
}

TEST_F(RecoveryPage, RecoveryThatACardDoesNotAnswerKeepsTheLineAndSaysItFailed)
{
    writeFile({screen});
    badCard(1, 2);
    rcv_recovery page;
    Panel::release(&page, OK);
    ASSERT_TRUE(runJob(3000));
    Panel::pump();
    ASSERT_TRUE(row(&page, "label_line0"));
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).cards[2].silent = true; });
    Panel::release(&page, Right);
    Panel::release(&page, OK);
    ASSERT_EQ(g_send_para[0].load(), 6);
    ASSERT_TRUE(runJob(10000));
    Panel::pump();
    EXPECT_FALSE(g_qround_bar);
    EXPECT_EQ(rowText(&page, "label_failed"), QStringLiteral("Recovery failed!"));
    EXPECT_TRUE(row(&page, "label_line0")) << "the card still needs its data";
    // The first packet was tried three times; nothing after it was sent.
    const auto log = fpgaChip().packets(1);
    int ram = 0;
    for (const Bytes& p : log)
        if (p.size() > 19 && p[9] == 0x60) {
            ++ram;
            EXPECT_EQ(getU32(p.data() + 10), 0x1000u);
        }
    EXPECT_EQ(ram, 3);
    Panel::shot(&page, QStringLiteral("rcv_recovery_recovery_failed"));

    // The next post clears the failure.
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).cards[2].silent = false; });
    Panel::release(&page, OK);
    EXPECT_EQ(row(&page, "label_failed"), nullptr);
    ASSERT_TRUE(runJob(4000));
    Panel::pump();
    EXPECT_EQ(row(&page, "label_failed"), nullptr);
    EXPECT_TRUE(row(&page, "label_empty"));
}

// The page goes while the query runs: the worker finishes without reaching it (a use of the
// deleted page shows under the address sanitizer), and a new page starts without lines.
TEST_F(RecoveryPage, PageClosedDuringAJobIsNeverReachedAgain)
{
    writeFile({screen});
    badCard(1, 2);
    QPointer<rcv_recovery> first = new rcv_recovery;
    g_rcv_recovery = first.data();
    Panel::release(first, OK);
    ASSERT_EQ(g_send_para[0].load(), 5);
    work(150);
    Panel::pump();
    ASSERT_TRUE(g_qround_bar);
    EXPECT_GT(g_qround_bar->value(), 0);
    first->deleteLater();
    g_rcv_recovery = nullptr;
    Panel::pump();
    ASSERT_TRUE(first.isNull());
    EXPECT_FALSE(g_qround_bar) << "the bar went with its page";
    ASSERT_TRUE(runJob(3000));
    Panel::pump(20);
    EXPECT_EQ(fpga->query_result.valid, 1) << "the worker still found the card";

    rcv_recovery again;
    EXPECT_TRUE(row(&again, "label_empty")) << "lines went with the old page";
    Panel::release(&again, Right);
    Panel::release(&again, OK);
    EXPECT_EQ(again.ui_select, 0) << "nothing to restore here: focus back on Query";
    EXPECT_EQ(g_send_para[0].load(), 0);
    EXPECT_FALSE(g_qround_bar);
}

TEST_F(RecoveryPage, ResultLinesAsTheWorkerReportsThem)
{
    const struct {
        const char* line;
        const char* text;  // "" none shown
        bool red;
    } rows[] = {
        {"01/03/05/12", "Find Screen01, LED03, Rcv<font color = #FFFFFF >05</font>", false},
        {"01/03/13/12", "Find Screen01, LED03, Rcv<span style='background-color:#c00000;color:#FFFFFF'>\u00a013\u00a0</span>", true},
        {"01/03/12/12", "Find Screen01, LED03, Rcv<font color = #FFFFFF >12</font>", false},
        {"01/03/05", "", false},
    };
    for (const auto& r : rows) {
        rcv_recovery page;
        emit CardJobReport::instance()->recoveryResult(QString::fromLatin1(r.line));
        EXPECT_EQ(row(&page, "label_line0"), nullptr) << "queued, not yet here";
        Panel::pump();
        EXPECT_EQ(page.result_count, 1) << r.line;
        if (*r.text) {
            EXPECT_EQ(rowText(&page, "label_line0"), QString::fromUtf8(r.text)) << r.line;
            EXPECT_EQ(row(&page, "label_line0")->styleSheet(), PanelWidgets::boxStyle(PanelWidgets::kHighlight));
        } else {
            EXPECT_EQ(row(&page, "label_line0"), nullptr) << r.line;
        }
        EXPECT_EQ(row(&page, "label_empty"), nullptr) << r.line;
        EXPECT_EQ(page.refused, r.red ? 1u : 0u) << r.line;
        // Recovery on a red line is refused and keeps the focus; on a white one it posts job 6.
        Panel::release(&page, Right);
        Panel::release(&page, OK);
        if (r.red) {
            EXPECT_EQ(g_send_para[0].load(), 0) << r.line;
            EXPECT_EQ(page.ui_select, 1) << r.line;
            EXPECT_FALSE(g_qround_bar);
        } else {
            EXPECT_EQ(g_send_para[0].load(), 6) << r.line;
            EXPECT_TRUE(g_qround_bar);
            ASSERT_TRUE(runJob(4000));
            Panel::pump();
        }
    }
}

TEST_F(RecoveryPage, NothingIsPostedOverAnotherJobOrWithAnEmptyList)
{
    writeFile({screen});
    rcv_recovery page;
    // Left on Query moves to Recovery, which with no line sends the focus back to Query.
    Panel::release(&page, Left);
    EXPECT_EQ(page.ui_select, 1);
    Panel::release(&page, OK);
    EXPECT_EQ(page.ui_select, 0);
    EXPECT_TRUE(page.Button_check->styleSheet().contains(QStringLiteral("rgb(255,171,84)")));
    EXPECT_EQ(g_send_para[0].load(), 0);
    Panel::release(&page, Left);
    Panel::release(&page, Right);
    EXPECT_EQ(page.ui_select, 0) << "right on Recovery wraps to Query";
    // A smart-mapping job is pending: Query posts nothing.
    g_send_para[0] = 3;
    Panel::release(&page, OK);
    EXPECT_EQ(g_send_para[0].load(), 3);
    EXPECT_FALSE(g_qround_bar);
    g_send_para[0] = 0;
    // A USB upgrade owns the step byte: Query neither posts nor resets it.
    g_usb_grade = 1;
    g_send_para[1] = 2;
    Panel::release(&page, OK);
    EXPECT_EQ(g_send_para[0].load(), 0);
    EXPECT_EQ(g_send_para[1].load(), 2);
    EXPECT_FALSE(g_qround_bar);
    g_usb_grade = 0;
}

TEST_F(RecoveryPage, SyncUpdateRedrawsOnlyForACardStatusOr99)
{
    rcv_recovery page;
    emit CardJobReport::instance()->recoveryResult(QStringLiteral("01/02/03/04"));
    Panel::pump();
    const struct {
        int code;
        uint16_t status;
        bool redraw;
    } rows[] = {{1, 0x00FF, false}, {1, 0xFFFF, false}, {1, 0x0002, true}, {99, 0x00FF, true}, {99, 0xFFFF, true}};
    for (const auto& r : rows) {
        JobBlock::set16(JobBlock::Result, r.status);
        QPointer<QFrame> before = page.frame_file;
        page.syncUpdate(r.code);
        EXPECT_EQ(before.isNull(), r.redraw) << r.code << " " << r.status;
        EXPECT_TRUE(row(&page, "label_line0"));
    }
}

TEST_F(RecoveryPage, TextsFitInEveryLanguage)
{
    const char* const titles[5] = {"接收卡自恢复", "Receiving card self recovery", "Самовосстановление приемной карты",
                                   "Thẻ nhận tự phục hồi", "接收卡自恢複"};
    const char* const query[5] = {"查询", "Query", "Считать", "Tìm hiểu", "查詢"};
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        const QString where = QStringLiteral("25_%1").arg(language);
        rcv_recovery page;
        EXPECT_EQ(page.findChild<QLabel*>(QStringLiteral("label_title"))->text(), QString::fromUtf8(titles[language]));
        EXPECT_EQ(page.Button_check->text(), QString::fromUtf8(query[language]));
        bad << Panel::misfits(&page, where + QStringLiteral("_empty"));
        bad << Panel::lowContrast(&page, where + QStringLiteral("_empty"));
        Panel::shot(&page, QStringLiteral("rcv_recovery_empty_%1").arg(language));
        emit CardJobReport::instance()->recoveryResult(QStringLiteral("01/16/13/12"));
        Panel::pump();
        bad << Panel::misfits(&page, where + QStringLiteral("_line"));
        bad << Panel::lowContrast(&page, where + QStringLiteral("_line"));
        Panel::shot(&page, QStringLiteral("rcv_recovery_line_%1").arg(language));
        // A failed recovery under its line.
        page.failed_job = 6;
        page.rcv_self_recovery_file_list();
        bad << Panel::misfits(&page, where + QStringLiteral("_failed"));
        bad << Panel::lowContrast(&page, where + QStringLiteral("_failed"));
        Panel::shot(&page, QStringLiteral("rcv_recovery_failed_%1").arg(language));
        page.failed_job = 5;
        page.result_count = 0;
        page.rcv_self_recovery_file_list();
        bad << Panel::misfits(&page, where + QStringLiteral("_query_failed"));
        bad << Panel::lowContrast(&page, where + QStringLiteral("_query_failed"));
        Panel::shot(&page, QStringLiteral("rcv_recovery_query_failed_%1").arg(language));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}

// The same with the worker in its own thread: the page learns of the job only through the queue.
TEST_F(PanelTest, RecoveryPageWithTheWorkerThread)
{
    fpgaChip().setCards(1, 3);
    fpgaChip().editNetwork([](LedNetwork& n) {
        for (auto& c : n.port(1).cards)
            c.configId = kConfig;
        n.port(1).cards[1].configId = 0x99;
    });
    RunningFpga running;
    fpga_manage* fpga = running.fpga;
    ASSERT_TRUE(Panel::waitFor([fpga] { return fpga->get_port_card_num(1) == 3; }, 60000)) << "cards found";

    CardFiles::Op op;
    op.targetAddr = 0x20;
    op.data = pattern(600, 9);
    CardFiles::Screen s;
    s.configId = kConfig;
    s.nets = {CardFiles::Net{1, {{}, {op}, {}}}};
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", CardFiles::packedFile({s})));
    g_language = 1;
    rcv_recovery page;
    g_rcv_recovery = &page;
    Panel::release(&page, OK);
    ASSERT_TRUE(Panel::waitFor([&] { return !g_qround_bar && row(&page, "label_line0"); }, 60000)) << "query ended";
    EXPECT_EQ(page.rcv_lines, QStringList{QStringLiteral("01/02/02/03")});
    Panel::release(&page, Right);
    Panel::release(&page, OK);
    ASSERT_TRUE(g_qround_bar) << "recovery posted";
    ASSERT_TRUE(Panel::waitFor([&] { return !g_qround_bar && row(&page, "label_empty"); }, 60000)) << "recovery ended";
    EXPECT_EQ(row(&page, "label_failed"), nullptr);
    EXPECT_EQ(cardRam(fpgaChip().network().port(1).cards[1], 0x20, 600), Bytes(op.data.begin(), op.data.end()));
    g_rcv_recovery = nullptr;
}
