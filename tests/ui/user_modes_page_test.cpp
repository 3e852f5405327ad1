// The user modes page driven by keys: the slot shown at opening, header and window preview from
// the record, the button row with and without the on-screen menu, invoking a mode (block, hand-over,
// saved file), deleting one (files, current mode), a mode stored on the root menu that is loaded
// again at start, MODE from every page of the menus, and texts in every language.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "panel_store.h"
#include "second_writer.h"

#include "test_root.h"

#include "base/global.h"
#include "comm/message_deal.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_manage.h"
#include "ui/mainwindow.h"
#include "ui/tip.h"
#include "ui/ui_mainwindow.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_picture/imagelayout.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/pages_settings/factory.h"
#include "ui/pages_settings/ledset.h"
#include "ui/pages_settings/linkwlan.h"
#include "ui/pages_settings/quality.h"
#include "ui/linkoption.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"
#include "ui/option.h"
#include "ui/outputset.h"
#include "ui/panelkeys.h"
#include "ui/vyrcontrol.h"
#include "store_face.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <cstring>
#include <memory>
#include <mutex>

using namespace PanelKey;
namespace win = blk::win;

namespace {

bool modesActive() { return Panel::focusIs(4) && g_custommode && QApplication::activeWindow() == g_custommode.data(); }

// The record's copy of a block field.
void put16(VyrRamPara* s, int m, uint32_t blockOffset, uint16_t v) { blk::put16(s->mode[m], blk::inRecord(blockOffset), v); }

// A saved mode m: every body byte `fill`, then the fields the page shows.
void saveMode(VyrRamPara* s, int m, uint8_t fill)
{
    std::lock_guard<std::recursive_mutex> records(s->records_mutex);
    s->mode[m][0] = blk::kMarkerSaved;
    s->mode[m][1] = blk::kMarkerSaved;
    memset(s->mode[m] + 2, fill, kModeDataSize);
    put16(s, m, blk::kOsdMenu, 0);
    for (int w = 0; w < 6; ++w) {
        put16(s, m, blk::window(w, win::kState), w < 2 ? 1 : 0);
        put16(s, m, blk::window(w, win::kSource), uint16_t(2 + w % 4));
        put16(s, m, blk::window(w, win::kX), uint16_t(10 * w));
        put16(s, m, blk::window(w, win::kY), uint16_t(20 * w));
        put16(s, m, blk::window(w, win::kWidth), 1920);
        put16(s, m, blk::window(w, win::kHeight), 1080);
    }
}

Script& toModesFromRoot(Script& s)
{
    return s.key(OK).choose("custommode").until(modesActive, "user modes page from the root menu");
}

bool focusMarked(QPushButton* b) { return b->styleSheet().contains(QStringLiteral("255, 171, 84")); }

const char kMenuFile[] =
    R"({"name":"m","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":"on","pos":{"x":16,"y":32,"w":640,"h":120,"layer":"top"},)"
    R"("act":{"effect":4,"speed":3,"staytime":0},"backpara":{"enable":"on","color":"0x102030"},)"
    R"("fontpara":{"startx":5,"starty":6,"fontw":24,"fonth":32,"wordspace":2,"verticalspace":4,"color":"0xFFEE00"},)"
    R"("texts":["one\ntwo\nthree\nfour\nfive"]}]})";

}

