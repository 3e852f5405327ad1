// The LED screen size page driven by keys from the home screen: what it shows, how typed sizes are
// clamped, what Apply writes, when it starts the LED-parameter hand-over with the FPGA worker, and
// end to end on the simulated board: the scaler re-initialises the panel after the FPGA blanked the
// wall, FPGA 0 is reset and comes up again, and the first window covers the new canvas.
#include "fpga_up.h"
#include "panel_fixture.h"
#include "panel_checks.h"
#include "test_root.h"

#include "base/global.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/config_engine.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_manage.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_settings/ledset.h"
#include "ui/panelkeys.h"
#include "ui/tip.h"
#include "second_writer.h"
#include "video_chips/keltosource.h"
#include "store_face.h"

#include <QApplication>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <memory>
#include <pthread.h>
#include <thread>

using namespace PanelKey;
using platform::Sim::C331Chip;
using platform::Sim::c331Chip;
using platform::Sim::fpgaChip;
namespace win = blk::win;

namespace {

// Home screen, root menu, settings, output menu, LED size page.
Script& toLedPage(Script& s)
{
    return s.key(OK)
        .choose("option")
        .until([] { return Panel::onTop(5); }, "settings menu")
        .choose("output_set")
        .until([] { return Panel::onTop(6); }, "output menu")
        .choose("Button_ledset")
        .until([] { return Panel::onTop(13) && g_ledset; }, "LED size page");
}

// The same page opened straight away, for tests that open it many times.
Script& openLedPage(Script& s)
{
    return s.act([] { Panel::openLater([]() -> VyrPage* { return new ledset; }); })
        .until([] { return g_ledset && QApplication::activeWindow() == g_ledset.data() && g_page_focus.load() == 13; },
               "LED size page");
}

QString orangeBorder() { return QStringLiteral("border:1px solid rgb(255,171,84);"); }

// The keypad's answers in order; each opening records its title and the value it showed.
struct LedSizeKeypad {
    std::deque<QString> answers; // an empty string here is an entry given up (BACK)
    QStringList asked;
    LedSizeKeypad()
    {
        ledset::askEntry = [this](const QString& title, const QString& value, QString* typed) {
            asked << title + QLatin1Char(' ') + value;
            if (answers.empty())
                return false;
            *typed = answers.front();
            answers.pop_front();
            return !typed->isEmpty();
        };
    }
    ~LedSizeKeypad() { ledset::askEntry = nullptr; }
};

uint16_t word(VyrRamPara* store, uint32_t at) { return blk::get16(testBlock(store), at); }

void setSize(VyrRamPara* store, uint16_t w, uint16_t h)
{
    for (uint8_t* b : {testBlock(store), store->shadow}) {
        blk::put16(b, blk::kLedWidth, w);
        blk::put16(b, blk::kLedHeight, h);
    }
}

// FPGA 0 as the page sees it through the manager: the state byte and the bring-up steps.
void setFpgaState(fpga_manage* fpga, bool stateThree, bool fullyUp)
{
    fpga->MCU_REG_func[0][FpgaReg::State] = stateThree ? FpgaReg::StateUp : 0;
    fpga->MCU_REG_func[0][FpgaReg::ScreenControl] = 0;
    fpga->vbo_step[0] = fullyUp ? VboStep::Up : VboStep::LinkCheck;
    fpga->status_step[0] = fullyUp ? StatusStep::Up : StatusStep::LinkWait;
    fpga->rst_pending[0] = 0;
}

void clearHandOver()
{
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    g_set_led_para = 0;
    g_set_led_setup = 0;
}

class LedSizePage : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        g_language = 1;
        setSize(store, 1920, 1080);
        c331_manage::p_c331_manage->change_flag = 0;
    }
};

}

TEST_F(LedSizePage, ReachedByKeysShowsTheStoredSizeAndWalksItsFourEntries)
{
    setSize(store, 2560, 1440);
    Script s;
    toLedPage(s)
        .act([] {
            ledset* p = g_ledset;
            EXPECT_EQ(p->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("LED Setting"));
            EXPECT_EQ(p->lineEdit_ledw->text(), QStringLiteral("2560"));
            EXPECT_EQ(p->lineEdit_ledh->text(), QStringLiteral("1440"));
            EXPECT_EQ(p->label_tip->text(), QStringLiteral("LED max:8188(w),8188(h)"));
            EXPECT_EQ(p->Button_cancle->text(), QStringLiteral("Cancle"));
            EXPECT_TRUE(p->lineEdit_ledw->styleSheet().contains(orangeBorder()));
            EXPECT_FALSE(p->Button_apply->styleSheet().contains(orangeBorder()));
        });
    // Right walks width, height, Apply, Cancel and wraps; left goes back the other way.
    const int order[] = {1, 2, 3, 0};
    for (int k : order)
        s.key(Right).until([k] { return g_ledset->ui_select == k; }, "right to " + std::to_string(k));
    s.key(Left)
        .until([] { return g_ledset->ui_select == 3; }, "left wraps to Cancel")
        .act([] {
            EXPECT_TRUE(g_ledset->Button_cancle->styleSheet().contains(orangeBorder()));
            EXPECT_TRUE(g_ledset->Button_cancle->styleSheet().startsWith(QStringLiteral("color: rgb(255, 255, 255);background-color")));
            EXPECT_FALSE(g_ledset->lineEdit_ledw->styleSheet().contains(orangeBorder()));
            EXPECT_EQ(g_ledset->lineEdit_ledw->styleSheet(),
                      QStringLiteral("color:rgb(255, 255, 255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);"));
        })
        // OK on Cancel leaves as BACK does, and the output menu shows the size again.
        .key(OK)
        .until([] { return Panel::onTop(6) && !g_ledset; }, "output menu after Cancel")
        .act([] { EXPECT_EQ(g_outputset->label_info->text(), QStringLiteral("LED Screen can be set:2560x1440")); })
        .choose("Button_ledset")
        .until([] { return Panel::onTop(13); }, "LED size page again")
        .act([] { EXPECT_EQ(g_ledset->ui_select, 0) << "no state kept across visits"; })
        .key(Back)
        .until([] { return Panel::onTop(6) && !g_ledset; }, "output menu after BACK");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 0) << "nothing written without Apply";
}

