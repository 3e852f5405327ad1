// The USB upgrade page and the update dialog: the stick's package list and its paging, a run
// started by OK and driven through the FPGA worker's passes, its report, and the dialog's texts
// and animation in each language.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "test_root.h"
#include "upgrade_package_gen.h"
#include "sample_program.h"
#include "second_writer.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "tools/firmware_usbgrade.h"
#include "tools/firmwareupdate.h"
#include "tools/upgrade_engine.h"
#include "tools/upgrade_notice.h"
#include "tools/usbserver.h"
#include "platform/sim/uevent_sim.h"
#include "platform/uevent_source.h"
#include "ui/lockwindow.h"
#include "ui/mainwindow.h"
#include "ui/option.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/topwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <memory>

namespace {
void putPackage(const std::string& name, bool damaged = false)
{
    PackageGen::Package p;
    PackageGen::Entry e;
    e.type = 7;
    e.file = PackageGen::fpgaImage(PackageGen::pattern(5000, 3));
    p.entries = {e};
    if (damaged)
        p.cutTo = 49 + 21 + 64 + 100;
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/" + name, PackageGen::build(p)));
}

QStringList rows(firmware_usbgrade* page)
{
    QStringList out;
    for (int j = 0; j < 4; ++j)
        if (auto* row = page->frame_file->findChild<QLabel*>(QStringLiteral("row%1").arg(j)))
            out << row->text();
    return out;
}


fpga_manage* worker()
{
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    fpga_manage::gpio_write(fpga->rst_fpga0, 16);
    platform::Sim::fpgaChip().watchLines();
    g_fpga_c331_start = 1;
    return fpga;
}
void runWorker(fpga_manage* fpga)
{
    for (int i = 0; i < 4 && g_usb_grade.load(); ++i)
        fpga->runOnce();
}
// OK on the page, the whole run, and its end reported to the page.
void runFromPage(firmware_usbgrade& page, fpga_manage* fpga)
{
    Panel::release(&page, PanelKey::OK);
    runWorker(fpga);
    page.syncUpdate(104);
}
}

TEST_F(PanelTest, UpgradePageListsTheStickInPagesOfFour)
{
    for (int i = 0; i < 6; ++i)
        putPackage("p" + std::to_string(i) + (i == 5 ? ".VYRZK" : ".VYR"));
    TestRoot::writeFile("/mnt/usb1/readme.txt", "x");
    g_language = 1;
    firmware_usbgrade page;
    EXPECT_EQ(page.fileCount(), 6);
    EXPECT_EQ(page.lastPage(), 1);
    EXPECT_EQ(rows(&page).size(), 4);
    EXPECT_FALSE(page.previous);
    ASSERT_TRUE(page.next);
    page.next->click();
    EXPECT_EQ(page.currentPage(), 1);
    EXPECT_EQ(rows(&page).size(), 2);
    ASSERT_TRUE(page.previous);
    EXPECT_FALSE(page.next) << "the last page offers no next";
    page.previous->click();
    EXPECT_EQ(page.currentPage(), 0);
    QStringList all = rows(&page);
    page.next->click();
    all += rows(&page);
    all.sort();
    EXPECT_EQ(all, QStringList({"p0.VYR", "p1.VYR", "p2.VYR", "p3.VYR", "p4.VYR", "p5.VYRZK"}));
    Panel::shot(&page, QStringLiteral("upgrade_list"));

    // The stick pulled: 101 rebuilds the list from what is left.
    QDir(QString::fromStdString(TestRoot::path("/mnt/usb1"))).removeRecursively();
    page.syncUpdate(101);
    EXPECT_EQ(page.fileCount(), 0);
    EXPECT_FALSE(page.next);
    ASSERT_TRUE(page.frame_file->findChild<QLabel*>(QStringLiteral("label_empty")));
}