TEST_F(PanelTest, UserModesOpenOnTheCurrentModeWithItsHeaderAndWindows)
{
    g_language = 1;
    saveMode(store, 4, 0);
    put16(store, 4, blk::kLedWidth, 3840);
    put16(store, 4, blk::kLedHeight, 0xFFFF); // shown signed
    put16(store, 4, blk::kBrightness, 80);
    put16(store, 4, blk::kContrast, 55);
    store->mode[4][blk::inRecord(blk::kAudioWindow)] = 9; // 6 or more: window 0's audio
    store->mode[4][blk::inRecord(blk::window(0, win::kAudioHigh))] = 0x80;
    put16(store, 4, blk::window(1, win::kSource), win::kSourceCrop | 4);
    put16(store, 4, blk::cropField(4, blk::crop::kId), blk::crop::idWord(3, 1)); // the mode's crop 4 is HDMI2's
    put16(store, 4, blk::window(2, win::kState), 2);                                 // any non-zero state is on
    store->setU16(blk::kCurrentMode, 5);
    Script s;
    toModesFromRoot(s);
    s.act([] {
        CustomMode* p = g_custommode;
        EXPECT_EQ(p->ui_select, 4);
        EXPECT_EQ(g_mode_select.load(), 4);
        EXPECT_EQ(p->selector->box->currentText(), QStringLiteral("MODE 5"));
        EXPECT_EQ(p->label_ID->text(), QStringLiteral("ID:5"));
        EXPECT_TRUE(p->label_using->isVisible());
        EXPECT_EQ(p->label_using->text(), QStringLiteral("Using"));
        EXPECT_EQ(p->label_name->text(), QStringLiteral("Name:Mode5"));
        EXPECT_EQ(p->label_LED->text(), QStringLiteral("LED size:3840x-1"));
        EXPECT_EQ(p->label_brightness->text(), QStringLiteral("Bri:80 CTRST:55 Volume:ON"));
        EXPECT_FALSE(p->Button_more->isVisible()) << "no on-screen menu stored";
        EXPECT_FALSE(p->label_blank->isVisible());
        EXPECT_EQ(Panel::labelText(p->preview_widget, "window0_name"), QStringLiteral("HDMI1 ON"));
        EXPECT_EQ(Panel::labelText(p->preview_widget, "window1_name"), QStringLiteral("HDMI2_Crop5 ON"));
        EXPECT_EQ(Panel::labelText(p->preview_widget, "window2_name"), QStringLiteral("HDMI3 ON"));
        EXPECT_EQ(Panel::labelText(p->preview_widget, "window3_name"), QStringLiteral("HDMI4 OFF"));
        EXPECT_EQ(Panel::labelText(p->preview_widget, "window1_geometry"), QStringLiteral("[10,20]1920x1080"));
        EXPECT_EQ(Panel::labelText(p->preview_widget, "badge5"), QStringLiteral("6"));
        Panel::shot(p, QStringLiteral("modes_current"));
    });
    ASSERT_TRUE(s.run());

    // A PC tool stores mode 5 anew, then deletes it, while the page shows it: the page follows
    // each at the refresh the tool's apply raises.
    const uint8_t brightness = 30, request = 5, empty[2] = {0xFF, 0xFF};
    ASSERT_EQ(store->VyrRamParaDeal(&brightness, 1, blk::kBrightness), 0u);
    ASSERT_EQ(store->VyrRamParaDeal(&request, 1, blk::kSaveModeRequest), 0u);
    ASSERT_EQ(SecondWriter::inProcess().apply(), 0);
    Panel::refresh(1);
    EXPECT_TRUE(g_custommode->label_brightness->text().startsWith(QStringLiteral("Bri:30 ")))
        << g_custommode->label_brightness->text().toStdString();
    EXPECT_TRUE(g_custommode->label_using->isVisible());
    ASSERT_EQ(store->VyrModeUserRamParaDeal(empty, 2, 0x5000), 0u);
    ASSERT_EQ(SecondWriter::inProcess().request(0xA0, {11, 0x04, 0, 0x04}), 0);
    Panel::refresh(2);
    EXPECT_TRUE(g_custommode->label_blank->isVisible());
}

// The mode's audio window names the window whose audio the header shows; 6 or more means window 1.
TEST_F(PanelTest, UserModesVolumeFollowsTheModesAudioWindow)
{
    g_language = 1;
    struct Row {
        uint8_t audioWindow;
        int onWindow; // the one window with its audio on
        bool on;
    } rows[] = {{5, 5, true}, {5, 0, false}, {6, 0, true}, {6, 5, false}, {7, 0, true}, {255, 0, true}, {0, 1, false}};
    for (const Row& r : rows) {
        saveMode(store, 0, 0);
        store->mode[0][blk::inRecord(blk::kAudioWindow)] = r.audioWindow;
        store->mode[0][blk::inRecord(blk::window(uint32_t(r.onWindow), win::kAudioHigh))] = 0x80;
        g_mode_select = 0;
        std::unique_ptr<CustomMode> page(new CustomMode);
        EXPECT_TRUE(page->label_brightness->text().endsWith(r.on ? QStringLiteral("Volume:ON") : QStringLiteral("Volume:OFF")))
            << int(r.audioWindow) << " " << r.onWindow << " " << page->label_brightness->text().toStdString();
    }
}

