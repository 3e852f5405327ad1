// The ageing-log page: reached by keys and the access code, the waiting view of an empty log, the
// lines it draws of the samples, paging, the histogram, the three-minute refresh with samples
// taken from FPGA 0 on the simulated board, MODE, and that every line fits in each language.
#include "fpga_up.h"
#include "panel_fixture.h"
#include "panel_checks.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/devices/fpga_chip.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_settings/factoryage.h"
#include "ui/panelkeys.h"
#include "video_chips/keltosource.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>

using namespace PanelKey;

namespace {

QDateTime at(int month, int day, int hour, int minute) { return QDateTime(QDate(2026, month, day), QTime(hour, minute)); }

// The clock the page and the sampler read; a test moves it.
struct FakeClock {
    QDateTime now = at(3, 4, 9, 5);
    FakeClock()
    {
        fpga_manage::clock = [this] { return now; };
    }
    ~FakeClock() { fpga_manage::clock = [] { return QDateTime::currentDateTime(); }; }
};

// The keypad answers the access code from a queued call, as its own loop would.
struct AccessCode {
    QString answer = QStringLiteral("6093");
    AccessCode()
    {
        AdvancedOption::askAccessCode = [this](AdvancedOption* page) {
            const QString text = answer;
            QMetaObject::invokeMethod(qApp, [page = QPointer<AdvancedOption>(page), text] {
                if (page)
                    page->confirmString(text);
            }, Qt::QueuedConnection);
        };
    }
    ~AccessCode() { AdvancedOption::askAccessCode = nullptr; }
};

// Home screen, root menu, settings, advanced, the ageing entry and the code.
Script& toAgeing(Script& s)
{
    return s.key(OK)
        .choose("option")
        .until([] { return Panel::onTop(5); }, "settings menu")
        .choose("AdvanceButton")
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .choose("Button_age")
        .until([] { return Panel::onTop(23) && g_factoryage; }, "ageing log");
}

// A second opening in one test: the page directly.
Script& openAgeing(Script& s)
{
    return s.act([] { Panel::openLater(Panel::make<factoryage>); }).until([] { return Panel::onTop(23) && g_factoryage; }, "ageing log");
}

QString sideTexts(factoryage* p)
{
    return QStringList({p->label_3->text(), p->label_5->text(), p->label_10->text(), p->label_20->text(),
                        p->label_more->text(), p->page_info->text(), p->label_page->text()})
        .join(QLatin1Char(' '));
}

void resetLog()
{
    factoryage_log.clear();
    factoryage_log_diff3 = factoryage_log_diff5 = factoryage_log_diff10 = factoryage_log_diff20 = factoryage_log_diffmore = 0;
}

// Three minutes since the last ageing stamp, then one tick: the tick samples and redraws. The
// counter is moved well clear of 0 so the stamp does not wrap.
void threeMinutes()
{
    if (G_timeTicks.load() < 20000)
        G_timeTicks = 20000;
    G_factoryage_ticks = G_timeTicks.load() - 17999;
    Panel::tick(1);
}

QString green(const char* name) { return QStringLiteral("<font color = #00FF00 >%1</font> ").arg(QLatin1String(name)); }
QString red(const char* name) { return QStringLiteral("<font color = #FF0000 >%1</font> ").arg(QLatin1String(name)); }

}

