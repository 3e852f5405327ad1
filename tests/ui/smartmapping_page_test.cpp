// The smart mapping page driven by keys and taps: the main column and its previews, the quick
// set-up wizard, the scan-file list and load, curing and the mapping switch, each job run by the
// FPGA worker against the simulated LED network (its port logs and cards), failures shown on the
// page, refusals while a job's bar is up, and the texts of every sub-page in five languages.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "test_root.h"
#include "fpga_up.h"
#include "rcv_recovery_files.h"
#include "running_fpga.h"

#include "base/bytes.h"
#include "base/global.h"
#include "base/utils.h"
#include "fpga/fpga_jobs_block.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_network.h"
#include "tools/smartmapping.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/qroundprogressbar.h"
#include "video_chips/keltosource.h"

#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QKeyEvent>
#include <QToolButton>
#include <deque>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace PanelKey;
using platform::Sim::fpgaChip;
using platform::Sim::LedNetwork;
using Bytes = std::vector<uint8_t>;

namespace {

// Panel keys as the input layer delivers them: each pressed, then released.
void sendKeys(QWidget* w, std::initializer_list<int> keys)
{
    for (int k : keys)
        Panel::sendKey(w, k);
}

Bytes sealed(Bytes b)
{
    b.push_back(uint8_t(Utils::BCC(b.data(), uint32_t(b.size()))));
    return b;
}

// FPGA 0 up on the simulated board with its LED network; the worker driven pass by pass here.
struct Worker {
    fpga_manage* fpga = nullptr;
    Worker()
    {
        fpga = fpga_manage::instanceWithoutWorker();
        EXPECT_TRUE(bringUpFpga0([this] { tick(1); })) << "FPGA 0 not up";
    }
    void tick(int n)
    {
        for (int i = 0; i < n; ++i) {
            G_timeTicks.fetch_add(1);
            fpga->runOnce();
            if (i % 50 == 49)
                QCoreApplication::processEvents();
        }
    }
    void cards(int port, int count)
    {
        fpgaChip().setCards(port, count);
        tick(2 * int(fpga_manage::kSearchTicks) + 2); // searches count them
        fpgaChip().clearPackets();
    }
    // Runs the posted job to its end, then lets its queued reports reach the page.
    bool runJob(int maxTicks)
    {
        for (int i = 0; i < maxTicks && g_send_para[0].load() != 0; ++i)
            tick(1);
        Panel::pump(20);
        return g_send_para[0].load() == 0;
    }
};

// The keypad's answers in order; each call records the field's name, title and bounds.
struct MappingKeypad {
    std::deque<int> answers;
    QStringList asked;
    std::function<bool(QLineEdit*, const QString&, int, int)> panel = SmartMapping::askNumber;
    MappingKeypad()
    {
        SmartMapping::askNumber = [this](QLineEdit* field, const QString& title, int min, int max) {
            asked << QStringLiteral("%1 %2 %3-%4").arg(field->objectName(), title).arg(min).arg(max);
            if (answers.empty())
                return false;
            field->setText(QString::number(answers.front()));
            answers.pop_front();
            return true;
        };
    }
    ~MappingKeypad() { SmartMapping::askNumber = panel; }
};

uint16_t ramU16(const LedNetwork::Card& card, uint32_t at)
{
    auto byte = [&](uint32_t a) {
        auto it = card.ram.find(a);
        return it == card.ram.end() ? 0 : it->second;
    };
    return uint16_t(byte(at) | byte(at + 1) << 8);
}

// A scan file that sets card register 0x20 to value.
QByteArray scanFileSetting(uint8_t value)
{
    CardFiles::Op reg;
    reg.type = 1;
    reg.target = 2;
    reg.data = QByteArray::fromHex("200001") + QByteArray(1, char(value));
    return CardFiles::scanFile({reg});
}

int shownStack(const SmartMapping& p) { return p.stackedWidget->currentIndex(); }
QString sheet(QWidget* w) { return w->styleSheet(); }
const char kFocused[] = "border:1px solid rgb(255,171,84)";
const QString kGrey = PanelWidgets::boxStyle(PanelWidgets::kUnavailable);

}

// ---- main column ----