TEST_F(PanelTest, UserModesSlotsWrapAndAnEmptySlotOffersNothing)
{
    g_language = 1;
    saveMode(store, 0, 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/alias.json",
                                    R"({"namelist":{"usermode":[{"id":15,"valid":"on","name":"Evening show"}]}})"));
    Script s;
    toModesFromRoot(s);
    s.act([] { EXPECT_EQ(g_custommode->ui_select, 0) << "no current mode: slot 1"; })
        .key(Left)
        .until([] { return g_custommode->ui_select == 15 && g_mode_select.load() == 15; }, "left from 1 to 16")
        .act([] {
            CustomMode* p = g_custommode;
            EXPECT_EQ(p->label_ID->text(), QStringLiteral("ID:16"));
            EXPECT_EQ(p->label_name->text(), QStringLiteral("Name:Evening show"));
            EXPECT_TRUE(p->label_blank->isVisible());
            EXPECT_EQ(p->label_blank->text(), QStringLiteral("Usermode does not exist"));
            EXPECT_FALSE(p->Button_use->isVisible());
            EXPECT_FALSE(p->label_LED->isVisible());
            EXPECT_EQ(p->preview_widget, nullptr);
        })
        .key(OK)
        .act([] { Panel::pump(20); })
        .until([] { return g_custommode->row_active == 0; }, "OK on an empty slot does nothing")
        .key(Right)
        .until([] { return g_custommode->ui_select == 0 && g_custommode->Button_use->isVisible(); }, "right from 16 to 1")
        .act([] { EXPECT_EQ(g_custommode->selector->box->currentIndex(), 0); })
        .key(Back)
        .until([] { return Panel::focusIs(1) && !g_custommode && QApplication::activeWindow() == g_mainwindow.data(); },
               "back to the root menu");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, UserModesRowShowsTheMenuViewOnMoreAndWrapsOverTwoOrThreeButtons)
{
    g_language = 1;
    saveMode(store, 0, 0);
    saveMode(store, 1, 0);
    put16(store, 1, blk::kOsdMenu, 1);
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/MO02.json", kMenuFile));
    saveMode(store, 2, 0);
    put16(store, 2, blk::kOsdMenu, 1); // its menu file is missing
    Script s;
    toModesFromRoot(s);
    // Slot 1: Invoke and Delete only.
    s.key(OK)
        .until([] { return g_custommode->row_active == 1 && focusMarked(g_custommode->Button_use); }, "Invoke focused")
        .key(Left)
        .until([] { return g_custommode->button_select == 1 && focusMarked(g_custommode->Button_delete); }, "left wraps to Delete")
        .key(Right)
        .until([] { return g_custommode->button_select == 0; }, "right wraps to Invoke")
        .key(Back)
        .until([] { return g_custommode->row_active == 0; }, "slots again")
        // Slot 2: More shows the menu stored with the mode.
        .key(Right)
        .until([] { return g_custommode->ui_select == 1 && g_custommode->Button_more->isVisible(); }, "slot 2")
        .keys({OK, Right, Right})
        .until([] { return g_custommode->button_select == 2 && focusMarked(g_custommode->Button_more); }, "More focused")
        .act([] {
            QWidget* v = g_custommode->preview_widget;
            EXPECT_EQ(Panel::labelText(v, "menu_info"),
                      QStringLiteral("osd [x:16,y:32,w:640,h:120] font size:24*32\nspace [h:2,v:4] char[x:5,y:6] speed:3,effect:move left"));
            EXPECT_EQ(Panel::labelText(v, "menu_sample"), QStringLiteral("one\ntwo\nthree"));
            EXPECT_TRUE(v->findChild<QLabel*>(QStringLiteral("menu_sample"))->styleSheet().startsWith(
                QStringLiteral("background-color:#102030;color:#FFEE00;")));
            EXPECT_EQ(Panel::labelText(v, "window0_name"), QStringLiteral("<none>"));
            Panel::shot(g_custommode, QStringLiteral("modes_menu_view"));
        })
        .key(Right)
        .until([] { return g_custommode->button_select == 0 && !Panel::labelText(g_custommode->preview_widget, "window0_name").startsWith('<'); },
               "wraps to Invoke with the windows view")
        .key(Back)
        // Slot 3: a menu word without its file.
        .key(Right)
        .until([] { return g_custommode->ui_select == 2 && g_custommode->row_active == 0; }, "slot 3")
        .keys({OK, Left})
        .until([] { return g_custommode->button_select == 2; }, "More by the left wrap")
        .act([] {
            EXPECT_EQ(Panel::labelText(g_custommode->preview_widget, "menu_info"), QStringLiteral("No on-screen menu stored"));
            EXPECT_EQ(Panel::labelText(g_custommode->preview_widget, "menu_sample"), QStringLiteral("<none>"));
        });
    ASSERT_TRUE(s.run());
}

