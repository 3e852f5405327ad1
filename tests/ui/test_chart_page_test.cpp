// The test pattern page reached by keys from the home screen: each picture switches its pattern on
// in the scaler chip's generator, Close, BACK and MODE all switch it off again, a pattern the
// scaler refuses (two windows on) is reported on the page, and its texts in every language.
#include "picture_pages.h"
#include "second_writer.h"
#include "test_root.h"

#include "ui/option.h"
#include "ui/pages_settings/test_chart.h"
#include "store_face.h"

#include <QLabel>
#include <QPushButton>

using namespace PanelKey;
using namespace picture_test;

namespace {

Script& toTestChart(Script& s)
{
    return toSettings(s)
        .choose("test_chart")
        .until([] { return Panel::onTop(16) && g_test_chart; }, "test pattern page");
}


constexpr uint32_t kMode = 0x085701, kPhase = 0x085B02, kRed = 0x086301, kGreen = 0x086401, kBlue = 0x086501;
constexpr uint32_t kScale = 0x086601, kWidth = 0x085F02, kHeight = 0x086102;

// Generator registers of one output channel as the pattern sets them (absent: 0).
struct Generator {
    uint32_t mode, red, green, blue, scale, width, height;
    bool operator==(const Generator& o) const
    {
        return mode == o.mode && red == o.red && green == o.green && blue == o.blue && scale == o.scale &&
               width == o.width && height == o.height;
    }
};
std::ostream& operator<<(std::ostream& os, const Generator& g)
{
    return os << "mode " << g.mode << " rgb " << g.red << "," << g.green << "," << g.blue << " scale " << g.scale
              << " w " << g.width << " h " << g.height;
}

Generator generator(uint32_t channel)
{
    const uint32_t off = 16 * channel;
    auto v = [off](uint32_t d) { return c331Chip().value(d, off); };
    return {v(kMode), v(kRed), v(kGreen), v(kBlue), v(kScale), v(kWidth), v(kHeight)};
}

class TestChartPage : public PicturePageTest {
protected:
    // The output channels the scaler gave window 0.
    std::vector<uint32_t> window0Channels() const
    {
        std::vector<uint32_t> out;
        const ST_WIN_INFO& w = scaler->gWininfo[0];
        for (int m = 0; m < std::min(8, w.ochHCnt * w.ochVCnt); ++m)
            if (w.ochPosLst[m] < 8)
                out.push_back(w.ochPosLst[m]);
        return out;
    }
    void expectGenerator(const Generator& g)
    {
        const std::vector<uint32_t> channels = window0Channels();
        ASSERT_FALSE(channels.empty());
        for (uint32_t ch : channels)
            EXPECT_EQ(generator(ch), g) << "channel " << ch;
    }
};

}

TEST_F(TestChartPage, EachPictureSwitchesItsPatternOnInTheChipAndBackSwitchesItOff)
{
    bringUp();
    // Red, green, blue, white, black, colour bar, vertical lines, horizontal lines.
    const Generator expected[8] = {
        {4, 255, 0, 0, 3, 0, 0},       {4, 0, 255, 0, 3, 0, 0},     {4, 0, 0, 255, 3, 0, 0},
        {4, 255, 255, 255, 3, 0, 0},   {4, 0, 0, 0, 3, 0, 0},       {1, 255, 255, 255, 3, 480, 0},
        {14, 255, 255, 255, 3, 1, 0},  {15, 255, 255, 255, 3, 0, 1},
    };
    Script s;
    toTestChart(s).act([this] {
        EXPECT_EQ(flag(), 0) << "opening the page changes nothing";
        EXPECT_TRUE(Panel::styled(g_test_chart->label_test[0], test_chart::kPictureFocused));
        EXPECT_TRUE(Panel::styled(g_test_chart->Button_closetest, test_chart::kButtonNormal));
        for (int i = 0; i < 8; ++i)
            EXPECT_FALSE(g_test_chart->label_test[i]->pixmap(Qt::ReturnByValue).isNull()) << i;
    });
    for (int k = 0; k < 8; ++k) {
        s.key(OK)
            .until([this, k] { return testBlock(store)[blk::kTestPattern] == k + 1 && flag() == 1; }, "pattern " + std::to_string(k + 1))
            .act([this, k, &expected] {
                pass();
                expectGenerator(expected[k]);
                EXPECT_EQ(g_test_chart->ui_select, k) << "the focus stays";
                EXPECT_FALSE(g_test_chart->label_refused->isVisible());
            })
            .key(Right)
            .until([k] { return g_test_chart->ui_select == k + 1; }, "next picture");
    }
    s.act([] {
         EXPECT_TRUE(Panel::styled(g_test_chart->Button_closetest, test_chart::kButtonFocused));
         EXPECT_TRUE(Panel::styled(g_test_chart->label_test[7], test_chart::kPictureNormal));
     })
        .key(Left)
        .key(OK) // the same picture again: written again, nothing new for the chip
        .until([this] { return flag() == 1; }, "pattern 8 again")
        .act([this] { pass(); })
        .key(Back)
        .until([] { return Panel::onTop(5) && !g_test_chart; }, "settings menu")
        .act([this] {
            EXPECT_EQ(testBlock(store)[blk::kTestPattern], 0);
            EXPECT_EQ(flag(), 1);
            pass();
            expectGenerator({0, 0, 0, 0, 0, 0, 0});
        });
    ASSERT_TRUE(s.run(15000));
    std::vector<std::string> expectedCalls;
    for (int v = 1; v <= 8; ++v)
        expectedCalls.push_back("c331_SetPattern(" + std::to_string(v) + ")");
    expectedCalls.push_back("c331_SetPattern(0)");
    EXPECT_EQ(pictureCalls(), expectedCalls);
}