TEST_F(PanelTest, MainColumnSkipsLoadScanWithoutScanFilesAndPreviewsEachFunction)
{
    g_language = 1;
    SmartMapping page;
    EXPECT_EQ(page.scanFileCount(), 0);
    EXPECT_TRUE(sheet(page.Button_loadscan).contains(kGrey));
    EXPECT_EQ(line_type[8].load(), 0);
    EXPECT_EQ(line_type[11].load(), 1);
    std::vector<int> seen, stacks;
    for (int i = 0; i < 4; ++i) {
        Panel::sendKey(&page, Right);
        seen.push_back(page.mainIndex());
        stacks.push_back(shownStack(page));
    }
    EXPECT_EQ(seen, (std::vector<int>{2, 3, 0, 2}));
    EXPECT_EQ(stacks, (std::vector<int>{6, 7, 0, 6}));
    EXPECT_EQ(page.level(), 0) << "moving only previews";
    seen.clear();
    for (int i = 0; i < 3; ++i) {
        Panel::sendKey(&page, Left);
        seen.push_back(page.mainIndex());
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 3, 2}));
    EXPECT_TRUE(sheet(page.Button_paraweld).contains(kFocused));
    EXPECT_TRUE(sheet(page.Button_loadscan).contains(kGrey)) << "never focused, stays grey";

    // A stick with a scan file comes in: the column offers load scan at once.
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/wall.qzfile", scanFileSetting(1)));
    page.syncUpdate(102);
    EXPECT_EQ(page.scanFileCount(), 1);
    EXPECT_FALSE(sheet(page.Button_loadscan).contains(kGrey));
    Panel::sendKey(&page, Left);
    EXPECT_EQ(page.mainIndex(), 1);
    EXPECT_EQ(shownStack(page), 4);
    ASSERT_TRUE(page.tileFrame(0));
    EXPECT_TRUE(sheet(page.tileFrame(0)).contains("#00D65B")) << "port 1 is the chosen one";
    // OK enters: the group button of the port holds the focus, the main button the blue border.
    Panel::sendKey(&page, OK);
    EXPECT_EQ(page.level(), 1);
    EXPECT_TRUE(sheet(page.Button_loadscan).contains("rgb(71, 119, 255)"));
    EXPECT_EQ(page.focusedItem(), page.Button_wlan5);
    Panel::sendKey(&page, Back);
    EXPECT_EQ(page.level(), 0);
    EXPECT_TRUE(sheet(page.Button_loadscan).contains(kFocused));
}

TEST_F(PanelTest, SmartMappingOpensFromTheSettingsMenuAndBackReturnsThere)
{
    g_language = 1;
    Script s;
    s.key(OK)
        .choose("option")
        .until([] { return g_page_focus.load() == 5 && QApplication::activeWindow() == g_option.data(); }, "settings menu")
        .choose("smart_mapping")
        .until([] { return g_page_focus.load() == 24 && g_smartmapping && QApplication::activeWindow() == g_smartmapping.data(); },
               "smart mapping page")
        .act([] {
            EXPECT_EQ(g_smartmapping->findChild<QLabel*>(QStringLiteral("label_title"))->text(),
                      QStringLiteral("Smart debugging screen"));
            EXPECT_EQ(g_smartmapping->Button_shortcut->text(), QStringLiteral("Debugging\nscreen"));
            Panel::shot(g_smartmapping, QStringLiteral("smartmapping_from_menu"));
        })
        .key(Back)
        .until([] { return g_page_focus.load() == 5 && !g_smartmapping && QApplication::activeWindow() == g_option.data(); },
               "back in the settings menu");
    ASSERT_TRUE(s.run());
}

// ---- quick set-up ----

TEST_F(PanelTest, WizardSendsEachCardOfTheChosenPortItsPosition)
{
    Worker w;
    w.cards(9, 6);
    store->setU16(blk::kLedWidth, 1920);
    store->setU16(blk::kLedHeight, 1080);
    MappingKeypad keypad;
    keypad.answers = {2, 3, 10, 20};
    g_language = 1;
    SmartMapping page;
    Panel::sendKey(&page, OK);
    EXPECT_EQ(page.focusedItem(), static_cast<QWidget*>(page.lineEdit_X));
    sendKeys(&page, {Right, Right, OK}); // Next
    EXPECT_EQ(shownStack(page), 1);
    EXPECT_EQ(page.focusedItem(), page.Button_wlan1);
    sendKeys(&page, {Right, OK});        // group of ports 9-16, tile choice
    EXPECT_TRUE(page.tileChoice());
    EXPECT_EQ(line_type[8].load(), 8) << "tile choice starts on the group's first port";
    sendKeys(&page, {Right, OK});        // port 10
    EXPECT_FALSE(page.tileChoice());
    EXPECT_EQ(line_type[8].load(), 9);
    EXPECT_TRUE(sheet(page.tileFrame(1)).contains("#00D65B"));
    EXPECT_FALSE(sheet(page.tileFrame(0)).contains("#00D65B"));
    // The tiles show which ports are linked: only port 10 has a link here.
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(page.findChild<QLabel*>(QStringLiteral("tile_link%1").arg(i))->property("online").toBool(), i == 1) << i;
    sendKeys(&page, {Right, Right, OK}); // Next of step 2
    EXPECT_EQ(shownStack(page), 2);
    sendKeys(&page, {OK, Right, OK});    // rows 2, columns 3
    sendKeys(&page, {Right, OK});        // the routing picker opens on mode 1
    EXPECT_TRUE(page.pickerOpen());
    EXPECT_EQ(shownStack(page), 3);
    EXPECT_TRUE(sheet(page.Button_routes[0]).contains(kFocused));
    sendKeys(&page, {Right, OK});        // mode 2
    EXPECT_FALSE(page.pickerOpen());
    EXPECT_EQ(line_type[11].load(), 2);
    EXPECT_EQ(page.Button_route->text(), QStringLiteral("Routing 2"));
    sendKeys(&page, {Right, OK, Right, OK}); // offsets 10, 20
    EXPECT_EQ(keypad.asked, QStringList({"lineEdit_line rows 1-255", "lineEdit_column lines 1-255",
                                         "lineEdit_horzion Horizontal 0-65535", "lineEdit_vert Vertical 0-65535"}));
    sendKeys(&page, {Right, Right, OK}); // Send
    ASSERT_TRUE(g_qround_bar) << "the job's bar is up";
    EXPECT_EQ(g_qround_bar->parent(), &page);
    EXPECT_EQ(g_send_para[0].load(), 1);
    EXPECT_EQ(g_send_para[1].load(), 0);
    const uint8_t want[12] = {128, 0, 96, 0, 10, 0, 20, 0, 9, 2, 3, 2};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(line_type[i].load(), want[i]) << "line_type byte " << i;
    // While the bar is up: no second job, no leaving by BACK or MODE, no Previous.
    sendKeys(&page, {OK, Back, Mode});
    EXPECT_TRUE(g_qround_bar);
    EXPECT_EQ(shownStack(page), 2);
    EXPECT_EQ(g_page_focus.load(), 0) << "MODE opened nothing";
    ASSERT_TRUE(w.runJob(3000));
    EXPECT_FALSE(g_qround_bar) << "100 closed the bar";
    EXPECT_EQ(page.resultText(), QStringLiteral("Done"));
    // Each card got its cell of the 2 x 3 wall (wiring 2: bottom row first, left to right, then back).
    const LedNetwork net = fpgaChip().network();
    const uint16_t cell[6][2] = {{0, 96}, {128, 96}, {256, 96}, {256, 0}, {128, 0}, {0, 0}};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(ramU16(net.port(9).cards[size_t(c)], 0x180), cell[c][0] + 10) << c;
        EXPECT_EQ(ramU16(net.port(9).cards[size_t(c)], 0x182), cell[c][1] + 20) << c;
    }
    const auto log = fpgaChip().packets(9);
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[0], sealed({0x00, 0x10, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x0A, 0x00, 0x60, 0x80, 0x01, 0x00, 0x00, 0x04,
                              0x00, 0x00, 0x00, 10, 0, 116, 0}))
        << "card 0 of port 10 at (10, 116)";
    for (int p = 0; p < 16; ++p)
        if (p != 9) {
            EXPECT_TRUE(fpgaChip().packets(p).empty()) << p;
        }
}