// Invoking copies the mode over block 0x380-0xFFF: its windows, crops and EDID timings, names it
// the current mode, hands over, and the refresh saves it.
TEST_F(PanelTest, UserModeInvokedRestoresWindowsCropsAndEdidsAndIsSaved)
{
    g_language = 1;
    saveMode(store, 6, 0);
    put16(store, 6, blk::edidWidth(2), 1280);
    put16(store, 6, blk::edidHeight(2), 720);
    put16(store, 6, blk::edidRate(2), 30);
    put16(store, 6, blk::edidWidth(5), 2560);
    put16(store, 6, blk::cropField(3, blk::crop::kId), blk::crop::idWord(2, 1));
    put16(store, 6, blk::cropField(3, blk::crop::kWidth), 800);
    put16(store, 6, blk::window(0, win::kSource), win::kSourceCrop | 3);
    put16(store, 6, blk::window(1, win::kWidth), 960);
    store->setU16(blk::kCurrentMode, 2);
    saveMode(store, 1, 0x11);
    // A tool's write of mode 7's EDID width, not applied: the invoke sets it, and it is saved.
    ASSERT_EQ(SecondWriter::inProcess().writeBlock(blk::edidWidth(2), {0x00, 0x05}), 0);
    Panel::clearFlag();
    Script s;
    toModesFromRoot(s);
    s.act([] { EXPECT_EQ(g_custommode->ui_select, 1); })
        .keys({Right, Right, Right, Right, Right})
        .until([] { return g_custommode->ui_select == 6; }, "slot 7")
        .act([] { EXPECT_FALSE(g_custommode->label_using->isVisible()); })
        .keys({OK, OK})
        .until([this] { return store->u16(blk::kCurrentMode) == 7; }, "invoked")
        .act([] {
            EXPECT_EQ(g_custommode->row_active, 0);
            EXPECT_TRUE(g_custommode->label_using->isVisible()) << "the badge follows at once";
        });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(Panel::changeFlag(), 1);
    EXPECT_EQ(memcmp(testBlock(store) + kModeBodyStart, store->mode[6] + 2, kModeDataSize), 0);
    EXPECT_EQ(store->u16(blk::edidWidth(2)), 1280);
    EXPECT_EQ(store->u16(blk::edidRate(2)), 30);
    EXPECT_EQ(store->u16(blk::cropField(3, blk::crop::kWidth)), 800);
    EXPECT_EQ(store->u16(blk::window(0, win::kSource)), win::kSourceCrop | 3);
    EXPECT_EQ(store->VyrGetSourceNum(2, int(kCropCount)), 1u);
    EXPECT_EQ(store->VyrGetCropID(2, 1), 1u) << "the crop list follows the invoked table";
    Panel::refresh(1);
    Panel::pump(20);
    const QByteArray file = TestRoot::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(file.mid(2 + kModeBodyStart - kPersistStart, int(kModeDataSize)),
              QByteArray(reinterpret_cast<const char*>(store->mode[6] + 2), int(kModeDataSize)));

    // A tool's recall written meanwhile is left to its apply, which serves it.
    const uint8_t toolRecall = 2;
    ASSERT_EQ(store->VyrRamParaDeal(&toolRecall, 1, blk::kCurrentMode), 0u);
    g_custommode->on_Button_use_clicked();
    EXPECT_EQ(store->u16(blk::kCurrentMode), 2);
    // Mode 7 is in use until that apply, on this page and on the root menu's bar.
    EXPECT_TRUE(g_custommode->label_using->isVisible());
    g_mainwindow->mode_init();
    EXPECT_TRUE(g_mode[6]->findChild<QLabel*>(QStringLiteral("label_using"))->isVisibleTo(g_mode[6]));
}