TEST_F(LedSizePage, TypedSizesAreClampedToTheLimitsAsTheyComeIn)
{
    struct Case {
        const char* field; // the field edited
        QString typed;
        QString otherBefore;
        QString edited, other; // shown afterwards
    };
    const Case cases[] = {
        {"lineEdit_ledw", "8189", "1281", "8188", "1280"},
        {"lineEdit_ledw", "8189", "1280", "8188", "1280"},
        {"lineEdit_ledw", "4096", "4096", "4096", "2560"},
        {"lineEdit_ledh", "3000", "4000", "3000", "3495"},
        {"lineEdit_ledh", "8188", "1500", "8188", "1280"},   // the same as typing 8189
        {"lineEdit_ledw", "10", "9000", "64", "9000"},       // too small: the other is left alone
        {"lineEdit_ledw", "", "1080", "64", "1080"},         // an empty entry
        {"lineEdit_ledh", "63", "1920", "64", "1920"},
        {"lineEdit_ledh", "64", "1920", "64", "1920"},
        {"lineEdit_ledw", "0100", "1080", "0100", "1080"},   // shown as typed
        {"lineEdit_ledw", "99999999999", "1080", "8188", "1080"}, // beyond any integer: too large
        {"lineEdit_ledw", "99999999999", "2000", "8188", "1280"},
        {"lineEdit_ledh", "2560", "4096", "2560", "4096"},   // exactly the area limit
        {"lineEdit_ledh", "2561", "4096", "2561", "4094"},
        {"lineEdit_ledw", "1000", "abc", "1000", "abc"},     // the other does not parse: 0
    };
    ledset page;
    for (const Case& c : cases) {
        const bool width = QLatin1String(c.field) == QLatin1String("lineEdit_ledw");
        QLineEdit* edited = width ? page.lineEdit_ledw : page.lineEdit_ledh;
        QLineEdit* other = width ? page.lineEdit_ledh : page.lineEdit_ledw;
        edited->setText(QStringLiteral("777"));
        other->setText(c.otherBefore);
        page.edit_name = QLatin1String(c.field);
        page.confirmString(c.typed);
        EXPECT_EQ(edited->text(), c.edited) << c.field << " " << c.typed.toStdString();
        EXPECT_EQ(other->text(), c.other) << c.field << " " << c.typed.toStdString();
    }
    // A result for no known field changes nothing.
    page.edit_name = QStringLiteral("lineEdit_other");
    page.confirmString(QStringLiteral("100"));
    EXPECT_EQ(page.lineEdit_ledw->text(), QStringLiteral("1000"));
    EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 0) << "nothing reaches the block while typing";
}