TEST_F(PanelTest, WizardRefusesAWallThatTheCardsOrTheScreenCannotHold)
{
    Worker w;
    w.cards(0, 4);
    w.cards(1, 6);
    store->setU16(blk::kLedWidth, 1000);
    store->setU16(blk::kLedHeight, 500);
    g_language = 1;
    SmartMapping page;
    page.on_Button_shortcut_clicked();
    page.lineEdit_X->setText(QStringLiteral("0"));
    page.on_Button_next_clicked();
    EXPECT_EQ(page.resultText(), QStringLiteral("Cabinet size must be 1 or more"));
    EXPECT_EQ(shownStack(page), 0) << "stays on step 1";
    page.lineEdit_X->setText(QStringLiteral("64"));
    page.on_Button_next_clicked();
    EXPECT_EQ(shownStack(page), 1);
    page.on_Button_next_2_clicked();
    const struct {
        const char* rows;
        const char* columns;
        const char* dx;
        const char* dy;
        uint8_t port;
        const char* note;
    } cases[] = {
        {"0", "2", "0", "0", 0, "Rows and columns: 1 to 255"},
        {"2", "256", "0", "0", 0, "Rows and columns: 1 to 255"},
        {"3", "2", "0", "0", 0, "More cabinets than cards (4)"},
        {"2", "2", "1000", "0", 0, "Offset outside the screen"},
        {"2", "2", "0", "500", 0, "Offset outside the screen"},
        {"1", "1", "0", "0", 5, "No card on this port"},
        // Cards past the last cell would all take its place.
        {"2", "2", "0", "0", 1, "More cards (6) than cabinets (4)"},
    };
    for (const auto& c : cases) {
        line_type[8] = c.port;
        line_type[9] = 77;
        page.lineEdit_line->setText(QLatin1String(c.rows));
        page.lineEdit_column->setText(QLatin1String(c.columns));
        page.lineEdit_horzion->setText(QLatin1String(c.dx));
        page.lineEdit_vert->setText(QLatin1String(c.dy));
        page.on_Button_send_clicked();
        EXPECT_EQ(page.resultText(), QLatin1String(c.note)) << c.rows << "x" << c.columns << " +" << c.dx << "," << c.dy;
        EXPECT_FALSE(g_qround_bar);
        EXPECT_EQ(g_send_para[0].load(), 0);
        EXPECT_EQ(line_type[9].load(), 77) << "nothing written";
    }
    // Another job still in the worker's hands: nothing is posted over it.
    g_send_para[0] = 5;
    line_type[8] = 0;
    page.lineEdit_line->setText(QStringLiteral("2"));
    page.lineEdit_column->setText(QStringLiteral("2"));
    page.lineEdit_horzion->setText(QStringLiteral("0"));
    page.lineEdit_vert->setText(QStringLiteral("0"));
    page.on_Button_send_clicked();
    EXPECT_EQ(page.resultText(), QStringLiteral("Busy, try later"));
    EXPECT_FALSE(g_qround_bar);
    EXPECT_EQ(g_send_para[0].load(), 5);
    g_send_para[0] = 0;
    // So is a USB upgrade, whose step byte a post would reset.
    g_usb_grade = 1;
    g_send_para[1] = 2;
    page.on_Button_send_clicked();
    EXPECT_EQ(page.resultText(), QStringLiteral("Busy, try later"));
    EXPECT_EQ(g_send_para[0].load(), 0);
    EXPECT_EQ(g_send_para[1].load(), 2);
    g_usb_grade = 0;
    // The limits themselves are fine.
    line_type[8] = 0;
    page.lineEdit_line->setText(QStringLiteral("2"));
    page.lineEdit_column->setText(QStringLiteral("2"));
    page.lineEdit_horzion->setText(QStringLiteral("999"));
    page.lineEdit_vert->setText(QStringLiteral("499"));
    page.on_Button_send_clicked();
    EXPECT_EQ(g_send_para[0].load(), 1);
    EXPECT_TRUE(g_qround_bar);
    ASSERT_TRUE(w.runJob(3000));
}