TEST_F(PanelTest, UpgradePageTextsFitInEveryLanguage)
{
    const char* const empty[5] = {"无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!", "無加載文件!"};
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        firmware_usbgrade page;
        EXPECT_EQ(page.frame_file->findChild<QLabel*>(QStringLiteral("label_empty"))->text(), QString::fromUtf8(empty[language]));
        const QStringList misfits = Panel::misfits(&page, QStringLiteral("26")) + Panel::lowContrast(&page, QStringLiteral("26"));
        EXPECT_TRUE(misfits.isEmpty()) << misfits.join('\n').toStdString();
        Panel::shot(&page, QStringLiteral("upgrade_empty_%1").arg(language));
    }
    // A full list page with its highlight: four rows, one of them a name longer than its row.
    putPackage("bad.VYR", true);
    putPackage("b.VYRZK");
    putPackage("c.VYR");
    putPackage("a_package_with_a_rather_long_name_from_the_stick_2026_03_04.VYR");
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        firmware_usbgrade page;
        ASSERT_EQ(page.fileCount(), 4);
        ASSERT_EQ(rows(&page).size(), 4);
        bad << Panel::misfits(&page, QStringLiteral("26list")) << Panel::lowContrast(&page, QStringLiteral("26list"));
        Panel::shot(&page, QStringLiteral("upgrade_list_%1").arg(language));
    }
    // The red report of its failed run. Its lines carry their own font sizes, which the fit
    // measure does not follow, so only their colours are checked here.
    fpga_manage* fpga = worker();
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        firmware_usbgrade page;
        runFromPage(page, fpga);
        ASSERT_TRUE(page.label_log->text().contains("#FF0000"));
        bad << Panel::lowContrast(&page, QStringLiteral("26failed"));
        Panel::shot(&page, QStringLiteral("upgrade_failed_%1").arg(language));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();
}

// Four rows fit the list frame, inside its border; a name longer than its row gives way in the
// middle, so its start and its ".VYR" end stay readable.
TEST_F(PanelTest, UpgradePageRowsFitTheListAndLongNamesKeepTheirEnd)
{
    const std::string longName = "a_package_with_a_rather_long_name_from_the_stick_2026_03_04.VYR";
    for (const std::string& name : {std::string("p1.VYR"), std::string("p2.VYR"), std::string("p3.VYRZK"), longName})
        putPackage(name);
    g_language = 1;
    firmware_usbgrade page;
    ASSERT_EQ(page.fileCount(), 4);
    const QRect inside = page.frame_file->rect().adjusted(1, 1, -1, -1); // within the 1-pixel border
    for (int j = 0; j < 4; ++j) {
        SCOPED_TRACE(j);
        auto* row = page.frame_file->findChild<QLabel*>(QStringLiteral("row%1").arg(j));
        ASSERT_TRUE(row);
        EXPECT_TRUE(inside.contains(row->geometry())) << row->y() << "+" << row->height() << " in " << page.frame_file->height();
        auto* tap = page.frame_file->findChild<QPushButton*>(QString::number(j));
        ASSERT_TRUE(tap);
        EXPECT_EQ(tap->geometry(), row->geometry());
        const QString shown = row->text();
        EXPECT_LE(QFontMetrics(row->font()).horizontalAdvance(shown), row->contentsRect().width()) << shown.toStdString();
        if (shown.contains(QStringLiteral("p1")) || shown.contains(QStringLiteral("p2")) || shown.contains(QStringLiteral("p3")))
            continue;
        EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(QLatin1String(".VYR"))) << shown.toStdString();
        EXPECT_TRUE(shown.startsWith(QLatin1String("a_pack"))) << shown.toStdString();
    }
    Panel::shot(&page, QStringLiteral("upgrade_rows_long_name"));
}

TEST_F(PanelTest, OkStartsOneRunAndTheEndShowsWhatWasWritten)
{
    putPackage("a.VYR");
    fpga_manage* fpga = worker();
    g_language = 1;
    firmware_usbgrade page;
    Panel::release(&page, PanelKey::OK);
    EXPECT_EQ(g_usb_grade.load(), 1);
    EXPECT_TRUE(page.label_log->text().contains("downing ,Dont power off !!"));
    const uint32_t run = upgrade::Engine::instance().result().run;
    Panel::release(&page, PanelKey::OK);
    EXPECT_EQ(upgrade::Engine::instance().result().run, run) << "OK twice: one run";
    runWorker(fpga);
    EXPECT_EQ(g_usb_grade.load(), 0);
    page.syncUpdate(104);
    const QString time = upgrade::Engine::instance().result().time;
    ASSERT_EQ(time.count(QStringLiteral("    ")), 1) << "start, four blanks, end";
    EXPECT_TRUE(page.label_log->text().contains("downing over"));
    EXPECT_TRUE(page.label_log->text().contains(QString(time).replace(' ', "&nbsp;")));
    EXPECT_TRUE(page.label_log->text().contains("#51BB28"));
    EXPECT_TRUE(page.label_result->text().contains("written 1 skipped 0 failed 0")) << page.label_result->text().toStdString();
    Panel::shot(&page, QStringLiteral("upgrade_done"));

    // Reopened after BACK: the report is still there.
    firmware_usbgrade again;
    EXPECT_TRUE(again.label_result->text().contains("written 1 skipped 0 failed 0"));
}

