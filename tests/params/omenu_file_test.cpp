// The on-screen menu file: what is read from it, what reaches the scaler's OSD setters, and what a
// damaged or hostile file does (nothing but a log line and, for a file that is not JSON, its
// deletion).
#include "managers.h"
#include "params/omenu_file.h"
#include "scaler/c331_osd_menu.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const kMaster = "/data/configs/omenu.json";

std::string item0(const std::string& extra = "", const std::string& texts = R"(["Hello\nWorld"])")
{
    return R"({"type":0,"status":"on","pos":{"x":10,"y":20,"w":300,"h":100,"layer":"top"},)"
           R"("act":{"effect":2,"speed":5,"staytime":3},"backpara":{"enable":"on","color":"123456"},)"
           R"("fontpara":{"startx":4,"starty":6,"fontw":32,"fonth":32,"wordspace":1,"verticalspace":2,"color":"FF0000"},)"
           R"("texts":)" + texts + extra + "}";
}

std::string doc(const std::string& items, int count = 1)
{
    return R"({"name":"menu","osdcount":)" + std::to_string(count) + R"(,"oactcount":7,"menu":[)" + items + "]}";
}

class OmenuFile : public ManagersTest {
protected:
    OSD_LIST read(const std::string& text, const char* path = kMaster)
    {
        EXPECT_TRUE(TestRoot::writeFile(path, QByteArray::fromStdString(text)));
        OSD_LIST list;
        list.osdcount = 99;
        get_json_omenu_para(path, &list);
        return list;
    }
    std::vector<std::string> apply(OSD_LIST& list, uint16_t ledW = 1920, uint16_t ledH = 1080)
    {
        scaler->call_log.clear();
        set_OSD_para(list, *scaler, ledW, ledH);
        return scaler->call_log.calls();
    }
    static std::string set(int type, int value)
    {
        return "vyrApi_OsdSet(" + std::to_string(type) + "," + std::to_string(value) + ")";
    }
    bool called(const std::vector<std::string>& calls, int type) const
    {
        const std::string prefix = "vyrApi_OsdSet(" + std::to_string(type) + ",";
        for (const auto& c : calls)
            if (c.rfind(prefix, 0) == 0)
                return true;
        return false;
    }
    std::u32string line(int n) const
    {
        std::u32string out;
        for (int i = 0; i < 128 && (scaler->osd_text[n][2 * i] | scaler->osd_text[n][2 * i + 1]); ++i)
            out += char32_t(scaler->osd_text[n][2 * i] << 8 | scaler->osd_text[n][2 * i + 1]);
        return out;
    }
};

TEST_F(OmenuFile, FirstItemBecomesTheOsdSettingsInOrder)
{
    OSD_LIST list = read(doc(item0()));
    ASSERT_EQ(list.osdcount, 1);
    EXPECT_EQ(list.oactcount, 7);
    EXPECT_EQ(list.menu[0].texts, "Hello\nWorld");
    const std::vector<std::string> expected = {
        "load_char()", set(5, 10),  set(6, 300), set(7, 20),          set(8, 100),    set(3, 1),  set(1, 0),
        set(2, 0),     set(14, 0),  set(21, 4),  set(22, 6),          set(17, 0xFF),  set(13, 50), set(16, 0x563412),
        set(18, 0),    set(4, 4),   set(0, 1),   set(33, 0),          set(34, 1),     set(35, 2)};
    EXPECT_EQ(apply(list), expected);
    EXPECT_EQ(scaler->g_unicode_line, 2);
    EXPECT_EQ(line(0), U"Hello");
    EXPECT_EQ(line(1), U"World");
}