// ---- curing: a silent port ----

TEST_F(PanelTest, SilentCardsEndCuringAsAFailureThePageShows)
{
    Worker w;
    w.cards(3, 2);
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(3).silent = true; });
    g_language = 1;
    SmartMapping page;
    page.show();
    sendKeys(&page, {Right, OK}); // no scan file: right goes to curing
    EXPECT_EQ(page.mainIndex(), 2);
    EXPECT_EQ(page.focusedItem(), page.Button_confirm);
    Panel::sendKey(&page, OK);
    ASSERT_TRUE(g_qround_bar);
    EXPECT_EQ(g_send_para[0].load(), 3);
    w.tick(300);
    Panel::pump(20);
    ASSERT_TRUE(g_qround_bar);
    EXPECT_GT(g_qround_bar->value(), 0) << "the bar moves while the job waits";
    // BACK returns to the main column, but neither BACK nor MODE leaves, and OK opens nothing.
    sendKeys(&page, {Back, Back, Mode, OK});
    EXPECT_EQ(page.level(), 0);
    EXPECT_EQ(g_send_para[0].load(), 3) << "no second post";
    EXPECT_TRUE(page.isVisible());
    EXPECT_EQ(g_page_focus.load(), 0) << "MODE opened nothing";
    ASSERT_TRUE(w.runJob(3000));
    EXPECT_FALSE(g_qround_bar);
    EXPECT_EQ(page.resultText(), QStringLiteral("Failed: no answer on LED4"));
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("unanswered or refused packets on LED4"));
    EXPECT_EQ(fpgaChip().packets(3), (std::vector<Bytes>{{0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x04, 0x00, 0x81, 0xFF,
                                                           0x00, 0x0C}}));
    Panel::shot(&page, QStringLiteral("smartmapping_curing_failed"));
    // Cards answering again: the same key ends well.
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(3).silent = false; });
    w.cards(3, 2);
    sendKeys(&page, {OK, OK});
    ASSERT_TRUE(w.runJob(3000));
    EXPECT_EQ(page.resultText(), QStringLiteral("Done"));
    const LedNetwork saved = fpgaChip().network();
    for (const auto& card : saved.port(3).cards)
        EXPECT_EQ(card.saves, 1);
}

// Curing and the switch with the cable out: no port has a card, nothing was stored or switched,
// and the page says so instead of "Done".
TEST_F(PanelTest, CuringAndTheSwitchWithNoCardSayNoneWasFound)
{
    Worker w;
    g_language = 1;
    SmartMapping page;
    page.on_Button_confirm_clicked();
    ASSERT_EQ(g_send_para[0].load(), 3);
    ASSERT_TRUE(w.runJob(3000));
    EXPECT_FALSE(g_qround_bar);
    EXPECT_EQ(page.resultText(), QStringLiteral("No receiving card found"));
    EXPECT_FALSE(page.label_result->styleSheet().contains("81, 187, 40")) << "not green";
    page.on_Button_mapping_clicked();
    page.on_Button_mapping_state_clicked();
    ASSERT_EQ(g_send_para[0].load(), 4);
    ASSERT_TRUE(w.runJob(3000));
    EXPECT_EQ(page.resultText(), QStringLiteral("No receiving card found"));
    EXPECT_EQ(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").count("no receiving card found"), 2);
    for (int p = 0; p < 16; ++p)
        EXPECT_TRUE(fpgaChip().packets(p).empty()) << p;
}

// ---- mapping switch ----

TEST_F(PanelTest, MappingSwitchFlipsRegisterZeroAndTheCardsAndShowsAFailure)
{
    Worker w;
    w.cards(0, 3);
    w.cards(14, 1);
    g_language = 1;
    SmartMapping page;
    sendKeys(&page, {Left}); // preview of the mapping page reads register 0
    EXPECT_EQ(shownStack(page), 7);
    EXPECT_FALSE(page.mappingIconOn());
    Panel::sendKey(&page, OK);
    EXPECT_EQ(page.focusedItem(), page.Button_mapping_state);
    Panel::sendKey(&page, OK);
    EXPECT_TRUE(fpgaChip().registerValue(0) & 0x80) << "bit 7 set at once";
    EXPECT_EQ(g_send_para[16].load(), 9);
    EXPECT_EQ(g_send_para[0].load(), 4);
    EXPECT_TRUE(page.mappingIconOn());
    ASSERT_TRUE(w.runJob(3000));
    EXPECT_EQ(page.resultText(), QStringLiteral("Done"));
    const LedNetwork on1 = fpgaChip().network();
    for (int p : {0, 14})
        for (const auto& card : on1.port(p).cards)
            EXPECT_EQ(card.registers.at(LedNetwork::MappingRegister), 9) << p;
    uint8_t on[16];
    const uint32_t n = fpga_manage::mapping_enable_cmd_create(14, 9, on);
    EXPECT_EQ(fpgaChip().packets(14), (std::vector<Bytes>{Bytes(on, on + n)}));
    EXPECT_EQ(fpgaChip().packets(14)[0],
              sealed({0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x0F, 0x00, 0xA0, 0x03, 0x0F, 0x01, 0x09}));

    // Again, with port 14 silent: bit 7 clears, port 0's cards switch, the page says it failed.
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(14).silent = true; });
    Panel::sendKey(&page, OK);
    EXPECT_FALSE(fpgaChip().registerValue(0) & 0x80);
    EXPECT_EQ(g_send_para[16].load(), 0);
    ASSERT_TRUE(w.runJob(3000));
    EXPECT_EQ(page.resultText(), QStringLiteral("Failed: not switched on LED15"));
    EXPECT_FALSE(page.mappingIconOn()) << "the icon shows the register as read again";
    const LedNetwork off = fpgaChip().network();
    for (const auto& card : off.port(0).cards)
        EXPECT_EQ(card.registers.at(LedNetwork::MappingRegister), 0);
    EXPECT_EQ(off.port(14).cards[0].registers.at(LedNetwork::MappingRegister), 9);
}

