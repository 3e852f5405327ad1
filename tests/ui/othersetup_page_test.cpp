// The other-settings page driven by keys from the home screen: what it shows of the block, what
// each confirmed row writes (and hands over, and saves), the access point's commands in the
// recording shell, editing and BACK, MODE, and its texts in every language.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "panel_store.h"
#include "second_writer.h"
#include "test_root.h"

#include "base/global.h"
#include "comm/wifi_config.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_manage.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_settings/othersetup.h"
#include "ui/panelkeys.h"
#include "store_face.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QStyleOptionComboBox>
#include <QTest>
#include <cstring>
#include <vector>

using namespace PanelKey;
using platform::Sim::shellSim;

namespace {

const char kKillHostapd[] = "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`";
const char kKillUdhcpd[] = "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`";

// Home screen, root menu, settings (three right), advanced (one left), other settings (one right).
Script& toOtherSettings(Script& s)
{
    return s.key(OK)
        .choose("option")
        .until([] { return Panel::onTop(5); }, "settings menu")
        .choose("AdvanceButton")
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .choose("Button_other")
        .until([] { return Panel::onTop(17) && g_othersetup; }, "other settings");
}

// For a second visit in one test: the advanced menu opened directly, then its other-settings entry.
Script& viaAdvanced(Script& s)
{
    return s.act([] { Panel::openLater(Panel::make<AdvancedOption>); })
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .choose("Button_other")
        .until([] { return Panel::onTop(17) && g_othersetup; }, "other settings");
}

// Moves the focus from the chooser to row r, then edits it: OK, the keys, OK.
Script& confirmRow(Script& s, int r, std::initializer_list<int> editKeys)
{
    for (int i = 0; i < r; ++i)
        s.key(Right);
    s.until([r] { return g_othersetup->ui_select == r; }, "row " + std::to_string(r)).key(OK).until(
        [] { return g_othersetup->editing == 1; }, "editing");
    for (int k : editKeys)
        s.key(k);
    return s.key(OK).until([] { return g_othersetup->editing == 0; }, "applied");
}

QStringList itemTexts(QComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

struct Windows {
    uint8_t on;    // bit w: window w shown
    uint8_t audio; // bit w: window w's audio on
};

void setWindows(VyrRamPara* store, Windows w)
{
    for (uint32_t k = 0; k < blk::kScalerWindows; ++k) {
        store->setU16(blk::window(k, blk::win::kState), (w.on >> k) & 1 ? 1 : 0);
        const bool audio = (w.audio >> k) & 1;
        testBlock(store)[blk::window(k, blk::win::kAudio)] = audio ? 255 : 0;
        testBlock(store)[blk::window(k, blk::win::kAudioHigh)] = audio ? 128 : 0;
    }
}

std::vector<uint8_t> blockCopy(VyrRamPara* store) { return std::vector<uint8_t>(testBlock(store), testBlock(store) + kBlockSize); }

// Offsets where two blocks differ, as "0x8f4 0->255" for a readable failure.
std::string differences(const std::vector<uint8_t>& want, const uint8_t* got)
{
    std::string out;
    for (uint32_t i = 0; i < kBlockSize; ++i)
        if (want[i] != got[i]) {
            char line[48];
            snprintf(line, sizeof line, " %#x want %u got %u;", i, want[i], got[i]);
            out += line;
        }
    return out;
}

}

TEST_F(PanelTest, OtherSettingsShowTheStoredValuesAndRepairTheAudioWindow)
{
    struct Case {
        const char* what;
        Windows windows;
        uint16_t audioWord, effect, wifi, dbd;
        QStringList chooser;
        int chooserAt, volumeAt, effectAt, wifiAt, dbdAt;
        uint16_t audioAfter;
        uint8_t flagAfter; // the repair is handed over
        int toolAudio = -1; // a tool's unapplied audio word, which waits for its apply
    };
    const Case cases[] = {
        {"windows 1 and 4, audio on 4", {0x09, 0x08}, 3, 1, 0, 0, {"image1", "image4"}, 1, 1, 1, 0, 0, 3, 0},
        {"one window, audio word 7", {0x01, 0x00}, 7, 0, 0, 0, {"image1"}, 0, 0, 0, 0, 0, 0, 1},
        {"audio word naming a window that is off", {0x05, 0x02}, 1, 0, 0, 0, {"image1", "image3"}, 0, 0, 0, 0, 0, 0, 1},
        {"negative audio word", {0x01, 0x01}, 0xFFFF, 0, 0, 0, {"image1"}, 0, 1, 0, 0, 0, 0, 1},
        {"audio word with a high byte", {0x03, 0x00}, 0x0201, 0, 0, 0, {"image1", "image2"}, 0, 0, 0, 0, 0, 0, 1},
        {"words non-zero in their high bytes only", {0x3F, 0x00}, 5, 0x0100, 0x0100, 0x0100,
         {"image1", "image2", "image3", "image4", "image5", "image6"}, 5, 0, 1, 1, 1, 5, 0},
        // Window 0 is off but named by the 0 word: the word stays, the chooser starts on its first
        // entry and the audio row shows that entry's window (audio off), not window 0's bits.
        {"audio word 0, window 0 off", {0x06, 0x01}, 0, 0, 0, 0, {"image2", "image3"}, 0, 0, 0, 0, 0, 0, 0},
        {"no window on", {0x00, 0x00}, 0, 0, 1, 1, {}, -1, 0, 0, 1, 1, 0, 0},
        {"a tool's unapplied word naming a window that is off", {0x09, 0x08}, 3, 0, 0, 0, {"image1", "image4"}, 1, 1, 0, 0, 0, 1, 0, 1},
    };
    g_language = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setWindows(store, c.windows);
        store->setU16(blk::kAudioWindow, c.audioWord);
        store->setU16(blk::kSwitchEffect, c.effect);
        store->setU16(blk::kWifiOff, c.wifi);
        store->setU16(blk::kPointToPoint, c.dbd);
        if (c.toolAudio >= 0) {
            ASSERT_EQ(SecondWriter::inProcess().writeBlock(blk::kAudioWindow, {uint8_t(c.toolAudio)}), 0);
        }
        Panel::clearFlag();
        Script s;
        if (&c == cases)
            toOtherSettings(s);
        else
            viaAdvanced(s);
        s.act([&] {
            othersetup* p = g_othersetup;
            EXPECT_EQ(itemTexts(p->ImageVolume), c.chooser);
            EXPECT_EQ(p->ImageVolume->currentIndex(), c.chooserAt);
            EXPECT_EQ(p->option_count[0], c.chooser.size());
            EXPECT_EQ(itemTexts(p->volume_state), QStringList({"OFF", "ON"}));
            EXPECT_EQ(p->volume_state->currentIndex(), c.volumeAt);
            EXPECT_EQ(itemTexts(p->switch_state), QStringList({"Seamless", "Fade"}));
            EXPECT_EQ(p->switch_state->currentIndex(), c.effectAt);
            EXPECT_EQ(itemTexts(p->mode_state), QStringList({"Click OK"}));
            EXPECT_EQ(itemTexts(p->wifi_state), QStringList({"ON", "OFF"}));
            EXPECT_EQ(p->wifi_state->currentIndex(), c.wifiAt);
            EXPECT_EQ(itemTexts(p->dbd_state), QStringList({"OFF", "ON"}));
            EXPECT_EQ(p->dbd_state->currentIndex(), c.dbdAt);
            EXPECT_EQ(store->u16(blk::kAudioWindow), c.audioAfter);
            EXPECT_EQ(Panel::changeFlag(), c.flagAfter);
            EXPECT_EQ(p->ui_select, 0);
            EXPECT_EQ(p->ImageVolume->styleSheet(), p->style_combo_focused);
        })
            .key(Back)
            .until([] { return Panel::onTop(12) && !g_othersetup; }, "advanced menu again");
        ASSERT_TRUE(s.run());
    }
}