// However the page is left, the pattern goes off: Close, BACK, MODE, and BACK without a pattern.
TEST_F(TestChartPage, LeavingByCloseBackOrModeSwitchesThePatternOff)
{
    bringUp();
    struct Case {
        const char* how;
        std::vector<int> keys;
        int pattern; // chosen before leaving, 0 none
        int focus;   // page code on top afterwards
    };
    const Case cases[] = {
        {"Close", {Left, Left, OK}, 2, 5}, // from the second picture: first, then Close
        {"BACK", {Back}, 6, 5},
        {"BACK without a pattern", {Back}, 0, 5},
        {"MODE", {Mode}, 3, 4}, // last: it closes the home screen too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Script s;
        toTestChart(s);
        if (c.pattern) {
            for (int i = 1; i < c.pattern; ++i)
                s.key(Right);
            s.key(OK)
                .until([this, &c] { return testBlock(store)[blk::kTestPattern] == c.pattern; }, "pattern on")
                .act([this] {
                    pass();
                    scaler->call_log.clear();
                    EXPECT_NE(generator(window0Channels().at(0)).mode, 0u);
                });
        }
        for (int k : c.keys)
            s.key(k);
        s.until([&c] { return !g_test_chart && g_page_focus.load() == c.focus && PageNav::page(c.focus); }, "left")
            .act([this] {
                EXPECT_EQ(testBlock(store)[blk::kTestPattern], 0);
                EXPECT_EQ(flag(), 1);
                pass();
            });
        ASSERT_TRUE(s.run());
        if (c.pattern) {
            EXPECT_EQ(pictureCalls(), std::vector<std::string>({"c331_SetPattern(0)"}));
            expectGenerator({0, 0, 0, 0, 0, 0, 0});
        }
        EXPECT_EQ(scaler->vyrApi_IsPatternGen(), false);
        if (c.focus == 4) {
            EXPECT_EQ(g_mode_shortcut_key.load(), 1);
            EXPECT_FALSE(g_option);
        }
        scaler->change_flag = 0;
    }
}

// A PC tool sets a pattern after the page's has been shown, and between the page's request and
// the scaler's pass: the tool's pattern is on the wall, and neither is reported as a refusal.
TEST_F(TestChartPage, APatternAToolSetsIsNoRefusalOfThePagesPattern)
{
    bringUp();
    auto toolSets = [](uint8_t pattern) { EXPECT_EQ(SecondWriter::inProcess().set(blk::kTestPattern, {pattern}), 0); };
    Script s;
    toTestChart(s)
        .key(OK)
        .until([this] { return testBlock(store)[blk::kTestPattern] == 1 && flag() == 1; }, "red asked for")
        .act([this, &toolSets] {
            pass();
            toolSets(5);
            pass();
            EXPECT_FALSE(g_test_chart->label_refused->isVisible()) << "a later pattern";
        })
        .keys({Right, OK})
        .until([this] { return testBlock(store)[blk::kTestPattern] == 2 && flag() == 1; }, "green asked for")
        .act([this, &toolSets] {
            toolSets(6);
            pass();
            EXPECT_FALSE(g_test_chart->label_refused->isVisible()) << "a pattern written before the pass";
            EXPECT_EQ(testBlock(store)[blk::kTestPattern], 6);
        });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(pictureCalls(), std::vector<std::string>({"c331_SetPattern(1)", "c331_SetPattern(5)", "c331_SetPattern(6)"}));
    EXPECT_FALSE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("refused by the scaler"));
}