TEST_F(PanelTest, DamagedPackageIsReportedAsAFailureNeverAsDone)
{
    putPackage("bad.VYR", true);
    fpga_manage* fpga = worker();
    g_language = 1;
    firmware_usbgrade page;
    runFromPage(page, fpga);
    const QString log = page.label_log->text();
    EXPECT_FALSE(log.contains("downing over")) << log.toStdString();
    EXPECT_TRUE(log.contains("Update failed"));
    EXPECT_TRUE(log.contains("bad.VYR"));
    EXPECT_TRUE(log.contains("#FF0000"));
    EXPECT_TRUE(page.label_result->text().contains("written 0 skipped 0 failed 1"));
    Panel::shot(&page, QStringLiteral("upgrade_failed"));
}

// A run that found packages and installed nothing (here one of another model) ends in red with
// the first reason, never in green "downing over"; its two lines keep to the label.
TEST_F(PanelTest, RunThatInstalledNothingIsNotShownAsDone)
{
    PackageGen::Package other;
    PackageGen::Entry app;
    app.type = 10;
    app.file = PackageGen::pattern(100, 1);
    other.controllerType = 0x1234;
    other.entries = {app};
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/a.VYR", PackageGen::build(other)));
    fpga_manage* fpga = worker();
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        firmware_usbgrade page;
        runFromPage(page, fpga);
        const QString log = page.label_log->text();
        EXPECT_TRUE(log.contains("#FF0000") && !log.contains("#51BB28") && !log.contains("downing over")) << log.toStdString();
        EXPECT_TRUE(log.contains("a.VYR: other controller")) << log.toStdString();
        EXPECT_LE(page.label_log->heightForWidth(page.label_log->width()), page.label_log->height()) << log.toStdString();
        EXPECT_EQ(log.contains("Nothing installed"), language == 1);
        Panel::shot(&page, QStringLiteral("upgrade_nothing_%1").arg(language));
    }
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("USB upgrade: nothing installed, packages found: 1"));
}

TEST_F(PanelTest, EndOfARunThisPageDidNotStartIsNotShownAsItsOwn)
{
    fpga_manage* fpga = worker();
    firmware_usbgrade page;
    // A card job holds the step byte: OK is refused and says so.
    g_send_para[0] = 3;
    Panel::release(&page, PanelKey::OK);
    EXPECT_EQ(g_usb_grade.load(), 0);
    EXPECT_EQ(page.file_downing, 0);
    EXPECT_TRUE(page.label_log->text().contains("#FF0000"));
    g_send_para[0] = 0;
    const QString before = page.label_log->text();
    QString why;
    ASSERT_TRUE(upgrade::Engine::instance().start(&why)); // started elsewhere (another visit)
    runWorker(fpga);
    page.syncUpdate(104);
    EXPECT_EQ(page.label_log->text(), before);
}

