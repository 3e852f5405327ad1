// The crop page driven by keys from the home screen: adding, editing and deleting crops, what the
// block, the parameter file and the scaler chip end with, fields refused against the input's
// picture, paging through the entry list, MODE and Qt's own dialog keys, texts in every language.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "panel_store.h"
#include "second_writer.h"

#include "managers.h"
#include "test_root.h"

#include "base/global.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"
#include "scaler/c331_manage.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/panelkeys.h"
#include "video_chips/keltosource.h"
#include "store_face.h"

#include <QApplication>
#include <QKeyEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMutexLocker>
#include <QPushButton>
#include <cstring>
#include <deque>
#include <thread>
#include <memory>

using namespace PanelKey;
namespace crop = blk::crop;

namespace {

struct Rect {
    uint16_t x, y, w, h;
    bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

void putCrop(VyrRamPara* s, uint32_t k, uint8_t input, uint32_t number, Rect r)
{
    s->setU16(blk::cropField(k, crop::kId), crop::idWord(input, number));
    s->setU16(blk::cropField(k, crop::kX), r.x);
    s->setU16(blk::cropField(k, crop::kY), r.y);
    s->setU16(blk::cropField(k, crop::kWidth), r.w);
    s->setU16(blk::cropField(k, crop::kHeight), r.h);
}

Rect rectAt(const uint8_t* b, uint32_t k)
{
    return {blk::get16(b, blk::cropField(k, crop::kX)), blk::get16(b, blk::cropField(k, crop::kY)),
            blk::get16(b, blk::cropField(k, crop::kWidth)), blk::get16(b, blk::cropField(k, crop::kHeight))};
}

bool cropPageActive() { return Panel::focusIs(7) && g_inputcut && QApplication::activeWindow() == g_inputcut.data(); }

using CropKeypad = FakeNumberKeypad<InputCut>;

// Home screen -> root menu -> settings menu -> crop page.
Script& toCropPage(Script& s)
{
    return s.key(OK)
        .choose("option")
        .until([] { return Panel::focusIs(5); }, "settings menu")
        .choose("input_cut")
        .until(cropPageActive, "crop page");
}

// The crop page opened straight away, for tests that open it more than once.
Script& openCropPage(Script& s)
{
    return s.act([] { Panel::openLater([]() -> VyrPage* { return new InputCut; }); }).until(cropPageActive, "crop page");
}

// The focused tile of the entry list ("" when none), by its entry name.
QString focusedTile()
{
    if (!g_inputcut || !g_inputcut->frame_source)
        return QString();
    for (QFrame* tile : g_inputcut->frame_source->findChildren<QFrame*>())
        if (tile->property("focused").toBool())
            return tile->findChild<QLabel*>(QStringLiteral("entry_name"))->text();
    return QString();
}

QStringList tileNames()
{
    QStringList names;
    for (int i = 0; i < 6; ++i)
        if (auto* tile = g_inputcut->frame_source->findChild<QFrame*>(QStringLiteral("tile%1").arg(i)))
            names << tile->findChild<QLabel*>(QStringLiteral("entry_name"))->text()
                         + QLatin1Char(' ') + tile->findChild<QLabel*>(QStringLiteral("entry_size"))->text();
    return names;
}

void onlyWindowOne(VyrRamPara* s)
{
    for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
        s->setU16(blk::window(w, blk::win::kState), w == 0 ? 1 : 0);
}

bool addFocused()
{
    return g_inputcut && g_inputcut->button_add && g_inputcut->button_add->styleSheet().contains(QStringLiteral("255,171,84"));
}

}

TEST_F(PanelTest, CropAddedFromTheSettingsMenuIsWrittenHandedOverAndSaved)
{
    g_language = 1;
    Panel::clearCrops(store);
    Panel::setInputTiming(store, 2, 1920, 1080, 60);
    Panel::clearFlag();
    Script s;
    toCropPage(s);
    s.act([] {
         EXPECT_EQ(g_inputcut->current_input, 2);
         EXPECT_EQ(g_inputcut->tab_name[0]->text().contains(QStringLiteral(">1<")), true) << "HDMI1 (1)";
         EXPECT_EQ(tileNames(), QStringList({QStringLiteral("HDMI1 1920x1080@60Hz")}));
     })
        .key(OK)
        .until([] { return g_inputcut->level == 1 && addFocused(); }, "list, add focused")
        .key(OK)
        .until([] { return g_inputcut->level == 2 && g_inputcut->frame_add->isVisible(); }, "new-crop editor")
        .act([] {
            EXPECT_EQ(g_inputcut->label_change_source->text(), QStringLiteral("Name:HDMI1-Crop-1"));
            EXPECT_EQ(g_inputcut->lineEdit_X->text(), QStringLiteral("0"));
            EXPECT_EQ(g_inputcut->lineEdit_W->text(), QStringLiteral("1920"));
            EXPECT_EQ(g_inputcut->lineEdit_H->text(), QStringLiteral("1080"));
            EXPECT_FALSE(g_inputcut->button_delete->isVisible());
            EXPECT_TRUE(g_inputcut->button_ok->isVisible());
            Panel::shot(g_inputcut, QStringLiteral("crop_new_editor"));
        })
        .keys({Right, Right, Right, Right, Right}) // Y, W, H, Cancel, OK: Delete is skipped
        .until([] { return g_inputcut->edit_select == 6; }, "OK focused")
        .act([] { EXPECT_EQ(Panel::changeFlag(), 0) << "nothing written before OK"; })
        .key(OK)
        .until([] { return g_inputcut->level == 1 && !g_inputcut->frame_add->isVisible(); }, "stored")
        .act([] { EXPECT_TRUE(g_inputcut->tab_name[0]->text().contains(QStringLiteral(">2<"))) << "HDMI1 (2)"; });
    ASSERT_TRUE(s.run());
    const uint8_t expected[10] = {0x02, 0x80, 0, 0, 0, 0, 0x80, 0x07, 0x38, 0x04};
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(testBlock(store) + blk::cropEntry(0)), 10),
              QByteArray(reinterpret_cast<const char*>(expected), 10));
    EXPECT_EQ(Panel::changeFlag(), 1) << "handed over at once";
    // The scaler's pass signals the refresh, which saves the block.
    Panel::refresh(1);
    Panel::pump(20);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Panel::savedByte(blk::cropEntry(0) + i), expected[i]) << i;
}

