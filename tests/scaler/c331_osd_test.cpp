// On-screen display: settings, text lines, fonts and the plane the simulated chip draws, read back
// as a picture.
#include "c331_osd_fonts.h"
#include "scaler_fixture.h"

#include <QDir>
#include <QString>

namespace {

using namespace scaler_test;
using platform::Sim::C331Chip;

constexpr uint32_t kBg = 0x804020;   // 0xBBGGRR: red 0x20, green 0x40, blue 0x80
constexpr uint32_t kChar = 0x00FFFF; // yellow

using osd_test::rgba;

class ScalerOsd : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        bringUp();
        settle();
    }

    // A text OSD of 32x32 characters at (x, y) of the plane, shown on the output.
    void textOsd(int x, int y, bool big = false)
    {
        scaler->load_char();
        for (auto [type, value] : std::vector<std::pair<int, int>>{{3, 1}, {14, big}, {21, x}, {22, y}, {16, int(kBg)},
                                                                    {17, int(kChar)}, {18, 0}, {0, 1}})
            scaler->vyrApi_OsdSet(type, value);
    }

    void setLines(const std::vector<std::u32string>& lines)
    {
        static uint32_t buf[64][128];
        int lengths[64] = {};
        for (size_t n = 0; n < lines.size() && n < 64; ++n) {
            lengths[n] = int(std::min<size_t>(lines[n].size(), 128));
            for (int i = 0; i < lengths[n]; ++i)
                buf[n][i] = lines[n][size_t(i)];
        }
        scaler->vyrApi_OsdSetUnicode(int(lines.size()), buf, lengths);
    }

    C331Chip::Picture draw()
    {
        scaler->vyrApi_OsdSet(32, 0xC0); // redraw and place
        scaler->runOnce(); // the upkeep redraws the plane
        return c331Chip().osdShown(0);
    }

    int cellErrors(const C331Chip::Picture& pic, int x0, int y0, uint32_t code, int size)
    {
        return osd_test::cellErrors(pic, x0, y0, code, size, kChar, kBg);
    }

    int inkPixels(const C331Chip::Picture& pic)
    {
        int n = 0;
        for (int y = 0; y < pic.height; ++y)
            for (int x = 0; x < pic.width; ++x)
                n += pic.pixel(x, y) == rgba(kChar);
        return n;
    }
};

TEST_F(ScalerOsd, SettingsByTypeWithTheirRangesAndRefusals)
{
    struct Row {
        int type, value, result;
        int c331_manage::*field;
        int expected;
    };
    const Row rows[] = {
        {0, 5, 1, &c331_manage::PM_OSD_EN, 1},
        {4, 10, 1, &c331_manage::PM_OSD_SCROLL_MODE, 1},
        {4, -10, 1, &c331_manage::PM_OSD_SCROLL_MODE, -1},
        {13, 300, 1, &c331_manage::PM_OSD_SCROLL_SPEED, 44},
        {13, -300, 1, &c331_manage::PM_OSD_SCROLL_SPEED, -44},
        {14, 7, 1, &c331_manage::PM_OSD_CHAR_64DOT, 1},
        {16, 0x12345678, 1, &c331_manage::PS_BG_COLOR, 0x345678},
        {17, -1, 1, &c331_manage::PS_CHAR_COLOR, 0xFFFFFF},
        {18, 2, 1, &c331_manage::PS_BG_TRANS, 1},
        {21, 33, 1, &c331_manage::PS_CHAR_HST, 33},
        {35, 6, 1, &c331_manage::osd_line_space, 6},
        {23, 9, 0, &c331_manage::PS_CHAR_VST, 0},
        {31, 9, 0, &c331_manage::PS_CHAR_VST, 0},
        {36, 9, 0, &c331_manage::PS_CHAR_VST, 0},
        {-1, 9, 0, &c331_manage::PS_CHAR_VST, 0},
    };
    scaler->PS_CHAR_VST = 0;
    for (const Row& r : rows) {
        EXPECT_EQ(scaler->vyrApi_OsdSet(r.type, r.value), r.result) << r.type;
        EXPECT_EQ(scaler->*r.field, r.expected) << r.type << " " << r.value;
    }
    // Right and bottom margins from the plane size, the width and the left or top margin.
    scaler->vyrApi_OsdSet(19, 1920);
    scaler->vyrApi_OsdSet(20, 1080);
    scaler->vyrApi_OsdSet(5, 100);
    scaler->vyrApi_OsdSet(6, 800);
    scaler->vyrApi_OsdSet(7, 50);
    scaler->vyrApi_OsdSet(8, 200);
    EXPECT_EQ(scaler->PM_OSD_OUTPUT_OFFSET[1], 1020);
    EXPECT_EQ(scaler->PM_OSD_OUTPUT_OFFSET[3], 830);
    scaler->osd_attribute_word = scaler->osd_content_word = 0;
    scaler->vyrApi_OsdSet(32, 0x80);
    EXPECT_EQ(scaler->osd_attribute_word, 1u);
    EXPECT_EQ(scaler->osd_content_word, 0u);
}