TEST_F(PanelTest, UpdateDialogTextsDotsAndBounce)
{
    struct Case {
        int language;
        const char* text;
        int width;
    };
    for (const Case& c : {Case{1, "Updating ", 135}, Case{2, "Updating ", 135}, Case{3, "Updating ", 135},
                          Case{0, "升级中，请勿断电 ", 13 * 9}, Case{4, "昇級中，請勿斷電 ", 13 * 9}}) {
        g_language = uint8_t(c.language);
        FirmwareUpdate d;
        EXPECT_EQ(d.label_text->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(d.label_text->width(), c.width);
        EXPECT_EQ(d.label_text->x(), (320 - c.width) / 2);
        const QStringList misfits = Panel::misfits(&d, QStringLiteral("update")) + Panel::lowContrast(&d, QStringLiteral("update"));
        EXPECT_TRUE(misfits.isEmpty()) << misfits.join('\n').toStdString();
        Panel::shot(&d, QStringLiteral("update_dialog_%1").arg(c.language));
    }
    g_language = 1;
    FirmwareUpdate d;
    d.handleTimerID2();
    EXPECT_EQ(d.label_text->text(), QStringLiteral("Updating ."));
    d.handleTimerID2();
    d.handleTimerID2();
    EXPECT_EQ(d.label_text->text(), QStringLiteral("Updating ..."));
    EXPECT_EQ(d.label_text->width(), 156);
    EXPECT_EQ(d.label_text->x(), 82);
    std::vector<int> ys;
    for (int i = 0; i < 120; ++i) {
        d.handleTimerID1();
        ys.push_back(d.label_picture->y());
    }
    EXPECT_EQ(*std::max_element(ys.begin(), ys.end()), 116);
    EXPECT_EQ(*std::min_element(ys.begin(), ys.end()), 60);
    EXPECT_EQ(ys[55], 116);
    EXPECT_EQ(ys[56], 115) << "turns at the bottom";
}

TEST_F(PanelTest, UpdateDialogIsOneAndClosingWithoutOneDoesNothing)
{
    firmware_update_over();
    EXPECT_TRUE(g_move_update.isNull());
    firmware_update_start();
    QPointer<FirmwareUpdate> first = g_move_update;
    firmware_update_start();
    EXPECT_EQ(g_move_update, first);
    EXPECT_TRUE(first->isVisible());
    firmware_update_over();
    EXPECT_TRUE(g_move_update.isNull());
    Panel::pump(50);
    EXPECT_TRUE(first.isNull()) << "deleted on close";
}

// The root menu's window and tick reach the upgrade's window through what the tools registered.
TEST_F(PanelTest, RootMenuShowsTheUpgradeWindowAndItsTickMovesItWhileAnUpgradeRuns)
{
    g_mainwindow->update_start();
    ASSERT_TRUE(Panel::waitFor([] { return g_move_update && g_move_update->isVisible(); }));
    const int y = g_move_update->label_picture->y();
    Panel::tick(10);
    EXPECT_EQ(g_move_update->label_picture->y(), y) << "no upgrade running";
    g_update_flag = 1;
    Panel::tick(10);
    EXPECT_EQ(g_move_update->label_picture->y(), y + 5) << "a pixel every second tick";
    g_update_flag = 0;
    g_mainwindow->update_over();
    EXPECT_TRUE(Panel::waitFor([] { return g_move_update.isNull(); }));
}

TEST_F(PanelTest, StickReadyLeavesTheSettingsMenuForTheRootMenu)
{
    std::unique_ptr<UsbServer> server;
    std::vector<int> codes;
    Script s;
    s.key(PanelKey::OK)
        .choose("option")
        .until([] { return g_page_focus.load() == 5 && g_option; }, "settings menu")
        .act([&] {
            server = std::make_unique<UsbServer>(platform::openUeventSource());
            QObject::connect(server.get(), &UsbServer::sig_usb_update, [&](int c) { codes.push_back(c); });
            ASSERT_TRUE(platform::Sim::plugStick());
            server->recvData(1000);
            G_timeTicks = G_timeTicks.load() + UsbServer::kReadyTicks + 1;
            server->recvData(0);
        })
        .until([] { return g_page_focus.load() == 1 && !g_option; }, "root menu after 102");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(codes, std::vector<int>({100, 102}));
}

// Rows: the first "VYR" package and every "VYRZK" one are blue; a tap moves the highlight only.
TEST_F(PanelTest, UpgradePageRowsShowTheSelectionAndATapMovesTheHighlight)
{
    for (const char* name : {"a.VYRZK", "b.VYR", "c.VYR"})
        putPackage(name);
    g_language = 1;
    firmware_usbgrade page;
    auto label = [&](int j) { return page.frame_file->findChild<QLabel*>(QStringLiteral("row%1").arg(j)); };
    auto blue = [&](int j) { return label(j)->styleSheet() == PanelWidgets::boxStyle(PanelWidgets::kHighlight); };
    // The rows come in the stick's order: every VYRZK row is blue, and the first VYR row.
    bool vyrSeen = false;
    for (int j = 0; j < 3; ++j) {
        ASSERT_TRUE(label(j));
        const bool zk = label(j)->text().endsWith(QLatin1String(".VYRZK"));
        EXPECT_EQ(blue(j), zk || !vyrSeen) << label(j)->text().toStdString();
        vyrSeen = vyrSeen || !zk;
    }
    // A tap makes its row blue and row 0 (the highlighted one) plain; the others keep their colour.
    bool before[3];
    for (int j = 0; j < 3; ++j)
        before[j] = blue(j);
    const int tapped = 2;
    auto* tap = page.frame_file->findChild<QPushButton*>(QString::number(tapped));
    ASSERT_TRUE(tap);
    tap->click();
    EXPECT_EQ(page.file_select, tapped);
    EXPECT_TRUE(blue(tapped));
    EXPECT_EQ(label(0)->styleSheet(), QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF;"));
    EXPECT_EQ(blue(1), before[1]);
    Panel::shot(&page, QStringLiteral("upgrade_rows"));
}

TEST_F(PanelTest, SkippedFpgaOneImageIsNamedInTheReportInEveryLanguage)
{
    PackageGen::Package p;
    PackageGen::Entry one, zero;
    one.type = 8;
    one.file = PackageGen::fpgaImage(PackageGen::pattern(100, 1));
    zero.type = 7;
    zero.file = PackageGen::fpgaImage(PackageGen::pattern(100, 2));
    p.entries = {one, zero};
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/a.VYR", PackageGen::build(p)));
    fpga_manage* fpga = worker();
    const char* const note[5] = {"无 FPGA 1：映像已跳过", "No FPGA 1: image skipped", "Нет FPGA 1: образ пропущен", "Không có FPGA 1: bỏ qua", "無 FPGA 1：映像已跳過"};
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        firmware_usbgrade page;
        runFromPage(page, fpga);
        EXPECT_TRUE(page.label_log->text().contains(QString::fromUtf8(note[language]))) << page.label_log->text().toStdString();
        if (language == 1) {
            EXPECT_TRUE(page.label_result->text().contains(QStringLiteral("written 1 skipped 1 failed 0")));
        }
        // The note is a line of its own in the 12 px status text.
        QFont small = page.label_log->font();
        small.setPixelSize(12);
        EXPECT_LE(QFontMetrics(small).horizontalAdvance(QString::fromUtf8(note[language])), page.label_log->width() - 4);
        Panel::shot(&page, QStringLiteral("upgrade_fpga1_%1").arg(language));
    }
}

// An FPGA image that could not be written whole is named as such, with a long package name
// shortened rather than the reason.
TEST_F(PanelTest, IncompleteFpgaImageIsShownWithItsReason)
{
    const std::string name = "a_package_with_a_rather_long_name_from_the_stick.VYR";
    putPackage(name);
    fpga_manage* fpga = worker();
    platform::Sim::fpgaFlash().failProgramsAt(0, 3);
    g_language = 1;
    firmware_usbgrade page;
    runFromPage(page, fpga);
    const QString log = page.label_log->text();
    EXPECT_TRUE(log.contains("Update failed")) << log.toStdString();
    EXPECT_TRUE(log.contains("FPGA image incomplete, upgrade again")) << log.toStdString();
    EXPECT_TRUE(page.label_result->text().contains("written 0 skipped 0 failed 1"));
    Panel::shot(&page, QStringLiteral("upgrade_fpga_incomplete"));
}

// An application entry that is no program of this box, or an older version the box cannot be
// taken back to, is refused, and the page says why.
TEST_F(PanelTest, ApplicationThatIsNoProgramIsShownWithItsReason)
{
    const std::string words(116, 'x');
    const struct {
        const char* file;
        std::vector<uint8_t> bytes;
        const char* shown;
    } rows[] = {{"/mnt/usb1/text.VYR", std::vector<uint8_t>(words.begin(), words.end()), "text.VYR: not a program"},
                {"/mnt/usb1/old.VYR", withoutSeal(sampleProgram()), "old.VYR: program too old for this box"}};
    fpga_manage* fpga = worker();
    g_language = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        QDir(QString::fromStdString(TestRoot::path("/mnt/usb1"))).removeRecursively();
        PackageGen::Package p;
        PackageGen::Entry app;
        app.type = 10;
        app.file = row.bytes;
        p.entries = {app};
        ASSERT_TRUE(TestRoot::writeFile(row.file, PackageGen::build(p)));
        firmware_usbgrade page;
        runFromPage(page, fpga);
        const QString log = page.label_log->text();
        EXPECT_TRUE(log.contains("Update failed")) << log.toStdString();
        EXPECT_TRUE(log.contains(row.shown)) << log.toStdString();
        EXPECT_TRUE(page.label_result->text().contains("written 0 skipped 0 failed 1"));
        EXPECT_EQ(g_app_reset_flag.load(), 0);
        Panel::shot(&page, QStringLiteral("upgrade_refused_%1").arg(QFileInfo(QString::fromLatin1(row.file)).baseName()));
    }
}