TEST_F(PanelTest, CropNewEditorStartsAtTheInputsPictureSoOkStoresIt)
{
    struct Case {
        uint16_t w, h, rate; // HDMI1's timing; 0x0 without signal
        Rect stored;
    };
    const Case cases[] = {
        {1280, 720, 60, {0, 0, 1280, 720}},
        {720, 576, 50, {0, 0, 720, 576}},
        {3840, 2160, 30, {0, 0, 3840, 2160}},
        {1920, 1080, 0, {0, 0, 1920, 1080}}, // no complete timing: the usual size
        {0, 0, 0, {0, 0, 1920, 1080}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.w);
        Panel::clearCrops(store);
        Panel::setInputTiming(store, 2, c.w, c.h, c.rate);
        Panel::clearFlag();
        Script s;
        openCropPage(s);
        s.keys({OK, OK})
            .until([] { return g_inputcut->level == 2 && g_inputcut->frame_add->isVisible(); }, "new-crop editor")
            .keys({Right, Right, Right, Right, Right})
            .until([] { return g_inputcut->edit_select == 6; }, "OK focused")
            .key(OK)
            .until([] { return g_inputcut->level == 1 && !g_inputcut->frame_add->isVisible(); }, "stored")
            .act([] { EXPECT_FALSE(g_inputcut->label_note->isVisible()); });
        ASSERT_TRUE(s.run());
        EXPECT_EQ(rectAt(testBlock(store), 0), c.stored);
        EXPECT_EQ(store->u16(blk::cropField(0, crop::kId)), crop::idWord(2, 1));
        EXPECT_EQ(Panel::changeFlag(), 1);
    }
}

TEST_F(PanelTest, CropTilesNameCropNumbersAndTheEditorNamesEntryNumbers)
{
    g_language = 1;
    Panel::clearCrops(store);
    putCrop(store, 5, 2, 3, {0, 0, 640, 360});   // crop 3 of HDMI1, earlier in the table
    putCrop(store, 9, 2, 1, {10, 10, 800, 600}); // crop 1
    putCrop(store, 0, 3, 1, {0, 0, 100, 100});   // HDMI2's: not listed under HDMI1
    CropKeypad keypad;
    Script s;
    toCropPage(s);
    s.act([] {
         EXPECT_EQ(tileNames(), QStringList({QStringLiteral("HDMI1 No signal"), QStringLiteral("HDMI1_crop1 800x600"),
                                             QStringLiteral("HDMI1_crop3 640x360")}));
     })
        .keys({OK, Right, Right, Right})
        .until([] { return focusedTile() == QStringLiteral("HDMI1_crop3"); }, "crop 3 focused")
        .key(OK)
        .until([] { return g_inputcut->level == 3; }, "editor of crop 3")
        .act([] {
            EXPECT_EQ(g_inputcut->label_change_source->text(), QStringLiteral("Name:HDMI1-Crop-2"));
            EXPECT_EQ(g_inputcut->lineEdit_W->text(), QStringLiteral("640"));
            EXPECT_TRUE(g_inputcut->button_delete->isVisible());
        })
        .key(Back)
        .until([] { return g_inputcut->level == 1 && focusedTile() == QStringLiteral("HDMI1_crop3"); }, "list again")
        .keys({Right, OK})
        .until([] { return g_inputcut->level == 2; }, "new-crop editor")
        .act([] { EXPECT_EQ(g_inputcut->label_change_source->text(), QStringLiteral("Name:HDMI1-Crop-3")); })
        .keys({Left, OK})
        .until([] { return g_inputcut->level == 1; }, "added");
    ASSERT_TRUE(s.run());
    // The new crop took the first free number of HDMI1 (2) and the first free table entry (1).
    EXPECT_EQ(store->u16(blk::cropField(1, crop::kId)), crop::idWord(2, 2));
    EXPECT_EQ(store->u16(blk::cropField(5, crop::kId)), crop::idWord(2, 3));
}

