// The input choice page: the three focus levels, paging, crop numbering, assignment to the window
// the operator is on, refresh after protocol changes, texts in every language.
#include "panel_fixture.h"
#include "panel_store.h"

#include "base/global.h"
#include "params/alias_names.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "test_root.h"
#include "ui/inputtexts.h"
#include "ui/mainwindow.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/panelkeys.h"
#include "ui/tip.h"
#include "store_face.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTextDocument>
#include <cstring>
#include <memory>

namespace {
using namespace PanelKey;

VyrPage* makePage() { return new InputChoose; }

bool pageUp() { return g_page_focus.load() == 3 && g_inputchoose && QApplication::activeWindow() == g_inputchoose.data(); }

uint16_t sourceWord(VyrRamPara* s, int w) { return s->u16(blk::window(w, blk::win::kSource)); }

// A crop entry of that size, its position left as it is.
void putCropSize(VyrRamPara* s, int k, uint8_t input, int number, int w, int h)
{
    s->setU16(blk::cropField(k, blk::crop::kId), blk::crop::idWord(input, uint32_t(number)));
    s->setU16(blk::cropField(k, blk::crop::kWidth), uint16_t(w));
    s->setU16(blk::cropField(k, blk::crop::kHeight), uint16_t(h));
}

void onlyWindows(VyrRamPara* s, std::initializer_list<int> on)
{
    for (int w = 0; w < 6; ++w)
        s->setU16(blk::window(w, blk::win::kState), 0);
    for (int w : on)
        s->setU16(blk::window(w, blk::win::kState), 1);
}

// What the entries on screen show: "name|timing|badge" by position.
QStringList entries()
{
    QStringList out;
    for (QFrame* f : g_inputchoose->findChildren<QFrame*>(QStringLiteral("source_frame"))) {
        auto text = [f](const char* n) {
            auto* l = f->findChild<QLabel*>(QLatin1String(n));
            return l ? l->text() : QString();
        };
        out << text("entry_name") + QLatin1Char('|') + text("entry_timing") + QLatin1Char('|') + text("badge_using");
    }
    return out;
}

QString focusedEntry()
{
    for (QFrame* f : g_inputchoose->findChildren<QFrame*>(QStringLiteral("source_frame")))
        if (f->styleSheet().contains(QStringLiteral("#FFAB54")))
            return f->findChild<QLabel*>(QStringLiteral("entry_name"))->text();
    return QString();
}

QString tabText(int position)
{
    QTextDocument doc;
    doc.setHtml(g_inputchoose->findChild<QLabel*>(QStringLiteral("sourcelistseq%1name").arg(position))->text());
    return doc.toPlainText();
}

void settle(VyrRamPara* s)
{
    g_language = 1;
    s->VyrCropSourceInit();
    memcpy(s->shadow, testBlock(s), kBlockSize);
}
}

