// An EDID timing set on the EDID page, typed on the panel's own keypad, travels through the block,
// the scaler's pass and the input manager into the input's simulated EEPROM, and the table read
// back from the EEPROM announces exactly that timing; the parameter file keeps it.
#include "panel_fixture.h"

#include "edid_decode.h"
#include "managers.h"
#include "second_writer.h"
#include "test_root.h"

#include "base/global.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/i2c_board.h"
#include "scaler/c331_manage.h"
#include "ui/numberkeyboard.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/panelkeys.h"
#include "video_chips/keltosource.h"
#include "store_face.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <array>
#include <cstring>
#include <mutex>

using namespace PanelKey;
using platform::Sim::i2cBoard;

namespace {

using Table = std::array<uint8_t, 256>;

// The first detailed timing of the base block, as a source reads it.
struct Timing {
    int width, height, rate;
};
Timing firstDetailedTiming(const Table& t)
{
    const int clock = t[54] | t[55] << 8; // 10 kHz units
    const int hact = t[56] | (t[58] & 0xF0) << 4, hblank = t[57] | (t[58] & 0x0F) << 8;
    const int vact = t[59] | (t[61] & 0xF0) << 4, vblank = t[60] | (t[61] & 0x0F) << 8;
    const double total = double(hact + hblank) * double(vact + vblank);
    return {hact, vact, total > 0 ? int(clock * 10000.0 / total + 0.5) : 0};
}

bool checksumsHold(const Table& t)
{
    for (int block = 0; block < 2; ++block) {
        int sum = 0;
        for (int i = 0; i < 128; ++i)
            sum += t[128 * block + i];
        if (sum & 0xFF)
            return false;
    }
    return true;
}

class EdidToEeprom : public PanelTest {
protected:
    void SetUp() override
    {
        ConfigEngine::pInstance();
        const Managers m = startManagersWithoutWorkers();
        scaler = m.scaler;
        PanelTest::SetUp();
        g_check_source = 255;
        inputs = keltosource::p_kelto_source;
        ASSERT_EQ(inputs->initializeWithoutThread(), 0);
        g_check_edid = "Never";
        for (int i = 0; i < 2000 && inputs->path_state != keltosource::PathRunning; ++i) {
            G_timeTicks += 5;
            inputs->runOnce();
        }
        ASSERT_EQ(inputs->path_state, keltosource::PathRunning);
        for (int i = 0; i < 10 && scaler->thread_state < 6; ++i)
            scaler->runOnce();
        ASSERT_EQ(scaler->thread_state, 6);
        // Only window 1 on, so the EDID button is one step left of it.
        for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
            store->setU16(blk::window(w, blk::win::kState), w == 0 ? 1 : 0);
    }

    // The scaler's pass after the hand-over, then the input manager's passes that serve its request.
    void applyAndServe()
    {
        scaler->runOnce();
        Panel::pump(20);
        for (int i = 0; i < 5; ++i) {
            G_timeTicks += 1;
            inputs->runOnce();
        }
    }

    // Passes until nothing is pending: the scaler flags one changed input per pass.
    void settle()
    {
        for (int i = 0; i < 12; ++i) {
            bool pending = scaler->change_flag != 0;
            for (int k = 0; k < 6; ++k)
                pending |= inputs->custom_edid_req[k] != 0;
            if (!pending)
                return;
            applyAndServe();
        }
        ADD_FAILURE() << "EDID requests still pending";
    }

    // Every record 1920x1080@60 and applied: the block's timings are what the chips were last given.
    void allAt1080p60()
    {
        for (int i = 0; i < 6; ++i) {
            store->setU16(blk::edidWidth(i), 1920);
            store->setU16(blk::edidHeight(i), 1080);
            store->setU16(blk::edidRate(i), 60);
        }
        scaler->change_flag = 1;
        settle();
    }