// Field answers typed into the editor and whether OK stores them. Sizes must lie inside the input's
// picture when its timing is known, and inside the 16-bit table otherwise.
TEST_F(PanelTest, CropFieldsAreCheckedAgainstTheInputAndARefusalWritesNothing)
{
    struct Case {
        bool timing;                        // HDMI1 carries 1920x1080@60
        std::vector<int> fields;            // editor positions typed (0 X .. 3 H), in order
        std::deque<std::pair<bool, int>> answers;
        bool stored;
        Rect result;                        // the crop after OK (the old one when refused)
    };
    g_language = 1;
    const Rect old{100, 100, 640, 360};
    const Case cases[] = {
        {true, {0, 2}, {{true, 1000}, {true, 920}}, true, {1000, 100, 920, 360}},  // exactly at the right edge
        {true, {0, 2}, {{true, 1000}, {true, 921}}, false, old},                   // one pixel beyond
        {true, {1, 3}, {{true, 1079}, {true, 2}}, false, old},                    // below the bottom
        {true, {2}, {{true, 0}}, true, old},                 // 0 is outside the keypad's bounds: the field keeps 640
        {true, {2}, {{true, 1921}}, true, old},              // beyond the picture: kept as well
        {true, {2}, {{false, 800}}, true, old},              // cancelled on the keypad
        {false, {2, 3}, {{true, 3840}, {true, 2160}}, true, {100, 100, 3840, 2160}}, // no timing: any size
        {false, {0, 2}, {{true, 30000}, {true, 5000}}, false, old},                  // beyond the 16-bit table
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(row++);
        Panel::clearCrops(store);
        putCrop(store, 3, 2, 1, old);
        Panel::setInputTiming(store, 2, c.timing ? 1920 : 0, c.timing ? 1080 : 0, c.timing ? 60 : 0);
        Panel::clearFlag();
        CropKeypad keypad;
        keypad.answers = c.answers;
        Script s;
        openCropPage(s);
        s.keys({OK, Right, Right, OK}).until([] { return g_inputcut->level == 3; }, "editor");
        int at = 0;
        for (int field : c.fields) {
            for (; at < field; ++at)
                s.key(Right);
            s.key(OK);
        }
        s.until([&keypad] { return keypad.answers.empty(); }, "answers used");
        for (; at < 6; ++at)
            s.key(Right);
        s.until([] { return g_inputcut->edit_select == 6; }, "OK focused").key(OK);
        if (c.stored)
            s.until([] { return g_inputcut->level == 1; }, "stored");
        else
            s.until([] { return g_inputcut->label_note->isVisible(); }, "refusal shown")
                .act([] {
                    EXPECT_EQ(g_inputcut->level, 3) << "the editor stays open to be put right";
                    Panel::shot(g_inputcut, QStringLiteral("crop_refused"));
                })
                .key(Back)
                .until([] { return g_inputcut->level == 1 && !g_inputcut->label_note->isVisible(); }, "closed");
        ASSERT_TRUE(s.run());
        EXPECT_EQ(rectAt(testBlock(store), 3), c.result);
        EXPECT_EQ(store->u16(blk::cropField(3, crop::kId)), crop::idWord(2, 1));
        EXPECT_EQ(Panel::changeFlag(), c.stored && !(c.result == old) ? 1 : 0) << "an OK that changes nothing hands nothing over";
        // The keypad is asked for values inside the picture: X 0-1919, Y 0-1079, W 1-1920, H 1-1080.
        const QStringList bounds = c.timing ? QStringList{QStringLiteral(" 0-1919"), QStringLiteral(" 0-1079"), QStringLiteral(" 1-1920"), QStringLiteral(" 1-1080")}
                                            : QStringList{QStringLiteral(" 0-32766"), QStringLiteral(" 0-32766"), QStringLiteral(" 1-32767"), QStringLiteral(" 1-32767")};
        ASSERT_EQ(keypad.asked.size(), int(c.fields.size()));
        for (size_t i = 0; i < c.fields.size(); ++i)
            EXPECT_TRUE(keypad.asked[int(i)].startsWith(QLatin1Char("XYWH"[c.fields[i]]))
                        && keypad.asked[int(i)].endsWith(bounds[c.fields[i]]))
                << keypad.asked.join(QLatin1Char('|')).toStdString();
    }
}

