// Moving between the pages with the panel keys: page codes, pointers, BACK and MODE.
#include "panel_fixture.h"
#include "panel_checks.h"

#include "ui/pages_picture/custommode.h"
#include "base/global.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"
#include "ui/mainwindow.h"
#include "ui/option.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/pages_settings/quality.h"
#include "test_root.h"
#include "ui/ui_mainwindow.h"
#include "params/vyrrampara.h"
#include "store_face.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

using namespace PanelKey;

namespace {
}

TEST_F(PanelTest, HomeScreenOpensRootMenuAndBackReturnsToANewHomeScreen)
{
    QPointer<LockWindow> first = g_lockwindow;
    Panel::shot(first, QStringLiteral("home"));
    Script s;
    s.key(Left).key(Right).key(Back)
        .until([] { return Panel::focusIs(0) && g_lockwindow; }, "left, right and BACK leave the home screen on top")
        .key(OK)
        .until([] { return Panel::focusIs(1) && !g_lockwindow; }, "OK opens the root menu")
        .act([] { Panel::shot(g_mainwindow, QStringLiteral("root_menu")); })
        .key(Back)
        .until([] { return Panel::focusIs(0) && g_lockwindow; }, "BACK shows a home screen again");
    ASSERT_TRUE(s.run());
    Panel::pump(10);
    EXPECT_TRUE(first.isNull()) << "the first home screen is deleted when left";
    EXPECT_EQ(QApplication::activeWindow(), g_lockwindow.data());
}

TEST_F(PanelTest, RootMenuFocusWrapsOverItsSixEntries)
{
    MainWindow* root = g_mainwindow;
    Script s;
    s.key(OK).until([] { return Panel::focusIs(1); }, "root menu")
        .key(Left)
        .until([root] { return root->ui_select == 5 && root->focus_widget == root->ui->tools; }, "left on entry 0 -> tools")
        .act([root] { EXPECT_EQ(root->ui->tools->styleSheet(), root->style_tool_focused); })
        .keys({Right, Right, Right, Right})
        .until([root] { return root->ui_select == 3; }, "right wraps to entry 0 and on to option")
        .key(Right)
        .until([root] { return root->ui_select == 4 && root->focus_widget == root->ui->Button_lock; }, "option -> lock")
        .act([root] {
            EXPECT_EQ(root->ui->option->styleSheet(), root->style_menu_normal);
            EXPECT_EQ(root->ui->Button_lock->styleSheet(), root->style_tool_focused);
        });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, EachMenuEntryOpensItsPageAndBackReturnsToTheRootMenu)
{
    const int codes[4] = {2, 3, 4, 5};
    const char* names[4] = {"machinestate", "inputchoose", "custommode", "option"};
    Script s;
    s.key(OK).until([] { return Panel::focusIs(1); }, "root menu");
    for (int i = 0; i < 4; ++i) {
        const int code = codes[i];
        const QString name = QLatin1String(names[i]);
        s.choose(names[i])
            .until([code] { return Panel::focusIs(code) && PageNav::page(code) && QApplication::activeWindow() == PageNav::page(code); },
                   "entry opens page " + std::to_string(code))
            .act([code, name] {
                EXPECT_EQ(g_mode_shortcut_key.load(), 0);
                Panel::shot(PageNav::page(code), QStringLiteral("page_") + name);
            })
            .key(Back)
            .until([code] { return Panel::focusIs(1) && !PageNav::page(code); }, "BACK returns to the root menu")
            .until([] { return QApplication::activeWindow() == g_mainwindow.data(); }, "root menu active again");
    }
    ASSERT_TRUE(s.run(8000));
}