// A program a tool uploaded and register 14 refuses (it crashes at its check start): the update
// screen its upload raised goes, and the panel says why in each language until OK.
TEST_F(PanelTest, ProgramRefusedByRegisterFourteenTakesTheUpdateScreenDownAndSaysWhy)
{
    const std::vector<uint8_t> damaged = withEntryZeroed(sampleProgram());
    ASSERT_FALSE(damaged.empty());
    const Bytes data(damaged.begin(), damaged.end());
    SecondWriter tool = SecondWriter::inProcess();
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        Bytes reply;
        for (const Bytes& step : Wire::upload("FMCU", data))
            ASSERT_EQ(tool.request(step, &reply), 0);
        ASSERT_EQ(reply.at(12), 0) << "stored";
        ASSERT_TRUE(Panel::waitFor([] { return g_move_update && g_move_update->isVisible(); }));
        EXPECT_EQ(tool.request(0xA0, {14, 0x01, 0, 0x01}), 1);
        ASSERT_TRUE(Panel::waitFor([] { return !g_move_update && g_refusal_notice && g_refusal_notice->isVisible(); }));
        EXPECT_TRUE(g_refusal_notice->text().contains("program crashed at its start")) << g_refusal_notice->text().toStdString();
        EXPECT_EQ(TopWindow::top(), g_refusal_notice.data());
        bad << Panel::misfits(g_refusal_notice, QStringLiteral("refusal%1").arg(language))
            << Panel::lowContrast(g_refusal_notice, QStringLiteral("refusal%1").arg(language));
        Panel::shot(g_refusal_notice, QStringLiteral("upgrade_refused_notice_%1").arg(language));
        Panel::sendKey(g_refusal_notice, PanelKey::OK);
        ASSERT_TRUE(Panel::waitFor([] { return !g_refusal_notice || !g_refusal_notice->isVisible(); }));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();
}

