// The settings menu and the menus below it: the way to each entry by keys, what taps do, the
// texts and pictures in each language, the output menu's size line, the serial page, the advanced
// menu's recovery entry and access code, and requests from other threads.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "managers.h"
#include "test_root.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "ui/linkcom.h"
#include "ui/linkoption.h"
#include "ui/option.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/pages_settings/ledset.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <memory>
#include <thread>

using namespace PanelKey;

namespace {


// From the home screen to the settings menu.
Script& fromHomeToSettings(Script& s)
{
    return s.key(OK).choose("option").until([] { return Panel::onTop(5); }, "settings menu");
}


QString focusedStyle() { return QStringLiteral("border:2px solid rgb(255,171,84)"); }
// The box of an entry that cannot be used now.
QString greyBox() { return PanelWidgets::boxStyle(PanelWidgets::kUnavailable); }

}

TEST_F(PanelTest, EachSettingsEntryOpensItsPageByKeysAndBackReturnsToTheMenu)
{
    // Entry index, page code, and what is on that entry after wrapping left from entry 0.
    const int codes[8] = {6, 7, 9, 10, 11, 16, 24, 12};
    Script s;
    fromHomeToSettings(s);
    for (int k = 0; k < 8; ++k) {
        for (int i = 0; i < k; ++i)
            s.key(Right);
        s.key(OK)
            .until([code = codes[k]] { return Panel::onTop(code); }, "entry " + std::to_string(k))
            .key(Back)
            .until([] { return Panel::onTop(5); }, "back from entry " + std::to_string(k))
            .act([k] { EXPECT_EQ(g_option->ui_select, k) << "the focus stays where it was"; });
        for (int i = 0; i < k; ++i)
            s.key(Left);
        s.until([] { return g_option->ui_select == 0; }, "focus on the first entry");
    }
    // Left on the first entry focuses the last, right on the last the first.
    s.key(Left)
        .until([] { return g_option->ui_select == 7; }, "wrap to the advanced entry")
        .act([] {
            EXPECT_TRUE(g_option->AdvanceButton->styleSheet().contains(focusedStyle()));
            EXPECT_FALSE(g_option->output_set->styleSheet().contains(focusedStyle()));
        })
        .key(Right)
        .until([] { return g_option->ui_select == 0; }, "wrap to the output entry")
        .key(Back)
        .until([] { return Panel::onTop(1) && !g_option; }, "root menu");
    ASSERT_TRUE(s.run(15000));
}