TEST_F(ScalerOsd, LineCountIsClampedAndLinesCut)
{
    std::vector<std::u32string> lines(64, U"A");
    lines[63] = U"Z";
    setLines(lines);
    EXPECT_EQ(scaler->g_unicode_line, 64) << "64 lines keep their text";
    EXPECT_EQ(scaler->osd_text[63][1], 'Z');

    static uint32_t many[70][128];
    int lengths[70];
    for (int n = 0; n < 70; ++n) {
        lengths[n] = 1;
        many[n][0] = 'a';
    }
    scaler->vyrApi_OsdSetUnicode(70, many, lengths);
    EXPECT_EQ(scaler->g_unicode_line, 64);

    std::u32string longLine(200, U'x');
    longLine[126] = U'y';
    longLine[127] = U'z';
    setLines({longLine, U"\U0001F600"});
    EXPECT_EQ(scaler->osd_text[0][2 * 126 + 1], 'y');
    EXPECT_EQ(scaler->osd_text[0][2 * 127 + 1], 0) << "cut to 127 and ended";
    EXPECT_EQ(scaler->osd_text[1][0], 0xFF) << "a code beyond 16 bits is kept as one without a glyph";
    EXPECT_EQ(scaler->osd_text[1][1], 0xFF);

    scaler->vyrApi_OsdSetUnicode(-3, many, lengths);
    EXPECT_EQ(scaler->g_unicode_line, 0);
    EXPECT_EQ(scaler->osd_text[0][1], 0);
}

TEST_F(ScalerOsd, MissingFontClearsOnlyItsOwnPresenceBits)
{
    struct Row {
        uint32_t header;
        uint32_t presence;
        uint8_t imageBits;
    };
    for (const Row& r : {Row{0x010000, 1, 0x02}, Row{0x000000, 2, 0x01}, Row{0x450000, 4, 0x28}, Row{0x410000, 8, 0x14}}) {
        c331Chip().resetFlash();
        store->image[regimage::kFontPresence] = 0xC0;
        c331Chip().flashWrite(r.header, {0});
        scaler->read_c331_font(scaler->c331_fd);
        EXPECT_EQ(scaler->font_presence, 15u & ~r.presence) << std::hex << r.header;
        EXPECT_EQ(store->image[regimage::kFontPresence], uint8_t(0xFF & ~r.imageBits)) << std::hex << r.header;
    }
}

TEST_F(ScalerOsd, FontsAreMovedOneAfterTheOther)
{
    const size_t before = c331Chip().dmaLog().size();
    scaler->update_font(scaler->c331_fd);
    const auto dma = c331Chip().dmaLog();
    ASSERT_EQ(dma.size(), before + 4);
    const uint32_t expected[4][3] = {{0x000023, 0x7F000000, 0x3000},
                                     {0x010023, 0x7F003000, 0x290000},
                                     {0x410023, 0x7F293000, 0xC000},
                                     {0x450023, 0x7F29F000, 0xA40000}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(dma[before + i].flashAddr, expected[i][0]) << i;
        EXPECT_EQ(dma[before + i].dest, expected[i][1]) << i;
        EXPECT_EQ(dma[before + i].size, expected[i][2]) << i;
        EXPECT_EQ(dma[before + i].target, 0) << i;
    }
}

TEST_F(ScalerOsd, ScrollModeAndSpeedOnEveryChannel)
{
    struct Row {
        int mode, speed;
        uint32_t control;
    };
    for (const Row& r : {Row{0, 10, 0x80}, Row{1, 20, 0x81}, Row{3, 50, 0xA1}, Row{8, -2, 0xF1}}) {
        scaler->vyrApi_OsdSet(4, r.mode);
        scaler->vyrApi_OsdSet(13, r.speed);
        scaler->set_scroll(scaler->c331_fd);
        for (uint32_t n = 0; n < 8; ++n) {
            EXPECT_EQ(c331Chip().value(0x093C01, 16 * n), r.control) << r.mode << "/" << n;
            EXPECT_EQ(c331Chip().value(0x093D01, 16 * n), uint32_t(r.speed) & 0xFF) << r.mode << "/" << n;
        }
    }
}

