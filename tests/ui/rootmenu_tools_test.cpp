// The root menu's tools row: black screen, mute, key lock, and the user-mode bar.
#include "panel_fixture.h"
#include "panel_store.h"

#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "base/global.h"
#include "comm/message_deal.h"
#include "ui/lockwindow.h"
#include "ui/pages_picture/custommode.h"
#include "ui/mainwindow.h"
#include "ui/panelkeys.h"
#include "ui/picture_sizes.h"
#include "ui/pictures.h"
#include "test_root.h"
#include "ui/tip.h"
#include "ui/ui_mainwindow.h"
#include "params/vyrrampara.h"
#include "second_writer.h"
#include "store_face.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <cstring>

using namespace PanelKey;

namespace {

// Root menu, tools row shown, focus on the tool with the given index (0-3).
Script& toTool(Script& s, int tool)
{
    MainWindow* root = g_mainwindow;
    const char* const tools[4] = {"toolButton1", "toolButton2", "toolButton3", "toolButton4"};
    s.key(OK).choose("tools").until([root] { return root->ui_select == 0 && root->focus_widget == root->ui->toolButton1; },
                                    "tools row with the first tool focused");
    return s.focus(tools[tool]);
}

void fillSavedMode(VyrRamPara* store, int m, uint8_t fill)
{
    store->mode[m][0] = 0xAA;
    store->mode[m][1] = 0xAA;
    memset(store->mode[m] + 2, fill, kModeDataSize);
}
}

TEST_F(PanelTest, BlackScreenToolTogglesTheScreenWordThroughTheHandOver)
{
    Script s;
    toTool(s, 0)
        .key(OK)
        .until([this] { return store->u16(0x844) == 1; }, "screen black")
        .act([] {
            EXPECT_EQ(Panel::changeFlag(), 1);
            Panel::clearFlag();
            Panel::shot(g_mainwindow, QStringLiteral("root_tools_black"));
        })
        .key(OK)
        .until([this] { return store->u16(0x844) == 0; }, "screen shown again")
        .act([] { EXPECT_EQ(Panel::changeFlag(), 1); });
    ASSERT_TRUE(s.run());
}

// A tool wrote the opposite of each toggle and did not apply it: each press toggles what the box
// applied, and the block a tool reads back holds the press.
TEST_F(PanelTest, TogglesDecideFromWhatTheBoxAppliedPastAToolsPendingWrite)
{
    const uint32_t audio = blk::window(0, blk::win::kAudio);
    const std::pair<uint32_t, uint16_t> rows[] = {{blk::kBlackScreen, 1}, {audio, 0x80FF}, {blk::kKeyLock, 1}};
    store->setU16(audio, 0);
    SecondWriter tool = SecondWriter::inProcess();
    for (const auto& r : rows)
        ASSERT_EQ(tool.writeBlock(r.first, {uint8_t(r.second), uint8_t(r.second >> 8)}), 0);
    const auto pressed = [] { return Panel::changeFlag() == 1 && (Panel::clearFlag(), true); };
    Script s;
    toTool(s, 0).key(OK).until(pressed, "black screen").focus("toolButton2").key(OK).until(pressed, "mute");
    s.key(Back).choose("Button_lock").until([] { return g_mainwindow->lock_state == 1; }, "locked");
    ASSERT_TRUE(s.run());
    for (const auto& r : rows)
        EXPECT_EQ(blk::get16(testBlock(store), r.first), r.second) << std::hex << r.first;
}

TEST_F(PanelTest, MuteToolUsesWindowZeroWhenTheAudioWindowByteIsOutOfRange)
{
    testBlock(store)[0x840] = 9;
    store->setU16(kWindowBase, 1);
    testBlock(store)[kWindowBase + 20] = 0;
    testBlock(store)[kWindowBase + 21] = 0;
    Script s;
    toTool(s, 1).key(OK).until([this] { return testBlock(store)[kWindowBase + 21] == 0x80; }, "audio of window 0 on");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(testBlock(store)[kWindowBase + 20], 0xFF);
    EXPECT_EQ(store->u16(0x840), 0);
    EXPECT_EQ(Panel::changeFlag(), 1);
}

