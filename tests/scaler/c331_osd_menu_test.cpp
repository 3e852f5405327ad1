// The on-screen menu from upload to the wall: an omenu.json in /data/configs and a hand-over with
// the menu on make the chip's OSD plane show its lines; a later file replaces them; a damaged one
// changes nothing and says why in the log.
#include "c331_osd_fonts.h"
#include "scaler_fixture.h"
#include "test_root.h"

#include <array>
#include <cstdio>

namespace {

using namespace scaler_test;
using platform::Sim::C331Chip;
using osd_test::cellErrors;

std::string menuFile(const std::string& texts, const char* font = "FFFF00", const char* back = "000080",
                     const char* status = "on")
{
    return std::string(R"({"name":"t","osdcount":1,"oactcount":0,"menu":[{"type":0,"status":")") + status + "\"," +
           R"("pos":{"x":0,"y":0,"w":1920,"h":200},"act":{"effect":0,"speed":1,"staytime":0},)" +
           R"("backpara":{"enable":"on","color":")" + back + R"("},)" +
           R"("fontpara":{"startx":16,"starty":8,"fontw":32,"fonth":32,"wordspace":0,"verticalspace":4,"color":")" +
           font + R"("},"texts":[")" + texts + R"("]}]})";
}

class ScalerOsdMenu : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        handOver([](VyrRamPara& s) {
            s.setU16(blk::kLedWidth, 1920);
            s.setU16(blk::kLedHeight, 1080);
        });
        bringUp();
        settle();
        osd_test::storeGlyphs("Wall 7 on-air中文字幕 Next");
        scaler->update_font(scaler->c331_fd);
    }
    // As the file transfer leaves it, then the menu switched on by a hand-over.
    C331Chip::Picture upload(const std::string& contents)
    {
        EXPECT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", QByteArray::fromStdString(contents)));
        handOver([](VyrRamPara& s) { s.setU16(blk::kOsdMenu, 0); });
        settle();
        handOver([](VyrRamPara& s) { s.setU16(blk::kOsdMenu, 1); });
        settle();
        return c331Chip().osdShown(0);
    }
    int lineErrors(const C331Chip::Picture& pic, const std::u32string& text, int y, uint32_t fg, uint32_t bg)
    {
        int x = 16, errors = 0;
        for (char32_t c : text) {
            errors += cellErrors(pic, x, y, c, 32, fg, bg);
            x += c < 0x80 ? 16 : 32;
        }
        return errors;
    }
};

TEST_F(ScalerOsdMenu, UploadedMenuShowsItsLinesAndALaterFileReplacesThem)
{
    // Colours in the file are RGB: yellow text on dark blue.
    const C331Chip::Picture first = upload(menuFile("Wall 7 on-air\\n中文字幕"));
    ASSERT_GT(first.width, 200);
    EXPECT_EQ(lineErrors(first, U"Wall 7 on-air", 8, 0x00FFFF, 0x800000), 0);
    EXPECT_EQ(lineErrors(first, U"中文字幕", 8 + 36, 0x00FFFF, 0x800000), 0);
    EXPECT_EQ(scaler->PM_OSD_EN, 1);

    const C331Chip::Picture second = upload(menuFile("Next", "FF0000", "000000"));
    EXPECT_EQ(lineErrors(second, U"Next", 8, 0x0000FF, 0x000000), 0);
    EXPECT_EQ(lineErrors(second, U"    ", 8 + 36, 0x0000FF, 0x000000), 0) << "the old second line is gone";
}

TEST_F(ScalerOsdMenu, DamagedFileLeavesTheTextAndSaysWhy)
{
    const std::string good = menuFile("Wall 7");
    const C331Chip::Picture before = upload(good);
    ASSERT_EQ(lineErrors(before, U"Wall 7", 8, 0x00FFFF, 0x800000), 0);
    for (const std::string& bad : {good.substr(0, good.size() - 9), std::string("\xEF\xBB\xBF{\"osdcount\":")}) {
        const C331Chip::Picture after = upload(bad);
        EXPECT_EQ(after.rgba, before.rgba);
        EXPECT_EQ(scaler->thread_state, 6) << "still running";
    }
    EXPECT_NE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").indexOf("not valid JSON"), -1);
    EXPECT_FALSE(TestRoot::exists("/data/configs/omenu.json")) << "the file that failed is removed";
}

TEST_F(ScalerOsdMenu, MenuSwitchedOffInANewFileTakesTheBannerOffTheWall)
{
    ASSERT_GT(upload(menuFile("Wall 7")).width, 0);
    ASSERT_EQ(c331Chip().value(0x090802) & 3, 3u);
    // Reloaded as a menu register write does, with the menu left on.
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json",
                                    QByteArray::fromStdString(menuFile("Wall 7", "FFFF00", "000080", "off"))));
    g_osd_update = 1;
    settle();
    const C331Chip::Picture off = c331Chip().osdShown(0);
    EXPECT_EQ(c331Chip().value(0x090802) & 3, 0u) << "the OSD enable bits of 09:08 are cleared";
    EXPECT_EQ(off.width, 0);
}

// What the menu file's effect, font size and background reach on the chip: the scroll control
// (09:3C), the zoom bits of the control word (09:08) and the plane's background (transparent off).
struct MenuLook {
    const char* name;
    const char* effect;
    const char* font;
    const char* background;
    uint32_t scroll;
    uint32_t zoom;
    bool transparent;
};

