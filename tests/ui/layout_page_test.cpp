// The window layout page: reached from the settings menu, each of the six windows shown from its
// record (state, source, position and size, mirror pictures, point-to-point selector), names with
// and without an alias, captions against selector items after a language change, MODE, text fit.
#include "panel_fixture.h"
#include "second_writer.h"

#include "base/global.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "test_root.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/imagelayout.h"
#include "ui/panelkeys.h"
#include "store_face.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <memory>

using namespace PanelKey;

namespace {

struct Window {
    uint16_t state, mirror, source, x, y, w, h;
    uint8_t p2p;
    uint16_t stitch;
};

void setWindow(VyrRamPara* store, int w, const Window& v)
{
    store->setU16(blk::window(w, blk::win::kState), v.state);
    store->setU16(blk::window(w, blk::win::kMirror), v.mirror);
    store->setU16(blk::window(w, blk::win::kSource), v.source);
    store->setU16(blk::window(w, blk::win::kX), v.x);
    store->setU16(blk::window(w, blk::win::kY), v.y);
    store->setU16(blk::window(w, blk::win::kWidth), v.w);
    store->setU16(blk::window(w, blk::win::kHeight), v.h);
    testBlock(store)[blk::window(w, blk::win::kPointToPoint)] = v.p2p;
    store->setU16(blk::window(w, blk::win::kDotByDot), v.stitch);
}

QImage lit(int k, bool on)
{
    return QPixmap(QStringLiteral(":/png/mirror%1_%2.png").arg(k).arg(on ? QStringLiteral("on") : QStringLiteral("off")))
        .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .toImage();
}

}