// OK on a slot of the store bar stores the block there before anything is shown; the check mark
// follows at the refresh the store's hand-over raises. A slot whose file cannot be written keeps
// the mode it held and gets no check mark.
TEST_F(PanelTest, StoreBarStoresTheSlotBeforeItsCheckMark)
{
    MainWindow* root = g_mainwindow;
    fillSavedMode(store, 3, 0x11);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/modes/custom_mode4.atomic-tmp"))));
    memset(testBlock(store) + kModeBodyStart, 0x5C, 16);
    Script s;
    toTool(s, 3)
        .key(OK)
        .until([root] { return root->save_state == 1 && root->widget_mode && root->widget_mode->isVisible(); }, "store bar")
        .act([root] {
            EXPECT_EQ(root->bar_index, 3) << "the bar starts on the first saved slot";
            Panel::shot(g_mainwindow, QStringLiteral("root_bar_store"));
        })
        .key(OK)
        .until([] { return g_mode_select.load() == 3; }, "slot 4 clicked")
        .act([this, root] {
            EXPECT_EQ(root->pending_tip, 0);
            EXPECT_EQ(root->label_mode_title->text(), QString::fromUtf8("保存失败")) << "the bar says so";
            EXPECT_EQ(store->mode[3][2], 0x11) << "the mode it held";
            EXPECT_EQ(Panel::changeFlag(), 0);
            Panel::refresh(1);
            EXPECT_EQ(g_tip_flag.load(), 0) << "no check mark";
        })
        .keys({Right, Right, Left, Right})
        .until([root] { return root->bar_index == 5; }, "slot 6")
        .act([this] {
            // A tool's byte, written and not yet applied, is not the box's to store.
            const uint8_t toolByte = 0x77;
            ASSERT_EQ(store->VyrRamParaDeal(&toolByte, 1, kModeBodyStart), 0u);
        })
        .key(OK)
        .until([this] { return store->VyrUserModeSaved(5); }, "mode 6 stored")
        .act([root] {
            EXPECT_EQ(g_tip_flag.load(), 0) << "the check mark waits for the refresh";
            EXPECT_EQ(Panel::changeFlag(), 1);
            EXPECT_EQ(root->save_state, 1) << "the bar is ready for the next store";
            Panel::refresh(1); // the scaler has applied the change and signals
        })
        .until([] { return g_tip_flag.load() == 1 && QApplication::activeWindow() == g_tip.data(); },
               "check mark shown over the root menu");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(store->u16(0x362), 6);
    EXPECT_EQ(store->mode[5][2], 0x5C);
    const QByteArray file = TestRoot::readFile("/data/modes/custom_mode6");
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(uint8_t(file[0]), 0xAA);
    EXPECT_EQ(uint8_t(file[2]), 0x5C);
}

