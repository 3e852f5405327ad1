// The EDID settings page driven by keys: tabs of all six inputs, the edit row, the rate level,
// what Save writes into the block (and what it refuses), wrap-around, MODE, and its texts.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "panel_store.h"

#include "base/global.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/panelkeys.h"

#include <QApplication>
#include <QLabel>
#include <QTextDocument>
#include <QLineEdit>
#include <QPushButton>
#include <deque>
#include <memory>

using namespace PanelKey;

namespace {

// Tab k: its name and connector centred under the marker, the tile's connector that of the input.
void expectTabLayout(int k)
{
    static const char* const tabPicture[6] = {":/png/HDMI13.png", ":/png/HDMI13.png", ":/png/HDMI20.png",
                                              ":/png/HDMI20.png", ":/png/DVI.png",    ":/png/HDMI.png"};
    EDIDset* page = g_edidset;
    auto* icon = page->findChild<QLabel*>(QStringLiteral("sourcelistseq%1pixmap").arg(k));
    ASSERT_TRUE(icon);
    EXPECT_TRUE(Panel::showsScaled(icon, tabPicture[k], Qt::KeepAspectRatio)) << "tab " << k;
    const int marker = page->tab_marker->geometry().center().x();
    EXPECT_LE(std::abs(page->tab_name[k]->geometry().center().x() - marker), 1) << "tab " << k;
    EXPECT_LE(std::abs(icon->geometry().center().x() - marker), 1) << "tab " << k;
    EXPECT_EQ(page->tab_name[k]->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_TRUE(Panel::showsScaled(page->findChild<QLabel*>(QStringLiteral("tile_picture")),
                                   k == 4 ? ":/png/DVI.png" : ":/png/HDMI.png", Qt::KeepAspectRatio));
}

struct Edid {
    uint16_t w, h, r;
};

Edid stored(VyrRamPara* store, int input)
{
    return {store->u16(blk::edidWidth(input)), store->u16(blk::edidHeight(input)), store->u16(blk::edidRate(input))};
}

void setStored(VyrRamPara* store, int input, Edid e)
{
    store->setU16(blk::edidWidth(input), e.w);
    store->setU16(blk::edidHeight(input), e.h);
    store->setU16(blk::edidRate(input), e.r);
}

using EdidKeypad = FakeNumberKeypad<EDIDset>;

// The input choice page and the EDID page above it.
Script& toEdidPage(Script& s)
{
    return s.act([] { Panel::openLater(Panel::make<InputChoose>); })
        .until([] { return g_inputchoose && QApplication::activeWindow() == g_inputchoose.data(); }, "input choice")
        .act([] { Panel::openLater(Panel::make<EDIDset>); })
        .until([] { return g_edidset && QApplication::activeWindow() == g_edidset.data() && g_page_focus.load() == 8; },
               "EDID page");
}

}

TEST_F(PanelTest, EdidTabsOfferAllSixInputsInTheirOrderAndShowTheStoredTiming)
{
    const char* names[6] = {"HDMI1", "HDMI2", "HDMI3", "HDMI4", "DVI", "EXT"};
    const int ids[6] = {2, 3, 4, 5, 1, 0};
    for (int k = 0; k < 6; ++k)
        setStored(store, ids[k], {uint16_t(1000 + k), uint16_t(600 + k), 60});
    setStored(store, 0, {0xFFFF, 0x8000, 60}); // shown signed
    Script s;
    toEdidPage(s);
    s.act([&] {
        for (int k = 0; k < 6; ++k) { // the names as read (HDMI3 and HDMI4 in green rich text)
            QTextDocument shown;
            shown.setHtml(g_edidset->tab_name[k]->text());
            EXPECT_EQ(shown.toPlainText(), QLatin1String(names[k]));
        }
        EXPECT_EQ(g_edidset->tile_name->text(), QStringLiteral("HDMI1"));
        EXPECT_EQ(g_edidset->tile_timing->text(), QStringLiteral("1000x600@60Hz"));
        expectTabLayout(0);
    });
    for (int k = 1; k < 6; ++k)
        s.key(Right).until([k] { return g_edidset->ui_select == k; }, "tab " + std::to_string(k)).act([&, k] {
            EXPECT_EQ(g_edidset->current_input, ids[k]);
            EXPECT_EQ(g_edidset->tile_name->text(), QLatin1String(names[k]));
            expectTabLayout(k);
        });
    s.act([] { EXPECT_EQ(g_edidset->tile_timing->text(), QStringLiteral("-1x-32768@60Hz")); })
        .key(Right)
        .until([] { return g_edidset->ui_select == 0 && g_edidset->current_input == 2; }, "wrap to HDMI1")
        .key(Left)
        .until([] { return g_edidset->ui_select == 5 && g_edidset->current_input == 0; }, "wrap to EXT")
        .key(Back)
        .until([] { return g_page_focus.load() == 3 && !g_edidset; }, "back to input choice");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, EdidSaveWritesWidthHeightAndRateOfTheCurrentInput)
{
    EdidKeypad keypad;
    keypad.answers = {{true, 1280}, {true, 720}};
    g_language = 1;
    setStored(store, 2, {1920, 1080, 60});
    setStored(store, 3, {1920, 1080, 60});
    Panel::clearFlag();
    Script s;
    toEdidPage(s);
    s.key(OK)
        .until([] { return g_edidset->ui_seltype == 1 && g_edidset->frame_add->isVisible(); }, "edit row")
        .act([] {
            EXPECT_EQ(g_edidset->lineEdit_W->text(), QStringLiteral("1920"));
            EXPECT_EQ(g_edidset->label_rate->text(), QStringLiteral("60"));
            EXPECT_EQ(g_edidset->label_edid_source->text(), QStringLiteral("EDID source:HDMI1"));
            EXPECT_TRUE(g_edidset->button_save->isVisible());
        })
        .key(OK)
        .until([&] { return g_edidset->lineEdit_W->text() == QStringLiteral("1280"); }, "width typed")
        .keys({Right, OK})
        .until([&] { return g_edidset->lineEdit_H->text() == QStringLiteral("720"); }, "height typed")
        .keys({Right, OK})
        .until([] { return g_edidset->ui_seltype == 2; }, "rate level")
        .key(Right)
        .until([] { return g_edidset->label_rate->text() == QStringLiteral("30"); }, "30 chosen")
        .key(OK)
        .until([] { return g_edidset->ui_seltype == 1; }, "back in the row")
        .keys({Right, Right, Right})
        .until([] { return g_edidset->ui_line_select == 5; }, "Save focused")
        .act([] { EXPECT_EQ(Panel::changeFlag(), 0) << "nothing written before Save"; })
        .key(OK)
        .until([] { return g_edidset->ui_seltype == 0 && !g_edidset->frame_add->isVisible(); }, "row closed");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(keypad.asked, QStringList({QStringLiteral("W 1920 640-4095"), QStringLiteral("H 1080 480-2160")}));
    const Edid e = stored(store, 2);
    EXPECT_EQ(e.w, 1280);
    EXPECT_EQ(e.h, 720);
    EXPECT_EQ(e.r, 30);
    EXPECT_EQ(Panel::changeFlag(), 1);
    const Edid other = stored(store, 3);
    EXPECT_EQ(other.w, 1920) << "another input's record is left alone";
}

TEST_F(PanelTest, EdidRateLevelBackRestoresWhatWasShownAndAnOddStoredRateSurvivesSave)
{
    struct Case {
        uint16_t rate;
        std::vector<int> rateKeys; // keys in level 2 before BACK
        uint16_t written;
    };
    const Case cases[] = {
        {50, {}, 50},           // BACK at once: 50 again, not 30
        {50, {Right}, 50},      // changed, then BACK: the stored 50 again
        {60, {Left}, 60},       // 30 shown, BACK: 60 again
        {60, {Left, Left}, 60},
    };
    for (const Case& c : cases) {
        setStored(store, 2, {1920, 1080, c.rate});
        Panel::clearFlag();
        Script s;
        toEdidPage(s);
        s.keys({OK, Right, Right, OK}).until([] { return g_edidset->ui_seltype == 2; }, "rate level");
        for (int k : c.rateKeys)
            s.key(k);
        s.key(Back)
            .until([] { return g_edidset->ui_seltype == 1; }, "row again")
            .act([c] { EXPECT_EQ(g_edidset->label_rate->text(), QString::number(c.rate)); })
            .keys({Right, Right, Right, OK})
            .until([] { return g_edidset->ui_seltype == 0; }, "saved");
        ASSERT_TRUE(s.run()) << c.rate;
        EXPECT_EQ(stored(store, 2).r, c.written) << c.rate;
        EXPECT_EQ(Panel::changeFlag(), 0) << "the row as stored: nothing written";
    }
}

TEST_F(PanelTest, EdidDeleteCancelAndBackWriteNothing)
{
    EdidKeypad keypad;
    keypad.answers = {{true, 800}, {true, 800}, {true, 800}};
    setStored(store, 2, {1920, 1080, 60});
    for (int closing : {3, 4, -1}) { // Delete, Cancel, BACK in the row
        Panel::clearFlag();
        Script s;
        toEdidPage(s);
        s.keys({OK, OK}).until([] { return g_edidset->lineEdit_W->text() == QStringLiteral("800"); }, "width typed");
        if (closing >= 0) {
            for (int i = 0; i < closing; ++i)
                s.key(Right);
            s.key(OK);
        } else {
            s.key(Back);
        }
        s.until([] { return g_edidset->ui_seltype == 0 && !g_edidset->frame_add->isVisible(); }, "row closed")
            .act([] { EXPECT_TRUE(g_edidset); });
        ASSERT_TRUE(s.run()) << closing;
        EXPECT_EQ(stored(store, 2).w, 1920) << closing;
        EXPECT_EQ(Panel::changeFlag(), 0) << closing;
    }
}

TEST_F(PanelTest, EdidRefusesSizesOutsideTheRangeAndKeepsTheOldValues)
{
    EdidKeypad keypad;
    // A refused entry, then a keypad that hands over an out-of-range value anyway.
    keypad.answers = {{false, 40000}, {true, 40000}, {true, 100}};
    setStored(store, 2, {1920, 1080, 60});
    setStored(store, 3, {0, 0, 60}); // written by the protocol, no usable size
    Panel::clearFlag();
    Script s;
    toEdidPage(s);
    s.keys({OK, OK, OK, Right, OK})
        .until([&] { return keypad.answers.empty(); }, "three entries")
        .act([] {
            EXPECT_EQ(g_edidset->lineEdit_W->text(), QStringLiteral("1920"));
            EXPECT_EQ(g_edidset->lineEdit_H->text(), QStringLiteral("1080"));
        })
        .keys({Right, Right, Right, Right, OK})
        .until([] { return g_edidset->ui_seltype == 0; }, "saved unchanged")
        .act([] {
            EXPECT_EQ(Panel::changeFlag(), 0) << "nothing changed, nothing handed over";
            Panel::clearFlag();
        })
        .key(Right)
        .until([] { return g_edidset->current_input == 3; }, "HDMI2")
        .keys({OK, Left, OK})
        .until([] { return g_edidset->label_note->isVisible(); }, "Save of 0x0 refused")
        .act([] {
            EXPECT_EQ(g_edidset->ui_seltype, 1) << "the row stays open";
            EXPECT_EQ(g_edidset->ui_line_select, 5);
            EXPECT_TRUE(g_edidset->frame_add->isVisible());
        });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(stored(store, 2).w, 1920);
    EXPECT_EQ(stored(store, 2).h, 1080);
    const Edid refused = stored(store, 3);
    EXPECT_EQ(refused.w, 0);
    EXPECT_EQ(refused.h, 0);
    EXPECT_EQ(Panel::changeFlag(), 0) << "the refused Save hands nothing over";
}

// A record the protocol or a user mode stored beyond the row's range: a Save of the rate alone
// says why nothing is stored, and stores once the width is brought into range.
TEST_F(PanelTest, EdidSaveOfAnOutOfRangeRecordKeepsTheRowOpenWithTheRanges)
{
    EdidKeypad keypad;
    keypad.answers = {{true, 4095}};
    g_language = 1;
    setStored(store, 2, {4096, 2160, 60});
    Panel::clearFlag();
    Script s;
    toEdidPage(s);
    s.keys({OK, Right, Right, OK, Right, OK, Right, Right, Right})
        .until([] { return g_edidset->ui_line_select == 5 && g_edidset->label_rate->text() == QStringLiteral("30"); },
               "30 chosen, Save focused")
        .key(OK)
        .until([] { return g_edidset->label_note->isVisible(); }, "refusal shown")
        .act([] {
            EXPECT_EQ(g_edidset->label_note->text(), QStringLiteral("Not saved: W 640-4095, H 480-2160"));
            EXPECT_EQ(g_edidset->ui_seltype, 1);
            EXPECT_TRUE(g_edidset->button_save->isVisible());
            EXPECT_EQ(Panel::changeFlag(), 0);
        })
        .keys({Right, OK})
        .until([] { return g_edidset->lineEdit_W->text() == QStringLiteral("4095"); }, "width corrected")
        .keys({Left, OK})
        .until([] { return g_edidset->ui_seltype == 0 && !g_edidset->frame_add->isVisible(); }, "saved")
        .act([] { EXPECT_FALSE(g_edidset->label_note->isVisible()); });
    ASSERT_TRUE(s.run());
    const Edid e = stored(store, 2);
    EXPECT_EQ(e.w, 4095);
    EXPECT_EQ(e.h, 2160);
    EXPECT_EQ(e.r, 30);
    EXPECT_EQ(Panel::changeFlag(), 1);
}

// The receiver's clock decides: 3840x2160@60 is beyond HDMI1's IT6602 (300 MHz) and refused with
// the reason in every language; HDMI3's iTE6805 takes it.
TEST_F(PanelTest, EdidSaveStoresOnlyWhatTheInputsReceiverTakes)
{
    setStored(store, 2, {3840, 2160, 60});
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        setStored(store, 4, {3840, 2160, 30}); // Save of 60 is a change
        Panel::clearFlag();
        Script s;
        toEdidPage(s);
        s.keys({OK, Left, OK})
            .until([] { return g_edidset->label_note->isVisible(); }, "HDMI1 refused")
            .act([&] {
                if (language == 1) {
                    EXPECT_EQ(g_edidset->label_note->text(), QStringLiteral("Not saved: this input cannot take 3840x2160@60"));
                }
                bad << Panel::misfits(g_edidset, QStringLiteral("EDIDset%1").arg(language));
                EXPECT_EQ(Panel::changeFlag(), 0);
            })
            .keys({Back, Right, Right})
            .until([] { return g_edidset->current_input == 4; }, "HDMI3")
            .keys({OK, Right, Right, OK, Right, OK, Right, Right, Right, OK}) // 60 chosen, Save
            .until([] { return g_edidset->ui_seltype == 0 && !g_edidset->frame_add->isVisible(); }, "HDMI3 saved")
            .act([this] {
                EXPECT_EQ(Panel::changeFlag(), 1);
                EXPECT_EQ(stored(store, 4).r, 60);
            });
        ASSERT_TRUE(s.run()) << language;
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}

TEST_F(PanelTest, EdidRowWrapsAndModeLeavesNoPageBehind)
{
    Script s;
    toEdidPage(s);
    s.key(OK)
        .until([] { return g_edidset->ui_seltype == 1; }, "edit row")
        .key(Left)
        .until([] { return g_edidset->ui_line_select == 5; }, "wrap to Save")
        .act([] { EXPECT_TRUE(g_edidset->button_save->styleSheet().contains(QStringLiteral("rgb(255,171,84)"))); })
        .key(Right)
        .until([] { return g_edidset->ui_line_select == 0; }, "wrap to the width field")
        .act([] { EXPECT_TRUE(g_edidset->lineEdit_W->styleSheet().contains(QStringLiteral("rgb(255,171,84)"))); })
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && g_custommode && QApplication::activeWindow() == g_custommode.data(); },
               "user modes page")
        .act([] {
            EXPECT_FALSE(g_edidset);
            EXPECT_FALSE(g_inputchoose);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, EdidTextsFitWithTheRowOpenInEveryLanguage)
{
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        setStored(store, 2, {4096, 2160, 60});
        EdidKeypad keypad;
        keypad.answers = {{true, 4095}};
        Script s;
        toEdidPage(s);
        s.keys({OK, Left, OK}) // Save of the stored 4096: refused, the ranges shown
            .until([] { return g_edidset->label_note->isVisible(); }, "edit row with the refusal")
            .act([&] {
                bad << Panel::misfits(g_edidset, QStringLiteral("EDIDset%1").arg(language));
                bad << Panel::lowContrast(g_edidset, QStringLiteral("EDIDset%1").arg(language));
                Panel::shot(g_edidset, QStringLiteral("edid_row_%1").arg(language));
                if (language == 1) {
                    EXPECT_EQ(g_edidset->button_cancel->text(), QStringLiteral("Cancle"));
                    EXPECT_EQ(g_edidset->button_save->text(), QStringLiteral("SAVE"));
                    EXPECT_EQ(g_edidset->label_freq->text(), QStringLiteral("Refresh rate"));
                }
            })
            .keys({Right, OK}) // width 4095 typed; another writer sets 1080 meanwhile
            .until([&keypad] { return keypad.answers.empty(); }, "width typed")
            .act([this] { setStored(store, 2, {4096, 1080, 60}); })
            .keys({Left, OK})
            .until([] { return g_edidset->lineEdit_H->text() == QStringLiteral("1080"); }, "changed elsewhere")
            .act([&] {
                EXPECT_TRUE(g_edidset->label_note->isVisible());
                if (language == 1) {
                    EXPECT_EQ(g_edidset->label_note->text(), QStringLiteral("Not saved: changed elsewhere, check and save"));
                }
                bad << Panel::misfits(g_edidset, QStringLiteral("EDIDsetElsewhere%1").arg(language));
            });
        ASSERT_TRUE(s.run());
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