TEST_F(PanelTest, LayoutPageShowsEachWindowFromItsRecordAndWraps)
{
    g_language = 1;
    // state, mirror, source, x, y, w, h, point-to-point byte, stitching mode
    setWindow(store, 0, {1, 2, 3, 100, 200, 1920, 1080, 1, 8});
    setWindow(store, 1, {0, 0, 1, 0, 0, 640, 480, 0, 9});       // off, bit clear: "OFF"
    setWindow(store, 2, {2, 1, 0, 65535, 1, 2, 3, 1, 0});       // state 2 counts as on
    setWindow(store, 3, {1, 3, 5, 7, 8, 9, 10, 1, 9});
    setWindow(store, 4, {1, 0, 4, 0, 0, 1, 1, 0, 0});
    setWindow(store, 5, {1, 7, 2, 1, 2, 3, 4, 1, 5});            // unknown mirror and stitching: kept
    struct Expect {
        const char* name;
        const char* source;
        const char* state;
        const char* x;
        const char* y;
        const char* w;
        const char* h;
        int p2p;
        int mirror;
    };
    const Expect expect[6] = {
        {"Name:Image1", "Source:HDMI2", "Image state:ON", "100", "200", "1920", "1080", 2, 2},
        {"Name:Image2", "Source:DVI", "Image state:OFF", "0", "0", "640", "480", 0, 0},
        {"Name:Image3", "Source:EXT", "Image state:ON", "65535", "1", "2", "3", 1, 1},
        {"Name:Image4", "Source:HDMI4", "Image state:ON", "7", "8", "9", "10", 3, 3},
        {"Name:Image5", "Source:HDMI3", "Image state:ON", "0", "0", "1", "1", 0, 0},
        {"Name:Image6", "Source:HDMI1", "Image state:ON", "1", "2", "3", "4", 0, 0}, // index and pictures of window 5
    };
    auto check = [&](int w) {
        const Expect& e = expect[w];
        ImageLayout* p = g_imagelayout;
        EXPECT_EQ(p->shown_window, w);
        EXPECT_EQ(p->image_name->text(), QLatin1String(e.name)) << w;
        EXPECT_EQ(p->image_source->text(), QLatin1String(e.source)) << w;
        EXPECT_EQ(p->image_state->text(), QLatin1String(e.state)) << w;
        EXPECT_EQ(p->lineEdit_X->text(), QLatin1String(e.x)) << w;
        EXPECT_EQ(p->lineEdit_Y->text(), QLatin1String(e.y)) << w;
        EXPECT_EQ(p->lineEdit_W->text(), QLatin1String(e.w)) << w;
        EXPECT_EQ(p->lineEdit_H->text(), QLatin1String(e.h)) << w;
        EXPECT_EQ(p->comboBox_P2P->currentIndex(), e.p2p) << w;
        EXPECT_EQ(p->mirror_lit, e.mirror) << w;
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(p->mirror[k]->pixmap(Qt::ReturnByValue).toImage(), lit(k + 1, k == e.mirror)) << w << " mirror " << k;
        EXPECT_EQ(p->frame_image->x(), 51 * w + 7);
    };
    for (int k = 1; k <= 4; ++k)
        ASSERT_NE(lit(k, true), lit(k, false)) << "mirror pictures " << k;
    Script s;
    s.key(OK)
        .choose("option")
        .until([] { return g_page_focus.load() == 5 && QApplication::activeWindow() == g_option.data(); }, "settings menu")
        .choose("image_layout")
        .until([] { return g_page_focus.load() == 9 && QApplication::activeWindow() == g_imagelayout.data(); }, "layout page")
        .act([&] { check(0); });
    for (int w = 1; w < 6; ++w)
        s.key(Right).until([w] { return g_imagelayout->shown_window == w; }, "window " + std::to_string(w + 1)).act([&, w] {
            check(w);
        });
    s.key(OK)
        .act([] { Panel::pump(20); })
        .act([] { EXPECT_EQ(g_imagelayout->shown_window, 5) << "OK changes nothing"; })
        .key(Right)
        .until([] { return g_imagelayout->shown_window == 0; }, "wrap to window 1")
        .key(Left)
        .until([] { return g_imagelayout->shown_window == 5; }, "wrap to window 6")
        .act([] {
            // A PC tool switches the window shown off and moves it: the page follows at once.
            SecondWriter tool = SecondWriter::inProcess();
            ASSERT_EQ(tool.set16(blk::window(5, blk::win::kState), 0), 0);
            ASSERT_EQ(tool.set16(blk::window(5, blk::win::kX), 300), 0);
            Panel::refresh(1);
            EXPECT_EQ(g_imagelayout->image_state->text(), QStringLiteral("Image state:OFF"));
            EXPECT_EQ(g_imagelayout->lineEdit_X->text(), QStringLiteral("300"));
        })
        .key(Back)
        .until([] { return g_page_focus.load() == 5 && !g_imagelayout; }, "settings menu again");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, LayoutWindowNameComesFromTheAliasFile)
{
    g_language = 1;
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/alias.json", R"({"namelist":{"win":[
        {"id":0,"valid":"on","name":"A very long window name that cannot fit"},
        {"id":1,"valid":"off","name":"Hidden"},
        {"id":2,"valid":"on","name":""},
        {"id":3,"valid":"on","name":"<b>x</b>"},
        {"id":"4","valid":"on","name":"Stage"}]}})"));
    const char* const names[6] = {nullptr, "Name:Image2", "Name:Image3", "Name:<b>x</b>", "Name:Stage", "Name:Image6"};
    for (int w = 0; w < 6; ++w) {
        std::unique_ptr<ImageLayout> page(new ImageLayout);
        page->shown_window = uint8_t(w);
        page->image_para_update();
        const QLabel* label = page->image_name;
        const QString name = label->text();
        if (!names[w]) {
            EXPECT_TRUE(name.startsWith(QStringLiteral("Name:A very"))) << name.toStdString();
            EXPECT_TRUE(name.endsWith(QChar(0x2026))) << name.toStdString();
            EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(name), label->width());
        } else {
            EXPECT_EQ(name, QLatin1String(names[w])) << w;
        }
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << w;
    }
}

TEST_F(PanelTest, LayoutSelectorItemsKeepTheirLanguageWhileCaptionsFollow)
{
    g_language = 1;
    std::unique_ptr<ImageLayout> page(new ImageLayout);
    g_language = 2;
    page->language_changed();
    EXPECT_EQ(page->label_W->text(), QString::fromUtf8("Ш"));
    EXPECT_EQ(page->comboBox_P2P->itemText(2), QStringLiteral("HD3,HD4 Hor"));
    EXPECT_EQ(page->comboBox_P2P->focusPolicy(), Qt::NoFocus);
}

TEST_F(PanelTest, ModeOnTheLayoutPageClosesItAndTheSettingsMenu)
{
    Script s;
    s.key(OK)
        .choose("option")
        .until([] { return g_page_focus.load() == 5 && QApplication::activeWindow() == g_option.data(); }, "settings menu")
        .choose("image_layout")
        .until([] { return g_page_focus.load() == 9 && QApplication::activeWindow() == g_imagelayout.data(); }, "layout page")
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
        .act([] {
            EXPECT_FALSE(g_imagelayout);
            EXPECT_FALSE(g_option);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        });
    ASSERT_TRUE(s.run());
}