TEST_F(OmenuFile, EdgeCasesOfTheDocument)
{
    // osdcount 0 with items: nothing read beyond the counts, nothing applied.
    OSD_LIST none = read(doc(item0(), 0));
    EXPECT_EQ(none.osdcount, 0);
    EXPECT_EQ(none.menu[0].status, "");
    EXPECT_TRUE(apply(none).empty());

    // Five items: three read.
    std::string five;
    for (int k = 0; k < 5; ++k)
        five += std::string(k ? "," : "") + R"({"type":)" + std::to_string(k + 2) + R"(,"status":"s)" + std::to_string(k) + "\"}";
    OSD_LIST three = read(doc(five, 5));
    EXPECT_EQ(three.osdcount, 5);
    EXPECT_EQ(three.menu[2].type, 4);
    EXPECT_EQ(three.menu[2].status, "s2");

    // No layer: empty and setting 33 is 0; "buttom" puts the OSD under the picture.
    std::string noLayer = item0();
    noLayer.replace(noLayer.find(R"(,"layer":"top")"), 14, "");
    OSD_LIST a = read(doc(noLayer));
    EXPECT_EQ(a.menu[0].layer, "");
    auto calls = apply(a);
    EXPECT_NE(std::find(calls.begin(), calls.end(), set(33, 0)), calls.end());
    std::string bottom = item0();
    bottom.replace(bottom.find("\"top\""), 5, "\"buttom\"");
    OSD_LIST b = read(doc(bottom));
    calls = apply(b);
    EXPECT_NE(std::find(calls.begin(), calls.end(), set(33, 1)), calls.end());

    // fontw 64 with fonth 32: only setting 14, as 0.
    std::string mixed = item0();
    mixed.replace(mixed.find("\"fonth\":32"), 10, "\"fonth\":64");
    mixed.replace(mixed.find("\"fontw\":32"), 10, "\"fontw\":64");
    mixed.replace(mixed.find("\"fonth\":64"), 10, "\"fonth\":32");
    OSD_LIST m = read(doc(mixed));
    calls = apply(m);
    EXPECT_FALSE(called(calls, 1));
    EXPECT_FALSE(called(calls, 2));
    EXPECT_NE(std::find(calls.begin(), calls.end(), set(14, 0)), calls.end());

    // Two line feeds in a row: three lines, the second empty.
    OSD_LIST lf = read(doc(item0("", R"(["one\n\ntwo"])")));
    apply(lf);
    EXPECT_EQ(scaler->g_unicode_line, 3);
    EXPECT_EQ(line(0), U"one");
    EXPECT_EQ(line(1), U"");
    EXPECT_EQ(line(2), U"two");

    // A picture item takes start and end from itself, not from its bmppara.
    OSD_LIST pic = read(doc(R"({"type":1,"status":"on","pos":{"x":1,"y":2,"w":3,"h":4},"act":{"effect":0,"speed":1,"staytime":2},)"
                            R"("bmppara":{"start":70,"end":80},"start":5,"end":9})"));
    EXPECT_EQ(pic.menu[0].start, 5);
    EXPECT_EQ(pic.menu[0].end, 9);
    EXPECT_EQ(pic.menu[0].x, 1);

    // texts as an object: the value of its first member; numbers as numeric strings.
    OSD_LIST obj = read(doc(item0("", R"({"a":"first","b":"second"})")));
    EXPECT_EQ(obj.menu[0].texts, "first");
    std::string numeric = item0();
    numeric.replace(numeric.find("\"x\":10"), 6, "\"x\":\"12\"");
    EXPECT_EQ(read(doc(numeric)).menu[0].x, 12);
}

TEST_F(OmenuFile, ColoursTakeBareOrPrefixedHexAndSwapRedAndBlue)
{
    struct Row {
        const char* text;
        uint32_t value;
    };
    for (const Row& r : {Row{"FF0000", 0xFF0000}, Row{"0x123456", 0x123456}, Row{"abcdef", 0xABCDEF}, Row{"12", 0x12},
                         Row{"", 0}, Row{"zz0000", 0}, Row{"1234567", 0}, Row{"0x12345G", 0}})
        EXPECT_EQ(omenuColour(r.text), r.value) << r.text;
    EXPECT_EQ(omenuSwapRedBlue(0x123456), 0x563412u);
    EXPECT_EQ(omenuSwapRedBlue(0xFF0000), 0xFFu);
}

TEST_F(OmenuFile, WidthAndTopAreClampedToTheLedScreen)
{
    std::string big = item0();
    big.replace(big.find("\"w\":300"), 7, "\"w\":5000");
    big.replace(big.find("\"y\":20"), 6, "\"y\":3000");
    OSD_LIST list = read(doc(big));
    const auto calls = apply(list, 1920, 1080);
    EXPECT_NE(std::find(calls.begin(), calls.end(), set(6, 1920)), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), set(7, 1080)), calls.end());
}