TEST_F(PanelTest, RecallBarCopiesTheSavedRecordIntoTheBlock)
{
    MainWindow* root = g_mainwindow;
    fillSavedMode(store, 4, 0x42);
    fillSavedMode(store, 9, 0x99);
    const uint8_t toolStore = 7; // a tool's store request, written and not yet applied
    ASSERT_EQ(store->VyrRamParaDeal(&toolStore, 1, 0x364), 0u);
    Script s;
    toTool(s, 2)
        .key(OK)
        .until([root] { return root->call_state == 1 && root->bar_index == 4; }, "recall bar on the first saved slot")
        .act([] { Panel::shot(g_mainwindow, QStringLiteral("root_bar_recall")); })
        .key(Right)
        .until([root] { return root->bar_index == 9; }, "right skips the empty slots")
        .key(Right)
        .until([root] { return root->bar_index == 4; }, "and wraps to the first saved one")
        .key(OK)
        .until([this] { return store->u16(0x362) == 5; }, "mode 5 recalled");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(testBlock(store)[kModeBodyStart], 0x42);
    EXPECT_EQ(testBlock(store)[kBlockSize - 1], 0x42);
    EXPECT_EQ(Panel::changeFlag(), 1);
    EXPECT_EQ(root->pending_tip, 1);
    EXPECT_EQ(store->u16(0x364), 7) << "left to the tool's apply";
    // The recalled slot, picked and in use: its badge is read on the pick's colour.
    ASSERT_TRUE(g_mode[4]->findChild<QLabel*>(QStringLiteral("label_using"))->isVisibleTo(g_mode[4]));
    QStringList bad = Panel::lowContrast(root->widget_mode, QStringLiteral("recall bar, mode 5 picked"));

    // A tool saves mode 8 while the bar is open again: the bar shows it at the refresh.
    root->pending_tip = 0;
    const uint8_t saved[2] = {0xAA, 0xAA};
    ASSERT_EQ(store->VyrModeUserRamParaDeal(saved, 2, 0x8000), 0u);
    ASSERT_EQ(SecondWriter::inProcess().request(0xA0, {11, 0x04, 0, 0x04}), 0);
    Panel::refresh(2);
    ASSERT_TRUE(root->call_state == 1 && root->widget_mode && root->widget_mode->isVisible());
    // Each slot as drawn, against slot 10 (saved, neither picked nor in use) and slot 1 (empty).
    // Drawn straight into a 32-bit picture: a converted grab this size goes through Qt's thread pool.
    QImage bar(root->widget_mode->size(), QImage::Format_RGB32);
    root->widget_mode->render(&bar);
    auto drawn = [&bar](int slot) { return Panel::commonestColour(bar, g_mode[slot]->geometry()); };
    EXPECT_EQ(drawn(7), drawn(9)) << "mode 8 shown saved";
    EXPECT_NE(drawn(7), drawn(0));
    // Mode 5 still in use, its slot no longer picked.
    ASSERT_TRUE(g_mode[4]->findChild<QLabel*>(QStringLiteral("label_using"))->isVisibleTo(g_mode[4]));
    EXPECT_EQ(drawn(4), drawn(9));
    bad << Panel::lowContrast(root->widget_mode, QStringLiteral("recall bar, refreshed"));
    EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();
}

TEST_F(PanelTest, RecallBarWithNoSavedModeStaysOnTheFirstSlot)
{
    MainWindow* root = g_mainwindow;
    Script s;
    toTool(s, 2)
        .key(OK)
        .until([root] { return root->call_state == 1; }, "recall bar")
        .keys({Right, Left, Left})
        .act([] { Panel::pump(10); })
        .until([root] { return root->bar_index == 0; }, "still slot 1")
        .key(OK)
        .act([] { Panel::pump(10); })
        .until([this] { return store->u16(0x362) == 0 && Panel::changeFlag() == 0; }, "an empty slot recalls nothing");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, BackLeavesTheBarThenTheToolsRowThenTheMenu)
{
    MainWindow* root = g_mainwindow;
    Script s;
    toTool(s, 3)
        .key(OK)
        .until([root] { return root->save_state == 1; }, "store bar")
        .key(Back)
        .until([root] { return root->save_state == 0 && !root->widget_mode->isVisible() && root->ui->widget->isVisible(); },
               "bar closed, tools row still shown")
        .act([root] { EXPECT_EQ(root->focus_widget, root->ui->toolButton4); })
        .key(Back)
        .until([root] { return !root->ui->widget->isVisible() && root->focus_widget == root->ui->tools; },
               "tools row hidden, focus on tools")
        .key(Back)
        .until([] { return g_page_focus.load() == 0 && g_lockwindow; }, "home screen");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, RootMenuPicturesFollowTheLanguage)
{
    MainWindow* root = g_mainwindow;
    for (int language : {0, 1, 2, 3, 4, 7}) {
        g_language = uint8_t(language);
        root->language_changed();
        // The pictures' captions are painted to be read at this size.
        for (QPushButton* entry : {root->ui->machinestate, root->ui->inputchoose, root->ui->custommode, root->ui->option})
            EXPECT_EQ(entry->iconSize(), QSize(PictureSize::kMenuWidth, PictureSize::kMenuHeight)) << language;
        EXPECT_EQ(root->ui->toolButton1->iconSize(), QSize(PictureSize::kToolWidth, PictureSize::kToolHeight));
        const QImage expected = QImage(Pictures::lang("option", language)).convertToFormat(QImage::Format_ARGB32);
        const QImage shown = root->ui->option->icon().pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(shown, expected) << language;
        Panel::shot(root, QStringLiteral("root_menu_lang%1").arg(language));
    }
}