TEST_F(PanelTest, CropDeletedByKeysSwitchesItsWindowBackToTheInput)
{
    Panel::clearCrops(store);
    putCrop(store, 4, 2, 1, {0, 0, 640, 360});
    putCrop(store, 6, 2, 2, {0, 0, 320, 180});
    store->setU16(blk::window(0, blk::win::kSource), blk::win::kSourceCrop | 6);
    store->setU16(blk::window(1, blk::win::kSource), blk::win::kSourceCrop | 4);
    Panel::clearFlag();
    Script s;
    toCropPage(s);
    s.keys({OK, Right, Right, Right, OK})
        .until([] { return g_inputcut->level == 3 && g_inputcut->lineEdit_W->text() == QStringLiteral("320"); }, "crop 2")
        .keys({Left, Left, Left}) // X -> OK -> Cancel -> Delete
        .until([] { return g_inputcut->edit_select == 4; }, "Delete focused")
        .key(OK)
        .until([] { return g_inputcut->level == 1 && !g_inputcut->frame_add->isVisible(); }, "deleted");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(store->u16(blk::cropField(6, crop::kId)), 0);
    EXPECT_EQ(store->u16(blk::cropField(4, crop::kId)), crop::idWord(2, 1)) << "the other crop stays";
    EXPECT_EQ(store->u16(blk::window(0, blk::win::kSource)), 2) << "window 0 shows HDMI1 itself";
    EXPECT_EQ(store->u16(blk::window(1, blk::win::kSource)), blk::win::kSourceCrop | 4);
    EXPECT_EQ(Panel::changeFlag(), 1);
}

// Six crops make seven entries: screen page 0 holds the add button, the input and crops 1-5,
// page 1 crop 6. Each key step gives (screen page, focused tile or "add", nothing).
TEST_F(PanelTest, CropListPagesThroughSixCropsAndWraps)
{
    Panel::clearCrops(store);
    for (uint32_t n = 1; n <= 6; ++n)
        putCrop(store, n + 2, 2, n, {0, 0, uint16_t(100 * n), 100});
    struct Step {
        int key;
        int page;
        const char* focus; // tile name, "add" for the add button
    };
    const Step steps[] = {
        {Left, 1, "HDMI1_crop6"},  // from the add button to the last entry
        {Right, 0, "add"},         // past the last entry: back to the add button
        {Right, 0, "HDMI1"},       {Right, 0, "HDMI1_crop1"}, {Right, 0, "HDMI1_crop2"}, {Right, 0, "HDMI1_crop3"},
        {Right, 0, "HDMI1_crop4"}, {Right, 0, "HDMI1_crop5"},
        {Right, 1, "HDMI1_crop6"}, // position 6 of page 0 passes on to page 1
        {Left, 0, "HDMI1_crop5"},  // position 0 of page 1 back to the last position of page 0
        {Left, 0, "HDMI1_crop4"},
    };
    Script s;
    toCropPage(s);
    s.key(OK).until([] { return g_inputcut->level == 1 && addFocused(); }, "list");
    int i = 0;
    for (const Step& step : steps) {
        const std::string what = "step " + std::to_string(i++);
        s.key(step.key).until(
            [step] {
                const bool add = QLatin1String(step.focus) == QLatin1String("add");
                return g_inputcut->current_page == step.page && addFocused() == add
                    && (add ? focusedTile().isEmpty() : focusedTile() == QLatin1String(step.focus));
            },
            what);
    }
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, CropDeletingTheOnlyTileOfTheLastPageLeavesAnEmptyPage)
{
    Panel::clearCrops(store);
    for (uint32_t n = 1; n <= 6; ++n)
        putCrop(store, n, 2, n, {0, 0, 200, 100});
    Script s;
    toCropPage(s);
    s.keys({OK, Left, OK})
        .until([] { return g_inputcut->level == 3 && g_inputcut->current_entry == 6; }, "editor of crop 6")
        .keys({Left, Left, Left, OK})
        .until([] { return g_inputcut->level == 1 && g_inputcut->get_source_num(2) == 6; }, "deleted")
        .act([] {
            EXPECT_EQ(g_inputcut->current_page, 1);
            EXPECT_TRUE(tileNames().isEmpty());
            EXPECT_TRUE(focusedTile().isEmpty());
        })
        .key(Right)
        .until([] { return g_inputcut->current_page == 0 && addFocused(); }, "right: the add button")
        .keys({Right, Left}) // to the input tile and back
        .until(addFocused, "add again")
        .key(Left)
        .until([] { return focusedTile() == QStringLiteral("HDMI1_crop5"); }, "left: the last entry");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(store->u16(blk::cropField(6, crop::kId)), 0);
}