const MenuLook kLooks[] = {
    {"Still", "0", "32", "on", 0x80, 0, false},
    {"Effect1", "1", "32", "on", 0xA1, 0, false},
    {"Effect2", "2", "32", "on", 0xB1, 0, false},
    {"Effect3", "3", "32", "on", 0x81, 0, false},
    {"Effect4", "4", "32", "on", 0x91, 0, false},
    {"Effect5KeepsTheMode", "5", "32", "on", 0xC1, 0, false}, // mode 5, set before
    {"Font64", "0", "64", "on", 0x80, 0, false},
    {"Font128Zoomed", "0", "128", "on", 0x80, 0x1800, false},
    {"BackgroundOff", "0", "32", "off", 0x80, 0, true},
};

void PrintTo(const MenuLook& l, std::ostream* os) { *os << l.name; }

class ScalerMenuLook : public ScalerOsdMenu, public ::testing::WithParamInterface<MenuLook> {};

TEST_P(ScalerMenuLook, ReachesTheChip)
{
    const MenuLook& l = GetParam();
    std::string file = menuFile("Wall 7");
    auto put = [&](const std::string& from, const std::string& to) { file.replace(file.find(from), from.size(), to); };
    put(R"("effect":0)", std::string(R"("effect":)") + l.effect);
    put(R"("fontw":32,"fonth":32)", std::string(R"("fontw":)") + l.font + R"(,"fonth":)" + l.font);
    put(R"("enable":"on")", std::string(R"("enable":")") + l.background + "\"");
    scaler->vyrApi_OsdSet(4, 5);
    const C331Chip::Picture pic = upload(file);
    for (uint32_t n = 0; n < 8; ++n)
        EXPECT_EQ(c331Chip().value(0x093C01, 16 * n), l.scroll) << n;
    EXPECT_EQ(c331Chip().value(0x090802) & 0x1800, l.zoom);
    ASSERT_GT(pic.width, 1000);
    EXPECT_EQ((pic.pixel(1000, 150) & 0xFF) == 0, l.transparent) << std::hex << pic.pixel(1000, 150);
}

INSTANTIATE_TEST_SUITE_P(Files, ScalerMenuLook, ::testing::ValuesIn(kLooks),
                         [](const ::testing::TestParamInfo<MenuLook>& info) { return std::string(info.param.name); });

// The menu on and off around LED size changes: the enable bits of the OSD control word (09:08)
// on each output channel afterwards. 7680 x 1365 is tiled over channels 0-3, 1920 x 1080 over 0-1;
// a channel outside the tiling, or any channel with the menu off, shows no banner.
struct MenuStep {
    enum Kind { Size, On, Off, FileGone } kind;
    uint16_t w = 0, h = 0;
};

struct MenuPanel {
    const char* name;
    std::vector<MenuStep> steps;
    std::array<uint32_t, 8> enable;
};

const MenuPanel kMenuPanels[] = {
    {"OffAfterShrinkThenGrow",
     {{MenuStep::Size, 7680, 1365}, {MenuStep::On}, {MenuStep::Size, 1920, 1080}, {MenuStep::Off}, {MenuStep::Size, 7680, 1365}},
     {0, 0, 0, 0, 0, 0, 0, 0}},
    {"OnThroughShrink", {{MenuStep::Size, 7680, 1365}, {MenuStep::On}, {MenuStep::Size, 1920, 1080}}, {3, 3, 0, 0, 0, 0, 0, 0}},
    {"OnThroughGrow", {{MenuStep::On}, {MenuStep::Size, 7680, 1365}}, {3, 3, 3, 3, 0, 0, 0, 0}},
    {"OffThenGrow", {{MenuStep::On}, {MenuStep::Off}, {MenuStep::Size, 7680, 1365}}, {0, 0, 0, 0, 0, 0, 0, 0}},
    // The menu's reload finds no file: the banner shown is placed on the new tiling all the same.
    {"OnThroughGrowWithoutAFile", {{MenuStep::On}, {MenuStep::FileGone}, {MenuStep::Size, 7680, 1365}},
     {3, 3, 3, 3, 0, 0, 0, 0}},
};

void PrintTo(const MenuPanel& m, std::ostream* os) { *os << m.name; }

class ScalerMenuPanel : public ScalerOsdMenu, public ::testing::WithParamInterface<MenuPanel> {};

TEST_P(ScalerMenuPanel, BannerOnlyOnTheChannelsOfTheTilingWhileTheMenuIsOn)
{
    const MenuPanel& m = GetParam();
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", QByteArray::fromStdString(menuFile("Wall 7"))));
    for (const MenuStep& s : m.steps) {
        if (s.kind == MenuStep::FileGone) {
            ASSERT_EQ(::remove(TestRoot::path("/data/configs/omenu.json").c_str()), 0);
            continue;
        }
        handOver([&](VyrRamPara& b) {
            if (s.kind == MenuStep::Size) {
                b.setU16(blk::kLedWidth, s.w);
                b.setU16(blk::kLedHeight, s.h);
                b.setU16(blk::kOutput1Width, s.w);
                b.setU16(blk::kOutput1Height, s.h);
            } else {
                b.setU16(blk::kOsdMenu, s.kind == MenuStep::On);
            }
        });
        settle();
    }
    std::array<uint32_t, 8> enable{};
    for (uint32_t n = 0; n < 8; ++n)
        enable[n] = c331Chip().value(0x090802, 16 * n) & 3;
    EXPECT_EQ(enable, m.enable);
}

INSTANTIATE_TEST_SUITE_P(Panels, ScalerMenuPanel, ::testing::ValuesIn(kMenuPanels),
                         [](const ::testing::TestParamInfo<MenuPanel>& info) { return std::string(info.param.name); });

}