// ---- scan files ----

TEST_F(PanelTest, ScanFilesAreListedThreeAPageLocalFirstStickGreen)
{
    for (const char* name : {"a.qzfile", "b.qzfile", "c.qzfile", "d.qzfile"})
        ASSERT_TRUE(TestRoot::writeFile(std::string("/data/smartmapping/") + name, scanFileSetting(1)));
    for (const char* name : {"e.qzfile", "f.qzfile", "g.qzfile"})
        ASSERT_TRUE(TestRoot::writeFile(std::string("/mnt/usb1/") + name, scanFileSetting(2)));
    // Not offered: other suffixes, hidden files, links, folders.
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/notes.txt", "x"));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/wall.QZFILE", "x"));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/.hidden.qzfile", "x"));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/dir.qzfile/x", "x"));
    ASSERT_EQ(symlink(TestRoot::path("/data/smartmapping/a.qzfile").c_str(), TestRoot::path("/mnt/usb1/link.qzfile").c_str()), 0);
    g_language = 1;
    SmartMapping page;
    page.on_Button_loadscan_clicked();
    page.on_Button_next_5_clicked();
    EXPECT_EQ(page.scanFiles().size(), 7);
    EXPECT_EQ(page.localFileCount(), 4);
    EXPECT_EQ(page.lastFilePage(), 2);
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(page.scanFiles()[i].startsWith(i < 4 ? "/data/smartmapping/" : "/mnt/usb1/")) << page.scanFiles()[i].toStdString();
    QStringList all;
    std::vector<bool> green;
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(page.filePage(), p);
        EXPECT_EQ(page.previous != nullptr, p > 0);
        EXPECT_EQ(page.next != nullptr, p < 2);
        all += page.shownFileNames();
        for (int j = 0; j < page.shownFileNames().size(); ++j)
            green.push_back(sheet(page.frame_file->findChild<QLabel*>(QStringLiteral("file%1").arg(j))).contains("#00FF00"));
        if (page.next)
            page.next->click();
    }
    EXPECT_EQ(all.size(), 7);
    EXPECT_EQ(green, (std::vector<bool>{false, false, false, false, true, true, true}));
    all.sort();
    EXPECT_EQ(all, QStringList({"a.qzfile", "b.qzfile", "c.qzfile", "d.qzfile", "e.qzfile", "f.qzfile", "g.qzfile"}));

    // By keys: right from the last file of the last page comes back to the first file of page 0.
    sendKeys(&page, {Right, OK, Right, Right, OK});
    ASSERT_EQ(page.loadScanStep(), 1);
    EXPECT_EQ(page.filePage(), 0);
    EXPECT_EQ(g_qzfile_name.get(), page.scanFiles()[0]);
    int visited = 0;
    do {
        Panel::sendKey(&page, Right);
        ++visited;
    } while (!(page.filePage() == 0 && page.fileFocus() == 0) && visited < 20);
    EXPECT_EQ(visited, 7) << "every file once";
    EXPECT_EQ(g_qzfile_name.get(), page.scanFiles()[0]);

    // A stick pulled while the list is shown: the list again, page 0, first file chosen.
    Panel::sendKey(&page, Right);
    QDir(QString::fromStdString(TestRoot::path("/mnt/usb1"))).removeRecursively();
    page.syncUpdate(101);
    EXPECT_EQ(page.scanFiles().size(), 4);
    EXPECT_EQ(page.filePage(), 0);
    EXPECT_EQ(page.fileSelection(), 0);
    EXPECT_EQ(g_qzfile_name.get(), QString(page.scanFiles()[0]));
}

// A PC tool's scan file (uploaded with the tag QZFR) is offered and listed; a file that is no scan
// file neither counts nor is listed, so load scan is not offered over an empty list.
TEST_F(PanelTest, UploadedScanFileIsListedAndOtherFilesDoNotCount)
{
    Worker w;
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/notes.txt", "x"));
    g_language = 1;
    {
        SmartMapping page;
        EXPECT_EQ(page.scanFileCount(), 0);
    }
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/QZFR", scanFileSetting(1)));
    SmartMapping page;
    EXPECT_EQ(page.scanFileCount(), 1);
    page.on_Button_loadscan_clicked();
    page.on_Button_next_5_clicked();
    EXPECT_EQ(page.scanFiles(), QStringList({"/data/smartmapping/QZFR"}));
    EXPECT_EQ(g_qzfile_name.get(), QStringLiteral("/data/smartmapping/QZFR"));
}