TEST_F(PanelTest, InputChoiceAssignsAnInputToTheWindowAndStaysOnItAfterTheRefresh)
{
    onlyWindows(store, {0, 1});
    store->setU16(blk::window(0, blk::win::kSource), 2);
    store->setU16(blk::window(1, blk::win::kSource), 2);
    Panel::clearCrops(store);
    Panel::setInputTiming(store, 3, 1920, 1080, 60);
    settle(store);
    // From the home screen: OK, R, OK opens the page; R to window 2, OK (tabs), R (HDMI2), OK
    // (entries), OK assigns.
    Script s;
    s.key(OK).choose("inputchoose").until(pageUp, "input choice page");
    s.keys({Right, OK, Right, OK}).until([] { return g_inputchoose->ui_seltype == 2; }, "entries");
    s.act([] { c331_manage::p_c331_manage->change_flag = 0; });
    s.key(OK).until([&] { return sourceWord(store, 1) == 3; }, "window 2 shows HDMI2");
    s.act([&] {
        EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 1);
        EXPECT_TRUE(g_tip->isVisible());
        EXPECT_EQ(sourceWord(store, 0), 2); // window 1 untouched
        EXPECT_EQ(testBlock(store)[blk::window(1, blk::win::kSource)], 3);
        EXPECT_EQ(testBlock(store)[blk::window(1, blk::win::kSource) + 1], 0);
        Panel::shot(g_inputchoose, QStringLiteral("inputchoice_assigned"));
        Panel::refresh(1); // the scaler's pass and the page's refresh
        Panel::tick(300);
    });
    // Still on window 2 at level 2: the next choice goes to window 2 again (BACK to the tabs,
    // left to HDMI1, OK, OK).
    s.until([] { return g_inputchoose->ui_seltype == 2 && g_inputchoose->current_window == 1; }, "window 2 kept");
    s.keys({Back, Left, OK, OK}).until([&] { return sourceWord(store, 1) == 2; }, "window 2 back on HDMI1");
    s.act([&] {
        EXPECT_EQ(sourceWord(store, 0), 2);
        Panel::tick(300); // the check mark goes
    });
    s.keys({Back, Back, Back}).until([] { return g_page_focus.load() == 1 && !g_inputchoose; }, "root menu");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, InputChoiceLevelZeroFocusWalksBarAndButtons)
{
    onlyWindows(store, {0});
    settle(store);
    Panel::openLater(makePage);
    std::vector<int> seen;
    auto note = [&] { seen.push_back(g_inputchoose->ui_select); };
    Script s;
    s.until(pageUp, "page");
    s.key(Left).act(note).key(Left).act(note).key(Left).act(note).key(Right).act(note).key(Right).act(note).key(Right).act(note);
    ASSERT_TRUE(s.run());
    EXPECT_EQ(seen, (std::vector<int>{7, 6, 0, 6, 7, 0}));
}

TEST_F(PanelTest, InputChoicePagesFiveEntriesThreeAndTwo)
{
    onlyWindows(store, {0});
    store->setU16(blk::window(0, blk::win::kSource), 2);
    Panel::clearCrops(store);
    for (int n = 1; n <= 4; ++n)
        putCropSize(store, n * 3, 2, n, 100 * n, 50 * n);
    Panel::setInputTiming(store, 2, 0, 0, 0); // HDMI1 without signal
    settle(store);
    Panel::openLater(makePage);
    QStringList shown;
    Script s;
    s.until(pageUp, "page").keys({OK, OK}).until([] { return g_inputchoose->ui_seltype == 2; }, "entries");
    s.act([&] { shown << entries().join(QLatin1Char(',')) << focusedEntry(); });
    s.key(Left).act([&] { shown << entries().join(QLatin1Char(',')) << focusedEntry(); });
    s.key(Right).act([&] { shown << focusedEntry() << QString::number(g_inputchoose->current_page); });
    s.keys({Right, Right, Right}).act([&] { shown << focusedEntry() << QString::number(g_inputchoose->current_page); });
    s.act([] { Panel::shot(g_inputchoose, QStringLiteral("inputchoice_page2")); });
    ASSERT_TRUE(s.run());
    ASSERT_EQ(shown.size(), 8);
    EXPECT_EQ(shown[0], QStringLiteral("HDMI1|No signal|Using,HDMI1_crop1|100x50|,HDMI1_crop2|200x100|"));
    EXPECT_EQ(shown[1], QStringLiteral("HDMI1"));
    EXPECT_EQ(shown[2], QStringLiteral("HDMI1_crop3|300x150|,HDMI1_crop4|400x200|")); // left from entry 0: last page
    EXPECT_EQ(shown[3], QStringLiteral("HDMI1_crop4"));
    EXPECT_EQ(shown[4], QStringLiteral("HDMI1")); // right from the last entry: entry 0 of page 0
    EXPECT_EQ(shown[5], QStringLiteral("0"));
    EXPECT_EQ(shown[6], QStringLiteral("HDMI1_crop3")); // three on: page 1
    EXPECT_EQ(shown[7], QStringLiteral("1"));
}