// One English and one Chinese line, drawn pixel for pixel from the fonts in the flash; the
// picture is kept in build/screenshots.
TEST_F(ScalerOsd, EnglishAndChineseLinesDrawFromTheFlashFonts)
{
    const std::string english = "Hello VYR 42", chinese = "你好世界";
    osd_test::storeGlyphs(english + chinese);
    scaler->update_font(scaler->c331_fd);
    textOsd(8, 4);
    setLines({U"Hello VYR 42", U"你好世界"});
    const C331Chip::Picture pic = draw();
    ASSERT_GE(pic.width, 300);
    ASSERT_GE(pic.height, 80);
    int x = 8;
    for (char32_t c : std::u32string(U"Hello VYR 42")) {
        EXPECT_EQ(cellErrors(pic, x, 4, c, 32), 0) << char(c);
        x += 16;
    }
    x = 8;
    for (char32_t c : std::u32string(U"你好世界")) {
        EXPECT_GT(osd_test::inkOf(c331Chip().flashRead(0x10023 + (uint32_t(c) - 0x4E00) * 128, 128)), 40)
            << "the machine's font has the glyph";
        EXPECT_EQ(cellErrors(pic, x, 36, c, 32), 0) << uint32_t(c);
        x += 32;
    }
    EXPECT_EQ(pic.pixel(7, 4), rgba(kBg));
    EXPECT_EQ(pic.pixel(8, 70), rgba(kBg));
    QDir().mkpath(VYR_BINARY_DIR "/screenshots");
    C331Chip::Picture crop;
    crop.width = 320;
    crop.height = 80;
    for (int y = 0; y < crop.height; ++y)
        for (int px = 0; px < crop.width; ++px)
            for (int k = 0; k < 4; ++k)
                crop.rgba.push_back(pic.rgba[(size_t(y) * size_t(pic.width) + size_t(px)) * 4 + size_t(k)]);
    EXPECT_TRUE(C331Chip::writePng(crop, VYR_BINARY_DIR "/screenshots/osd_english_chinese.png"));

    // 64x64 characters from the other two fonts.
    textOsd(0, 0, true);
    setLines({U"A中"});
    const C331Chip::Picture big = draw();
    EXPECT_EQ(cellErrors(big, 0, 0, U'A', 64), 0);
    EXPECT_EQ(cellErrors(big, 32, 0, U'中', 64), 0);
}

// Codes without a glyph and a missing font draw background only; text that would leave the plane
// is not drawn (the chip model reports any write outside its memory areas).
TEST_F(ScalerOsd, CodesWithoutGlyphsDrawBlankAndTextStaysInsideThePlane)
{
    osd_test::storeGlyphs("W中");
    scaler->update_font(scaler->c331_fd);
    textOsd(0, 0);
    setLines({U"W中"});
    ASSERT_GT(inkPixels(draw()), 0) << "the glyphs themselves draw";

    setLines({std::u32string{0x19, 0x80, 0xFF, 0x4DFF, 0xA000, 0xFFFF, 0x1F, 0xD800}});
    EXPECT_EQ(inkPixels(draw()), 0);

    c331Chip().flashWrite(0x010000, {0}); // 32CN gone
    scaler->read_c331_font(scaler->c331_fd);
    setLines({U"中"});
    EXPECT_EQ(inkPixels(draw()), 0);

    // Lines that would cross an edge of the plane are left out; the lines of a text starting
    // above the plane that lie wholly inside it are drawn.
    const int w = scaler->PS_BG_HACT, h = scaler->PS_BG_VACT;
    struct Row {
        int x, y;
        int firstInkRow; // -1: nothing drawn
    };
    for (const Row& r : {Row{w - 8, 0, -1}, Row{0, h - 8, -1}, Row{-40, 0, -1}, Row{100000, 5, -1}, Row{0, -40, 24}}) {
        textOsd(r.x, r.y);
        setLines(std::vector<std::u32string>(64, std::u32string(127, U'W')));
        const C331Chip::Picture pic = draw();
        int first = -1;
        for (int y = 0; y < pic.height && first < 0; ++y)
            for (int x = 0; x < pic.width && first < 0; ++x)
                if (pic.pixel(x, y) == rgba(kChar))
                    first = y;
        if (r.firstInkRow < 0)
            EXPECT_EQ(first, -1) << r.x << "," << r.y;
        else
            EXPECT_GE(first, r.firstInkRow) << r.x << "," << r.y;
    }
    textOsd(0, 0);
    setLines(std::vector<std::u32string>(64, std::u32string(127, U'W')));
    EXPECT_GT(inkPixels(draw()), 0) << "a full plane of text keeps to the plane";
}

