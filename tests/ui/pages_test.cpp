// The pages below the root menu: their titles in each language, where BACK leads, and a picture
// of each for a person to look at.
#include "focus_marks.h"
#include "panel_fixture.h"
#include "panel_checks.h"

#include "ui/pages_picture/advancedoption.h"
#include "scaler/c331_manage.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_settings/factory.h"
#include "ui/pages_settings/factoryage.h"
#include "tools/firmware_usbgrade.h"
#include "base/global.h"
#include "ui/pages_picture/imagelayout.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/pages_settings/lcdshow.h"
#include "ui/pages_settings/ledset.h"
#include "ui/linkcom.h"
#include "ui/linkoption.h"
#include "ui/pages_settings/linkwlan.h"
#include "ui/machinestate.h"
#include "ui/pages_settings/netset.h"
#include "ui/option.h"
#include "ui/pages_settings/othersetup.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/pages_settings/quality.h"
#include "tools/rcv_recovery.h"
#include "tools/smartmapping.h"
#include "ui/pages_settings/temperature.h"
#include "ui/pages_settings/test_chart.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "store_face.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <memory>
#include <set>

namespace {
struct PageKind {
    int code;
    int parent;
    VyrPage* (*make)();
    const char* english;
};

const PageKind kPages[] = {
    {2, 1, Panel::make<MachineState>, "Devices"},           {3, 1, Panel::make<InputChoose>, "Source switch"},
    {5, 1, Panel::make<Option>, "Setting"},                 {6, 5, Panel::make<OutputSet>, "Output Seeting"},
    {7, 5, Panel::make<InputCut>, "Input intercept"},       {8, 3, Panel::make<EDIDset>, "EDID Settings"},
    {9, 5, Panel::make<ImageLayout>, "Screen layout"},      {10, 5, Panel::make<LinkOption>, "Communication"},
    {11, 5, Panel::make<ImageQuality>, "Image quality"},    {12, 5, Panel::make<AdvancedOption>, "Advanced Settings"},
    {13, 6, Panel::make<ledset>, "LED Setting"},            {14, 6, Panel::make<netset>, "Port output"},
    {15, 12, Panel::make<lcdshow>, "LCD display"},          {16, 5, Panel::make<test_chart>, "Test pattern"},
    {17, 12, Panel::make<othersetup>, "Other Settings"},    {18, 12, Panel::make<factory>, "Factory setup"},
    {19, 11, Panel::make<quality>, "Image quality"},        {20, 11, Panel::make<temperature>, "Temperature"},
    {21, 10, Panel::make<linkcom>, "Serial port"},          {22, 10, Panel::make<linkwlan>, "Net connect"},
    {23, 12, Panel::make<factoryage>, ""},                  {24, 5, Panel::make<SmartMapping>, "Smart debugging screen"},
    {25, 12, Panel::make<rcv_recovery>, "Receiving card self recovery"}, {26, 10, Panel::make<firmware_usbgrade>, "USB UPDATE"},
};

}

// Every page code is a row above, but for the three windows that are no dialog page (home screen,
// root menu, user modes; their own tests cover them): a page added to the page table without its
// row here fails.
TEST(PageTable, EveryPageCodeHasItsRowInThePageChecks)
{
    const std::set<int> ownTests = {0, 1, 4};
    std::multiset<int> rows;
    for (const PageKind& kind : kPages)
        rows.insert(kind.code);
    for (int code = 0; code < PageNav::kPageCount; ++code)
        EXPECT_EQ(rows.count(code), ownTests.count(code) ? 0u : 1u) << "page code " << code;
    EXPECT_EQ(rows.size() + ownTests.size(), size_t(PageNav::kPageCount)) << "a row for a code past the page table";
}