TEST_F(PanelTest, InputChoiceNamesCropsByTheirOwnNumberInAFragmentedTable)
{
    onlyWindows(store, {0});
    Panel::clearCrops(store);
    // HDMI1's crops 3, 2, 1 in entries 0, 7, 9, with a crop of HDMI2 between; window 1 shows crop 2.
    putCropSize(store, 0, 2, 3, 300, 300);
    putCropSize(store, 4, 3, 1, 640, 480);
    putCropSize(store, 7, 2, 2, 200, 200);
    putCropSize(store, 9, 2, 1, 100, 100);
    Panel::setInputTiming(store, 3, 0, 0, 0);
    Panel::setInputTiming(store, 2, 0, 0, 0);
    store->setU16(blk::window(0, blk::win::kSource), blk::win::kSourceCrop | 7);
    ASSERT_TRUE(TestRoot::writeFile(AliasNames::kPath, R"({"namelist":{"crop":[{"id":9,"valid":"off","name":"Off alias"},{"id":0,"valid":"on","name":"Pulpit"}],
        "source":[{"id":3,"valid":"on","name":"Lectern camera"}]}})"));
    settle(store);
    Panel::openLater(makePage);
    QStringList shown;
    QString windowName;
    Script s;
    s.until(pageUp, "page");
    s.act([&] { windowName = g_inputchoose->findChild<QLabel*>(QStringLiteral("window_name1"))->text(); });
    s.keys({OK, OK}).until([] { return g_inputchoose->ui_seltype == 2; }, "entries");
    s.act([&] { shown << entries().join(QLatin1Char(',')) << focusedEntry(); });
    s.keys({Back, Right, OK}).act([&] { shown << entries().join(QLatin1Char(',')) << tabText(0) << tabText(1); });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(windowName.remove(QChar(0x200B)), QStringLiteral("HDMI1_Crop2"));
    ASSERT_EQ(shown.size(), 5);
    EXPECT_EQ(shown[0], QStringLiteral("HDMI1|No signal|,HDMI1_crop1|100x100|,HDMI1_crop2|200x200|Using"));
    EXPECT_EQ(shown[1], QStringLiteral("HDMI1_crop2")); // level 2 starts on the crop in use
    EXPECT_EQ(shown[2], QStringLiteral("HDMI2|No signal|,HDMI2_crop1|640x480|")); // no badge on another input
    EXPECT_EQ(shown[3], QStringLiteral("HDMI1(4)"));
    EXPECT_TRUE(shown[4].startsWith(QStringLiteral("Lect"))) << shown[4].toStdString(); // alias, elided
    EXPECT_TRUE(shown[4].endsWith(QStringLiteral("(2)"))) << shown[4].toStdString();
}

TEST_F(PanelTest, InputChoiceRefusesACropThatWentAway)
{
    onlyWindows(store, {0});
    store->setU16(blk::window(0, blk::win::kSource), 3);
    Panel::clearCrops(store);
    putCropSize(store, 2, 2, 1, 100, 100);
    settle(store);
    Panel::openLater(makePage);
    Script s;
    s.until(pageUp, "page").keys({OK, Left, OK, Right}).until([] { return focusedEntry() == QStringLiteral("HDMI1_crop1"); }, "crop focused");
    s.act([&] {
        store->setU16(blk::cropField(2, blk::crop::kId), 0); // deleted by the protocol meanwhile
        c331_manage::p_c331_manage->change_flag = 0;
    });
    s.key(OK).act([&] {
        EXPECT_EQ(sourceWord(store, 0), 3);
        EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 0);
        EXPECT_EQ(entries().size(), 1); // the list now shows what is left
    });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, InputChoiceAssignsACropByItsNumber)
{
    onlyWindows(store, {0, 2});
    store->setU16(blk::window(2, blk::win::kSource), 2);
    Panel::clearCrops(store);
    putCropSize(store, 0, 2, 2, 200, 200);
    putCropSize(store, 5, 2, 1, 100, 100);
    settle(store);
    Panel::openLater(makePage);
    Script s;
    // Window 3 (bar position 1), HDMI1's tab, entry 2 = crop 2 in table entry 0.
    s.until(pageUp, "page").keys({Right, OK, OK, Right, Right}).until([] { return focusedEntry() == QStringLiteral("HDMI1_crop2"); }, "crop 2");
    s.key(OK).until([&] { return sourceWord(store, 2) == (blk::win::kSourceCrop | 0); }, "window 3 on crop 2");
    s.act([&] {
        EXPECT_EQ(entries()[2], QStringLiteral("HDMI1_crop2|200x200|Using"));
        Panel::refresh(1);
        EXPECT_EQ(g_inputchoose->findChild<QLabel*>(QStringLiteral("window_name3"))->text().remove(QChar(0x200B)),
                  QStringLiteral("HDMI1_Crop2"));
        Panel::tick(300);
    });
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, InputChoiceRefreshKeepsTheFocusOnTheBar)
{
    onlyWindows(store, {0, 1, 2});
    settle(store);
    Panel::openLater(makePage);
    Script s;
    s.until(pageUp, "page").keys({Right, Right}).until([] { return g_inputchoose->ui_select == 2; }, "window 3");
    s.act([&] {
        onlyWindows(store, {0}); // the protocol switches windows 2 and 3 off
        Panel::refresh(1);
        EXPECT_EQ(g_inputchoose->bar_count, 1);
        EXPECT_EQ(g_inputchoose->current_window, 0);
        EXPECT_LT(g_inputchoose->ui_select, g_inputchoose->bar_count);
    });
    ASSERT_TRUE(s.run());
}