    c331_manage* scaler = nullptr;
    keltosource* inputs = nullptr;
};

bool edidPageActive() { return g_page_focus.load() == 8 && g_edidset && QApplication::activeWindow() == g_edidset.data(); }
bool keypadActive() { return g_numberkeyboard && QApplication::activeWindow() == g_numberkeyboard.data(); }

}

TEST_F(EdidToEeprom, TimingTypedOnThePanelIsWrittenIntoTheEepromAndReadBackEqual)
{
    g_language = 1;
    store->setU16(blk::edidWidth(2), 1920);
    store->setU16(blk::edidHeight(2), 1080);
    store->setU16(blk::edidRate(2), 60);
    const Table before3 = i2cBoard().eepromContents(3);
    ASSERT_EQ(g_numberkeyboard->ui_select, 0) << "the keypad starts on its first key";
    Script s;
    s.key(OK)
        .choose("inputchoose")
        .until([] { return g_page_focus.load() == 3 && g_inputchoose && QApplication::activeWindow() == g_inputchoose.data(); },
               "input choice")
        .keys({Left, OK})
        .until(edidPageActive, "EDID page")
        .keys({OK, OK})
        .until(keypadActive, "keypad for the width")
        // 1, 2, 8, 0 and OK on the keypad: keys 1-9 are 0-8, 0 is 9, OK is 13.
        .keys({OK, Right, OK, Right, Right, Right, Right, Right, Right, OK, Right, Right, OK, Right, Right, Right, Right, OK})
        .until([] { return edidPageActive() && g_edidset->lineEdit_W->text() == QStringLiteral("1280"); }, "width 1280")
        .keys({Right, OK})
        .until(keypadActive, "keypad for the height")
        // 7, 2, 0 and OK, from OK (13).
        .keys({Left, Left, Left, Left, Left, Left, Left, OK, Left, Left, Left, Left, Left, OK, Right, Right, Right, Right,
               Right, Right, Right, Right, OK, Right, Right, Right, Right, OK})
        .until([] { return edidPageActive() && g_edidset->lineEdit_H->text() == QStringLiteral("720"); }, "height 720")
        .keys({Right, OK, Right, OK}) // rate level: 60 -> 30
        .until([] { return g_edidset->ui_seltype == 1 && g_edidset->label_rate->text() == QStringLiteral("30"); }, "30 Hz")
        .keys({Right, Right, Right, OK})
        .until([] { return g_edidset->ui_seltype == 0; }, "saved");
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(store->u16(blk::edidWidth(2)), 1280);
    EXPECT_EQ(store->u16(blk::edidHeight(2)), 720);
    EXPECT_EQ(store->u16(blk::edidRate(2)), 30);
    EXPECT_EQ(scaler->change_flag, 1);

    const int pages = i2cBoard().eeprom(2).pageWrites();
    applyAndServe();
    EXPECT_GT(i2cBoard().eeprom(2).pageWrites(), pages) << "the EEPROM was written";
    const Table t = i2cBoard().eepromContents(2);
    EXPECT_TRUE(checksumsHold(t));
    const Timing read = firstDetailedTiming(t);
    EXPECT_EQ(read.width, 1280);
    EXPECT_EQ(read.height, 720);
    EXPECT_EQ(read.rate, 30);
#ifndef VYR_TESTS_EMULATED
    const QString decoded = edidDecodeCheck(t.data());
    EXPECT_TRUE(edidDecodeClean(decoded)) << decoded.toStdString();
    EXPECT_TRUE(decoded.contains(QStringLiteral("1280x720"))) << decoded.toStdString();
#endif
    EXPECT_EQ(i2cBoard().eepromContents(3), before3) << "another input's EEPROM is left alone";
    EXPECT_EQ(inputs->custom_edid_req[2], 0);
    // The scaler's signal saved the block.
    const QByteArray file = TestRoot::readFile("/data/ram_device_info");
    const int at = int(2 + blk::edidWidth(2) - kPersistStart);
    EXPECT_EQ(uint8_t(file.at(at)) | uint8_t(file.at(at + 1)) << 8, 1280);
    EXPECT_EQ(uint8_t(file.at(at + 4)) | uint8_t(file.at(at + 5)) << 8, 30);
}