TEST_F(PanelTest, DeletingTheModeInUseRemovesItsFilesAndNamesNoModeAnyMore)
{
    g_language = 1;
    store->setU16(blk::kOsdMenu, 1);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", kMenuFile));
    memset(testBlock(store) + kModeBodyStart, 0x21, 64);
    ASSERT_TRUE(store->storeMode(4));
    ASSERT_TRUE(TestRoot::exists("/data/modes/custom_mode5"));
    ASSERT_TRUE(TestRoot::exists("/data/modes/MO05.json"));
    store->setU16(blk::kCurrentMode, 5);
    {
        ScalerHandOver handOver; // what the start leaves: the shadow agrees with the block
        memcpy(store->shadow, testBlock(store), kBlockSize);
    }
    platform::Sim::shellSim().clearLog();
    Panel::clearFlag();
    Script s;
    toModesFromRoot(s);
    s.act([] { EXPECT_EQ(g_custommode->ui_select, 4); })
        .keys({OK, Right})
        .until([] { return g_custommode->button_select == 1; }, "Delete focused")
        .key(OK)
        .until([] { return g_custommode->label_blank->isVisible(); }, "slot shown empty")
        .act([] {
            EXPECT_EQ(g_custommode->ui_select, 4) << "the slot stays selected";
            EXPECT_FALSE(g_custommode->label_using->isVisible());
        });
    ASSERT_TRUE(s.run());
    const auto commands = platform::Sim::shellSim().commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], "rm  -rf  /data/modes/custom_mode5");
    EXPECT_EQ(commands[1], "rm  -rf  /data/modes/MO05.json");
    EXPECT_FALSE(TestRoot::exists("/data/modes/custom_mode5"));
    EXPECT_FALSE(TestRoot::exists("/data/modes/MO05.json"));
    EXPECT_FALSE(store->VyrUserModeSaved(4));
    EXPECT_EQ(store->u16(blk::kCurrentMode), 0);
    EXPECT_EQ(store->VyrGetCurrentModeIndex(), 0u);
    EXPECT_EQ(Panel::changeFlag(), 1) << "the cleared word is handed over";
    Panel::refresh(1);
    Panel::pump(20);
    const QByteArray file = TestRoot::readFile("/data/ram_device_info");
    EXPECT_EQ(uint8_t(file.at(int(2 + blk::kCurrentMode - kPersistStart))), 0) << "saved at once";

    // A tool's recall of mode 3, written and not yet applied, when the operator deletes mode 3:
    // the tool's apply is answered that nothing was recalled.
    ASSERT_TRUE(store->storeMode(2));
    const uint8_t toolRecall = 3;
    ASSERT_EQ(store->VyrRamParaDeal(&toolRecall, 1, blk::kCurrentMode), 0u);
    g_mode_select = 2;
    g_custommode->on_Button_delete_clicked();
    EXPECT_FALSE(store->VyrUserModeSaved(2));
    EXPECT_EQ(SecondWriter::inProcess().apply(), 1) << "the recall of a deleted mode is answered failure";
    EXPECT_EQ(store->u16(blk::kCurrentMode), 0);
}

