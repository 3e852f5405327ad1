// The picture quality page reached by keys from the home screen: the values it shows, steps that
// reach the scaler chip, commit and undo (also while the scaler is still busy with the previous
// step), the reset of all picture fields, MODE, and its texts in every language.
#include "picture_pages.h"
#include "fpga_up.h"
#include "second_writer.h"

#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/pages_settings/quality.h"
#include "store_face.h"

#include <QLabel>
#include <QLineEdit>

using namespace PanelKey;
using namespace picture_test;

namespace {

Script& toQuality(Script& s)
{
    return toPictureMenu(s).key(OK).until([] { return Panel::onTop(19) && g_quality; }, "quality page");
}

QLineEdit* edit(int item)
{
    QLineEdit* const items[5] = {g_quality->lineEdit_bright, g_quality->lineEdit_Sharpness, g_quality->lineEdit_Contrast,
                                 g_quality->lineEdit_Saturation, g_quality->lineEdit_Reset};
    return items[item];
}

QString shownValue(int item) { return edit(item)->text(); }

QWidget* focused() { return edit(g_quality->ui_select); }


class QualityPage : public PicturePageTest {};

}

TEST_F(QualityPage, KeysFromHomeReachThePageWhichShowsTheStoredValuesClampedToTheirRange)
{
    store->setU16(blk::kBrightness, 37);
    store->setU16(blk::kContrast, 150);      // stored by the protocol out of range
    store->setU16(blk::kSharpness, 0xFFFE);  // negative as a signed word
    store->setU16(blk::kSaturation, 0);
    g_language = 1;
    Script s;
    toQuality(s).act([] {
        EXPECT_EQ(shownValue(0), QStringLiteral("37"));
        EXPECT_EQ(shownValue(1), QStringLiteral("0"));
        EXPECT_EQ(shownValue(2), QStringLiteral("100"));
        EXPECT_EQ(shownValue(3), QStringLiteral("0"));
        EXPECT_EQ(g_quality->lineEdit_Reset->text(), QStringLiteral("Press Ok"));
        EXPECT_EQ(g_quality->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("Image quality"));
        EXPECT_TRUE(Panel::styled(g_quality->lineEdit_bright, quality::kStyleFocused));
        EXPECT_TRUE(Panel::styled(g_quality->lineEdit_Reset, quality::kStyleNormal));
    });
    // The focus walks brightness, sharpness, contrast, saturation, reset and wraps both ways.
    QLineEdit* order[5] = {};
    s.act([&order] {
        order[0] = g_quality->lineEdit_bright, order[1] = g_quality->lineEdit_Sharpness;
        order[2] = g_quality->lineEdit_Contrast, order[3] = g_quality->lineEdit_Saturation;
        order[4] = g_quality->lineEdit_Reset;
    });
    for (int i = 1; i <= 5; ++i)
        s.key(Right).until([i] { return g_quality->ui_select == i % 5; }, "focus " + std::to_string(i)).act([&order, i] {
            EXPECT_TRUE(Panel::styled(order[i % 5], quality::kStyleFocused));
            EXPECT_TRUE(Panel::styled(order[(i + 4) % 5], quality::kStyleNormal));
        });
    s.key(Left)
        .until([] { return g_quality->ui_select == 4; }, "wrap left to reset")
        .key(Back)
        .until([] { return Panel::onTop(11) && !g_quality; }, "back to the picture menu");
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(flag(), 0) << "browsing writes nothing";
    EXPECT_EQ(store->u16(blk::kContrast), 150) << "showing a value clamped does not store it";
}