TEST_F(LedSizePage, KeypadTypesTheWidthAndApplyLetsWindowZeroCoverTheNewCanvas)
{
    ASSERT_TRUE(g_numberkeyboard);
    for (int w = 0; w < 6; ++w) {
        blk::put16(testBlock(store), blk::window(w, win::kState), 1);
        blk::put16(testBlock(store), blk::window(w, win::kX), uint16_t(100 + w));
        blk::put16(testBlock(store), blk::window(w, win::kWidth), 300);
    }
    // Apply zeroes the splice mode and both output rectangles' x and y, whatever they held.
    const std::pair<uint32_t, uint16_t> zeroed[] = {
        {blk::kSpliceMode, 3}, {blk::kOutput1X, 7}, {blk::kOutput1Y, 8}, {blk::kOutput2X, 9}, {blk::kOutput2Y, 10}};
    for (const auto& f : zeroed)
        blk::put16(testBlock(store), f.first, f.second);
    Script s;
    toLedPage(s)
        .key(OK)
        .until([] { return g_numberkeyboard->isVisible() && QApplication::activeWindow() == g_numberkeyboard.data(); }, "keypad")
        .act([] {
            EXPECT_EQ(g_numberkeyboard->titleText(), QStringLiteral("W"));
            EXPECT_EQ(g_numberkeyboard->valueText(), QStringLiteral("1920"));
            EXPECT_EQ(g_lineedit.data(), g_ledset->lineEdit_ledw);
            g_numberkeyboard->ui_select = 0; // on key 1
        });
    // 1, 2, 8, 0 from key 1 (keys 1-9, 0, C, erase, cancel, OK), then OK.
    s.key(OK).key(Right).key(OK);
    for (int i = 0; i < 6; ++i)
        s.key(Right);
    s.key(OK).key(Right).key(Right).key(OK);
    for (int i = 0; i < 4; ++i)
        s.key(Right);
    s.key(OK)
        .until([] { return g_ledset->lineEdit_ledw->text() == QStringLiteral("1280"); }, "width typed")
        .until([] { return Panel::onTop(13); }, "the page takes the keys again")
        .act([this] {
            EXPECT_EQ(g_lineedit.data(), nullptr);
            EXPECT_EQ(word(store, blk::kLedWidth), 1920) << "not yet applied";
        })
        .keys({Right, Right, OK})
        .until([] { return g_tip && g_tip->isVisible(); }, "check-mark pop-up")
        .act([this, &zeroed] {
            EXPECT_TRUE(Panel::onTop(13) || g_page_focus.load() == 13) << "the page stays open";
            EXPECT_EQ(word(store, blk::kLedWidth), 1280);
            EXPECT_EQ(word(store, blk::kLedHeight), 1080);
            for (uint32_t f : {blk::kOutput1Width, blk::kOutput2Width})
                EXPECT_EQ(word(store, f), 1280);
            for (uint32_t f : {blk::kOutput1Height, blk::kOutput2Height})
                EXPECT_EQ(word(store, f), 1080);
            for (const auto& f : zeroed)
                EXPECT_EQ(word(store, f.first), 0) << std::hex << f.first;
            EXPECT_EQ(word(store, blk::window(0, win::kState)), 1);
            EXPECT_EQ(word(store, blk::window(0, win::kX)), 0);
            EXPECT_EQ(word(store, blk::window(0, win::kY)), 0);
            EXPECT_EQ(word(store, blk::window(0, win::kWidth)), 1280);
            EXPECT_EQ(word(store, blk::window(0, win::kHeight)), 1080);
            for (int w = 1; w < 6; ++w) {
                EXPECT_EQ(word(store, blk::window(w, win::kState)), 0) << w;
                EXPECT_EQ(word(store, blk::window(w, win::kX)), 100 + w) << "only the state of window " << w;
            }
            EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 1);
            EXPECT_EQ(g_set_led_para, 0) << "no FPGA manager: no hand-over";
            EXPECT_EQ(g_ledset->lineEdit_ledw->text(), QStringLiteral("1280"));
        });
    ASSERT_TRUE(s.run(10000));
    Panel::tick(300);
    EXPECT_FALSE(g_tip->isVisible());
}

TEST_F(LedSizePage, ApplyWithTheSizeUnchangedRewritesTheOutputsOnly)
{
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    setFpgaState(fpga, true, true);
    blk::put16(testBlock(store), blk::kSpliceMode, 2);
    blk::put16(testBlock(store), blk::kOutput1Width, 960);
    blk::put16(testBlock(store), blk::kOutput2X, 5);
    blk::put16(testBlock(store), blk::window(0, win::kWidth), 500);
    blk::put16(testBlock(store), blk::window(3, win::kState), 1);
    Script s;
    toLedPage(s).keys({Left, Left, OK}).act([] { Panel::pump(30); }).act([this] {
        EXPECT_EQ(word(store, blk::kSpliceMode), 0);
        EXPECT_EQ(word(store, blk::kOutput1Width), 1920);
        EXPECT_EQ(word(store, blk::kOutput2X), 0);
        EXPECT_EQ(word(store, blk::kOutput2Width), 1920);
        EXPECT_EQ(word(store, blk::window(0, win::kWidth)), 500) << "windows untouched";
        EXPECT_EQ(word(store, blk::window(3, win::kState)), 1);
        EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 1);
        EXPECT_EQ(g_set_led_para, 0) << "no hand-over for an unchanged size";
        EXPECT_FALSE(g_tip->isVisible()) << "no pop-up";
    });
    ASSERT_TRUE(s.run());
}

// A tool's size and splice applied just before Apply, the page not refreshed: Apply shows them and
// writes nothing; Apply again writes the fields.
TEST_F(LedSizePage, ApplyAfterAToolsSizeShowsItAndWritesOnlyWhenPressedAgain)
{
    SecondWriter tool = SecondWriter::inProcess();
    std::atomic<uint8_t>& flag = c331_manage::p_c331_manage->change_flag;
    Script s;
    openLedPage(s).act([&] { // 3840 x 1080, splice 3
        ASSERT_EQ(tool.set(blk::kLedWidth, {0x00, 0x0F, 0x38, 0x04}) | tool.set16(blk::kSpliceMode, 3), 0);
        flag = 0;
    });
    s.keys({Right, Right, OK}).until([] { return g_ledset->lineEdit_ledw->text() == QStringLiteral("3840"); }, "tool's width");
    s.act([&] { EXPECT_EQ(std::pair(word(store, blk::kSpliceMode), int(flag)), std::pair(uint16_t(3), 0)); }).key(OK).until([&] { return flag == 1; }, "Apply");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(std::pair(word(store, blk::kLedWidth), word(store, blk::kSpliceMode)), std::pair(uint16_t(3840), uint16_t(0)));
}