TEST_F(PanelTest, AgeingEmptyLogShowsTheTimeAndWaitsAndPagingDoesNothing)
{
    resetLog();
    FakeClock clock;
    AccessCode code;
    Script s;
    toAgeing(s);
    s.act([] {
        factoryage* p = g_factoryage;
        EXPECT_EQ(p->view_label->text(), QString::fromUtf8("03-04 09:05  正在老化中..."));
        EXPECT_EQ(sideTexts(p), QStringLiteral("0<3 0<5 0<10 0<20 0>20 0 0/0"));
        EXPECT_TRUE(p->page_text.isEmpty());
        EXPECT_FALSE(p->findChild<QLabel*>(QStringLiteral("label_title"))->isVisible()) << "no title";
        EXPECT_EQ(p->ButtonNext->text(), QStringLiteral("Nex"));
        EXPECT_EQ(p->ButtonPriv->text(), QStringLiteral("Priv"));
        EXPECT_EQ(p->ButtonNext->styleSheet(), QStringLiteral("color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);"));
    })
        .key(OK) // Next
        .key(Right)
        .until([] { return g_factoryage->ui_select == 1; }, "Previous focused")
        .key(OK)
        .act([] { Panel::pump(20); })
        .act([] {
            EXPECT_EQ(g_factoryage->page_index, 0);
            EXPECT_EQ(sideTexts(g_factoryage), QStringLiteral("0<3 0<5 0<10 0<20 0>20 0 0/0"));
        })
        // Three minutes later, still no sample (no FPGA): the same view with the new time.
        .act([&clock] {
            clock.now = at(3, 4, 9, 8);
            threeMinutes();
        })
        .act([] { EXPECT_EQ(g_factoryage->view_label->text(), QString::fromUtf8("03-04 09:08  正在老化中...")); })
        .key(Back)
        .until([] { return Panel::onTop(12) && !g_factoryage; }, "advanced menu again");
    ASSERT_TRUE(s.run());
    EXPECT_TRUE(factoryage_log.isEmpty());
}

TEST_F(PanelTest, AgeingLinesShowTheCounterTheFiveStatusBitsAndTheThirdValue)
{
    struct Case {
        QString entry;
        QString line; // empty: not shown
    };
    const Case cases[] = {
        {"12-31 23:59 7 31 0",
         "12-31 23:59 007 " + green("DDR0") + green("DDR1") + green("DE") + green("HS") + green("VS") + "000"},
        {"01-02 03:04 255 0 63", "01-02 03:04 255 " + red("DDR0") + red("DDR1") + red("DE") + red("HS") + red("VS") + "063"},
        {"01-02 03:04 x 5 1000", "01-02 03:04 000 " + green("DDR0") + red("DDR1") + green("DE") + red("HS") + red("VS") + "1000"},
        {"01-02 03:04 12 26 y", "01-02 03:04 012 " + red("DDR0") + green("DDR1") + red("DE") + green("HS") + green("VS") + "000"},
        {"01-02 03:04 1 2 3 4", ""},  // a sixth field
        {"01-02 03:04 1 2", ""},      // one missing
        {"01-02  03:04 1 2 3", ""},   // an empty field counts as one
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        resetLog();
        factoryage_log << QStringLiteral("01-01 00:00 1 1 1") << c.entry << QStringLiteral("01-01 00:06 2 2 2");
        const QString first = "01-01 00:00 001 " + green("DDR0") + red("DDR1") + red("DE") + red("HS") + red("VS") + "001";
        const QString last = "01-01 00:06 002 " + red("DDR0") + green("DDR1") + red("DE") + red("HS") + red("VS") + "002";
        factoryage page;
        const QString want = c.line.isEmpty() ? first + "<br>" + last : first + "<br>" + c.line + "<br>" + last;
        EXPECT_EQ(page.page_text, want);
        EXPECT_EQ(page.view_label->text(), want);
        EXPECT_EQ(page.page_info->text(), QStringLiteral("3")) << "malformed entries still count";
    }
}