// Numbers at the ends of 32 bits are held to what the chip can show as the file is read; the OSD
// drawn from them then does no arithmetic that overflows (the sanitizer build checks that).
TEST_F(OmenuFile, ExtremeNumbersAreHeldToTheChipsRange)
{
    struct Row {
        const char* key;
        const char* value;
        int type;     // the setting it reaches
        int expected; // and its value there
    };
    const Row rows[] = {
        {"\"x\":10", "2147483647", 5, 0xFFFF},      {"\"x\":10", "-2147483648", 5, 0},
        {"\"y\":20", "-2147483648", 7, 0},          {"\"w\":300", "-2147483648", 6, 0},
        {"\"h\":100", "2147483647", 8, 0xFFFF},     {"\"h\":100", "-1", 8, 0},
        {"\"speed\":5", "2147483647", 13, 2550},    {"\"speed\":5", "-2147483648", 13, 0},
        {"\"speed\":5", "25", 13, 250},             {"\"startx\":4", "2147483647", 21, 0xFFFF},
        {"\"starty\":6", "-2147483648", 22, 0},     {"\"wordspace\":1", "2147483647", 34, 255},
        {"\"wordspace\":1", "-2147483648", 34, -255}, {"\"verticalspace\":2", "2147483647", 35, 255},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.key) + " " + r.value);
        std::string text = item0();
        const std::string key = r.key;
        text.replace(text.find(key), key.size(), key.substr(0, key.find(':') + 1) + r.value);
        OSD_LIST list = read(doc(text));
        const auto calls = apply(list);
        EXPECT_NE(std::find(calls.begin(), calls.end(), set(r.type, r.expected)), calls.end());
    }
    std::string all = item0();
    for (const char* key : {"\"x\":10", "\"w\":300", "\"h\":100", "\"speed\":5", "\"startx\":4", "\"starty\":6",
                            "\"wordspace\":1", "\"verticalspace\":2"}) {
        const std::string k = key;
        all.replace(all.find(k), k.size(), k.substr(0, k.find(':') + 1) + "2147483647");
    }
    OSD_LIST list = read(doc(all));
    apply(list);
    scaler->update_osd(scaler->c331_fd);
    scaler->set_scroll(scaler->c331_fd);
    EXPECT_GE(scaler->OSD_WIN[1], 0);
}

TEST_F(OmenuFile, LongLinesAreCutAndBadUtf8Replaced)
{
    OSD_LIST list;
    list.osdcount = 1;
    list.menu[0].fontw = list.menu[0].fonth = 32;
    list.menu[0].texts = std::string(300, 'x') + "\n" + "a\xFF" "b\xE4\xB8" "\n\xE4\xB8\xAD\xC0\xAF";
    for (int n = 0; n < 100; ++n)
        list.menu[0].texts += "\nline";
    apply(list);
    EXPECT_EQ(scaler->g_unicode_line, 64) << "at most 64 lines";
    EXPECT_EQ(line(0), std::u32string(127, U'x'));
    EXPECT_EQ(line(1), U"a\uFFFDb\uFFFD");
    EXPECT_EQ(line(2), U"中\uFFFD") << "an overlong form is one bad character";
}

// A file that is not JSON is deleted: the one that was parsed, never the uploaded master.
TEST_F(OmenuFile, DamagedFilesLeaveNoOsdAndOnlyTheParsedFileIsDeleted)
{
    ASSERT_TRUE(TestRoot::writeFile(kMaster, QByteArray::fromStdString(doc(item0()))));
    const char* copy = "/data/modes/MO03.json";
    const std::string whole = doc(item0());
    for (const std::string& bad : {whole.substr(0, whole.size() / 2), std::string("\x01\x02{{"), std::string("")}) {
        OSD_LIST list = read(bad, copy);
        EXPECT_EQ(list.osdcount, 0);
        EXPECT_FALSE(TestRoot::exists(copy));
        EXPECT_TRUE(TestRoot::exists(kMaster));
        EXPECT_TRUE(apply(list).empty());
    }
    bool removedCopy = false;
    for (const auto& c : platform::Sim::shellSim().commands()) {
        EXPECT_EQ(c.find("omenu.json"), std::string::npos) << c;
        removedCopy |= c == "rm -rf /data/modes/MO03.json";
    }
    EXPECT_TRUE(removedCopy);
    EXPECT_NE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").indexOf("not valid JSON"), -1);
}

// Valid JSON of the wrong shape, or built to hurt the parser: no crash, no OSD, nothing deleted.
TEST_F(OmenuFile, WrongShapesAndHostileNestingAreSurvived)
{
    const std::vector<std::string> docs = {
        R"({"osdcount":"many"})",
        R"({"osdcount":1})",
        R"({"osdcount":1,"menu":"text"})",
        R"({"osdcount":1,"menu":[{"type":"zero","pos":5,"act":[],"fontpara":{"fontw":{"a":1}},"texts":[]}]})",
        R"({"osdcount":1,"menu":[{"type":0,"texts":[{"deep":"x"}]}]})",
        std::string(100000, '[') + std::string(100000, ']'),
        R"({"osdcount":1,"menu":[)" + std::string(5000, '{') + std::string(5000, '}') + "]}",
    };
    for (size_t k = 0; k < docs.size(); ++k) {
        OSD_LIST list = read(docs[k]);
        apply(list);
        EXPECT_TRUE(list.menu[0].texts.empty()) << k;
        EXPECT_EQ(list.menu[0].type, 0) << k;
    }
    EXPECT_TRUE(TestRoot::exists(kMaster)) << "valid JSON is never deleted";
    OSD_LIST missing;
    missing.osdcount = 5;
    get_json_omenu_para("/data/configs/none.json", &missing);
    EXPECT_EQ(missing.osdcount, 0);
}

}