// Sizes the protocol stored (or the keypad never gave) are brought inside the limits at Apply.
TEST_F(LedSizePage, ApplyClampsTheFieldsAgain)
{
    struct Case {
        uint16_t w, h;         // stored, shown by the page
        uint16_t outW, outH;   // written
    };
    const Case cases[] = {
        {0, 9000, 64, 8188},
        {65535, 65535, 8188, 1280},
        {9000, 100, 8188, 100},
        {4096, 4096, 4096, 2560},
        {8188, 1280, 8188, 1280},
        {64, 64, 64, 64},
    };
    for (const Case& c : cases) {
        setSize(store, c.w, c.h);
        c331_manage::p_c331_manage->change_flag = 0;
        Panel::tick(300); // the previous pop-up gone
        Script s;
        openLedPage(s)
            .act([c] {
                EXPECT_EQ(g_ledset->lineEdit_ledw->text(), QString::number(c.w));
                EXPECT_EQ(g_ledset->lineEdit_ledh->text(), QString::number(c.h));
            })
            .keys({Right, Right, OK})
            .until([] { return c331_manage::p_c331_manage->change_flag == 1; }, "applied")
            .act([this, c] {
                EXPECT_EQ(word(store, blk::kLedWidth), c.outW) << c.w << "x" << c.h;
                EXPECT_EQ(word(store, blk::kLedHeight), c.outH) << c.w << "x" << c.h;
                EXPECT_EQ(word(store, blk::kOutput1Width), c.outW);
                EXPECT_EQ(word(store, blk::kOutput2Height), c.outH);
                EXPECT_EQ(g_ledset->lineEdit_ledw->text(), QString::number(c.outW)) << "the fields show what was written";
                EXPECT_EQ(g_ledset->lineEdit_ledh->text(), QString::number(c.outH));
            });
        ASSERT_TRUE(s.run()) << c.w << "x" << c.h;
    }
}

TEST_F(LedSizePage, LeadingZeroEntryIsAppliedAsItsNumber)
{
    LedSizeKeypad keypad;
    keypad.answers = {QStringLiteral("800")};
    Script s;
    toLedPage(s)
        .act([] {
            // The panel's keypad drops a leading zero; what arrives with one is still a number.
            g_ledset->edit_name = QStringLiteral("lineEdit_ledw");
            g_ledset->confirmString(QStringLiteral("0100"));
        })
        .key(Right)
        .key(OK)
        .until([] { return g_ledset->lineEdit_ledh->text() == QStringLiteral("800"); }, "height typed")
        .keys({Right, OK})
        .until([] { return c331_manage::p_c331_manage->change_flag == 1; }, "applied")
        .act([this] {
            EXPECT_EQ(word(store, blk::kLedWidth), 100);
            EXPECT_EQ(word(store, blk::kLedHeight), 800);
        });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(keypad.asked, QStringList({QStringLiteral("H 1080")}));
}

// The hand-over is raised only when the FPGA worker will take it (fully up, not merely in state 3),
// and the pop-up appears with the scaler's mutex free.
TEST_F(LedSizePage, HandOverIsRaisedOnlyWhenTheFpgaCanServeItAndThePopUpNeverHoldsTheScaler)
{
    struct Case {
        const char* what;
        bool manager, stateThree, fullyUp;
        uint8_t expected;
    };
    const Case cases[] = {
        {"no FPGA manager", false, false, false, 0},
        {"state 3, bring-up not finished", true, true, false, 0},
        {"down", true, false, false, 0},
        {"fully up", true, true, true, 1},
    };
    LedSizeKeypad keypad;
    c331_manage* scaler = c331_manage::p_c331_manage;
    int shown = 0;
    int shownWhileHeld = 0;
    struct ShowWatch : QObject {
        std::function<void()> onShow;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Show)
                onShow();
            return false;
        }
    } watch;
    watch.onShow = [&] {
        ++shown;
        if (pthread_mutex_trylock(&scaler->c331_mutex) != 0)
            ++shownWhileHeld;
        else
            pthread_mutex_unlock(&scaler->c331_mutex);
    };
    g_tip->installEventFilter(&watch);
    uint16_t width = 1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.manager)
            setFpgaState(fpga_manage::instanceWithoutWorker(), c.stateThree, c.fullyUp);
        ASSERT_EQ(fpga_manage::p_fpga_manage != nullptr, c.manager);
        clearHandOver();
        Panel::tick(300);
        ++width;
        keypad.answers = {QString::number(width)};
        const int shownBefore = shown;
        Script s;
        openLedPage(s)
            .key(OK)
            .until([width] { return g_ledset->lineEdit_ledw->text() == QString::number(width); }, "width typed")
            .keys({Right, Right, OK})
            .until([&] { return shown == shownBefore + 1; }, "pop-up")
            .act([&] {
                EXPECT_EQ(g_set_led_para, c.expected);
                EXPECT_EQ(g_set_led_setup, 0);
                EXPECT_EQ(scaler->change_flag, 1);
            });
        ASSERT_TRUE(s.run());
        scaler->change_flag = 0;
        memcpy(store->shadow, testBlock(store), sizeof store->shadow);
    }
    g_tip->removeEventFilter(&watch);
    EXPECT_EQ(shown, 4);
    EXPECT_EQ(shownWhileHeld, 0);
}