// A mode stored with the root menu's store tool is a file that the start loads again; the user
// modes page then shows and invokes it.
TEST_F(PanelTest, ModeStoredOnTheRootMenuLoadsAgainAtStartAndIsInvokedWhole)
{
    g_language = 1;
    MainWindow* root = g_mainwindow;
    for (uint32_t i = 0; i < kModeDataSize; ++i)
        testBlock(store)[kModeBodyStart + i] = uint8_t(i * 7 + 3);
    store->setU16(blk::edidWidth(4), 1600);
    store->setU16(blk::window(2, win::kSource), win::kSourceCrop | 5);
    QByteArray stored(reinterpret_cast<const char*>(testBlock(store) + kModeBodyStart), int(kModeDataSize));
    Script s;
    s.key(OK)
        .choose("tools")
        .until([root] { return root->focus_widget == root->ui->toolButton1; }, "tools row")
        .choose("toolButton4")
        .until([root] { return root->save_state == 1 && root->widget_mode->isVisible(); }, "store bar")
        .keys({Right, Right, Right, OK})
        .until([this] { return store->VyrUserModeSaved(3); }, "mode 4 stored")
        .act([] { Panel::refresh(1); })
        .until([] { return g_tip_flag.load() == 1; }, "check mark")
        .act([] { Panel::tick(300); })
        .until([] { return g_tip_flag.load() == 0; }, "check mark gone");
    ASSERT_TRUE(s.run());
    const QByteArray file = TestRoot::readFile("/data/modes/custom_mode4");
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(file.mid(2, int(kModeDataSize)), stored);

    // What a start does with the records: empty, then loaded from their files.
    {
        std::lock_guard<std::recursive_mutex> records(store->records_mutex);
        memset(store->mode, 0xFF, sizeof store->mode);
    }
    for (uint32_t m = 0; m < kModeCount; ++m)
        store->mode_file_deal(m, 0);
    ASSERT_TRUE(store->VyrUserModeSaved(3));
    for (uint32_t m = 0; m < kModeCount; ++m)
        EXPECT_EQ(store->VyrUserModeSaved(m) != 0, m == 3) << m;
    memset(testBlock(store) + kModeBodyStart, 0, kModeDataSize);
    store->setU16(blk::kCurrentMode, 0);
    Panel::clearFlag();

    Script again;
    again.act([] { PageNav::activate(1); })
        .until([root] { return QApplication::activeWindow() == root; }, "root menu")
        .key(Mode)
        .until(modesActive, "user modes by MODE")
        .keys({Right, Right, Right})
        .until([] { return g_custommode->ui_select == 3 && g_custommode->Button_use->isVisible(); }, "slot 4 saved")
        .keys({OK, OK})
        .until([this] { return store->u16(blk::kCurrentMode) == 4; }, "invoked");
    ASSERT_TRUE(again.run());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(testBlock(store) + kModeBodyStart), int(kModeDataSize)), stored);
    EXPECT_EQ(store->u16(blk::edidWidth(4)), 1600);
    EXPECT_EQ(store->u16(blk::window(2, win::kSource)), win::kSourceCrop | 5);
    EXPECT_EQ(Panel::changeFlag(), 1);
}