// A start after an FPGA image write was cut: the notice stands over the home screen in each
// language, and OK gives the keys back to the home screen.
TEST_F(PanelTest, CutImageWriteNoticeStandsOverTheHomeScreenUntilOk)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/fpga_image_write", "FPGA 0 image of a.VYR entry 0, begun 9:5:30\n"));
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        UpgradeNotice::showAtStart();
        ASSERT_TRUE(g_upgrade_notice);
        EXPECT_EQ(TopWindow::top(), g_upgrade_notice.data());
        bad << Panel::misfits(g_upgrade_notice, QStringLiteral("notice%1").arg(language))
            << Panel::lowContrast(g_upgrade_notice, QStringLiteral("notice%1").arg(language));
        Panel::shot(g_upgrade_notice, QStringLiteral("upgrade_cut_notice_%1").arg(language));
        Panel::sendKey(g_upgrade_notice, PanelKey::Mode);
        EXPECT_TRUE(g_upgrade_notice && g_upgrade_notice->isVisible()) << "only OK or BACK ends it";
        Panel::sendKey(g_upgrade_notice, language % 2 ? PanelKey::Back : PanelKey::OK);
        ASSERT_TRUE(Panel::waitFor([] { return !g_upgrade_notice || !g_upgrade_notice->isVisible(); }));
        EXPECT_EQ(QApplication::activeWindow(), g_lockwindow.data());
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();
}