TEST_F(LedSizePage, RefreshRereadsAChangedSizeAndRetextsWithoutTouchingTypedFields)
{
    LedSizeKeypad keypad;
    keypad.answers = {QStringLiteral("3000")};
    Script s;
    toLedPage(s)
        .act([this] {
            // The protocol sets a new size; the scaler's pass signals it.
            {
                ScalerHandOver h;
                store->setU16(blk::kLedWidth, 2560);
                store->setU16(blk::kLedHeight, 1600);
            }
            Panel::refresh(1);
        })
        .until([] { return g_ledset->lineEdit_ledw->text() == QStringLiteral("2560"); }, "new size shown")
        .act([] { EXPECT_EQ(g_ledset->lineEdit_ledh->text(), QStringLiteral("1600")); })
        .key(OK)
        .until([] { return g_ledset->lineEdit_ledw->text() == QStringLiteral("3000"); }, "width typed")
        .act([this] {
            testBlock(store)[blk::kLanguage] = 2;
            Panel::refresh(1);
        })
        .until([] { return g_ledset->Button_cancle->text() == QStringLiteral("Отмена"); }, "Russian texts")
        .act([] {
            EXPECT_EQ(g_ledset->lineEdit_ledw->text(), QStringLiteral("3000")) << "the typed width stays";
            EXPECT_EQ(g_ledset->lineEdit_ledh->text(), QStringLiteral("1600"));
            EXPECT_EQ(g_ledset->label_ledw->text(), QStringLiteral("Ширина"));
        });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(keypad.asked, QStringList({QStringLiteral("W 2560")}));
}

// The scaler takes a size it cannot drive back out of the block before its pass signals: the page
// then shows the size the wall kept and says so in the log. A size another writer stored before
// the pass is shown as well, but is no refusal.
TEST_F(LedSizePage, SizeTheScalerRefusedIsReplacedByTheKeptOne)
{
    for (const uint16_t kept : {uint16_t(2560), uint16_t(1920)}) { // another writer's; the one the page replaced
        store->setU16(blk::kLedWidth, 1920);
        blk::put16(store->shadow, blk::kLedWidth, 1920);
        LedSizeKeypad keypad;
        keypad.answers = {QStringLiteral("3840")};
        Script s;
        openLedPage(s)
            .key(OK)
            .until([] { return g_ledset->lineEdit_ledw->text() == QStringLiteral("3840"); }, "width typed")
            .keys({Right, Right, OK})
            .until([] { return c331_manage::p_c331_manage->change_flag == 1; }, "applied")
            .act([this, kept] {
                ScalerHandOver h; // as the scaler's dispatch leaves it
                store->setU16(blk::kLedWidth, kept);
                c331_manage::p_c331_manage->change_flag = 0;
            })
            .act([] { Panel::refresh(1); })
            .until([kept] { return g_ledset->lineEdit_ledw->text() == QString::number(kept); }, "kept size shown")
            .act([] { EXPECT_EQ(g_ledset->lineEdit_ledh->text(), QStringLiteral("1080")); });
        ASSERT_TRUE(s.run());
        EXPECT_EQ(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("LED size 3840 x 1080 refused by the scaler"),
                  kept == 1920) << kept;
    }
}

// With the INI's VyrMaxPixel below the page's own area limit, a size above it is refused on the
// page (the allowed pixel counts shown as the keypad shows a range): nothing is written and the
// FPGA is not asked to blank the wall for a size the scaler would not take. Up to the limit itself
// the size is applied and handed over.
TEST_F(LedSizePage, SizeAboveTheScalersPixelLimitIsRefusedOnThePage)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "[config]\nVyrMaxPixel_UINT=8000000\n"));
    ASSERT_NE(ConfigEngine::pInstance(), nullptr);
    ASSERT_EQ(g_vyr_max_pixel.load(), 8000000u);
    setFpgaState(fpga_manage::instanceWithoutWorker(), true, true);
    struct Case {
        const char *w, *h;
        bool taken;
    };
    const Case cases[] = {
        {"3840", "2160", false}, // 8,294,400
        {"4000", "2001", false}, // 8,004,000
        {"4000", "2000", true},  // the limit itself
        {"3840", "2083", true},
        {"8188", "977", true},
        {"8188", "978", false},
    };
    LedSizeKeypad keypad;
    c331_manage* scaler = c331_manage::p_c331_manage;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.w) + "x" + c.h);
        clearHandOver();
        scaler->change_flag = 0;
        setSize(store, 1920, 1080);
        blk::put16(testBlock(store), blk::kOutput1Width, 1920);
        Panel::tick(300); // the previous pop-up gone
        keypad.answers = {QLatin1String(c.w), QLatin1String(c.h)};
        const uint16_t w = uint16_t(QByteArray(c.w).toInt()), h = uint16_t(QByteArray(c.h).toInt());
        Script s;
        openLedPage(s)
            .keys({OK, Right, OK})
            .until([c] { return g_ledset->lineEdit_ledh->text() == QLatin1String(c.h); }, "size typed")
            .act([] { EXPECT_EQ(g_ledset->label_tip->text(), QStringLiteral("LED max:8188(w),8188(h)")); })
            .keys({Right, OK})
            .act([] { Panel::pump(30); })
            .act([&] {
                EXPECT_EQ(g_set_led_para, c.taken ? 1 : 0) << "the FPGA's LED step";
                EXPECT_EQ(scaler->change_flag, c.taken ? 1 : 0);
                EXPECT_EQ(word(store, blk::kLedWidth), c.taken ? w : 1920);
                EXPECT_EQ(word(store, blk::kLedHeight), c.taken ? h : 1080);
                EXPECT_EQ(word(store, blk::kOutput1Width), c.taken ? w : 1920);
                EXPECT_EQ(g_tip->isVisible(), c.taken) << "the check-mark pop-up";
                EXPECT_EQ(g_ledset->label_tip->text(), c.taken ? QStringLiteral("LED max:8188(w),8188(h)")
                                                                : QStringLiteral("Too many pixels, W x H: 4096-8000000"));
                EXPECT_EQ(g_ledset->lineEdit_ledw->text(), QLatin1String(c.w)) << "the fields keep the size";
                EXPECT_EQ(g_ledset->lineEdit_ledh->text(), QLatin1String(c.h));
            });
        if (!c.taken) {
            // The next entry puts the limit line back.
            s.act([&] { keypad.answers = {QStringLiteral("1000")}; })
                .keys({Left, OK})
                .until([] { return g_ledset->lineEdit_ledh->text() == QStringLiteral("1000"); }, "height typed again")
                .act([] { EXPECT_EQ(g_ledset->label_tip->text(), QStringLiteral("LED max:8188(w),8188(h)")); });
        }
        ASSERT_TRUE(s.run());
    }
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("LED size 3840 x 2160 above 8000000 pixels"));
}