// Three files fill one page exactly; a name from a stick is shown as written, never as markup.
TEST_F(PanelTest, ThreeScanFilesMakeOnePageAndNamesAreShownAsWritten)
{
    for (const char* name : {"a.qzfile", "<b>x<i>y.qzfile", "c.qzfile"})
        ASSERT_TRUE(TestRoot::writeFile(std::string("/mnt/usb1/") + name, scanFileSetting(1)));
    SmartMapping page;
    page.on_Button_loadscan_clicked();
    page.on_Button_next_5_clicked();
    EXPECT_EQ(page.lastFilePage(), 0);
    EXPECT_EQ(page.previous, nullptr);
    EXPECT_EQ(page.next, nullptr);
    EXPECT_EQ(page.shownFileNames().size(), 3);
    for (int j = 0; j < 3; ++j) {
        const QLabel* l = page.frame_file->findChild<QLabel*>(QStringLiteral("file%1").arg(j));
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();
    }
    EXPECT_TRUE(page.shownFileNames().contains(QStringLiteral("<b>x<i>y.qzfile")));
}

TEST_F(PanelTest, ScanFileKeysChooseAStickFileAndLoadSendsItToThePort)
{
    Worker w;
    w.cards(3, 2);
    const QStringList names = {"a.qzfile", "b.qzfile", "c.qzfile", "d.qzfile"};
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/" + names[i].toStdString(), scanFileSetting(uint8_t(0x30 + i))));
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/stick.qzfile", scanFileSetting(0x55)));
    QFile(QString::fromStdString(TestRoot::path("/mnt/usb1/stick.qzfile"))).setPermissions(QFile::ReadOwner);
    g_language = 1;
    SmartMapping page;
    EXPECT_GE(page.scanFileCount(), 1);
    sendKeys(&page, {Right, OK}); // load scan, step 1, focus on the group of port 1
    EXPECT_EQ(page.focusedItem(), page.Button_wlan5);
    sendKeys(&page, {OK, Right, Right, Right, OK}); // tile choice: port 4
    EXPECT_EQ(line_type[8].load(), 3);
    sendKeys(&page, {Right, Right, OK});            // Next: the list
    EXPECT_EQ(page.loadScanStep(), 1);
    EXPECT_EQ(shownStack(page), 5);
    ASSERT_EQ(page.scanFiles().size(), 5);
    // Right through the first page and on: the fourth and fifth files are on page 1.
    sendKeys(&page, {Right, Right, Right, Right});
    EXPECT_EQ(page.filePage(), 1);
    EXPECT_EQ(page.fileFocus(), 1);
    const QString chosen = g_qzfile_name.get();
    EXPECT_EQ(chosen, QStringLiteral("/mnt/usb1/stick.qzfile"));
    // Left from the first file of page 1 goes to position c - 1 of page 0 (c = 2 files here).
    sendKeys(&page, {Left, Left});
    EXPECT_EQ(page.filePage(), 0);
    EXPECT_EQ(page.fileFocus(), 1);
    sendKeys(&page, {Right, Right, Right});
    EXPECT_EQ(g_qzfile_name.get(), chosen);
    Panel::sendKey(&page, OK); // chosen; focus on Load
    EXPECT_TRUE(page.inButtonRow());
    EXPECT_EQ(page.focusedItem(), page.Button_load);
    Panel::sendKey(&page, OK); // Load
    ASSERT_TRUE(g_qround_bar);
    EXPECT_EQ(g_send_para[0].load(), 2);
    EXPECT_FALSE(page.inButtonRow()) << "the focus goes back to the file";
    sendKeys(&page, {Back, Back, Mode});
    EXPECT_TRUE(g_qround_bar);
    EXPECT_EQ(page.loadScanStep(), 1) << "Previous refused while the job runs";
    ASSERT_TRUE(w.runJob(4000));
    EXPECT_FALSE(g_qround_bar);
    EXPECT_EQ(page.resultText(), QStringLiteral("Done"));
    const LedNetwork loaded = fpgaChip().network();
    for (const auto& card : loaded.port(3).cards)
        EXPECT_EQ(card.registers.at(0x0020), 0x55) << "the stick's file reached port 4's cards";
    ASSERT_EQ(fpgaChip().packets(3).size(), 1u);
    EXPECT_EQ(fpgaChip().packets(3)[0][9], 0xA0);
    for (int p = 0; p < 16; ++p)
        if (p != 3) {
            EXPECT_TRUE(fpgaChip().packets(p).empty()) << p;
        }
}