TEST_F(PanelTest, OtherSettingsEmptyOrSingleChooserIsNeverEditedOutOfRange)
{
    // No window on: OK on the chooser does not start editing, so left moves the focus.
    setWindows(store, {0x00, 0x00});
    Panel::clearFlag();
    const std::vector<uint8_t> before = blockCopy(store);
    Script s;
    toOtherSettings(s);
    s.key(OK)
        .act([] { Panel::pump(20); })
        .act([] { EXPECT_EQ(g_othersetup->editing, 0) << "an empty chooser is not edited"; })
        .key(Left)
        .until([] { return g_othersetup->ui_select == 5; }, "focus wrapped to point-to-point")
        .act([] {
            EXPECT_EQ(g_othersetup->ImageVolume->styleSheet(), g_othersetup->style_combo_normal);
            EXPECT_EQ(g_othersetup->dbd_state->styleSheet(), g_othersetup->style_combo_focused);
        })
        .key(Right)
        .until([] { return g_othersetup->ui_select == 0; }, "chooser again");
    // The audio row with no window to act on writes nothing.
    confirmRow(s, 1, {Right});
    s.act([&] { EXPECT_EQ(differences(before, testBlock(store)), ""); });
    ASSERT_TRUE(s.run());

    // One window: left and right while editing stay on its entry.
    setWindows(store, {0x01, 0x00});
    Script t;
    viaAdvanced(t);
    t.key(OK)
        .until([] { return g_othersetup->editing == 1; }, "editing the chooser")
        .act([] { EXPECT_EQ(g_othersetup->ImageVolume->styleSheet(), g_othersetup->style_combo_editing); })
        .keys({Right, Right, Left})
        .act([] { Panel::pump(20); })
        .act([] {
            EXPECT_EQ(g_othersetup->edit_value, 0);
            EXPECT_EQ(g_othersetup->ImageVolume->currentIndex(), 0);
        })
        .key(OK)
        .until([] { return g_othersetup->editing == 0; }, "confirmed");
    ASSERT_TRUE(t.run());
}