TEST_F(LedSizePage, TapsOnTheFieldsOpenTheKeypadAndTapsOnTheButtonsDoNothing)
{
    LedSizeKeypad keypad;
    keypad.answers = {QStringLiteral("720")};
    Script s;
    toLedPage(s)
        .act([] { QTest::mouseClick(g_ledset->lineEdit_ledh, Qt::LeftButton); })
        .until([] { return g_ledset->lineEdit_ledh->text() == QStringLiteral("720"); }, "height by a tap")
        .act([] {
            QTest::mouseClick(g_ledset->Button_apply, Qt::LeftButton);
            QTest::mouseClick(g_ledset->Button_cancle, Qt::LeftButton);
        })
        .act([] { Panel::pump(30); })
        .act([this] {
            EXPECT_TRUE(Panel::onTop(13)) << "Cancel by a tap does not leave";
            EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 0) << "Apply by a tap writes nothing";
            EXPECT_EQ(word(store, blk::kLedHeight), 1080);
        })
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
        .act([] {
            EXPECT_FALSE(g_ledset);
            EXPECT_FALSE(g_outputset);
            EXPECT_FALSE(g_option);
            EXPECT_EQ(g_mode_shortcut_key, 1);
        });
    ASSERT_TRUE(s.run());
    EXPECT_EQ(keypad.asked, QStringList({QStringLiteral("H 1080")}));
}

TEST_F(LedSizePage, TextsInEveryLanguageFitAndTheKeypadIsTitledInIt)
{
    struct Lang {
        int code;
        const char *title, *w, *h, *apply, *cancel, *note, *tip, *keyW, *keyH, *refused;
    };
    const Lang langs[] = {
        {0, "LED设置", "宽", "高", "应用", "取消", "设置LED屏宽高", "可设LED屏最大点数:8188(宽),8188(高)", "宽", "高",
         "超出可设点数,宽x高:4096-10485759"},
        {1, "LED Setting", "W", "H", "Apply", "Cancle", "Set LED W&H", "LED max:8188(w),8188(h)", "W", "H",
         "Too many pixels, W x H: 4096-10485759"},
        {2, "Настройки LED", "Ширина", "Высота", "OK", "Отмена", "Разрешение LED шир и выс", "Ширина:8188(px)Высота:8188(px)", "W", "H",
         "Слишком много точек, Ш x В: 4096-10485759"},
        {3, "Cài đặt LED", "Rộng", "Cao", "Đồng ý", "Hủy bỏ", "Cài đặt thông số led", "Điểm ảnh lớn nhất:8188(ngang),8188(dọc)", "W", "H",
         "Quá nhiều điểm ảnh, Rộng x Cao: 4096-10485759"},
        {4, "LED設置", "寬", "高", "應用", "取消", "設置LED屏寬高", "可設LED屏最大點數:8188(寬),8188(高)", "寬", "高",
         "超出可設點數,寬x高:4096-10485759"},
        {7, "LED Setting", "W", "H", "Apply", "Cancle", "Set LED W&H", "LED max:8188(w),8188(h)", "W", "H", ""},
    };
    setSize(store, 8188, 1280);
    LedSizeKeypad keypad;
    QStringList bad;
    for (const Lang& l : langs) {
        g_language = uint8_t(l.code);
        keypad.asked.clear();
        std::unique_ptr<ledset> page(new ledset);
        EXPECT_EQ(page->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QString::fromUtf8(l.title));
        EXPECT_EQ(page->label_ledw->text(), QString::fromUtf8(l.w));
        EXPECT_EQ(page->label_ledh->text(), QString::fromUtf8(l.h));
        EXPECT_EQ(page->Button_apply->text(), QString::fromUtf8(l.apply));
        EXPECT_EQ(page->Button_cancle->text(), QString::fromUtf8(l.cancel));
        EXPECT_EQ(page->label_note_led_w->text(), QString::fromUtf8(l.note));
        EXPECT_EQ(page->label_tip->text(), QString::fromUtf8(l.tip));
        EXPECT_FALSE(page->label_warning->pixmap(Qt::ReturnByValue).isNull());
        QTest::mouseClick(page->lineEdit_ledw, Qt::LeftButton);
        QTest::mouseClick(page->lineEdit_ledh, Qt::LeftButton);
        EXPECT_EQ(keypad.asked, QStringList({QString::fromUtf8(l.keyW) + QStringLiteral(" 8188"),
                                             QString::fromUtf8(l.keyH) + QStringLiteral(" 1280")}));
        if (l.code > 4)
            continue;
        bad << Panel::misfits(page.get(), QStringLiteral("ledset%1").arg(l.code));
        bad << Panel::lowContrast(page.get(), QStringLiteral("ledset%1").arg(l.code));
        Panel::shot(page.get(), QStringLiteral("ledset_%1").arg(l.code));
        // A size refused for the scaler's pixel limit, with the longest limit the page can show.
        g_vyr_max_pixel = uint32_t(ledset::kMaxArea - 1);
        page->lineEdit_ledw->setText(QStringLiteral("4096"));
        page->lineEdit_ledh->setText(QStringLiteral("2560"));
        page->on_Button_apply1_clicked();
        EXPECT_EQ(page->label_tip->text(), QString::fromUtf8(l.refused)) << l.code;
        bad << Panel::misfits(page.get(), QStringLiteral("ledset_refused%1").arg(l.code));
        bad << Panel::lowContrast(page.get(), QStringLiteral("ledset_refused%1").arg(l.code));
        Panel::shot(page.get(), QStringLiteral("ledset_refused_%1").arg(l.code));
        g_vyr_max_pixel = 0;
    }
    EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 0) << "nothing written for a refused size";
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}