TEST_F(PanelTest, EveryPageHasItsCodeTitleAndParentAndItsTextsFit)
{
    // The widest values the pages show: an ageing line, the barcode, the LED size, window 0.
    factoryage_log << QStringLiteral("12-31 23:59 255 255 255");
    g_str_barcode.set(QStringLiteral("QZ20241020ABCDEF"));
    store->setU16(blk::kLedWidth, 65535);
    store->setU16(blk::kLedHeight, 65535);
    store->setU16(blk::window(0, blk::win::kState), 1);
    store->setU16(blk::window(0, blk::win::kSource), 5);
    for (uint32_t field : {blk::win::kX, blk::win::kY, blk::win::kWidth, blk::win::kHeight})
        store->setU16(blk::window(0, field), 65535);
    store->setU8(blk::window(0, blk::win::kPointToPoint), 1);
    store->setU16(blk::window(0, blk::win::kDotByDot), 9);
    for (const PageKind& kind : kPages) {
        for (int language : {1, 0, 2, 3, 4}) {
            g_language = uint8_t(language);
            std::unique_ptr<VyrPage> page(kind.make());
            EXPECT_EQ(page->pageCode(), kind.code);
            EXPECT_EQ(page->size(), QSize(320, 240));
            if (!*kind.english) {
                EXPECT_TRUE(Panel::title(page.get()).isEmpty()) << kind.code << " has no title";
            } else if (language == 1) {
                EXPECT_EQ(Panel::title(page.get()), QLatin1String(kind.english)) << kind.code;
            } else {
                EXPECT_NE(Panel::title(page.get()), QLatin1String(kind.english)) << kind.code << " in " << language;
            }
            const QString where = QString::number(kind.code);
            const QStringList misfits = Panel::misfits(page.get(), where) + Panel::lowContrast(page.get(), where);
            EXPECT_TRUE(misfits.isEmpty()) << misfits.join(QLatin1Char('\n')).toStdString() << " in " << language;
            // The focus marks, walked with the right key as a person would: each shows, and stands
            // out from the page around it. (Most setting pages turn a white frame orange, 1.9:1
            // against the white it replaces, as their styles are given; the keypad meets both.)
            VyrPage* p = page.get();
            auto focus = [p](int i) {
                for (size_t k = 0; p->ui_select != i && k <= p->focusList().size(); ++k)
                    QTest::keyRelease(p, Qt::Key(PanelKey::Right));
            };
            const QStringList marks = Panel::weakFocusMarks(p, p->focusList(), focus, where, false);
            EXPECT_TRUE(marks.isEmpty()) << marks.join(QLatin1Char('\n')).toStdString() << " in " << language;
            Panel::shot(page.get(), QStringLiteral("page_%1_%2").arg(kind.code).arg(language));
        }
        if (kind.code != 3 && kind.code != 7) {
            EXPECT_EQ(PageNav::parentCode(kind.code), kind.parent) << kind.code;
        }
    }
}

TEST_F(PanelTest, BackFromEachPageLeadsToItsParentAndClearsItsPointer)
{
    using namespace PanelKey;
    Script s;
    s.key(OK).until([] { return g_page_focus.load() == 1; }, "root menu");
    for (const PageKind& kind : kPages) {
        if (kind.code == 3 || kind.code == 7)
            continue; // their parents depend on what is open; see the navigation tests
        s.act([kind] { Panel::openLater(kind.make); })
            .until([kind] { return PageNav::page(kind.code) && QApplication::activeWindow() == PageNav::page(kind.code); },
                   "page " + std::to_string(kind.code) + " open")
            .key(Back)
            .until([kind] { return g_page_focus.load() == kind.parent && !PageNav::page(kind.code); },
                   "BACK from " + std::to_string(kind.code));
    }
    ASSERT_TRUE(s.run(10000));
}

TEST_F(PanelTest, LeavingTheTestPatternPageSwitchesThePatternOff)
{
    testBlock(store)[0x360] = 3;
    Script s;
    s.key(PanelKey::OK)
        .until([] { return g_page_focus.load() == 1; }, "root menu")
        .act([] { Panel::openLater(Panel::make<test_chart>); })
        .until([] { return QApplication::activeWindow() == g_test_chart.data(); }, "test pattern page")
        .key(PanelKey::Back)
        .until([this] { return testBlock(store)[0x360] == 0; }, "pattern off");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 1);
}

TEST_F(PanelTest, CommunicationMenuLeavesTheSettingsMenuInItsOldLanguage)
{
    g_language = 0;
    Script s;
    s.key(PanelKey::OK)
        .choose("option")
        .until([] { return g_page_focus.load() == 5; }, "settings menu")
        .act([] { Panel::openLater(Panel::make<LinkOption>); })
        .until([] { return QApplication::activeWindow() == g_linkoption.data(); }, "communication menu")
        .act([] { g_language = 1; })
        .key(PanelKey::Back)
        .until([] { return g_page_focus.load() == 5; }, "settings menu again")
        .act([] { EXPECT_EQ(Panel::title(g_option), QString::fromUtf8("设置")); })
        .act([] { Panel::openLater(Panel::make<OutputSet>); })
        .until([] { return QApplication::activeWindow() == g_outputset.data(); }, "output menu")
        .key(PanelKey::Back)
        .until([] { return Panel::title(g_option) == QStringLiteral("Setting"); }, "other children re-text it");
    ASSERT_TRUE(s.run());
}