TEST_F(PanelTest, TapsOpenTheSettingsEntriesExceptSmartMapping)
{
    Script s;
    fromHomeToSettings(s);
    s.act([] { g_option->smart_mapping->click(); })
        .act([] { Panel::pump(30); })
        .act([] { EXPECT_EQ(g_page_focus.load(), 5) << "the disabled mapping entry takes no tap"; })
        .act([] { QMetaObject::invokeMethod(g_option->image_quality, "click", Qt::QueuedConnection); })
        .until([] { return Panel::onTop(11); }, "picture menu by a tap")
        .act([] { EXPECT_EQ(g_option->ui_select, 0) << "a tap does not move the focus frame"; })
        .key(Back)
        .until([] { return Panel::onTop(5); }, "settings menu again")
        // OK still opens the disabled entry.
        .choose("smart_mapping")
        .until([] { return Panel::onTop(24); }, "smart mapping by OK");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, EscapeAndEnterNeverCloseAMenuBehindTheNavigation)
{
    Script s;
    fromHomeToSettings(s);
    s.keys({Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
        .act([] { Panel::pump(30); })
        .act([] {
            EXPECT_TRUE(Panel::onTop(5));
            EXPECT_TRUE(g_option && g_option->isVisible());
        })
        .choose("output_set")
        .until([] { return Panel::onTop(6); }, "output menu")
        .keys({Qt::Key_Escape, Qt::Key_Return})
        .act([] { Panel::pump(30); })
        .act([] { EXPECT_TRUE(Panel::onTop(6)); });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, SettingsPicturesExistForEveryLanguageWithTheEnglishAdvancedException)
{
    std::unique_ptr<Option> menu(new Option);
    const char* names[] = {"output_set", "input_cut", "image_layout", "link_set", "image_quality", "test_chart",
                           "smart_mapping", "AdvanceButton"};
    for (const char* prefix : {"", "en_", "ru_", "vn_", "tn_"})
        for (const char* name : names) {
            const QString path = QStringLiteral(":/png/") + QLatin1String(prefix) + QLatin1String(name) + QStringLiteral(".png");
            const bool englishAdvanced = QLatin1String(prefix) == QLatin1String("en_") && QLatin1String(name) == QLatin1String("AdvanceButton");
            EXPECT_EQ(QFile::exists(path), !englishAdvanced) << path.toStdString();
        }
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/png/en_advance_option.png")));
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/png/OK_Enter.png")));
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/png/back_return.png")));
    // Shown widths per entry and language column (a language outside 0-4 takes column 1); 60 high.
    QPushButton* const entries[8] = {menu->output_set, menu->input_cut,     menu->image_layout,  menu->link_set,
                                     menu->image_quality, menu->test_chart, menu->smart_mapping, menu->AdvanceButton};
    const int widths[8][5] = {
        {55, 75, 55, 55, 55}, {55, 70, 70, 70, 55}, {55, 70, 55, 55, 55}, {55, 70, 70, 70, 55},
        {55, 75, 55, 55, 55}, {55, 55, 55, 55, 55}, {55, 55, 55, 55, 55}, {55, 54, 70, 54, 55},
    };
    for (int language : {0, 1, 2, 3, 4, 9}) {
        g_language = uint8_t(language);
        menu->language_changed();
        for (int e = 0; e < 8; ++e)
            EXPECT_EQ(entries[e]->iconSize(), QSize(widths[e][language == 9 ? 1 : language], 60))
                << names[e] << " language " << language;
        EXPECT_FALSE(menu->AdvanceButton->icon().isNull());
        EXPECT_FALSE(menu->label_note_OK->pixmap(Qt::ReturnByValue).isNull());
    }
    EXPECT_EQ(Panel::title(menu.get()), QStringLiteral("Setting")); // language 9 shows English
}

TEST_F(PanelTest, OutputMenuShowsTheLedSizeUnsignedAndAfterTheSizePageCloses)
{
    store->setU16(blk::kLedWidth, 1920);
    store->setU16(blk::kLedHeight, 1080);
    g_language = 1;
    Script s;
    fromHomeToSettings(s);
    s.choose("output_set")
        .until([] { return Panel::onTop(6); }, "output menu")
        .act([] {
            EXPECT_EQ(Panel::title(g_outputset), QStringLiteral("Output Seeting"));
            EXPECT_EQ(g_outputset->label_info->text(), QStringLiteral("LED Screen can be set:1920x1080"));
            EXPECT_EQ(g_outputset->Button_ledset->text(), QStringLiteral("LED Setting"));
        })
        .act([this] {
            {
                ScalerHandOver h; // a PC tool's size, applied by the scaler's pass
                store->setU16(blk::kLedWidth, 2560);
                store->setU16(blk::kLedHeight, 1440);
            }
            Panel::refresh(1);
        })
        .until([] { return g_outputset->label_info->text() == QStringLiteral("LED Screen can be set:2560x1440"); },
               "the tool's size shown")
        .choose("Button_ledset")
        .until([] { return Panel::onTop(13); }, "LED size page")
        .act([this] {
            store->setU16(blk::kLedWidth, 0xFFFF);
            store->setU16(blk::kLedHeight, 64);
        })
        .key(Back)
        .until([] { return Panel::onTop(6); }, "output menu again")
        .act([] { EXPECT_EQ(g_outputset->label_info->text(), QStringLiteral("LED Screen can be set:65535x64")); })
        // Left on the first entry focuses the second.
        .key(Left)
        .until([] { return g_outputset->ui_select == 1; }, "wrap to the port entry")
        .key(OK)
        .until([] { return Panel::onTop(14); }, "port output page");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, CommunicationMenuAndSerialPage)
{
    g_language = 3;
    Script s;
    fromHomeToSettings(s);
    s.choose("link_set")
        .until([] { return Panel::onTop(10); }, "communication menu")
        .act([] {
            EXPECT_EQ(g_linkoption->Button_usb->text(), QString::fromUtf8("Sử dụng ổ USB\nđể cập nhập"));
            // Taps on its buttons do nothing.
            g_linkoption->Button_com->click();
            Panel::pump(30);
            EXPECT_EQ(g_page_focus.load(), 10);
        })
        .key(Left)
        .until([] { return g_linkoption->ui_select == 2; }, "wrap to the USB entry")
        .key(Right)
        .until([] { return g_linkoption->ui_select == 0; }, "wrap to the serial entry")
        .key(OK)
        .until([] { return Panel::onTop(21); }, "serial page")
        .act([] {
            EXPECT_EQ(Panel::title(g_linkcom), QString::fromUtf8("Cài đặt cổng nối tiếp"));
            EXPECT_EQ(g_linkcom->label_bit->text(), QString::fromUtf8("Bit dữ liệ"));
            EXPECT_EQ(g_linkcom->Button_baud->text(), QStringLiteral("115200"));
            EXPECT_EQ(g_linkcom->pushButton->text(), QStringLiteral("8"));
            EXPECT_EQ(g_linkcom->pushButton_2->text(), QStringLiteral("1"));
        })
        .keys({OK, Left, Right})
        .act([] { Panel::pump(30); })
        .act([] { EXPECT_TRUE(Panel::onTop(21)); })
        .key(Back)
        .until([] { return Panel::onTop(10) && g_linkoption && !g_linkcom; }, "communication menu again")
        // MODE on the serial page leaves neither the communication menu nor the settings menu behind.
        .choose("Button_com")
        .until([] { return Panel::onTop(21); }, "serial page again")
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && g_custommode && QApplication::activeWindow() == g_custommode.data(); },
               "user modes page")
        .act([] {
            EXPECT_FALSE(g_linkcom);
            EXPECT_FALSE(g_linkoption);
            EXPECT_FALSE(g_option);
            EXPECT_EQ(g_mode_shortcut_key.load(), 1);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        })
        .key(Back)
        .until([] { return g_page_focus.load() == 0; }, "home screen after BACK");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, PictureMenuWrapsAndModeClosesItWithTheSettingsMenu)
{
    Script s;
    fromHomeToSettings(s);
    s.choose("image_quality")
        .until([] { return Panel::onTop(11); }, "picture menu")
        .key(Left)
        .until([] { return g_imagequality->ui_select == 1; }, "wrap to temperature")
        .key(OK)
        .until([] { return Panel::onTop(20); }, "colour temperature page")
        .key(Back)
        .until([] { return Panel::onTop(11); }, "picture menu again")
        .key(Right)
        .until([] { return g_imagequality->ui_select == 0; }, "wrap to quality")
        .key(OK)
        .until([] { return Panel::onTop(19); }, "quality page")
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
        .act([] {
            EXPECT_FALSE(g_imagequality);
            EXPECT_FALSE(g_option);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, RecoveryEntryIsUsableOnlyWithRecoveryFiles)
{
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    ASSERT_TRUE(fpga && fpga->rcvrecovery);
    Script s;
    fromHomeToSettings(s);
    s.choose("AdvanceButton")
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .act([] { EXPECT_EQ(g_advancedoption->rcv_file_count, 0); })
        .focus("Button_rcv_recovery")
        .act([] {
            const QString sheet = g_advancedoption->Button_rcv_recovery->styleSheet();
            EXPECT_TRUE(sheet.startsWith(greyBox() + QStringLiteral("border:2px solid"))) << sheet.toStdString();
        })
        .key(OK)
        .act([] { Panel::pump(30); })
        .act([] { EXPECT_TRUE(Panel::onTop(12)) << "no recovery files: nothing opens"; })
        .focus("Button_factory")
        .act([] {
            EXPECT_TRUE(g_advancedoption->Button_rcv_recovery->styleSheet().startsWith(greyBox() + QStringLiteral("border:2px;")));
            ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", QByteArray(16, '\0')));
            // The protocol stored the file: its thread asks for the re-count.
            std::thread([] { AdvancedOption::requestRetext(); }).join();
        })
        .until([] { return g_advancedoption->rcv_file_count == 1; }, "recovery file counted in the GUI thread")
        .act([] { EXPECT_FALSE(g_advancedoption->Button_rcv_recovery->styleSheet().contains(greyBox())); })
        .choose("Button_rcv_recovery")
        .until([] { return Panel::onTop(25); }, "recovery page");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, AgeingLogOpensOnlyAfterTheAccessCodeAndAsksEachTime)
{
    int asked = 0;
    QString answer;
    AdvancedOption::askAccessCode = [&](AdvancedOption* page) {
        ++asked;
        const QString text = answer;
        // The keypad answers from its own loop; here from a queued call.
        QMetaObject::invokeMethod(qApp, [page = QPointer<AdvancedOption>(page), text] {
            if (page)
                page->confirmString(text);
        }, Qt::QueuedConnection);
    };
    Script s;
    fromHomeToSettings(s);
    s.choose("AdvanceButton")
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .focus("Button_age")
        .act([&] { answer = QStringLiteral("6094"); })
        .key(OK)
        .until([&] { return asked == 1; }, "code asked")
        .act([] { Panel::pump(30); })
        .act([] { EXPECT_TRUE(Panel::onTop(12)) << "a wrong code opens nothing"; })
        .act([&] { answer = QString(); })
        .key(OK)
        .until([&] { return asked == 2; }, "asked again")
        .act([] { Panel::pump(30); })
        .act([] { EXPECT_TRUE(Panel::onTop(12)) << "an empty entry opens nothing"; })
        .act([&] { answer = QStringLiteral("6093"); })
        .key(OK)
        .until([] { return Panel::onTop(23); }, "ageing log")
        .act([] { EXPECT_EQ(g_advancedoption->age_unlocked, 1); })
        .key(Back)
        .until([] { return Panel::onTop(12); }, "advanced menu again")
        .act([] { EXPECT_EQ(g_advancedoption->age_unlocked, 0); })
        .act([&] { answer = QStringLiteral("6093"); })
        .key(OK)
        .until([&] { return asked == 4; }, "the code is asked at every opening")
        .until([] { return Panel::onTop(23); }, "ageing log once more");
    const bool ok = s.run();
    AdvancedOption::askAccessCode = nullptr;
    ASSERT_TRUE(ok);
}

TEST_F(PanelTest, AccessCodeTypedWhileAnotherPageIsOnTopOpensNothing)
{
    Script s;
    fromHomeToSettings(s);
    s.choose("AdvanceButton")
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .choose("Button_LCDshow")
        .until([] { return Panel::onTop(15); }, "LCD page over the advanced menu")
        .act([] { g_advancedoption->confirmString(QStringLiteral("6093")); })
        .act([] { Panel::pump(30); })
        .act([] {
            EXPECT_TRUE(Panel::onTop(15));
            EXPECT_EQ(g_advancedoption->age_unlocked, 0);
        });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, RequestsFromOtherThreadsActOnlyWhileTheSettingsMenuIsOnTop)
{
    Script s;
    fromHomeToSettings(s);
    s.choose("output_set")
        .until([] { return Panel::onTop(6); }, "output menu above the settings menu")
        .act([] {
            std::thread([] {
                Option::requestRetext();
                Option::requestLeave();
            }).join();
        })
        .act([] { Panel::pump(30); })
        .act([] { EXPECT_TRUE(Panel::onTop(6) && g_option) << "a child is on top: the menu stays"; })
        .key(Back)
        .until([] { return Panel::onTop(5); }, "settings menu")
        .act([] {
            g_language = 2;
            std::thread([] { Option::requestRetext(); }).join();
        })
        .until([] { return Panel::title(g_option) == QString::fromUtf8("Настройки"); }, "re-texted in the GUI thread")
        .act([] { std::thread([] { Option::requestLeave(); }).join(); })
        .until([] { return Panel::onTop(1) && !g_option; }, "left as by BACK");
    ASSERT_TRUE(s.run());
}