TEST_F(PanelTest, OtherSettingsAudioRowSwitchesTheChosenWindow)
{
    struct Case {
        const char* what;
        Windows windows;
        uint16_t audioWord;
        std::vector<int> chooserKeys; // keys while editing the chooser (none: not edited)
        std::vector<int> audioKeys;
        int window;      // whose audio bytes change, -1 none
        bool on;
        int volumeShown; // entry the audio row shows once the chooser is confirmed
    };
    const Case cases[] = {
        {"audio of window 1 off", {0x09, 0x01}, 0, {}, {Right}, 0, false, 1},
        {"audio of window 4 on after choosing it", {0x09, 0x01}, 0, {Right}, {Left}, 3, true, 0},
        {"switching window 4 off makes it the audio window", {0x09, 0x09}, 0, {Left}, {Right}, 3, false, 1},
        {"ON confirmed for a window already on writes nothing", {0x09, 0x01}, 0, {}, {}, -1, true, 1},
        {"OFF confirmed for a window already off writes nothing", {0x09, 0x00}, 3, {}, {}, -1, false, 0},
        {"two steps come back to the same entry", {0x01, 0x00}, 0, {}, {Left, Right}, -1, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setWindows(store, c.windows);
        store->setU16(blk::kAudioWindow, c.audioWord);
        testBlock(store)[blk::kAudioState] = 0;
        Panel::clearFlag();
        std::vector<uint8_t> want = blockCopy(store);
        if (c.window >= 0) {
            want[blk::kAudioWindow] = uint8_t(c.window);
            want[blk::kAudioState] = 0;
            want[blk::window(c.window, blk::win::kAudio)] = c.on ? 255 : 0;
            want[blk::window(c.window, blk::win::kAudioHigh)] = c.on ? 128 : 0;
        }
        Script s;
        viaAdvanced(s);
        if (!c.chooserKeys.empty()) {
            s.key(OK).until([] { return g_othersetup->editing == 1; }, "editing the chooser");
            for (int k : c.chooserKeys)
                s.key(k);
            s.key(OK).until([] { return g_othersetup->editing == 0; }, "window chosen");
        }
        s.act([&] {
            EXPECT_EQ(Panel::changeFlag(), 0) << "choosing a window writes nothing";
            EXPECT_EQ(g_othersetup->volume_state->currentIndex(), c.volumeShown);
        });
        for (int i = 0; i < 1; ++i)
            s.key(Right);
        s.until([] { return g_othersetup->ui_select == 1; }, "audio row").key(OK);
        for (int k : c.audioKeys)
            s.key(k);
        s.act([] { EXPECT_EQ(Panel::changeFlag(), 0) << "nothing is written while only editing"; })
            .key(OK)
            .until([] { return g_othersetup->editing == 0; }, "audio applied")
            .act([&] {
                EXPECT_EQ(differences(want, testBlock(store)), "");
                EXPECT_EQ(Panel::changeFlag(), c.window >= 0 ? 1 : 0) << "handed over only for a change";
            });
        ASSERT_TRUE(s.run());
    }
}

TEST_F(PanelTest, OtherSettingsSwitchEffectAndPointToPointReachEveryWindowAndAreSaved)
{
    setWindows(store, {0x01, 0x00}); // only window 1 on: the others change all the same
    for (uint32_t w = 0; w < blk::kScalerWindows; ++w) {
        store->setU16(blk::fadeIn(w), uint16_t(0x1200 + w));
        store->setU16(blk::fadeOut(w), uint16_t(0x3400 + w));
        testBlock(store)[blk::window(w, blk::win::kOutput)] = uint8_t(w == 1 ? 0x03 : 0x01);
        testBlock(store)[blk::window(w, blk::win::kPointToPoint)] = 0;
    }
    store->setU16(blk::kSwitchEffect, 0);
    store->setU16(blk::kPointToPoint, 0);

    struct Step {
        int row;
        std::vector<int> keys;
        std::function<void(std::vector<uint8_t>&)> change;
        uint32_t savedAt;
        uint8_t saved;
    };
    const Step steps[] = {
        {2, {Right},
         [](std::vector<uint8_t>& b) {
             b[blk::kSwitchEffect] = 1;
             for (uint32_t w = 0; w < blk::kScalerWindows; ++w) {
                 b[blk::fadeIn(w)] = 60; // low bytes only
                 b[blk::fadeOut(w)] = 60;
                 b[blk::window(w, blk::win::kOutput)] |= 0x04;
             }
         },
         blk::kSwitchEffect, 1},
        {2, {Left},
         [](std::vector<uint8_t>& b) {
             b[blk::kSwitchEffect] = 0;
             for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
                 b[blk::window(w, blk::win::kOutput)] &= uint8_t(~0x04); // the times stay
         },
         blk::window(5, blk::win::kOutput), 0x01},
        {5, {Right},
         [](std::vector<uint8_t>& b) {
             b[blk::kPointToPoint] = 1;
             for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
                 b[blk::window(w, blk::win::kPointToPoint)] = 1;
         },
         blk::window(4, blk::win::kPointToPoint), 1},
        {5, {Left},
         [](std::vector<uint8_t>& b) {
             b[blk::kPointToPoint] = 0;
             for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
                 b[blk::window(w, blk::win::kPointToPoint)] = 0;
         },
         blk::kPointToPoint, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.row);
        Panel::clearFlag();
        std::vector<uint8_t> want = blockCopy(store);
        step.change(want);
        if (&step == steps) { // a tool's unapplied output bits: the toggle neither keeps nor takes them
            ASSERT_EQ(SecondWriter::inProcess().writeBlock(blk::window(0, blk::win::kOutput), {0x03}), 0);
        }
        Script u;
        viaAdvanced(u);
        for (int i = 0; i < step.row; ++i)
            u.key(Right);
        u.until([&] { return g_othersetup->ui_select == step.row; }, "row").key(OK);
        for (int k : step.keys)
            u.key(k);
        u.act([&] { EXPECT_EQ(Panel::changeFlag(), 0) << "nothing is written while only editing"; })
            .key(OK)
            .until([] { return g_othersetup->editing == 0; }, "applied")
            .act([&] {
                EXPECT_EQ(differences(want, testBlock(store)), "");
                EXPECT_EQ(Panel::changeFlag(), 1);
                EXPECT_EQ(Panel::savedByte(step.savedAt), step.saved) << "saved at once";
            });
        ASSERT_TRUE(u.run());
    }
}

TEST_F(PanelTest, OtherSettingsProjectionRowChangesNothing)
{
    setWindows(store, {0x03, 0x01});
    Panel::clearFlag();
    const std::vector<uint8_t> before = blockCopy(store);
    shellSim().clearLog();
    Script s;
    toOtherSettings(s);
    confirmRow(s, 3, {Right, Left});
    s.act([] {
        EXPECT_EQ(g_othersetup->mode_state->currentIndex(), 0);
        EXPECT_EQ(g_othersetup->option_count[3], 1);
    });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(differences(before, testBlock(store)), "");
    EXPECT_EQ(Panel::changeFlag(), 0) << "no hand-over";
    EXPECT_TRUE(TestRoot::shellLog().isEmpty());
}

TEST_F(PanelTest, OtherSettingsWifiOffIsSavedBeforeTheDaemonsStopAndKeepsTheAccessPointDown)
{
    g_language = 1;
    R58_WIFI_CONFIG wifi;
    wifi.initialize(false);
    R58_WIFI_CONFIG::p_wifi = &wifi;
    for (int i = 0; i < 3; ++i)
        wifi.wifi_ap_start_up(); // ifconfig, udhcpd, hostapd: the access point runs
    ASSERT_EQ(wifi.apState(), 3);
    store->setU16(blk::kWifiOff, 0);
    Panel::clearFlag();
    shellSim().clearLog();
    Script s;
    toOtherSettings(s);
    s.act([] { EXPECT_EQ(g_othersetup->wifi_state->currentText(), QStringLiteral("ON")); });
    confirmRow(s, 4, {Right});
    s.until([] { return TestRoot::shellLog().size() >= 3; }, "the daemons stopped").act([this] {
        EXPECT_EQ(testBlock(store)[blk::kWifiOff], 1);
        EXPECT_EQ(Panel::changeFlag(), 1);
        EXPECT_EQ(Panel::savedByte(blk::kWifiOff), 1);
        const QStringList log = TestRoot::shellLog();
        // The block is saved ("sync" after the file is written) before the daemons go.
        EXPECT_EQ(log, QStringList({"sync", kKillHostapd, kKillUdhcpd}));
    });
    ASSERT_TRUE(s.run());

    // The access-point manager now keeps it down: no start-up step runs a command.
    shellSim().clearLog();
    wifi.initialize(false);
    for (int i = 0; i < 3; ++i)
        wifi.wifi_ap_start_up();
    EXPECT_TRUE(TestRoot::shellLog().isEmpty()) << TestRoot::shellLog().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(wifi.apState(), 0);

    // ON only asks the manager for a restart; the page kills nothing.
    Panel::clearFlag();
    shellSim().clearLog();
    Script t;
    viaAdvanced(t);
    t.act([] { EXPECT_EQ(g_othersetup->wifi_state->currentText(), QStringLiteral("OFF")); });
    confirmRow(t, 4, {Left});
    t.act([&] {
        EXPECT_EQ(testBlock(store)[blk::kWifiOff], 0);
        EXPECT_EQ(Panel::changeFlag(), 1);
        EXPECT_EQ(wifi.resetFlag(), 1);
        EXPECT_TRUE(TestRoot::shellLog().isEmpty());
    });
    ASSERT_TRUE(t.run());
    R58_WIFI_CONFIG::p_wifi = nullptr;
}

// A PC tool switches the access point off while the page is open, before or during an edit of its
// row: the row shows OFF at once, and OK, OK or BACK write nothing: the access point stays off.
TEST_F(PanelTest, OtherSettingsFollowsAToolsWifiSwitchAndAConfirmWithoutAChangeWritesNothing)
{
    g_language = 1;
    R58_WIFI_CONFIG wifi;
    wifi.initialize(false);
    R58_WIFI_CONFIG::p_wifi = &wifi;
    SecondWriter tool = SecondWriter::inProcess();
    struct Row {
        const char* what;
        bool duringEdit;
        int key;
        bool refreshed = true; // the refresh after the tool's apply has reached the page
        bool applied = true;
    };
    const Row rows[] = {
        {"OK, OK after the tool's OFF", false, OK},
        {"OK after the tool's OFF during the edit", true, OK},
        {"BACK after the tool's OFF during the edit", true, Back},
        {"OK after the tool's OFF before its refresh", true, OK, false},
        {"OK, OK after the tool's OFF before its refresh", false, OK, false},
        {"OK, OK after the tool's unapplied OFF", false, OK, false, false},
        {"OK after the tool's unapplied OFF during the edit", true, OK, true, false},
        {"OK, OK after the tool's unapplied OFF, refreshed", false, OK, true, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        store->setU16(blk::kWifiOff, 0);
        Script s;
        viaAdvanced(s).keys({Right, Right, Right, Right}).until([] { return g_othersetup->ui_select == 4; }, "Wi-Fi row");
        auto toolSwitchesOff = [&] {
            ASSERT_EQ(r.applied ? tool.set16(blk::kWifiOff, 1) : tool.writeBlock(blk::kWifiOff, {1}), 0);
            if (r.refreshed)
                Panel::refresh(1);
            Panel::clearFlag();
            shellSim().clearLog();
            const bool shownOff = r.refreshed && r.applied; // the row shows what the box runs
            EXPECT_EQ(g_othersetup->wifi_state->currentText(), shownOff ? QStringLiteral("OFF") : QStringLiteral("ON"));
        };
        if (!r.duringEdit)
            s.act(toolSwitchesOff);
        s.key(OK).until([] { return g_othersetup->editing == 1; }, "editing");
        if (r.duringEdit)
            s.act(toolSwitchesOff);
        s.key(r.key).until([] { return g_othersetup->editing == 0; }, "edit left").act([&] {
            EXPECT_EQ(g_othersetup->wifi_state->currentText(), r.applied ? QStringLiteral("OFF") : QStringLiteral("ON"));
            EXPECT_EQ(testBlock(store)[blk::kWifiOff], 1);
            EXPECT_EQ(Panel::changeFlag(), 0);
            EXPECT_EQ(wifi.resetFlag(), 0) << "no access point started again";
            EXPECT_TRUE(TestRoot::shellLog().isEmpty());
        });
        s.key(Back).until([] { return Panel::onTop(12); }, "advanced menu");
        ASSERT_TRUE(s.run());
    }
    R58_WIFI_CONFIG::p_wifi = nullptr;
}

TEST_F(PanelTest, OtherSettingsWifiOnWithoutTheManagerStillWritesTheSwitch)
{
    store->setU16(blk::kWifiOff, 1);
    R58_WIFI_CONFIG::p_wifi = nullptr;
    Panel::clearFlag();
    Script s;
    toOtherSettings(s);
    confirmRow(s, 4, {Right});
    ASSERT_TRUE(s.run());
    EXPECT_EQ(testBlock(store)[blk::kWifiOff], 0);
    EXPECT_EQ(Panel::changeFlag(), 1);
}

TEST_F(PanelTest, OtherSettingsBackWhileEditingRestoresAndASecondBackLeaves)
{
    setWindows(store, {0x01, 0x00});
    store->setU16(blk::kSwitchEffect, 0);
    Panel::clearFlag();
    const std::vector<uint8_t> before = blockCopy(store);
    Script s;
    toOtherSettings(s);
    s.keys({Right, Right, OK})
        .until([] { return g_othersetup->editing == 1 && g_othersetup->ui_select == 2; }, "editing the effect")
        .key(Right)
        .until([] { return g_othersetup->switch_state->currentIndex() == 1; }, "Fade shown")
        .act([] {
            // A tap opens no drop-down list: only the keys change a row.
            QWidget* row = g_othersetup->wifi_state;
            QTest::mouseClick(g_othersetup->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                              row->mapTo(g_othersetup, row->rect().center()));
            Panel::pump(20);
            EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
            EXPECT_EQ(g_othersetup->editing, 1);
        })
        .key(Back)
        .until([] { return g_othersetup->editing == 0; }, "edit dropped")
        .act([&] {
            EXPECT_EQ(g_othersetup->switch_state->currentIndex(), 0);
            EXPECT_EQ(g_othersetup->switch_state->styleSheet(), g_othersetup->style_combo_focused);
            EXPECT_EQ(differences(before, testBlock(store)), "");
            EXPECT_EQ(Panel::changeFlag(), 0);
        })
        .key(Back)
        .until([] { return Panel::onTop(12) && !g_othersetup; }, "left for the advanced menu");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, OtherSettingsLanguageChangeRetextsTheCaptionsOnly)
{
    g_language = 1;
    testBlock(store)[blk::kLanguage] = 1;
    store->shadow[blk::kLanguage] = 1;
    Script s;
    toOtherSettings(s);
    s.act([this] {
        EXPECT_EQ(g_othersetup->label_wifi->text(), QStringLiteral("Wifi state"));
        testBlock(store)[blk::kLanguage] = 2; // as the protocol sets it
        Panel::refresh();
    })
        .until([] { return g_othersetup->label_wifi->text() == QString::fromUtf8("WiFi статус"); }, "captions in Russian")
        .act([] {
            EXPECT_EQ(g_othersetup->label_name_DBD->text(), QString::fromUtf8("Пиксель к пикселю"));
            EXPECT_EQ(g_othersetup->findChild<QLabel*>(QStringLiteral("label_title"))->text(),
                      QString::fromUtf8("Другие настройки"));
            EXPECT_EQ(g_othersetup->wifi_state->itemText(0), QStringLiteral("ON")) << "entries keep their language";
        });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, OtherSettingsModeLeavesForTheUserModesWithoutWriting)
{
    setWindows(store, {0x01, 0x00});
    Panel::clearFlag();
    const std::vector<uint8_t> before = blockCopy(store);
    Script s;
    toOtherSettings(s);
    s.keys({Right, OK, Right})
        .until([] { return g_othersetup->editing == 1; }, "editing the audio")
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && g_custommode && !g_othersetup && !g_advancedoption; }, "user modes");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(g_mode_shortcut_key.load(), 1);
    EXPECT_EQ(differences(before, testBlock(store)), "");
}