// ---- on the simulated board: scaler chip and FPGA 0 ----

namespace {

class LedSizeOnTheBoard : public LedSizePage {
protected:
    void SetUp() override
    {
        LedSizePage::SetUp();
        keltosource::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        scaler = c331_manage::p_c331_manage;
        ASSERT_TRUE(fpga && scaler);
        // A 1080p60 source on window 0's input, as the chip measures it and the input manager reports it.
        C331Chip::InputTiming t;
        t.present = true;
        t.htotal = 2200, t.vtotal = 1125, t.hact = 1920, t.fv = 60;
        c331Chip().setInput(1, t);
        HDMI_INFO rec{};
        rec.hact = 1920, rec.hsync = 44, rec.hback = 148, rec.htt = 2200;
        rec.vact = 1080, rec.vsync = 5, rec.vback = 36, rec.vtt = 1125;
        rec.pfreq = 148.5f, rec.stable = 1;
        {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            keltosource::p_kelto_source->hdminfo[c331_manage::vyrApi_GetPortDevId(1)] = rec;
        }
        // The clock synthesiser runs, so the FPGA worker may bring FPGA 0 up.
        fpga_manage::gpio_write(fpga->rst_fpga0, 16);
        keltosource::p_kelto_source->clock_state[0] = 2;
        fpgaChip().setTickSource([] { return G_timeTicks.load(); });
    }

    // One tick of the FPGA worker, as its thread would run it.
    void fpgaTick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            const uint16_t before = resetLine();
            G_timeTicks.fetch_add(1);
            fpga->runOnce();
            fpgaChip().watchLines();
            if (before != resetLine())
                resetEdges.push_back({G_timeTicks.load(), resetLine()});
        }
    }

    bool bothUntil(const std::function<bool()>& done, int maxTicks)
    {
        for (int i = 0; i < maxTicks && !done(); ++i) {
            scaler->runOnce();
            fpgaTick();
        }
        return done();
    }

    void bringUp()
    {
        ASSERT_TRUE(bothUntil([this] { return scaler->thread_state >= 6 && fpga->get_fpga_status() == 1; }, 3000));
        for (int i = 0; i < 3; ++i)
            scaler->runOnce();
        Panel::pump(20); // the refreshes and the save of the bring-up
        ASSERT_TRUE(fpgaChip().pictureOut());
    }

    // The output channel whose display area is w x h at the channel's start, -1 none.
    static int channelShowing(uint32_t w, uint32_t h)
    {
        for (int o = 0; o < 8; ++o)
            if (c331Chip().value(0x084202, 16 * o) == w && c331Chip().value(0x084602, 16 * o) == h + 1)
                return o;
        return -1;
    }

    fpga_manage* fpga = nullptr;
    c331_manage* scaler = nullptr;
    std::vector<std::pair<uint32_t, uint16_t>> resetEdges;
};

}