// Bitmap mode: the 1920 x 1080 picture of palette indices and its palette come from the flash.
TEST_F(ScalerOsd, BitmapModeShowsTheFlashPictureInItsPalette)
{
    std::vector<uint8_t> row(1920);
    for (int x = 0; x < 1920; ++x)
        row[size_t(x)] = uint8_t(x / 100 % 3 + 5);
    for (uint32_t y : {0u, 1u, 700u})
        c331Chip().flashWrite(0xED9800 + y * 1920, row);
    std::vector<uint8_t> palette(816, 0);
    const uint8_t colours[3][3] = {{0x10, 0x20, 0x30}, {0xA0, 0xB0, 0xC0}, {0xFE, 0x01, 0x7F}};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            palette[size_t((5 + i) * 3 + k)] = colours[i][k];
    c331Chip().flashWrite(0x10D3C00, palette);
    scaler->load_char();
    scaler->vyrApi_OsdSet(3, 0);
    scaler->vyrApi_OsdSet(0, 1);
    const C331Chip::Picture pic = draw();
    ASSERT_GE(pic.width, 1000);
    ASSERT_GE(pic.height, 701);
    for (int y : {0, 1, 700})
        for (int x : {0, 99, 100, 250, 999}) {
            const uint8_t* c = colours[x / 100 % 3];
            EXPECT_EQ(pic.pixel(x, y), uint32_t(c[0]) << 24 | uint32_t(c[1]) << 16 | uint32_t(c[2]) << 8 | 0xFF) << x << "," << y;
        }
    EXPECT_EQ(c331Chip().value(0x090802) & 3, 2u) << "bitmap mode in the control word";
    EXPECT_EQ(c331Chip().value(0xFF0101), 0u) << "palette access closed again";
}

// Placement on two output channels side by side (1920 wide, active area from 176): the window's
// start and width in each channel (09:12 = start + x - 4, 09:14) and the control word (09:08) by
// zoom, enable, mode, the type-33 flag and the wide-stride shift.
struct Tile {
    const char* name;
    int hst, hw;
    int hzoom, vzoom, enable, text, flag, shift;
    uint32_t start[2], width[2];
    uint32_t control;
};

const Tile kTiles[] = {
    {"InFirstChannel", 100, 500, 0, 0, 1, 1, 0, 0, {272, 172}, {500, 0}, 0x4003},
    {"AcrossTheSeam", 1800, 400, 0, 1, 1, 1, 0, 0, {1972, 172}, {120, 280}, 0x4803},
    {"InSecondChannel", 2000, 100, 1, 0, 1, 0, 0, 0, {172, 252}, {0, 100}, 0x5002},
    {"AtTheSeam", 1920, 1920, 1, 1, 0, 1, 0, 0, {172, 172}, {0, 1920}, 0x5800},
    {"FlaggedWideStride", 0, 3840, 0, 0, 1, 1, 1, 1, {172, 172}, {1920, 1920}, 0xE003},
};

void PrintTo(const Tile& t, std::ostream* os) { *os << t.name; }

class ScalerOsdTile : public ScalerFixture, public ::testing::WithParamInterface<Tile> {};

TEST_P(ScalerOsdTile, StartWidthAndControlWordOfEachChannel)
{
    const Tile& t = GetParam();
    bringUp();
    settle();
    c331_manage& m = *scaler;
    m.PS_PANEL_HW = 3840, m.PS_PANEL_VW = 1080, m.PS_PANEL_HSHAPE = 2, m.PS_PANEL_VSHAPE = 1;
    m.PS_ACTHW = 1920, m.PS_ACTVW = 1080, m.PS_ACTHST = 176, m.PS_ACTVST = 82;
    m.PS_BG_HACT = 3840, m.PS_BG_VACT = 1080;
    m.PM_OSD_OUTPUT_OFFSET[0] = t.hst, m.PM_OSD_OUTPUT_OFFSET[1] = 3840 - t.hst - t.hw;
    m.PM_OSD_OUTPUT_OFFSET[2] = m.PM_OSD_OUTPUT_OFFSET[3] = 0;
    std::fill(std::begin(m.PM_OSD_INPUT_OFFSET), std::end(m.PM_OSD_INPUT_OFFSET), 0);
    m.PM_OSD_HZOOM_EN = t.hzoom, m.PM_OSD_VZOOM_EN = t.vzoom, m.PM_OSD_EN = t.enable, m.PM_OSD_DATA_MODE = t.text;
    m.osd_control_flag = t.flag, m.g_osd_mwi = 16, m.g_osd_mwi_shift = t.shift;
    m.set_osd(m.c331_fd, 1);
    for (uint32_t c = 0; c < 2; ++c) {
        EXPECT_EQ(c331Chip().value(0x091202, 16 * c), t.start[c]) << c;
        EXPECT_EQ(c331Chip().value(0x091402, 16 * c), t.width[c]) << c;
        EXPECT_EQ(c331Chip().value(0x091602, 16 * c), 83u) << c;
        EXPECT_EQ(c331Chip().value(0x091802, 16 * c), 1080u) << c;
        EXPECT_EQ(c331Chip().value(0x090802, 16 * c), t.control) << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Placements, ScalerOsdTile, ::testing::ValuesIn(kTiles),
                         [](const ::testing::TestParamInfo<Tile>& info) { return std::string(info.param.name); });

}