TEST_F(PanelTest, ModeFromTheBarLeavesTheRootMenuWithAVisibleFocusAndIdleTools)
{
    MainWindow* root = g_mainwindow;
    fillSavedMode(store, 0, 0x11);
    auto idle = [](QPushButton* tool, const char* name) {
        const QImage expected = QImage(Pictures::lang(name)).convertToFormat(QImage::Format_ARGB32);
        return tool->icon().pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32) == expected;
    };
    for (int tool : {2, 3}) {
        QPushButton* button = tool == 2 ? root->ui->toolButton3 : root->ui->toolButton4;
        Script s;
        if (tool == 2)
            toTool(s, tool);
        else // from the tools row the first round left: hide it, show it again, walk to the tool
            s.key(Back).choose("tools").focus("toolButton4");
        s.key(OK)
            .until([root] { return root->widget_mode->isVisible(); }, "bar open")
            .act([&] { EXPECT_FALSE(idle(button, tool == 2 ? "uncall" : "unsave")) << "the open bar marks its tool"; })
            .key(Mode)
            .until([] { return g_custommode && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
            .key(Back)
            .until([] { return g_lockwindow && QApplication::activeWindow() == g_lockwindow.data(); }, "home screen")
            .key(OK)
            .until([root] { return QApplication::activeWindow() == root; }, "root menu again");
        ASSERT_TRUE(s.run()) << tool;
        EXPECT_EQ(root->call_state + root->save_state, 0);
        EXPECT_FALSE(root->widget_mode->isVisible());
        EXPECT_EQ(root->focus_widget, button);
        EXPECT_EQ(button->styleSheet(), root->style_tool_focused) << tool;
        EXPECT_TRUE(idle(root->ui->toolButton3, "uncall") && idle(root->ui->toolButton4, "unsave")) << tool;
    }
}

TEST_F(PanelTest, EveryEntryShowsTheFlatDarkFaceBeforeItEverHadTheFocus)
{
    // The platform's raised button would draw light and dark edges; the menu's own style fills
    // the face up to the edge with the dark colour.
    MainWindow* root = g_mainwindow;
    root->ui->widget->show();
    const QRgb face = qRgb(33, 36, 53);
    for (QPushButton* b : {root->ui->inputchoose, root->ui->custommode, root->ui->option, root->ui->Button_lock,
                           root->ui->tools, root->ui->toolButton1, root->ui->toolButton2, root->ui->toolButton3,
                           root->ui->toolButton4}) {
        const QImage image = b->grab().toImage();
        const int y = image.height() / 2;
        EXPECT_EQ(image.pixel(0, y) & 0xFFFFFF, face & 0xFFFFFF) << b->objectName().toStdString();
        EXPECT_EQ(image.pixel(image.width() - 1, y) & 0xFFFFFF, face & 0xFFFFFF) << b->objectName().toStdString();
    }
}

TEST_F(PanelTest, SlotNumbersSitInsideTheirSlotAboveTheFocusBorder)
{
    MainWindow* root = g_mainwindow;
    root->on_tools_clicked();
    root->on_toolButton4_clicked(); // store bar, slot 1 focused
    ASSERT_TRUE(root->widget_mode->isVisible());
    const QList<QLabel*> numbers = root->widget_mode->findChildren<QLabel*>(QStringLiteral("label_slot_number"));
    ASSERT_EQ(numbers.size(), 16);
    const QImage bar = root->widget_mode->grab().toImage();
    auto count = [&bar](const QRect& r, QRgb colour) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += (bar.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
        return n;
    };
    const QList<QObject*> order = root->widget_mode->children();
    for (int i = 0; i < 16; ++i) {
        QLabel* number = numbers[i];
        const QRect slot = g_mode[i]->geometry();
        // Clear of the 2 px focus border and of the 5 px rounded corner.
        EXPECT_TRUE(slot.adjusted(3, 3, -3, -3).contains(number->geometry())) << i;
        EXPECT_GT(order.indexOf(number), order.indexOf(root->mode_buttons[i])) << "drawn over the slot's button " << i;
        const QRect r = number->geometry();
        EXPECT_GT(count(r, qRgb(0x47, 0x77, 0xFF)), r.width() * r.height() / 2) << i;
        EXPECT_EQ(count(r, qRgb(255, 171, 84)), 0) << "focus border over number " << i;
    }
    Panel::shot(root, QStringLiteral("root_bar_store_focus"));
}