// The bar lists window 1 always and another window when its state byte (not word) is 1.
// A window is listed for any state word but 0, as the scaler shows it.
TEST_F(PanelTest, InputChoiceBarListsWindowsByTheirStateWord)
{
    struct Row {
        uint16_t state[6];
        std::vector<int> bar; // windows listed, 0-based
    } rows[] = {
        {{0, 0, 0, 0, 0, 0}, {0}},
        {{1, 1, 1, 1, 1, 1}, {0, 1, 2, 3, 4, 5}},
        {{1, 2, 0x0101, 0x0100, 0, 1}, {0, 1, 2, 3, 5}},
    };
    for (const Row& r : rows) {
        for (int w = 0; w < 6; ++w)
            store->setU16(blk::window(w, blk::win::kState), r.state[w]);
        std::unique_ptr<InputChoose> page(new InputChoose);
        ASSERT_EQ(page->bar_count, r.bar.size()) << r.state[2];
        for (size_t c = 0; c < r.bar.size(); ++c)
            EXPECT_EQ(page->bar_window[c], r.bar[c]) << r.state[2] << " position " << c;
    }
}

TEST_F(PanelTest, InputChoiceTextsFitInEveryLanguage)
{
    onlyWindows(store, {0, 1, 2, 3, 4, 5});
    Panel::clearCrops(store);
    for (int n = 1; n <= 3; ++n)
        putCropSize(store, n, 5, 37 + n, 4096, 2160);
    store->setU16(blk::window(0, blk::win::kSource), blk::win::kSourceCrop | 3);
    for (int w = 1; w < 6; ++w)
        store->setU16(blk::window(w, blk::win::kSource), uint16_t(w));
    Panel::setInputTiming(store, 5, 4096, 2160, 60); // the fastest the receivers take at this size
    settle(store);
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        auto page = std::make_unique<InputChoose>();
        page->show();
        QStringList lines = Panel::misfits(page.get(), QStringLiteral("inputchoice%1").arg(language));
        bad << Panel::lowContrast(page.get(), QStringLiteral("inputchoice%1").arg(language));
        for (const QString& line : lines)
            if (!line.contains(QStringLiteral("sourcelistseq"))) // rich text: measured below
                bad << line;
        for (int p = 0; p < 6; ++p) {
            auto* tab = page->findChild<QLabel*>(QStringLiteral("sourcelistseq%1name").arg(p));
            QTextDocument doc;
            doc.setDocumentMargin(0);
            doc.setDefaultFont(tab->font());
            doc.setHtml(tab->text());
            if (doc.idealWidth() > tab->width())
                bad << QStringLiteral("tab %1 needs %2").arg(p).arg(doc.idealWidth());
        }
        EXPECT_EQ(page->findChild<QPushButton*>(QStringLiteral("button_inputcut"))->text(), inText(InText::ButtonInputCut, language));
        Panel::shot(page.get(), QStringLiteral("inputchoice_%1").arg(language));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