// With two windows on the scaler cannot show a pattern; it takes the value back out of the block,
// and the page says why nothing happened.
TEST_F(TestChartPage, APatternRefusedWithTwoWindowsOnIsReportedOnThePage)
{
    bringUp();
    {
        ScalerHandOver h;
        store->setU16(blk::window(0, blk::win::kWidth), 960);
        store->setU16(blk::window(1, blk::win::kState), 1);
        store->setU16(blk::window(1, blk::win::kX), 960);
        store->setU16(blk::window(1, blk::win::kWidth), 960);
        h.commit();
    }
    pass();
    scaler->call_log.clear();
    const std::vector<uint32_t> modes = onAllChannels(kMode);
    g_language = 1;
    Script s;
    toTestChart(s)
        .keys({Right, Right, OK})
        .until([this] { return testBlock(store)[blk::kTestPattern] == 3 && flag() == 1; }, "pattern asked for")
        .act([this] { pass(); })
        .until([] { return g_test_chart->label_refused->isVisible(); }, "refusal shown")
        .act([this, &modes] {
            EXPECT_EQ(testBlock(store)[blk::kTestPattern], 0) << "the block says what the wall shows";
            EXPECT_EQ(g_test_chart->label_refused->text(), QStringLiteral("A test pattern needs a single window on the screen"));
            EXPECT_EQ(onAllChannels(kMode), modes) << "the generator was not touched";
            Panel::shot(g_test_chart, QStringLiteral("test_chart_refused"));
        })
        .key(Right)
        .until([] { return !g_test_chart->label_refused->isVisible(); }, "message gone with the next key")
        .key(Back)
        .until([] { return Panel::onTop(5); }, "settings menu");
    ASSERT_TRUE(s.run());
    const std::vector<std::string> calls = pictureCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "c331_SetPattern(3)");
}

TEST_F(TestChartPage, TextsOfEveryLanguageFitWithAndWithoutTheRefusal)
{
    const char* const titles[5] = {"测试图", "Test pattern", "Тестовый образец", "Biểu đồ kiểm tra", "測試圖"};
    const char* const closes[5] = {"关闭测试图", "Close", "Закрыть", "Đóng", "關閉測試圖"};
    const char* const eighth[5] = {"横线", "Horizontal line", "Тест 8", "Kiểm tra 8", "橫線"};
    const char* const sixth[5] = {"色带", "Colour bar", "Тест 6", "Kiểm tra 6", "色帶"};
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        Script s;
        toTestChart(s).act([&, language] {
            test_chart* page = g_test_chart;
            EXPECT_EQ(page->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QString::fromUtf8(titles[language]));
            EXPECT_EQ(page->Button_closetest->text(), QString::fromUtf8(closes[language]));
            EXPECT_EQ(page->findChild<QLabel*>(QStringLiteral("label_wline"))->text(), QString::fromUtf8(eighth[language]));
            EXPECT_EQ(page->findChild<QLabel*>(QStringLiteral("label_color"))->text(), QString::fromUtf8(sixth[language]));
            const QString where = QStringLiteral("test_chart%1").arg(language);
            bad << Panel::misfits(page, where);
            bad << Panel::lowContrast(page, where);
            Panel::shot(page, QStringLiteral("test_chart_%1").arg(language));
            page->label_refused->show();
            bad << Panel::misfits(page, where + QStringLiteral("refused"));
            // The refusal hides whole captions, never leaves parts of them beside it.
            const QRect box = page->label_refused->geometry();
            for (QLabel* caption : page->label_caption) {
                const QRect c(caption->mapTo(page, QPoint(0, 0)), caption->size());
                if (box.intersects(c)) {
                    EXPECT_TRUE(box.contains(c)) << caption->objectName().toStdString();
                }
            }
            bad << Panel::lowContrast(page, where + QStringLiteral("refused"));
            Panel::shot(page, QStringLiteral("test_chart_refused_%1").arg(language));
            page->label_refused->hide();
        });
        ASSERT_TRUE(s.run(10000));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();
}