TEST_F(PanelTest, CropTabsAndBackKeepTheInputAndAFullTableSaysSo)
{
    g_language = 1;
    Panel::clearCrops(store);
    for (uint32_t k = 0; k < kCropCount; ++k) // every entry taken, by HDMI2 and a foreign id
        putCrop(store, k, k < 39 ? 3 : 9, k < 39 ? k + 1 : 1, {0, 0, 64, 64});
    Panel::clearFlag();
    Script s;
    toCropPage(s);
    s.keys({Left, Left}) // HDMI1 -> EXT -> DVI
        .until([] { return g_inputcut->current_input == 1; }, "DVI tab")
        .act([] { EXPECT_EQ(tileNames(), QStringList({QStringLiteral("DVI No signal")})); })
        .keys({OK, Right, Right})
        .until([] { return focusedTile().isEmpty() && addFocused(); }, "input tile wraps to add")
        .key(OK)
        .until([] { return g_inputcut->label_note->isVisible(); }, "table full")
        .act([] {
            EXPECT_EQ(g_inputcut->label_note->text(), QStringLiteral("Crop table full, nothing added"));
            EXPECT_EQ(g_inputcut->level, 1);
            EXPECT_FALSE(g_inputcut->frame_add->isVisible());
            Panel::shot(g_inputcut, QStringLiteral("crop_table_full"));
        })
        .keys({Right, OK}) // OK on the input itself does nothing
        .until([] { return !g_inputcut->label_note->isVisible(); }, "note gone with the next key")
        .act([] { EXPECT_EQ(g_inputcut->level, 1); })
        .key(Back)
        .until([] { return g_inputcut->level == 0; }, "tabs")
        .act([] {
            EXPECT_EQ(g_inputcut->ui_select, 4);
            EXPECT_EQ(g_inputcut->current_input, 1);
        })
        .key(Back)
        .until([] { return Panel::focusIs(5) && !g_inputcut && QApplication::activeWindow() == g_option.data(); }, "settings");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(Panel::changeFlag(), 0);
}

TEST_F(PanelTest, CropEditorOkRefusesACropTheProtocolChangedMeanwhile)
{
    Panel::clearCrops(store);
    putCrop(store, 2, 2, 1, {0, 0, 640, 360});
    putCrop(store, 3, 2, 2, {0, 0, 320, 180});
    CropKeypad keypad;
    keypad.answers = {{true, 100}};
    Panel::clearFlag();
    Script s;
    toCropPage(s);
    s.keys({OK, Right, Right, Right, OK})
        .until([] { return g_inputcut->level == 3 && g_inputcut->lineEdit_W->text() == QStringLiteral("320"); }, "crop 2")
        .act([this] {
            // The protocol deletes crop 1 and the table is redrawn: entry 2 is no longer crop 2's.
            ScalerHandOver handOver;
            store->setU16(blk::cropField(2, crop::kId), 0);
            handOver.commit(1);
        })
        .act([] { Panel::refresh(1); })
        .until([] { return g_inputcut->get_source_num(2) == 2; }, "list redrawn under the open editor")
        .act([] {
            EXPECT_EQ(g_inputcut->level, 3);
            EXPECT_EQ(g_inputcut->lineEdit_W->text(), QStringLiteral("320")) << "the editor keeps what it shows";
            Panel::clearFlag();
        })
        .key(OK)
        .until([&keypad] { return keypad.answers.empty(); }, "X typed")
        .keys({Left, OK}) // OK of the editor
        .until([] { return g_inputcut->level == 1 && g_inputcut->label_note->isVisible(); }, "refused");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(rectAt(testBlock(store), 3), (Rect{0, 0, 320, 180}));
    EXPECT_EQ(Panel::changeFlag(), 0);
}