// Timings of other inputs and the refused ones: each row a tab, the width and height the keypad
// hands over, and what the EEPROM announces afterwards.
TEST_F(EdidToEeprom, EachInputsTimingReachesOnlyItsOwnEepromAndRefusalsWriteNone)
{
    struct Row {
        int tab; // HDMI1 .. HDMI4
        int input;
        int width, height;   // what the keypad hands over
        int storedW, storedH; // what the page stores: a refused field keeps its value
        bool written;
    };
    const Row rows[] = {
        {1, 3, 1600, 900, 1600, 900, true},
        {3, 5, 3840, 2160, 3840, 2160, true},
        {2, 4, 4095, 480, 4095, 480, true},     // the widest a timing descriptor holds
        {2, 4, 4096, 2161, 1920, 1080, false},  // one more fits in none: both refused, nothing changes
        {0, 2, 639, 480, 1920, 480, true},      // narrower than any source may be offered: width kept
        {0, 2, 800, 2161, 800, 1080, true},     // taller than the page offers: height kept
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        allAt1080p60();
        std::array<Table, 6> before;
        std::array<int, 6> pages;
        for (int i = 0; i < 6; ++i) {
            before[i] = i2cBoard().eepromContents(i);
            pages[i] = i2cBoard().eeprom(i).pageWrites();
        }
        scaler->change_flag = 0;
        std::vector<std::pair<int, int>> answers = {{row.width, 0}, {row.height, 0}};
        EDIDset::askNumber = [&answers](const QString&, const QString&, int min, int max, int* out) {
            if (answers.empty())
                return false;
            *out = answers.front().first;
            answers.erase(answers.begin());
            (void)min;
            (void)max;
            return true; // a keypad that hands over whatever it was given
        };
        Script s;
        s.act([] { Panel::openLater([]() -> VyrPage* { return new EDIDset; }); }).until(edidPageActive, "EDID page");
        for (int k = 0; k < row.tab; ++k)
            s.key(Right);
        s.keys({OK, OK, Right, OK})
            .until([&answers] { return answers.empty(); }, "typed")
            .keys({Left, Left, OK}) // height -> width -> Save
            .until([] { return g_edidset->ui_seltype == 0; }, "saved or refused");
        ASSERT_TRUE(s.run());
        EDIDset::askNumber = nullptr;
        if (scaler->change_flag)
            settle();
        for (int i = 0; i < 6; ++i) {
            const Table t = i2cBoard().eepromContents(i);
            if (i == row.input && row.written) {
                EXPECT_GT(i2cBoard().eeprom(i).pageWrites(), pages[i]);
                const Timing read = firstDetailedTiming(t);
                EXPECT_EQ(read.width, row.storedW);
                EXPECT_EQ(read.height, row.storedH);
                EXPECT_EQ(read.rate, 60);
                EXPECT_TRUE(checksumsHold(t));
            } else {
                EXPECT_EQ(t, before[i]) << "EEPROM " << i;
                EXPECT_EQ(i2cBoard().eeprom(i).pageWrites(), pages[i]) << "EEPROM " << i;
            }
        }
        EXPECT_EQ(store->u16(blk::edidWidth(row.input)), row.storedW);
        EXPECT_EQ(store->u16(blk::edidHeight(row.input)), row.storedH);
    }
}