TEST_F(PanelTest, AgeingPagesOfSixteenWithNextWrappingAndPreviousStoppingAtTheFirst)
{
    resetLog();
    for (int i = 0; i < 17; ++i)
        factoryage_log << QStringLiteral("05-06 07:%1 %2 31 63").arg(i, 2, 10, QLatin1Char('0')).arg(i);
    factoryage_log_diff3 = 16;
    factoryage_log_diff20 = 123456;
    Script s;
    openAgeing(s);
    s.act([] {
        factoryage* p = g_factoryage;
        EXPECT_EQ(p->page_text.count(QStringLiteral("<br>")), 15) << "sixteen lines";
        EXPECT_TRUE(p->page_text.startsWith(QStringLiteral("05-06 07:00 000 ")));
        EXPECT_EQ(sideTexts(p), QStringLiteral("16<3 0<5 0<10 123456<20 0>20 17 1/2"));
    })
        .key(OK)
        .until([] { return g_factoryage->page_index == 1; }, "second page")
        .act([] {
            factoryage* p = g_factoryage;
            EXPECT_EQ(p->page_text, "05-06 07:16 016 " + green("DDR0") + green("DDR1") + green("DE") + green("HS") +
                                        green("VS") + "063")
                << "one line, no leading break";
            EXPECT_EQ(p->label_page->text(), QStringLiteral("2/2"));
        })
        .key(OK)
        .until([] { return g_factoryage->page_index == 0; }, "Next on the last page wraps to the first")
        .key(Left)
        .until([] { return g_factoryage->ui_select == 1; }, "Previous focused (wrapped)")
        .act([] {
            EXPECT_EQ(g_factoryage->ButtonPriv->styleSheet(), QStringLiteral("color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);"));
            EXPECT_EQ(g_factoryage->ButtonNext->styleSheet(), QStringLiteral("color:rgb(255,255,255);\nborder:1px solid rgb(255, 255, 255);"));
        })
        .key(OK)
        .act([] { Panel::pump(20); })
        .act([] { EXPECT_EQ(g_factoryage->label_page->text(), QStringLiteral("1/2")) << "Previous on the first page"; })
        .act([] { QTest::mouseClick(g_factoryage->ButtonNext, Qt::LeftButton); }) // a tap
        .until([] { return g_factoryage->page_index == 1; }, "tapped Next")
        .key(OK)
        .until([] { return g_factoryage->page_index == 0; }, "Previous")
        .key(Back)
        .until([] { return !g_factoryage; }, "left");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, AgeingKeepsSevenDaysInTwoHundredTenPages)
{
    resetLog();
    for (int i = 0; i < 3361; ++i)
        MainWindow::appendAgeLine(QStringLiteral("01-01 00:00 %1 31 63").arg(i % 256));
    factoryage page;
    EXPECT_EQ(page.pageCount(), 210);
    EXPECT_EQ(page.page_info->text(), QStringLiteral("3360"));
    EXPECT_EQ(page.label_page->text(), QStringLiteral("1/210"));
    EXPECT_TRUE(page.page_text.startsWith(QStringLiteral("01-01 00:00 001 "))) << "the oldest sample went";
    EXPECT_EQ(page.label_3->text(), QStringLiteral("3360<3")) << "every step one, 255 to 0 included";
    for (int i = 0; i < 209; ++i)
        page.on_ButtonNext_clicked();
    EXPECT_EQ(page.label_page->text(), QStringLiteral("210/210"));
    EXPECT_EQ(page.page_text.count(QStringLiteral("<br>")), 15);
    page.on_ButtonNext_clicked();
    EXPECT_EQ(page.label_page->text(), QStringLiteral("1/210"));
    page.on_ButtonPriv_clicked();
    EXPECT_EQ(page.label_page->text(), QStringLiteral("1/210"));
}