// Load hands the worker only a path the page listed itself.
TEST_F(PanelTest, LoadRefusesAScanFileNameThePageDidNotList)
{
    Worker w;
    w.cards(3, 1);
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/a.qzfile", scanFileSetting(1)));
    ASSERT_TRUE(TestRoot::writeFile("/data/elsewhere/x.qzfile", scanFileSetting(2)));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/b\nc.qzfile", scanFileSetting(3)));
    g_language = 1;
    SmartMapping page;
    page.on_Button_loadscan_clicked();
    page.on_Button_next_5_clicked();
    ASSERT_EQ(page.scanFiles().size(), 2);
    QStringList shown = page.shownFileNames();
    shown.sort();
    EXPECT_EQ(shown, QStringList({"a.qzfile", "bc.qzfile"})) << "a line feed in a name is not shown";
    const QString first = page.scanFiles()[0];
    EXPECT_EQ(g_qzfile_name.get(), first);
    for (const char* name : {"/data/elsewhere/x.qzfile", "/data/smartmapping/../elsewhere/x.qzfile", ""}) {
        g_qzfile_name = QLatin1String(name);
        page.on_Button_load_clicked();
        EXPECT_EQ(g_send_para[0].load(), 0) << name;
        EXPECT_FALSE(g_qround_bar) << name;
    }
    // An empty list clears the choice; Load then does nothing.
    QDir(QString::fromStdString(TestRoot::path("/data/smartmapping"))).removeRecursively();
    page.on_Button_next_5_clicked();
    EXPECT_TRUE(g_qzfile_name.get().isEmpty());
    ASSERT_TRUE(page.frame_file->findChild<QLabel*>(QStringLiteral("label_empty")));
    page.on_Button_load_clicked();
    EXPECT_EQ(g_send_para[0].load(), 0);
}

// ---- the page and the worker's reports ----

TEST_F(PanelTest, APageClosedDuringAJobIsNeverTouchedAfterwards)
{
    Worker w;
    w.cards(2, 2);
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(2).silent = true; });
    g_language = 1;
    Script s;
    s.act([] { Panel::openLater([]() -> VyrPage* { return new SmartMapping; }); })
        .until([] { return g_smartmapping && g_page_focus.load() == 24; }, "smart mapping page")
        .act([&w] {
            g_smartmapping->on_Button_paraweld_clicked();
            g_smartmapping->on_Button_confirm_clicked();
            EXPECT_TRUE(g_qround_bar);
            w.tick(150);
            // Closed by another path (a stick upgrade, a reset) while the worker still reports.
            PageNav::closePage(24);
        })
        .until([] { return !g_smartmapping; }, "page gone");
    ASSERT_TRUE(s.run());
    Panel::pump(20);
    EXPECT_FALSE(g_qround_bar) << "the bar went with its page";
    EXPECT_EQ(g_send_para[0].load(), 3) << "the job still runs";
    ASSERT_TRUE(w.runJob(3000));
    Panel::pump(50);
    EXPECT_FALSE(g_qround_bar);
    // Reports from the worker's thread reach a new page queued, never inside the emitting call.
    SmartMapping page;
    page.on_Button_paraweld_clicked();
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(2).silent = false; });
    page.on_Button_confirm_clicked();
    ASSERT_TRUE(g_qround_bar);
    std::thread([] { emit CardJobReport::instance()->smartMappingProgress(42); }).join();
    EXPECT_EQ(g_qround_bar->value(), 0) << "not delivered in the worker's call";
    Panel::pump(20);
    EXPECT_EQ(g_qround_bar->value(), 42);
    ASSERT_TRUE(w.runJob(3000));
}

// ---- texts ----

TEST_F(PanelTest, EverySubPageFitsItsTextsInEveryLanguage)
{
    Worker w;
    for (const char* name : {"a_long_name_of_a_scan_file_for_the_whole_wall.qzfile", "b.qzfile", "c.qzfile"})
        ASSERT_TRUE(TestRoot::writeFile(std::string("/data/smartmapping/") + name, scanFileSetting(1)));
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/stick.qzfile", scanFileSetting(2)));
    QStringList bad;
    const char* const cure[5] = {"参数固化操作", "Parameter curing operation", "Операция отверждения параметров", "Lưu thông số",
                                 "參數固化操作"};
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        SmartMapping page;
        page.show();
        auto check = [&](const QString& what) {
            const QString name = QStringLiteral("smartmapping_%1_%2").arg(what).arg(language);
            bad << Panel::misfits(&page, name);
            bad << Panel::lowContrast(&page, name);
            // Tool buttons: the text under the icon within the button.
            for (QToolButton* t : page.findChildren<QToolButton*>()) {
                if (!t->isVisibleTo(&page))
                    continue;
                const QFontMetrics fm(t->font());
                if (fm.horizontalAdvance(t->text()) > t->width() - 4 || QFontInfo(t->font()).pixelSize() < 10)
                    bad << name + "/" + t->objectName() + " \"" + t->text() + "\"";
            }
            Panel::shot(&page, name);
        };
        check(QStringLiteral("step1"));
        page.on_Button_next_clicked();
        check(QStringLiteral("step2"));
        page.on_Button_next_2_clicked();
        check(QStringLiteral("step3"));
        page.on_Button_route_clicked();
        check(QStringLiteral("routes"));
        page.on_Button_cancel_clicked();
        page.on_Button_loadscan_clicked();
        check(QStringLiteral("loadscan1"));
        page.on_Button_next_5_clicked();
        check(QStringLiteral("loadscan2"));
        page.on_Button_paraweld_clicked();
        EXPECT_EQ(page.label_step1_6->text(), QString::fromUtf8(cure[language]));
        check(QStringLiteral("curing"));
        page.on_Button_mapping_clicked();
        check(QStringLiteral("mapping"));
        // Every note of the line under the stacked area.
        for (int n = int(SmartMapping::Note::Done); n <= int(SmartMapping::Note::MappingFailedOn); ++n) {
            // The longest values: three ports and the ellipsis, 999 cards on 255 x 255 cells.
            page.showNote(SmartMapping::Note(n), n == int(SmartMapping::Note::MoreCards) ? 999 : 0xFFFF, 65025);
            bad << Panel::misfits(&page, QStringLiteral("note%1_%2").arg(n).arg(language));
            bad << Panel::lowContrast(&page, QStringLiteral("note%1_%2").arg(n).arg(language));
        }
        page.showNote(SmartMapping::Note::TooMany, 255);
        Panel::shot(&page, QStringLiteral("smartmapping_note_%1").arg(language));
    }
    // The stick's file alone, under the highlight.
    QDir(QString::fromStdString(TestRoot::path("/data/smartmapping"))).removeRecursively();
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        SmartMapping page;
        page.on_Button_loadscan_clicked();
        page.on_Button_next_5_clicked();
        ASSERT_EQ(g_qzfile_name.get(), QStringLiteral("/mnt/usb1/stick.qzfile"));
        bad << Panel::misfits(&page, QStringLiteral("stick%1").arg(language));
        bad << Panel::lowContrast(&page, QStringLiteral("stick%1").arg(language));
        Panel::shot(&page, QStringLiteral("smartmapping_stick_%1").arg(language));
    }
    // The empty list and its label.
    QDir(QString::fromStdString(TestRoot::path("/mnt/usb1"))).removeRecursively();
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        SmartMapping page;
        page.on_Button_loadscan_clicked();
        page.on_Button_next_5_clicked();
        bad << Panel::misfits(&page, QStringLiteral("empty%1").arg(language));
        bad << Panel::lowContrast(&page, QStringLiteral("empty%1").arg(language));
        Panel::shot(&page, QStringLiteral("smartmapping_empty_%1").arg(language));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}