TEST_F(PanelTest, CropPageIgnoresQtDialogKeysAndModeLeavesNothingBehind)
{
    Panel::clearCrops(store);
    putCrop(store, 0, 2, 1, {0, 0, 640, 360});
    onlyWindowOne(store);
    Script s;
    s.keys({OK, Right, OK})
        .until([] { return Panel::focusIs(3) && g_inputchoose && QApplication::activeWindow() == g_inputchoose.data(); }, "input choice")
        .keys({Left, Left, OK})
        .until(cropPageActive, "crop page from the input choice page")
        .keys({OK, Right, Right, OK})
        .until([] { return g_inputcut->level == 3; }, "editor")
        .keys({Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
        .act([] { Panel::pump(30); })
        .until([] { return cropPageActive() && g_inputcut->level == 3 && g_inputcut->frame_add->isVisible(); },
               "still open in the editor")
        .key(Mode)
        .until([] { return Panel::focusIs(4) && g_custommode && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
        .act([] {
            EXPECT_FALSE(g_inputcut);
            EXPECT_FALSE(g_inputchoose);
            EXPECT_FALSE(g_option);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
            EXPECT_EQ(g_mode_shortcut_key.load(), 1);
        })
        .key(Back)
        .until([] { return Panel::focusIs(0) && !g_custommode; }, "home screen");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(store->u16(blk::cropField(0, crop::kId)), crop::idWord(2, 1));
}

TEST_F(PanelTest, CropTextsFitInEveryLanguage)
{
    Panel::clearCrops(store);
    Panel::setInputTiming(store, 2, 3840, 2160, 60);
    putCrop(store, 0, 2, 1, {1920, 1080, 1920, 1080});
    putCrop(store, 1, 2, 40, {0, 0, 3840, 2160});
    CropKeypad keypad;
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        keypad.answers = {{true, 3000}};
        Script s;
        openCropPage(s);
        s.act([&] {
             bad << Panel::misfits(g_inputcut, QStringLiteral("InputCut%1").arg(language));
             bad << Panel::lowContrast(g_inputcut, QStringLiteral("InputCut%1").arg(language));
             Panel::shot(g_inputcut, QStringLiteral("crop_tabs_%1").arg(language));
             EXPECT_EQ(g_inputcut->label_X->text(), QStringLiteral("X"));
         })
            .keys({OK, Right, Right, OK})
            .until([] { return g_inputcut->level == 3; }, "editor")
            .act([&] {
                bad << Panel::misfits(g_inputcut, QStringLiteral("InputCutEditor%1").arg(language));
                bad << Panel::lowContrast(g_inputcut, QStringLiteral("InputCutEditor%1").arg(language));
                Panel::shot(g_inputcut, QStringLiteral("crop_editor_%1").arg(language));
                if (language == 1) {
                    EXPECT_EQ(g_inputcut->button_cancel->text(), QStringLiteral("Cancle"));
                    EXPECT_EQ(g_inputcut->button_delete->text(), QStringLiteral("Delete"));
                    EXPECT_EQ(g_inputcut->label_crop->text(), QStringLiteral("Crop:"));
                }
            })
            .keys({Right, Right, OK}) // W := 3000 with X 1920: beyond 3840
            .until([&keypad] { return keypad.answers.empty(); }, "W typed")
            .keys({Right, Right, Right, Right, OK})
            .until([] { return g_inputcut->label_note->isVisible(); }, "refusal")
            .act([&] {
                bad << Panel::misfits(g_inputcut, QStringLiteral("InputCutRefused%1").arg(language));
                bad << Panel::lowContrast(g_inputcut, QStringLiteral("InputCutRefused%1").arg(language));
                Panel::shot(g_inputcut, QStringLiteral("crop_refused_%1").arg(language));
            });
        ASSERT_TRUE(s.run());
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}

namespace {

// The crop page over a scaler brought up against the simulated chip, HDMI1 carrying 1920x1080:
// what the page stores is seen as the zoom and read start of window 0's output channel.
class CropOnChip : public PanelTest {
protected:
    void SetUp() override
    {
        const Managers m = startManagersWithoutWorkers();
        scaler = m.scaler;
        PanelTest::SetUp();
        platform::Sim::C331Chip::InputTiming t;
        t.present = true;
        t.htotal = 2200, t.vtotal = 1125, t.hact = 1920, t.fv = 60;
        platform::Sim::c331Chip().setInput(1, t); // input port of HDMI1
        HDMI_INFO rec{};
        rec.hact = 1920, rec.hsync = 44, rec.hback = 148, rec.htt = 2200;
        rec.vact = 1080, rec.vsync = 5, rec.vback = 36, rec.vtt = 1125;
        rec.pfreq = 148.5f, rec.stable = 1;
        {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            keltosource::p_kelto_source->hdminfo[c331_manage::vyrApi_GetPortDevId(1)] = rec;
        }
        for (int i = 0; i < 10 && scaler->thread_state < 6; ++i)
            scaler->runOnce();
        ASSERT_EQ(scaler->thread_state, 6);
        for (int i = 0; i < 3; ++i)
            scaler->runOnce();
        for (int o = 0; o < 8 && channel < 0; ++o)
            if (scaler->PM_WIN_NUM[o] == 0 && scaler->PM_AREA_NUM[o] == 0)
                channel = o;
        ASSERT_GE(channel, 0);
        Panel::setInputTiming(store, 2, 1920, 1080, 60);
    }

    // Crop 1 of HDMI1 (entry 7, 10,20 640x360) shown by window 0, applied.
    void showCropOnWindow0()
    {
        Panel::clearCrops(store);
        putCrop(store, 7, 2, 1, {10, 20, 640, 360});
        {
            ScalerHandOver handOver;
            store->setU16(blk::window(0, blk::win::kSource), blk::win::kSourceCrop | 7);
            handOver.commit(1);
        }
        scaler->runOnce();
        Panel::pump(20);
    }

    uint32_t reg(uint32_t desc) { return platform::Sim::c331Chip().value(desc, uint32_t(16 * channel)); }
    static uint32_t ratio(int64_t in, int64_t out) { return uint32_t((in - 1) * 65536 / (out - 1) + 1); }
    static constexpr uint32_t kZoomH = 0x0A4902, kZoomV = 0x0A4E02, kReadStart = 0x160804;
    static constexpr uint32_t kLine = 8 * 1024; // read-start step of one input line

    c331_manage* scaler = nullptr;
    int channel = -1;
};

}

TEST_F(CropOnChip, CropEditedOnThePageReachesTheChipAndTheFileAtOnce)
{
    showCropOnWindow0();
    const uint32_t start = reg(kReadStart) - (10 * 4 + 20 * kLine);
    ASSERT_EQ(reg(kZoomH), ratio(640, 1920));
    ASSERT_EQ(Panel::savedByte(blk::cropField(7, crop::kWidth)), 640 & 0xFF);

    CropKeypad keypad;
    keypad.answers = {{true, 100}, {true, 50}, {true, 960}, {true, 540}};
    Script s;
    toCropPage(s);
    s.keys({OK, Right, Right, OK})
        .until([] { return g_inputcut->level == 3; }, "editor of the crop window 0 shows")
        .keys({OK, Right, OK, Right, OK, Right, OK})
        .until([&keypad] { return keypad.answers.empty(); }, "X, Y, W, H typed")
        .keys({Right, Right, Right, OK})
        .until([] { return g_inputcut->level == 1; }, "stored")
        .act([this] {
            EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 1);
            // The scaler's next pass applies it and its signal saves the block.
            scaler->runOnce();
        })
        .until([] { return Panel::savedByte(blk::cropField(7, crop::kWidth)) == (960 & 0xFF); }, "saved");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(rectAt(testBlock(store), 7), (Rect{100, 50, 960, 540}));
    EXPECT_EQ(reg(kZoomH), ratio(960, 1920));
    EXPECT_EQ(reg(kZoomV), ratio(540, 1080));
    EXPECT_EQ(reg(kReadStart), start + 100 * 4 + 50 * kLine);
    const QByteArray file = TestRoot::readFile("/data/ram_device_info");
    EXPECT_EQ(QByteArray(file.constData() + 2 + blk::cropEntry(7) - kPersistStart, 10),
              QByteArray(reinterpret_cast<const char*>(testBlock(store) + blk::cropEntry(7)), 10));
    EXPECT_EQ(blk::get16(store->shadow, blk::cropField(7, crop::kX)), 100) << "the shadow follows the save";
}

TEST_F(CropOnChip, RefusedCropLeavesTheChipTheBlockAndTheFile)
{
    showCropOnWindow0();
    const QByteArray before = TestRoot::readFile("/data/ram_device_info");
    const auto chipBefore = platform::Sim::c331Chip().snapshot();
    CropKeypad keypad;
    keypad.answers = {{true, 1500}, {true, 600}}; // X 1500 + W 600 passes the right edge
    Script s;
    toCropPage(s);
    s.keys({OK, Right, Right, OK, OK, Right, Right, OK})
        .until([&keypad] { return keypad.answers.empty(); }, "typed")
        .keys({Right, Right, Right, Right, OK})
        .until([] { return g_inputcut->label_note->isVisible(); }, "refused")
        .act([this] { scaler->runOnce(); });
    ASSERT_TRUE(s.run());
    Panel::pump(20);
    EXPECT_EQ(rectAt(testBlock(store), 7), (Rect{10, 20, 640, 360}));
    EXPECT_EQ(TestRoot::readFile("/data/ram_device_info"), before);
    EXPECT_TRUE(platform::Sim::c331Chip().diff(chipBefore).empty());
}

// A PC tool rewrites the crop to 160x90 while its editor is open; the operator types X = 100 and
// presses OK: nothing is stored, the editor shows the tool's size beside the typed X and the chip
// keeps the tool's crop. A second OK stores what is shown.
TEST_F(CropOnChip, ACropAToolRewritesWhileItsEditorIsOpenIsNotWrittenBack)
{
    g_language = 1;
    showCropOnWindow0();
    const uint32_t start = reg(kReadStart) - (10 * 4 + 20 * kLine);
    CropKeypad keypad;
    keypad.answers = {{true, 100}};
    Script s;
    toCropPage(s);
    s.keys({OK, Right, Right, OK})
        .until([] { return g_inputcut->level == 3; }, "editor of crop 1")
        .act([this] {
            EXPECT_EQ(SecondWriter::inProcess().set(blk::cropField(7, crop::kWidth), {160, 0, 90, 0}), 0);
            scaler->runOnce();
        })
        .key(OK)
        .until([&keypad] { return keypad.answers.empty(); }, "X typed")
        .keys({Left, OK}) // the editor's OK
        .until([] { return g_inputcut->label_note->isVisible(); }, "refused")
        .act([this] {
            EXPECT_EQ(g_inputcut->level, 3);
            EXPECT_EQ(g_inputcut->label_note->text(), QStringLiteral("The crop was changed meanwhile"));
            QStringList shown;
            for (QLineEdit* f : {g_inputcut->lineEdit_X, g_inputcut->lineEdit_Y, g_inputcut->lineEdit_W, g_inputcut->lineEdit_H})
                shown << f->text();
            EXPECT_EQ(shown, QStringList({"100", "20", "160", "90"}));
            scaler->runOnce();
            EXPECT_EQ(rectAt(testBlock(store), 7), (Rect{10, 20, 160, 90}));
            EXPECT_EQ(reg(kZoomH), ratio(160, 1920)) << "the tool's crop on the chip";
            EXPECT_EQ(reg(kZoomV), ratio(90, 1080));
        })
        .key(OK)
        .until([] { return g_inputcut->level == 1; }, "stored as shown")
        .act([this] { scaler->runOnce(); });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(rectAt(testBlock(store), 7), (Rect{100, 20, 160, 90}));
    EXPECT_EQ(reg(kReadStart), start + 100 * 4 + 20 * kLine);
    EXPECT_EQ(reg(kZoomH), ratio(160, 1920));
}

// The panel's own keypad: the digits typed reach the field, and the keys reach the crop page again
// once the keypad has closed.
TEST_F(PanelTest, CropWidthTypedOnThePanelKeypadIsStoredAndTheKeysComeBack)
{
    Panel::clearCrops(store);
    putCrop(store, 0, 2, 1, {0, 0, 1920, 1080});
    Panel::setInputTiming(store, 2, 1920, 1080, 60);
    Panel::clearFlag();
    ASSERT_EQ(g_numberkeyboard->ui_select, 0) << "the keypad starts on its first key";
    Script s;
    toCropPage(s);
    s.keys({OK, Right, Right, OK})
        .until([] { return g_inputcut->level == 3; }, "editor")
        .keys({Right, Right, OK})
        .until([] { return g_numberkeyboard && QApplication::activeWindow() == g_numberkeyboard.data(); }, "keypad")
        // 6, 4, 0 and OK: keys 1-9 are 0-8, 0 is 9, OK is 13.
        .keys({Right, Right, Right, Right, Right, OK, Left, Left, OK, Right, Right, Right, Right, Right, Right, OK, Right,
               Right, Right, Right, OK})
        .until([] { return cropPageActive() && g_inputcut->lineEdit_W->text() == QStringLiteral("640"); }, "W 640")
        .keys({Right, Right, Right, Right, OK})
        .until([] { return g_inputcut->level == 1; }, "stored");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(rectAt(testBlock(store), 0), (Rect{0, 0, 640, 1080}));
    EXPECT_EQ(Panel::changeFlag(), 1);
}

// A change of the crop table from another thread (as the protocol's handlers make it) reaches the
// open page only through the queued refresh on the GUI thread, which redraws tabs and list.
TEST_F(PanelTest, CropPageRedrawsForATableChangeMadeOnAnotherThread)
{
    g_language = 1;
    Panel::clearCrops(store);
    putCrop(store, 0, 2, 1, {0, 0, 640, 360});
    {
        ScalerHandOver handOver;
        memcpy(store->shadow, testBlock(store), kBlockSize);
    }
    std::thread writer;
    Script s;
    toCropPage(s);
    s.act([] { EXPECT_EQ(g_inputcut->get_source_num(2), 2); })
        .act([this, &writer] {
            writer = std::thread([this] {
                {
                    ScalerHandOver handOver;
                    putCrop(store, 5, 2, 2, {0, 0, 320, 240});
                    handOver.commit(1);
                }
                store->test_signal(1); // what the scaler's pass does once it has applied the change
            });
        })
        .until([] { return g_inputcut->get_source_num(2) == 3; }, "redrawn")
        .act([&writer] {
            writer.join();
            EXPECT_EQ(tileNames(), QStringList({QStringLiteral("HDMI1 No signal"), QStringLiteral("HDMI1_crop1 640x360"),
                                                QStringLiteral("HDMI1_crop2 320x240")}));
            EXPECT_TRUE(g_inputcut->tab_name[0]->text().contains(QStringLiteral(">3<")));
        });
    const bool ok = s.run();
    if (writer.joinable())
        writer.join();
    ASSERT_TRUE(ok);
}

// The page last counted a table whose 40 entries were all HDMI1's; a tool has emptied it since,
// and the page's refresh has not run yet. OK on the add button counts the table as it is now, on
// one copy, and opens the editor: it does not say "full" from what it counted before.
TEST_F(PanelTest, AddCountsTheTableAsItIsNowOnOneCopy)
{
    g_language = 1;
    Panel::clearCrops(store);
    for (uint32_t k = 0; k < kCropCount; ++k)
        putCrop(store, k, 2, k + 1, {0, 0, 64, 64});
    std::unique_ptr<InputCut> page(new InputCut);
    std::thread tool([this] {
        ScalerHandOver handOver;
        Panel::clearCrops(store);
    });
    tool.join();
    page->level = 1; // the list, on the add button
    page->ui_select = 0;
    QKeyEvent ok(QEvent::KeyRelease, OK, Qt::NoModifier);
    QCoreApplication::sendEvent(page.get(), &ok);
    EXPECT_EQ(page->level, 2) << "the new-crop editor";
    EXPECT_FALSE(page->label_note->isVisibleTo(page.get())) << page->label_note->text().toStdString();
    // And a table that is full now is full, whatever was counted before.
    QKeyEvent back(QEvent::KeyRelease, Back, Qt::NoModifier);
    QCoreApplication::sendEvent(page.get(), &back);
    ASSERT_EQ(page->level, 1);
    std::thread filler([this] {
        ScalerHandOver handOver;
        for (uint32_t k = 0; k < kCropCount; ++k)
            putCrop(store, k, 9, 1, {0, 0, 64, 64}); // entries naming no input take their slots too
    });
    filler.join();
    page->ui_select = 0;
    QCoreApplication::sendEvent(page.get(), &ok);
    EXPECT_EQ(page->level, 1);
    EXPECT_EQ(page->label_note->text(), QStringLiteral("Crop table full, nothing added"));
}