TEST_F(PanelTest, AgeingRefreshSamplesFpgaZeroAndKeepsThePageShown)
{
    resetLog();
    FakeClock clock;
    ASSERT_TRUE(bringUpFpga0ByItsPasses()) << "FPGA 0 not up";
    platform::Sim::FpgaChip& chip = platform::Sim::fpgaChip();
    chip.setRegister(42, 250);
    chip.setRegister(43, 0x3F);
    Script s;
    openAgeing(s);
    s.act([&] { threeMinutes(); })
        .act([] {
            EXPECT_EQ(factoryage_log, QStringList({"03-04 09:05 250 31 63"}));
            EXPECT_EQ(g_factoryage->page_text,
                      "03-04 09:05 250 " + green("DDR0") + green("DDR1") + green("DE") + green("HS") + green("VS") + "063");
            EXPECT_EQ(sideTexts(g_factoryage), QStringLiteral("0<3 0<5 0<10 0<20 0>20 1 1/1"));
        })
        .act([&] {
            chip.setRegister(42, 3); // 250 -> 3 across the wrap: a jump of 9
            chip.setLinkDropReads(1); // the links drop: DE, HS and VS read 0
            clock.now = at(3, 4, 9, 8);
            threeMinutes();
        })
        .act([] {
            EXPECT_EQ(factoryage_log.value(1), QStringLiteral("03-04 09:08 3 3 63"));
            EXPECT_TRUE(g_factoryage->page_text.endsWith(
                "<br>03-04 09:08 003 " + green("DDR0") + green("DDR1") + red("DE") + red("HS") + red("VS") + "063"));
            EXPECT_EQ(sideTexts(g_factoryage), QStringLiteral("0<3 0<5 1<10 0<20 0>20 2 1/1"));
        })
        .act([&] {
            pc_cmd_valid = 1; // a PC command is active: no sample, the page is redrawn all the same
            factoryage_log_diff20 = 5;
            threeMinutes();
            pc_cmd_valid = 0;
        })
        .act([] {
            EXPECT_EQ(factoryage_log.size(), 2);
            EXPECT_EQ(g_factoryage->label_20->text(), QStringLiteral("5<20"));
        })
        .act([&] {
            // A full first page and one more: the page shown stays the first.
            while (factoryage_log.size() < 16)
                factoryage_log << QStringLiteral("03-04 09:09 3 31 63");
            g_factoryage->update_agelog();
            threeMinutes();
        })
        .act([] {
            EXPECT_EQ(factoryage_log.size(), 17);
            EXPECT_EQ(g_factoryage->label_page->text(), QStringLiteral("1/2"));
            EXPECT_EQ(g_factoryage->page_text.count(QStringLiteral("<br>")), 15);
        });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, AgeingModeLeavesForTheUserModesClosingTheAdvancedMenu)
{
    resetLog();
    AccessCode code;
    Script s;
    toAgeing(s);
    s.key(Mode).until([] { return g_page_focus.load() == 4 && g_custommode && !g_factoryage && !g_advancedoption; },
                      "user modes");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(g_mode_shortcut_key.load(), 1);
}

TEST_F(PanelTest, AgeingViewFitsItsFrameInEveryLanguage)
{
    FakeClock clock;
    clock.now = at(12, 28, 23, 58);
    QStringList bad;
    auto check = [&bad](factoryage* p, const QString& name) {
        bad << Panel::misfits(p, name);
        bad << Panel::lowContrast(p, name);
        // The view label reaches past its frame, which clips it: every line must fit the frame.
        QTextDocument doc;
        doc.setDocumentMargin(0);
        doc.setDefaultFont(p->view_label->font());
        if (p->view_label->textFormat() == Qt::RichText)
            doc.setHtml(p->view_label->text());
        else
            doc.setPlainText(p->view_label->text());
        const QSizeF need(doc.idealWidth(), doc.size().height());
        if (need.width() > p->frame->width() || need.height() > p->frame->height())
            bad << QStringLiteral("%1 view needs %2x%3, frame %4x%5")
                       .arg(name).arg(need.width()).arg(need.height()).arg(p->frame->width()).arg(p->frame->height());
        Panel::shot(p, name);
    };
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        resetLog();
        {
            factoryage page;
            check(&page, QStringLiteral("ageing_empty_%1").arg(language));
        }
        for (int i = 0; i < 16; ++i)
            factoryage_log << QStringLiteral("12-28 23:%1 255 %2 255").arg(i + 10).arg(i * 2); // widest numbers
        factoryage_log_diff3 = factoryage_log_diff5 = factoryage_log_diff10 = factoryage_log_diff20 =
            factoryage_log_diffmore = 99999;
        factoryage page;
        check(&page, QStringLiteral("ageing_full_%1").arg(language));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