TEST_F(PanelTest, ModeOnAThirdLevelPageClosesEveryPageAboveTheRootMenu)
{
    QPointer<QWidget> option, picture, leaf;
    Script s;
    s.key(OK)
        .choose("option")
        .until([] { return Panel::focusIs(5) && g_option; }, "settings menu open")
        .act([] { Panel::openLater([]() -> VyrPage* { return new ImageQuality; }); })
        .until([] { return Panel::focusIs(11) && QApplication::activeWindow() == g_imagequality.data(); }, "picture menu open")
        .act([] { Panel::openLater([]() -> VyrPage* { return new quality; }); })
        .until([] { return Panel::focusIs(19) && QApplication::activeWindow() == g_quality.data(); }, "quality page open")
        .act([&] {
            option = g_option.data();
            picture = g_imagequality.data();
            leaf = g_quality.data();
        })
        .key(Mode)
        .until([] { return Panel::focusIs(4) && g_custommode && QApplication::activeWindow() == g_custommode.data(); },
               "user-mode page on top")
        .act([&] {
            EXPECT_FALSE(g_option || g_imagequality || g_quality) << "no pointer left to a closed page";
            EXPECT_EQ(g_mode_shortcut_key.load(), 1);
        })
        .until([&] { return option.isNull() && picture.isNull() && leaf.isNull(); }, "closed pages deleted")
        .key(Mode)
        .act([] { Panel::pump(20); })
        .until([] { return Panel::focusIs(4) && g_custommode; }, "MODE ignored on the user-mode page")
        .key(Back)
        .until([] { return Panel::focusIs(0) && g_lockwindow && !g_custommode; }, "BACK opens a new home screen")
        .act([] { EXPECT_EQ(g_mode_shortcut_key.load(), 0); });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, ModeOnTheHomeScreenOpensTheUserModePage)
{
    Script s;
    s.key(Mode)
        .until([] { return Panel::focusIs(4) && g_custommode && !g_lockwindow; }, "user-mode page replaces the home screen")
        .act([] { Panel::shot(g_custommode, QStringLiteral("page_custommode_by_mode")); })
        .key(Back)
        .until([] { return Panel::focusIs(0) && g_lockwindow; }, "its BACK opens the home screen");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, ModeOnTheRootMenuOpensUserModesAndItsBackLeadsHome)
{
    Script s;
    s.keys({OK, Mode})
        .until([] { return Panel::focusIs(4) && g_custommode && g_mode_shortcut_key.load() == 1; }, "MODE from the root menu")
        .key(Back)
        .until([] { return Panel::focusIs(0) && g_lockwindow; }, "home screen");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, KeyLockBlocksTheMenuAndModeButIsSaved)
{
    MainWindow* root = g_mainwindow;
    Script s;
    s.key(OK)
        .choose("Button_lock")
        .until([root] { return root->lock_state == 1; }, "locked")
        .keys({Right, Right, OK, Mode})
        .act([] { Panel::pump(30); })
        .until([] { return Panel::focusIs(1) && !g_machinestate && !g_custommode; }, "nothing opens while locked")
        .act([] { EXPECT_EQ(g_mode_shortcut_key.load(), 0) << "no MODE flag left behind"; });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(store->u16(0x304), 1);
    // Saved at once, not with some later change.
    Panel::pump(20);
    EXPECT_EQ(uint8_t(TestRoot::readFile("/data/ram_device_info").at(2 + 4)), 1);
}

TEST_F(PanelTest, CropPageReturnsToInputChoiceWhenOpenElseToSettings)
{
    Script s;
    s.key(OK)
        .choose("inputchoose")
        .until([] { return Panel::focusIs(3) && g_inputchoose; }, "input choice page")
        .act([] { Panel::openLater([]() -> VyrPage* { return new InputCut; }); })
        .until([] { return Panel::focusIs(7) && QApplication::activeWindow() == g_inputcut.data(); }, "crop page")
        .key(Back)
        .until([] { return Panel::focusIs(3) && !g_inputcut && QApplication::activeWindow() == g_inputchoose.data(); },
               "back to the input choice page")
        .key(Back)
        .until([] { return Panel::focusIs(1); }, "root menu")
        .choose("option")
        .until([] { return Panel::focusIs(5) && g_option; }, "settings menu")
        .act([] { Panel::openLater([]() -> VyrPage* { return new InputCut; }); })
        .until([] { return Panel::focusIs(7) && QApplication::activeWindow() == g_inputcut.data(); }, "crop page")
        .key(Back)
        .until([] { return Panel::focusIs(5) && !g_inputcut; }, "back to the settings menu");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, LanguageChangedByTheProtocolReachesChildAtOnceAndParentOnBack)
{
    g_language = 0;
    Script s;
    s.key(OK)
        .choose("option")
        .until([] { return Panel::focusIs(5); }, "settings menu")
        .act([] { Panel::openLater([]() -> VyrPage* { return new OutputSet; }); })
        .until([] { return Panel::focusIs(6) && QApplication::activeWindow() == g_outputset.data(); }, "output menu")
        .act([this] {
            EXPECT_EQ(Panel::title(g_option), QStringLiteral("设置"));
            testBlock(store)[0x300] = 1;
            Panel::refresh(1);
        })
        .until([] { return Panel::title(g_outputset) == QStringLiteral("Output Seeting"); }, "child re-texted at once")
        .act([] { EXPECT_EQ(Panel::title(g_option), QStringLiteral("设置")) << "parent not yet"; })
        .key(Back)
        .until([] { return Panel::focusIs(5) && Panel::title(g_option) == QStringLiteral("Setting"); }, "parent re-texted on BACK");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, DesktopEscapeAndEnterDoNotCloseAPageBehindTheNavigation)
{
    Script s;
    s.key(OK)
        .choose("option")
        .until([] { return Panel::focusIs(5) && QApplication::activeWindow() == g_option.data(); }, "settings menu")
        .keys({int(Qt::Key_Escape), int(Qt::Key_Return), int(Qt::Key_Enter)})
        .act([] { Panel::pump(30); })
        .until([] { return Panel::focusIs(5) && g_option && g_option->isVisible(); }, "still open with its pointer and code");
    ASSERT_TRUE(s.run());
}
