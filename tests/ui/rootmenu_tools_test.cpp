// The root menu's tools row: black screen, mute, key lock, and the user-mode bar.
#include "panel_fixture.h"

#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "base/global.h"
#include "ui/lockwindow.h"
#include "ui/mainwindow.h"
#include "ui/panelkeys.h"
#include "ui/pictures.h"
#include "test_root.h"
#include "ui/tip.h"
#include "ui/ui_mainwindow.h"
#include "params/vyrrampara.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <cstring>

using namespace PanelKey;

namespace {
uint8_t& changeFlag() { return c331_manage::p_c331_manage->change_flag; }

// Root menu, tools row shown, focus on the tool with the given index (0-3).
Script& toTool(Script& s, int tool)
{
    MainWindow* root = g_mainwindow;
    s.keys({OK, Left, OK}).until([root] { return root->ui_select == 0 && root->focus_widget == root->ui->toolButton1; },
                                 "tools row with the first tool focused");
    for (int i = 0; i < tool; ++i)
        s.key(Right);
    return s.until([root, tool] { return root->ui_select == tool; }, "tool focused");
}

void saveMode(VyrRamPara* store, int m, uint8_t fill)
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
            EXPECT_EQ(changeFlag(), 1);
            changeFlag() = 0;
            Panel::shot(g_mainwindow, QStringLiteral("root_tools_black"));
        })
        .key(OK)
        .until([this] { return store->u16(0x844) == 0; }, "screen shown again")
        .act([] { EXPECT_EQ(changeFlag(), 1); });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, MuteToolUsesWindowZeroWhenTheAudioWindowByteIsOutOfRange)
{
    store->block[0x840] = 9;
    store->setU16(kWindowBase, 1);
    store->block[kWindowBase + 20] = 0;
    store->block[kWindowBase + 21] = 0;
    Script s;
    toTool(s, 1).key(OK).until([this] { return store->block[kWindowBase + 21] == 0x80; }, "audio of window 0 on");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(store->block[kWindowBase + 20], 0xFF);
    EXPECT_EQ(store->u16(0x840), 0);
    EXPECT_EQ(changeFlag(), 1);
}

TEST_F(PanelTest, StoreBarRequestsTheSlotAndTheRefreshStoresIt)
{
    MainWindow* root = g_mainwindow;
    memset(store->block + kModeBodyStart, 0x5C, 16);
    Script s;
    toTool(s, 3)
        .key(OK)
        .until([root] { return root->save_state == 1 && root->widget_mode && root->widget_mode->isVisible(); }, "store bar")
        .act([root] {
            EXPECT_EQ(root->bar_index, 0) << "no mode saved: the bar starts on slot 1";
            Panel::shot(g_mainwindow, QStringLiteral("root_bar_store"));
        })
        .keys({Right, Right, Left, Right})
        .until([root] { return root->bar_index == 2; }, "slot 3")
        .key(OK)
        .until([this] { return store->u16(0x364) == 3; }, "save request for mode 3")
        .act([root] {
            EXPECT_EQ(changeFlag(), 1);
            EXPECT_EQ(root->save_state, 1) << "the bar is ready for the next store";
            Panel::refresh(1); // the scaler has applied the change and signals
        })
        .until([this] { return store->u16(0x364) == 0; }, "request served")
        .until([] { return g_tip_flag.load() == 1 && QApplication::activeWindow() == g_tip.data(); },
               "check mark shown over the root menu");
    ASSERT_TRUE(s.run());
    EXPECT_TRUE(store->VyrUserModeSaved(2));
    EXPECT_EQ(store->u16(0x362), 3);
    EXPECT_EQ(store->mode[2][2], 0x5C);
    const QByteArray file = TestRoot::readFile("/data/modes/custom_mode3");
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(uint8_t(file[0]), 0xAA);
    EXPECT_EQ(uint8_t(file[2]), 0x5C);
}

TEST_F(PanelTest, StoringTheSlotAlreadyRequestedAsksNothingAgain)
{
    MainWindow* root = g_mainwindow;
    store->setU16(0x364, 1);
    Script s;
    toTool(s, 3).keys({OK, OK}).until([] { return g_mode_select.load() == 0; }, "slot 1 clicked");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(changeFlag(), 0);
    EXPECT_EQ(root->pending_tip, 0);
}

TEST_F(PanelTest, RecallBarCopiesTheSavedRecordIntoTheBlock)
{
    MainWindow* root = g_mainwindow;
    saveMode(store, 4, 0x42);
    saveMode(store, 9, 0x99);
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
    EXPECT_EQ(store->block[kModeBodyStart], 0x42);
    EXPECT_EQ(store->block[kBlockSize - 1], 0x42);
    EXPECT_EQ(changeFlag(), 1);
    EXPECT_EQ(root->pending_tip, 1);
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
        .until([this] { return store->u16(0x362) == 0 && changeFlag() == 0; }, "an empty slot recalls nothing");
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
    const QSize inputChoice[8] = {{64, 64}, {90, 64}, {96, 76}, {96, 76}, {64, 64}, {90, 64}, {90, 64}, {90, 64}};
    for (int language : {0, 1, 2, 3, 4, 7}) {
        g_language = uint8_t(language);
        root->language_changed();
        EXPECT_EQ(root->ui->inputchoose->iconSize(), inputChoice[language]) << language;
        const QImage shown = root->ui->option->icon().pixmap(QSize(128, 128)).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage expected = QImage(Pictures::lang("option", language)).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(shown, expected) << language;
        Panel::shot(root, QStringLiteral("root_menu_lang%1").arg(language));
    }
}