TEST_F(LedSizeOnTheBoard, NewSizeReinitialisesThePanelAfterTheFpgaBlankedAndBringsFpga0UpAgain)
{
    scaler->led_wait_limit_ms = 30000; // the FPGA is stepped by hand here
    bringUp();
    ASSERT_EQ(c331Chip().outputTiming(0).hactive, 1920u);
    ASSERT_GE(channelShowing(1920, 1080), 0) << "window 0 over the 1920 x 1080 canvas";
    LedSizeKeypad keypad;
    keypad.answers = {QStringLiteral("1280"), QStringLiteral("720")};
    std::atomic<bool> scalerDone{false};
    std::thread scalerPass;
    Script s;
    toLedPage(s)
        .keys({OK, Right, OK})
        .until([] { return g_ledset->lineEdit_ledh->text() == QStringLiteral("720"); }, "size typed")
        .keys({Right, OK})
        .until([] { return g_set_led_para == 1; }, "hand-over raised")
        .act([&] {
            scalerPass = std::thread([&] {
                scaler->runOnce();
                scalerDone = true;
            });
        })
        .until([&] { return scaler->change_flag == 0; }, "scaler took the change")
        .act([] { Panel::pump(50); })
        // It waits for the FPGA's step, with the panel untouched and its mutex free for the pages.
        .act([&] {
            EXPECT_FALSE(scalerDone);
            EXPECT_EQ(c331Chip().outputTiming(0).hactive, 1920u);
            const int locked = pthread_mutex_trylock(&scaler->c331_mutex);
            EXPECT_EQ(locked, 0) << "the scaler holds its mutex while waiting";
            if (locked == 0)
                pthread_mutex_unlock(&scaler->c331_mutex);
        })
        .act([&] {
            fpgaTick();
            EXPECT_NE(fpgaChip().registerValue(FpgaReg::ScreenControl) & 0x04, 0) << "wall blanked";
            for (int i = 0; i < 100 && g_set_led_para == 1; ++i)
                fpgaTick();
            EXPECT_NE(g_set_led_para, 1);
        })
        .until([&] { return scalerDone.load(); }, "panel re-initialised")
        .act([&] {
            scalerPass.join();
            EXPECT_EQ(c331Chip().outputTiming(0).hactive, 1280u);
            EXPECT_EQ(g_set_led_para, 2);
            EXPECT_TRUE(resetEdges.empty());
            fpgaTick();
            EXPECT_EQ(g_set_led_para, 0);
            ASSERT_EQ(resetEdges.size(), 1u);
            EXPECT_EQ(resetEdges[0].second, 0) << "FPGA 0 held in reset";
            EXPECT_EQ(fpga->get_fpga_status(), 0);
            fpgaTick(200);
            EXPECT_EQ(resetLine(), 0);
            fpgaTick();
            EXPECT_EQ(resetLine(), 16) << "released 201 ticks after the reset";
        })
        .until([] { return g_ledset && g_page_focus.load() == 13; }, "the page still open")
        .act([this] {
            EXPECT_TRUE(bothUntil([this] { return fpga->get_fpga_status() == 1; }, 3000)) << "FPGA 0 up again";
            EXPECT_TRUE(fpgaChip().pictureOut());
        })
        // The scaler's refresh reaches the page and the block is saved.
        .until([this] { return blk::get16(store->shadow, blk::kLedWidth) == 1280; }, "block saved")
        .act([] {
            EXPECT_EQ(g_ledset->lineEdit_ledw->text(), QStringLiteral("1280"));
            EXPECT_EQ(g_ledset->lineEdit_ledh->text(), QStringLiteral("720"));
        });
    const bool ok = s.run(60000);
    if (scalerPass.joinable())
        scalerPass.join();
    ASSERT_TRUE(ok);
    for (int n = 0; n < 8; ++n) {
        const C331Chip::OutputTiming t = c331Chip().outputTiming(n);
        EXPECT_EQ(t.hactive, 1280u) << "channel " << n;
        EXPECT_EQ(t.vactive, 720u) << "channel " << n;
    }
    EXPECT_GE(channelShowing(1280, 720), 0) << "window 0 over the new canvas";
    EXPECT_EQ(channelShowing(1920, 1080), -1);
    const QByteArray saved = TestRoot::readFile("/data/ram_device_info");
    ASSERT_GE(saved.size(), 3330);
    EXPECT_EQ(uint8_t(saved[2 + blk::kLedWidth - 0x300]) | uint8_t(saved[3 + blk::kLedWidth - 0x300]) << 8, 1280);
}

// An FPGA that stops stepping (or a flag raised for an FPGA that cannot serve it) never holds the
// scaler for good: the panel is set up once the bound has passed.
TEST_F(LedSizeOnTheBoard, ScalerWaitForAnFpgaThatNeverStepsIsBounded)
{
    bringUp();
    scaler->led_wait_limit_ms = 300;
    LedSizeKeypad keypad;
    keypad.answers = {QStringLiteral("1024"), QStringLiteral("768")};
    std::future<void> pass;
    Script s;
    toLedPage(s)
        .keys({OK, Right, OK})
        .until([] { return g_ledset->lineEdit_ledh->text() == QStringLiteral("768"); }, "size typed")
        .keys({Right, OK})
        .until([] { return g_set_led_para == 1; }, "hand-over raised")
        // The FPGA worker takes no pass from here on.
        .act([&] { pass = std::async(std::launch::async, [this] { scaler->runOnce(); }); })
        .until([&] { return pass.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, "scaler pass ended");
    ASSERT_TRUE(s.run(20000));
    EXPECT_EQ(c331Chip().outputTiming(0).hactive, 1024u);
    EXPECT_EQ(c331Chip().outputTiming(0).vactive, 768u);
    EXPECT_GE(channelShowing(1024, 768), 0);
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("did not end"));
}