// Each value's steps reach the chip through the scaler, which sets the chip's own controls from
// the values (brightness: the chip stays at 50 and the FPGA is asked to carry it to the wall).
TEST_F(QualityPage, StepsOfEachValueReachTheScalerChip)
{
    bringUp();
    struct Row {
        int item;
        uint32_t field;
        int start;
        std::vector<int> keys; // while editing
        int end;
        std::string call;
    };
    const Row rows[] = {
        {0, blk::kBrightness, 80, {Right, Right, Left}, 81, "c331_SetBrightness(50)"},
        {1, blk::kSharpness, 10, {Right, Right, Right}, 13, "c331_SetSharpness(13)"},
        {2, blk::kContrast, 50, {Right, Right}, 52, "c331_SetContrast(52)"},
        {3, blk::kSaturation, 50, {Left, Left}, 48, "c331_SetSaturation(48)"},
    };
    for (const Row& r : rows)
        store->setU16(r.field, uint16_t(r.start));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.item);
        store->setU16(blk::kCurrentMode, 3);
        scaler->call_log.clear();
        fpga->bri_request = 0;
        std::vector<int> written;
        Script s;
        toQuality(s);
        for (int i = 0; i < r.item; ++i)
            s.key(Right);
        s.key(OK).until([] { return g_quality->edit_flag == 1; }, "editing").act([&, r] {
            EXPECT_TRUE(Panel::styled(focused(), quality::kStyleEditing));
        });
        for (int k : r.keys)
            s.act([this] { ASSERT_EQ(flag(), 0); })
                .key(k)
                .until([this] { return flag() == 1; }, "step handed over")
                .act([&, r] {
                    written.push_back(store->u16(r.field));
                    pass();
                });
        s.key(OK)
            .until([] { return g_quality->edit_flag == 0; }, "committed")
            .act([&, r] {
                EXPECT_EQ(shownValue(r.item), QString::number(r.end));
                EXPECT_TRUE(Panel::styled(focused(), quality::kStyleFocused));
                pass();
            })
            .key(Back)
            .until([] { return Panel::onTop(11); }, "picture menu");
        ASSERT_TRUE(s.run(10000));
        EXPECT_EQ(store->u16(r.field), r.end);
        EXPECT_EQ(store->u16(blk::kCurrentMode), 0) << "no longer mode 3: a tool's recall of it loads it";
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(written.front(), r.start + (r.keys.front() == Right ? 1 : -1)) << "each step is written at once";
        const std::vector<std::string> calls = pictureCalls();
        EXPECT_NE(std::find(calls.begin(), calls.end(), r.call), calls.end()) << r.call;
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.find("ColorTemp") != std::string::npos; }), 0);
        if (r.item == 0) {
            EXPECT_EQ(fpga->bri_request, 1) << "the wall's brightness is the FPGA's";
            EXPECT_EQ(onAllChannels(0x0C3A02), std::vector<uint32_t>(8, 0)) << "the chip's own brightness stays at 50";
        }
    }
    // Chip registers as the scaler sets them: contrast 52 -> 52 x 1023 / 100, saturation 48 ->
    // 48 x 1023 / 100, the same on all eight output channels and in all three colour registers.
    for (uint32_t desc : {0x0C2802u, 0x0C2A02u, 0x0C2C02u})
        EXPECT_EQ(onAllChannels(desc), std::vector<uint32_t>(8, 531)) << std::hex << desc;
    for (uint32_t desc : {0x0C1B02u, 0x0C1D02u, 0x0C1F02u})
        EXPECT_EQ(onAllChannels(desc), std::vector<uint32_t>(8, 491)) << std::hex << desc;
}

TEST_F(QualityPage, StepsStopAtZeroAndHundredAndStillHandOver)
{
    struct Case {
        uint16_t stored;
        int key;
        uint16_t written;
    };
    const Case cases[] = {{100, Right, 100}, {0, Left, 0}, {150, Right, 100}, {150, Left, 99}, {300, Left, 99}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        store->setU16(blk::kContrast, c.stored);
        scaler->change_flag = 0;
        Script s;
        toQuality(s)
            .keys({Right, Right, OK, c.key})
            .until([this] { return flag() == 1; }, "handed over")
            .act([c] { EXPECT_EQ(shownValue(2), QString::number(c.written)); });
        ASSERT_TRUE(s.run());
        // The whole word: 300 is 0x12C, and a high byte left behind would make 99 into 355.
        EXPECT_EQ(store->u16(blk::kContrast), c.written);
    }
}

TEST_F(QualityPage, BackUndoesTheEditAndTheChipFollows)
{
    bringUp();
    store->setU16(blk::kContrast, 40);
    Script s;
    toQuality(s).keys({Right, Right, OK});
    for (int i = 0; i < 3; ++i)
        s.key(Right).until([this] { return flag() == 1; }, "step").act([this] { pass(); });
    s.act([this] { EXPECT_EQ(store->u16(blk::kContrast), 43); })
        .key(Back)
        .until([] { return g_quality->edit_flag == 0; }, "edit left")
        .act([this] {
            EXPECT_EQ(store->u16(blk::kContrast), 40);
            EXPECT_EQ(flag(), 1);
            EXPECT_EQ(shownValue(2), QStringLiteral("40"));
            EXPECT_TRUE(Panel::styled(focused(), quality::kStyleFocused));
            pass();
        });
    ASSERT_TRUE(s.run());
    const std::vector<std::string> expected = {"c331_SetContrast(41)", "c331_SetContrast(42)", "c331_SetContrast(43)",
                                               "c331_SetContrast(40)"};
    EXPECT_EQ(pictureCalls(), expected);
    EXPECT_EQ(onAllChannels(0x0C2802), std::vector<uint32_t>(8, 40 * 1023 / 100));
}