// MODE from a page of every depth of these menus: every page above the root menu is gone, no modal
// loop is left, the keys reach the user modes page, and its BACK opens the home screen.
TEST_F(PanelTest, ModeFromEveryPageOfTheMenusLeavesOnlyTheUserModesPage)
{
    struct Chain {
        const char* name;
        std::vector<VyrPage* (*)()> pages; // opened one above the other
    };
    auto mk = [](auto* tag) {
        using T = std::remove_pointer_t<decltype(tag)>;
        return +[]() -> VyrPage* { return new T; };
    };
    const Chain chains[] = {
        {"device info", {mk((MachineState*)nullptr)}},
        {"input choice", {mk((InputChoose*)nullptr)}},
        {"crop via input choice", {mk((InputChoose*)nullptr), mk((InputCut*)nullptr)}},
        {"EDID", {mk((InputChoose*)nullptr), mk((EDIDset*)nullptr)}},
        {"settings", {mk((Option*)nullptr)}},
        {"crop via settings", {mk((Option*)nullptr), mk((InputCut*)nullptr)}},
        {"layout", {mk((Option*)nullptr), mk((ImageLayout*)nullptr)}},
        {"LED size", {mk((Option*)nullptr), mk((OutputSet*)nullptr), mk((ledset*)nullptr)}},
        {"wired net", {mk((Option*)nullptr), mk((LinkOption*)nullptr), mk((linkwlan*)nullptr)}},
        {"quality", {mk((Option*)nullptr), mk((ImageQuality*)nullptr), mk((quality*)nullptr)}},
        {"factory", {mk((Option*)nullptr), mk((AdvancedOption*)nullptr), mk((factory*)nullptr)}},
    };
    for (const Chain& chain : chains) {
        SCOPED_TRACE(chain.name);
        Script s;
        s.until([] { return Panel::focusIs(0) && QApplication::activeWindow() == g_lockwindow.data(); }, "home screen")
            .key(OK)
            .until([] { return Panel::focusIs(1) && QApplication::activeWindow() == g_mainwindow.data(); }, "root menu");
        for (VyrPage* (*make)() : chain.pages)
            s.act([make] { Panel::openLater(make); })
                .until([] {
                    auto* page = qobject_cast<VyrPage*>(QApplication::activeModalWidget());
                    return page && QApplication::activeWindow() == page && Panel::focusIs(page->pageCode());
                }, "page open");
        s.key(Mode)
            .until(modesActive, "user modes page")
            .act([] {
                for (int code = 0; code < PageNav::kPageCount; ++code) {
                    if (code != 1 && code != 4) {
                        EXPECT_EQ(PageNav::page(code), nullptr) << "page " << code << " left behind";
                    }
                }
                EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
                EXPECT_EQ(g_mode_shortcut_key.load(), 1);
            })
            .key(Right)
            .until([] { return g_custommode && g_custommode->ui_select == 1; }, "keys reach the user modes page")
            .key(Back)
            .until([] { return Panel::focusIs(0) && g_lockwindow && !g_custommode && QApplication::activeWindow() == g_lockwindow.data(); },
                   "home screen");
        ASSERT_TRUE(s.run());
    }
}

TEST_F(PanelTest, UserModesTextsFitInEveryLanguage)
{
    saveMode(store, 0, 0);
    put16(store, 0, blk::kLedWidth, 16384);
    put16(store, 0, blk::kLedHeight, 16384);
    put16(store, 0, blk::kBrightness, 100);
    put16(store, 0, blk::kContrast, 100);
    put16(store, 0, blk::kOsdMenu, 1);
    for (int w = 0; w < 6; ++w) {
        put16(store, 0, blk::window(w, win::kSource), win::kSourceCrop | 39);
        put16(store, 0, blk::window(w, win::kX), 3840);
        put16(store, 0, blk::window(w, win::kY), 2160);
        put16(store, 0, blk::window(w, win::kWidth), 3840);
        put16(store, 0, blk::window(w, win::kHeight), 2160);
    }
    put16(store, 0, blk::cropField(39, blk::crop::kId), blk::crop::idWord(5, 1));
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/MO01.json", kMenuFile));
    store->setU16(blk::kCurrentMode, 1);
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        Script s;
        s.act([] { PageNav::showUserModes(); })
            .until(modesActive, "user modes page")
            .act([&] {
                bad << Panel::misfits(g_custommode, QStringLiteral("modes%1").arg(language));
                bad << Panel::lowContrast(g_custommode, QStringLiteral("modes%1").arg(language));
                Panel::shot(g_custommode, QStringLiteral("modes_windows_%1").arg(language));
            })
            .keys({OK, Left})
            .until([] { return g_custommode->button_select == 2; }, "More")
            .act([&] {
                bad << Panel::misfits(g_custommode, QStringLiteral("modes_menu%1").arg(language));
                bad << Panel::lowContrast(g_custommode, QStringLiteral("modes_menu%1").arg(language));
                Panel::shot(g_custommode, QStringLiteral("modes_menu_%1").arg(language));
            })
            .keys({Back, Right})
            .until([] { return g_custommode->label_blank->isVisible(); }, "empty slot")
            .act([&] {
                bad << Panel::misfits(g_custommode, QStringLiteral("modes_blank%1").arg(language));
                bad << Panel::lowContrast(g_custommode, QStringLiteral("modes_blank%1").arg(language));
                Panel::shot(g_custommode, QStringLiteral("modes_blank_%1").arg(language));
                PageNav::closePage(4);
            });
        ASSERT_TRUE(s.run());
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