TEST_F(PanelTest, OtherSettingsTextsFitInEveryLanguage)
{
    setWindows(store, {0x3F, 0x00}); // the longest chooser entries
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        Script s;
        viaAdvanced(s);
        s.act([&] {
            othersetup* p = g_othersetup;
            bad << Panel::misfits(p, QStringLiteral("othersetup%1").arg(language));
            bad << Panel::lowContrast(p, QStringLiteral("othersetup%1").arg(language));
            for (QComboBox* c : p->findChildren<QComboBox*>()) {
                c->ensurePolished();
                const QFontMetrics fm(c->font());
                if (QFontInfo(c->font()).pixelSize() < 10)
                    bad << c->objectName() + QStringLiteral(": small font");
                QStyleOptionComboBox option;
                option.initFrom(c);
                const QRect room = c->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, c);
                for (int i = 0; i < c->count(); ++i) {
                    const int need = fm.horizontalAdvance(c->itemText(i));
                    if (need + 4 > room.width() || fm.height() > room.height()) // a little air before the border
                        bad << QStringLiteral("%1 \"%2\" in %3: needs %4x%5, has %6x%7")
                                   .arg(c->objectName(), c->itemText(i)).arg(language)
                                   .arg(need).arg(fm.height()).arg(room.width()).arg(room.height());
                }
            }
            Panel::shot(p, QStringLiteral("othersetup_%1").arg(language));
        })
            .keys({Right, Right, OK})
            .until([] { return g_othersetup->editing == 1; }, "editing the effect")
            .key(Right)
            .act([language] { Panel::shot(g_othersetup, QStringLiteral("othersetup_editing_%1").arg(language)); })
            .key(Back)
            .key(Back)
            .until([] { return Panel::onTop(12); }, "advanced menu");
        ASSERT_TRUE(s.run());
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