// The scaler has not yet taken the previous step: further steps, the commit and the undo are not
// lost but go out once it has (on its refresh, or on the page's retry).
TEST_F(QualityPage, KeysWhileTheScalerIsBusyAreHandedOverOnceItIsFree)
{
    bringUp();
    struct Case {
        const char* what;
        std::vector<int> keys; // after OK and a first step, with the flag still set
        int expected;
        bool byRefresh; // freed by a scaler pass (its refresh) or only by clearing the flag
        std::vector<std::string> calls;
    };
    // Without a pass the scaler never took the first step: it sees only the final value.
    const Case cases[] = {
        {"undo", {Right, Right, Back}, 50, true, {"c331_SetSaturation(51)", "c331_SetSaturation(50)"}},
        {"commit", {Right, Right, OK}, 53, true, {"c331_SetSaturation(51)", "c331_SetSaturation(53)"}},
        {"undo, freed without a refresh", {Right, Back}, 50, false, {}},
        {"steps, freed without a refresh", {Left, Left, Left}, 48, false, {"c331_SetSaturation(48)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store->setU16(blk::kSaturation, 50);
        scaler->change_flag = 1;
        pass(); // the scaler has applied 50
        scaler->call_log.clear();
        Script s;
        toQuality(s).keys({Right, Right, Right, OK, Right}).until([this] { return flag() == 1; }, "first step");
        for (int k : c.keys)
            s.key(k);
        s.until([&c] { return shownValue(3) == QString::number(c.expected); }, "shown")
            .act([this] { EXPECT_EQ(store->u16(blk::kSaturation), 51) << "nothing more while the scaler is busy"; });
        if (c.byRefresh) {
            s.act([this] { pass(); }); // takes 51 and refreshes the page, which hands the rest over
        } else {
            s.act([this] { scaler->change_flag = 0; });
        }
        s.until([this, &c] { return store->u16(blk::kSaturation) == c.expected && flag() == 1; }, "handed over later")
            .act([this] { pass(); });
        ASSERT_TRUE(s.run());
        EXPECT_EQ(pictureCalls(), c.calls);
        EXPECT_EQ(onAllChannels(0x0C1B02), std::vector<uint32_t>(8, uint32_t(c.expected * 1023 / 100)));
    }
}

TEST_F(QualityPage, ResetRestoresAllPictureFieldsAndThePageShowsTheDefaultsAtOnce)
{
    const uint32_t fields[8] = {blk::kBrightness, blk::kContrast, blk::kSharpness, blk::kSaturation,
                                blk::kColourTemp, blk::kColourRed,  blk::kColourGreen, blk::kColourBlue};
    for (uint32_t f : fields)
        store->setU16(f, 77);
    store->setU16(blk::kColourTemp, 1);
    store->setU16(blk::kColourTemp + 0x10, 0x1234); // the field after the picture area stays
    Script s;
    toQuality(s)
        .key(Left)
        .until([] { return g_quality->ui_select == 4; }, "reset item")
        .key(OK)
        .until([this] { return flag() == 1; }, "reset handed over")
        .act([] {
            EXPECT_EQ(g_quality->edit_flag, 0);
            EXPECT_EQ(shownValue(0), QStringLiteral("100"));
            EXPECT_EQ(shownValue(1), QStringLiteral("10"));
            EXPECT_EQ(shownValue(2), QStringLiteral("50"));
            EXPECT_EQ(shownValue(3), QStringLiteral("50"));
        })
        .act([this] { scaler->change_flag = 0; })
        // The next edit starts from the default, not from the number shown before.
        .keys({Right, OK, Left})
        .until([this] { return flag() == 1; }, "step after the reset");
    ASSERT_TRUE(s.run());
    const uint16_t expected[8] = {99, 50, 10, 50, 2, 64, 64, 64};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(store->u16(fields[i]), expected[i]) << std::hex << fields[i];
    EXPECT_EQ(store->u16(blk::kColourTemp + 0x10), 0x1234);
}

TEST_F(QualityPage, ModeDuringAnEditLeavesTheLastStepAndOpensTheUserModes)
{
    store->setU16(blk::kSharpness, 20);
    Script s;
    toQuality(s)
        .keys({Right, OK, Right})
        .until([this] { return flag() == 1; }, "step")
        .act([this] { scaler->change_flag = 0; })
        .key(Right)
        .until([this] { return flag() == 1; }, "second step")
        .key(Right) // waits: the scaler has not taken the second step
        .until([] { return shownValue(1) == QStringLiteral("23"); }, "third step shown")
        .key(Mode)
        .until([] { return !g_quality && g_page_focus.load() == 4 && PageNav::page(4); }, "user-mode page");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(store->u16(blk::kSharpness), 23) << "what the page showed last is what stays";
    EXPECT_EQ(g_mode_shortcut_key.load(), 1);
    EXPECT_FALSE(g_imagequality);
    EXPECT_FALSE(g_option);
}

// The operator edits the brightness from 0 while a PC tool sets 60: the page shows 60 (or a key
// acts on it before the refresh), the edit goes on from it, and neither BACK nor OK puts the
// page's value back over it: FPGA register 6 carries 60 % (153) to the wall.
TEST_F(QualityPage, ToolsValueDuringAnEditStaysOnTheWall)
{
    bringUp();
    ASSERT_TRUE(bringUpFpga0ByItsPasses());
    platform::Sim::fpgaChip().setCards(0, 1);
    SecondWriter tool = SecondWriter::inProcess();
    struct Row {
        const char* what;
        std::vector<int> own; // steps before the tool's write
        bool refreshed;       // the scaler's pass after the tool's write has refreshed the page
        int key;              // then
        uint16_t end;
        bool waits = false;   // the scaler has not taken the page's steps when the tool writes
    };
    const Row rows[] = {
        {"BACK", {}, true, Back, 60},
        {"BACK after the page's own steps", {Right, Right}, true, Back, 60},
        {"OK", {Right}, true, OK, 60},
        {"a step before the refresh starts from the tool's value", {}, false, Right, 61},
        {"OK after a step that waited for the busy scaler", {Right, Right}, true, OK, 60, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        store->setU16(blk::kBrightness, 0);
        scaler->change_flag = 1;
        pass();
        Script s;
        toQuality(s).key(OK).until([] { return g_quality->edit_flag == 1; }, "editing");
        for (int k : r.own)
            s.key(k).until([this] { return flag() == 1; }, "own step").act([this, &r] {
                if (!r.waits)
                    pass();
            });
        if (r.waits)
            s.until([] { return g_quality->writer->waiting(); }, "the last step waits");
        s.act([&] {
            ASSERT_EQ(tool.set16(blk::kBrightness, 60), 0);
            if (r.refreshed) {
                pass();
                EXPECT_EQ(shownValue(0), QStringLiteral("60"));
            }
        });
        s.key(r.key)
            .until([&r] { return shownValue(0) == QString::number(r.end); }, "shown")
            .act([this, &r] {
                pass(); // a step waits while the scaler has not taken the tool's change
                EXPECT_EQ(store->u16(blk::kBrightness), r.end);
            });
        if (r.key == Right)
            s.key(OK);
        s.until([] { return g_quality->edit_flag == 0; }, "edit left")
            .key(Back)
            .until([] { return Panel::onTop(11); }, "picture menu");
        ASSERT_TRUE(s.run());
        pass();
        EXPECT_EQ(store->u16(blk::kBrightness), r.end);
        if (r.end == 60) {
            for (int i = 0; i < 50 && platform::Sim::fpgaChip().registerValue(6) != 153; ++i) {
                G_timeTicks.fetch_add(1);
                fpga->runOnce();
            }
            EXPECT_EQ(platform::Sim::fpgaChip().registerValue(6), 153);
        }
    }
}

TEST_F(QualityPage, TextsOfEveryLanguageFitAndALanguageChangeRetextsThePage)
{
    const char* const titles[5] = {"图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh", "圖像效果"};
    const char* const resets[5] = {"画质复位", "Reset", "Сбросить", "Đặt lại chất lượng hình ảnh", "畫質複位"};
    const char* const press[5] = {"点击OK应用", "Press Ok", "Нажмите ОК", "Đồng ý", "點擊OK應用"};
    const char* const bright[5] = {"亮度", "Brightness", "Яркость", "Độ cao", "亮度"};
    store->setU16(blk::kBrightness, 100);
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        Script s;
        toQuality(s).act([&, language] {
            QWidget* page = g_quality;
            EXPECT_EQ(page->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QString::fromUtf8(titles[language]));
            EXPECT_EQ(g_quality->label_reset->text(), QString::fromUtf8(resets[language]));
            EXPECT_EQ(g_quality->lineEdit_Reset->text(), QString::fromUtf8(press[language]));
            EXPECT_EQ(g_quality->label_bright->text(), QString::fromUtf8(bright[language]));
            bad << Panel::misfits(page, QStringLiteral("quality%1").arg(language));
            bad << Panel::lowContrast(page, QStringLiteral("quality%1").arg(language));
            bad << fieldMisfits(page, QStringLiteral("quality%1").arg(language));
            Panel::shot(page, QStringLiteral("quality_%1").arg(language));
        });
        ASSERT_TRUE(s.run(10000));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();

    // A new language arriving while the page is on top: its refresh re-texts it.
    g_language = 1;
    testBlock(store)[blk::kLanguage] = 1;
    memcpy(store->shadow, testBlock(store), sizeof store->shadow);
    Script s;
    toQuality(s)
        .act([this] { testBlock(store)[blk::kLanguage] = 2; })
        .act([] { Panel::refresh(); })
        .until([] { return g_quality->label_reset->text() == QStringLiteral("Сбросить"); }, "Russian")
        .act([] { EXPECT_EQ(g_language.load(), 2); });
    ASSERT_TRUE(s.run());
}
