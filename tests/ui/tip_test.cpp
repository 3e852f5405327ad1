// The pop-up: content by type and language, 300 ticks of life, keys taken while it is up.
#include "panel_fixture.h"

#include "base/global.h"
#include "ui/lockwindow.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/tip.h"

#include <QApplication>
#include <QLabel>

TEST_F(PanelTest, CheckMarkShowsForThreeHundredTicksWithoutHoldingTheCaller)
{
    g_tip->tip_create(1); // returns at once: nothing waits for the pop-up
    EXPECT_EQ(g_tip_flag.load(), 1);
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->geometry(), QRect(100, 60, 120, 120));
    ASSERT_NE(g_tip->contentLabel(), nullptr);
    EXPECT_FALSE(g_tip->contentLabel()->pixmap(Qt::ReturnByValue).isNull());
    Panel::shot(g_tip, QStringLiteral("tip_check"));
    Panel::tick(299);
    EXPECT_TRUE(g_tip->isVisible());
    Panel::tick(1);
    EXPECT_FALSE(g_tip->isVisible());
    EXPECT_EQ(g_tip_flag.load(), 0);
}

TEST_F(PanelTest, UsbMessagesFollowTheLanguage)
{
    g_language = 2;
    g_tip->tip_create(3);
    EXPECT_EQ(g_tip->contentLabel()->text(), QString::fromUtf8("Драйвер USB подключен,\nпожалуйста,подождите..."));
    EXPECT_EQ(g_tip->geometry(), QRect(50, 60, 220, 120));
    Panel::shot(g_tip, QStringLiteral("tip_usb_in_ru"));
    g_language = 7;
    g_tip->tip_create(4);
    EXPECT_EQ(g_tip->contentLabel()->text(), QStringLiteral("USB drive is unplugged."));
    g_language = 4;
    g_tip->tip_create(5);
    EXPECT_EQ(g_tip->contentLabel()->text(), QString::fromUtf8("正在讀取中，請稍候…"));
    Panel::shot(g_tip, QStringLiteral("tip_usb_reading_tn"));
}

TEST_F(PanelTest, OtherTypesOnlyRemoveTheContent)
{
    for (int type : {2, 0, 6, -1}) {
        g_tip->tip_create(type);
        EXPECT_EQ(g_tip->contentLabel(), nullptr);
        EXPECT_FALSE(g_tip->isVisible()) << type;
        EXPECT_EQ(g_tip_flag.load(), 0);
    }
}

TEST_F(PanelTest, SecondPopUpReplacesTheFirstWithinItsThreeSeconds)
{
    g_tip->tip_create(1);
    Panel::tick(100);
    g_tip->tip_create(4);
    EXPECT_TRUE(g_tip->contentLabel()->pixmap(Qt::ReturnByValue).isNull());
    Panel::tick(199);
    EXPECT_TRUE(g_tip->isVisible());
    Panel::tick(1);
    EXPECT_FALSE(g_tip->isVisible()) << "both together last 300 ticks";
}

TEST_F(PanelTest, KeysReachThePopUpAndDoNothingWhileItIsUp)
{
    using namespace PanelKey;
    Script s;
    s.key(OK)
        .until([] { return g_page_focus.load() == 1 && QApplication::activeWindow() == g_mainwindow.data(); }, "root menu")
        .act([] { g_tip->tip_create(1); })
        .until([] { return QApplication::activeWindow() == g_tip.data(); }, "pop-up takes the keys")
        .keys({OK, Back, Mode})
        .act([] { Panel::pump(20); })
        .until([] { return g_page_focus.load() == 1 && !PageNav::page(2) && g_lockwindow.isNull() && !PageNav::page(4); }, "nothing happened")
        .act([] { Panel::tick(300); })
        .until([] { return QApplication::activeWindow() == g_mainwindow.data(); }, "root menu active again")
        .key(OK)
        .until([] { return g_page_focus.load() == 2; }, "keys work again");
    ASSERT_TRUE(s.run());
}