// A user mode invoked on the user modes page brings the EDID timings it holds for several inputs at
// once; every one of them reaches its own EEPROM, not only the first.
TEST_F(EdidToEeprom, InvokedUserModeWritesEveryEdidItHolds)
{
    allAt1080p60();
    const int m = 2;
    {
        std::lock_guard<std::recursive_mutex> records(store->records_mutex);
        store->mode[m][0] = store->mode[m][1] = blk::kMarkerSaved;
        memcpy(store->mode[m] + 2, testBlock(store) + kModeBodyStart, kModeDataSize);
        const struct {
            int input, w, h, rate;
        } timings[] = {{2, 1280, 720, 60}, {3, 1600, 900, 30}, {5, 3840, 2160, 30}};
        for (const auto& t : timings) {
            blk::put16(store->mode[m], blk::inRecord(blk::edidWidth(t.input)), uint16_t(t.w));
            blk::put16(store->mode[m], blk::inRecord(blk::edidHeight(t.input)), uint16_t(t.h));
            blk::put16(store->mode[m], blk::inRecord(blk::edidRate(t.input)), uint16_t(t.rate));
        }
    }
    const Table untouched = i2cBoard().eepromContents(4);
    Script s;
    s.key(OK)
        .until([] { return g_page_focus.load() == 1; }, "root menu")
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && g_custommode && QApplication::activeWindow() == g_custommode.data(); },
               "user modes")
        .keys({Right, Right})
        .until([] { return g_custommode->ui_select == 2; }, "slot 3")
        .keys({OK, OK})
        .until([this] { return store->u16(blk::kCurrentMode) == 3; }, "invoked");
    ASSERT_TRUE(s.run());
    settle();
    const struct {
        int input, w, h, rate;
    } expected[] = {{2, 1280, 720, 60}, {3, 1600, 900, 30}, {5, 3840, 2160, 30}};
    for (const auto& e : expected) {
        const Table t = i2cBoard().eepromContents(e.input);
        const Timing read = firstDetailedTiming(t);
        EXPECT_EQ(read.width, e.w) << e.input;
        EXPECT_EQ(read.height, e.h) << e.input;
        EXPECT_EQ(read.rate, e.rate) << e.input;
        EXPECT_TRUE(checksumsHold(t)) << e.input;
    }
    EXPECT_EQ(i2cBoard().eepromContents(4), untouched);
}

// A PC tool writes a timing into HDMI1's record and applies it while the row is open. Save with
// nothing typed keeps the tool's timing in the block and in what the receiver announces; BACK on
// the row shows the stored timing on the tile.
TEST_F(EdidToEeprom, ATimingAToolWritesWhileTheRowIsOpenIsNotSavedOver)
{
    allAt1080p60();
    auto toolSets = [this](uint16_t w, uint16_t h) {
        const Bytes record = {uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 60, 0};
        EXPECT_EQ(SecondWriter::inProcess().set(blk::edidWidth(2), record), 0);
        settle();
    };
    Script s;
    s.act([] { Panel::openLater([]() -> VyrPage* { return new EDIDset; }); })
        .until(edidPageActive, "EDID page")
        .key(OK)
        .until([] { return g_edidset->ui_seltype == 1; }, "HDMI1's row")
        .act([&] { toolSets(1280, 720); })
        .keys({Left, OK}) // Save
        .until([] { return g_edidset->ui_seltype == 0 && !g_edidset->frame_add->isVisible(); }, "row closed")
        .act([] { EXPECT_EQ(g_edidset->tile_timing->text(), QStringLiteral("1280x720@60Hz")); })
        .key(OK)
        .until([] { return g_edidset->ui_seltype == 1 && g_edidset->lineEdit_W->text() == QStringLiteral("1280"); }, "row again")
        .act([&] { toolSets(1600, 900); })
        .key(Back)
        .until([] { return g_edidset->ui_seltype == 0; }, "row left")
        .act([] { EXPECT_EQ(g_edidset->tile_timing->text(), QStringLiteral("1600x900@60Hz")); });
    ASSERT_TRUE(s.run());
    settle();
    EXPECT_EQ(store->u16(blk::edidWidth(2)), 1600);
    EXPECT_EQ(store->u16(blk::edidHeight(2)), 900);
    const Timing read = firstDetailedTiming(i2cBoard().eepromContents(2));
    EXPECT_EQ(read.width, 1600);
    EXPECT_EQ(read.height, 900);
    EXPECT_EQ(read.rate, 60);
}