// The worker in its own thread: its reports reach the page through the queue, the bar closes and
// the page shows the outcome.
TEST_F(PanelTest, MappingJobRunByTheWorkerThreadReportsToThePage)
{
    fpgaChip().setCards(4, 2);
    RunningFpga running;
    fpga_manage* fpga = running.fpga;
    ASSERT_TRUE(fpga->worker_started);
    ASSERT_TRUE(Panel::waitFor([&] { return fpga->get_port_card_num(4) == 2; }, 60000));
    g_language = 1;
    SmartMapping page;
    page.on_Button_mapping_clicked();
    page.on_Button_mapping_state_clicked();
    ASSERT_TRUE(g_qround_bar);
    ASSERT_TRUE(Panel::waitFor([&] { return !g_qround_bar && !page.resultText().isEmpty(); }, 60000));
    EXPECT_EQ(page.resultText(), QStringLiteral("Done"));
    EXPECT_TRUE(page.mappingIconOn());
    running.stop();
    const LedNetwork net = fpgaChip().network();
    for (const auto& card : net.port(4).cards)
        EXPECT_EQ(card.registers.at(LedNetwork::MappingRegister), 9);
}

// At most 100 files are offered, local ones first; what is left out is logged, not hidden.
TEST_F(PanelTest, ScanListStopsAtAHundredFilesAndSaysSo)
{
    for (int i = 0; i < 99; ++i)
        ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/f" + std::to_string(i) + ".qzfile", "x"));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/s" + std::to_string(i) + ".qzfile", "x"));
    g_language = 1;
    SmartMapping page;
    page.on_Button_loadscan_clicked();
    page.on_Button_next_5_clicked();
    EXPECT_EQ(page.scanFiles().size(), 100);
    EXPECT_EQ(page.localFileCount(), 99);
    EXPECT_TRUE(page.scanFiles().last().startsWith("/mnt/usb1/"));
    EXPECT_EQ(page.lastFilePage(), 33);
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("scan files beyond the first 100"));
    // The last page holds the hundredth file alone, with a way back and none further.
    for (int p = 0; p < 33; ++p)
        page.next->click();
    EXPECT_EQ(page.shownFileNames().size(), 1);
    EXPECT_TRUE(page.previous);
    EXPECT_FALSE(page.next);
}

// OK on a size field opens the panel's own keypad with the field's title; its answer lands in
// that field only.
TEST_F(PanelTest, SizeFieldTakesItsValueFromThePanelKeypad)
{
    g_language = 1;
    QString title;
    Script s;
    s.act([] { Panel::openLater([]() -> VyrPage* { return new SmartMapping; }); })
        .until([] { return g_smartmapping && QApplication::activeWindow() == g_smartmapping.data(); }, "smart mapping page")
        .keys({OK, Right, OK}) // the wizard, the height field, its keypad
        .until([] { return g_numberkeyboard && QApplication::activeWindow() == g_numberkeyboard.data(); }, "keypad up")
        .act([&title] { title = g_numberkeyboard->titleText(); })
        .keys({OK, Left, OK}) // digit 1, then the keypad's OK key
        .until([] { return g_numberkeyboard && !g_numberkeyboard->isVisible(); }, "keypad closed")
        .act([] {
            EXPECT_EQ(g_smartmapping->lineEdit_Y->text(), QStringLiteral("1"));
            EXPECT_EQ(g_smartmapping->lineEdit_X->text(), QStringLiteral("128"));
        });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(title, QStringLiteral("height"));
}
