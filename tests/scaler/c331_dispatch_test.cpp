// The change dispatch driven pass by pass without the worker thread: which setters each changed
// field calls with which arguments, which neighbour requests it raises, in which order.
#include "scaler_fixture.h"

#include "base/bytes.h"
#include "base/utils.h"
#include "program.h"
#include "lock_waiters.h"
#include "race_hold.h"
#include "second_writer.h"
#include "test_root.h"
#include "time_limit.h"
#include "store_face.h"

#include <QMutexLocker>
#include <QSignalSpy>
#include <chrono>
#include <cerrno>
#include <thread>

using namespace scaler_test;
namespace win = blk::win;
namespace crop = blk::crop;

namespace {

constexpr int kColour(int mode, int red, int green, int blue) { return mode | blue << 8 | green << 16 | red << 24; }

const std::vector<std::string> kRebuild = {call("vyrApi_initEnvC331"), call("vyrApi_MultiWinChAlloc", {1}),
                                           call("vyrApi_MultiWinChInit"), call("set_output")};

struct Write {
    uint32_t offset;
    uint16_t value;
};

// What a hand-over raised for the other workers: "bri", "onoff", "lcd", "audio", "edid<input>",
// "led<g_set_led_para>", in that order.
std::string taken(fpga_manage* fpga)
{
    keltosource* k = keltosource::p_kelto_source;
    std::string r;
    for (auto [name, raised] : {std::pair<const char*, bool>{"bri", fpga->bri_request.load()},
                                {"onoff", fpga->onoff_request.load()}, {"lcd", fpga->lcd_request.load()},
                                {"audio", k->audio_sel_req.load()}})
        if (raised)
            r += std::string(r.empty() ? "" : " ") + name;
    for (int p = 0; p < 6; ++p)
        if (k->custom_edid_req[p].load())
            r += (r.empty() ? "edid" : " edid") + std::to_string(p);
    if (g_set_led_para.load())
        r += (r.empty() ? "led" : " led") + std::to_string(g_set_led_para.load());
    return r;
}

// Word f of the parameter file: what the next start loads.
uint16_t saved(uint32_t f)
{
    const QByteArray file = TestRoot::readFile(VyrRamPara::kParaFilePath);
    return getU16(reinterpret_cast<const uint8_t*>(file.constData()) + 2 + f - kPersistStart);
}

void clearRequests(fpga_manage* fpga)
{
    fpga->bri_request = fpga->onoff_request = fpga->lcd_request = 0;
    keltosource::p_kelto_source->audio_sel_req = 0;
    for (auto& req : keltosource::p_kelto_source->custom_edid_req)
        req = 0;
    g_set_led_para = 0;
}

// Crop entry 7: crop 1 of source 4 (HDMI 3) at 10, 20, 640 x 360; window 0 shows it.
const std::vector<Write> kCropOnWindow0 = {
    {blk::cropField(7, crop::kId), crop::idWord(4, 1)}, {blk::cropField(7, crop::kX), 10},
    {blk::cropField(7, crop::kY), 20}, {blk::cropField(7, crop::kWidth), 640},
    {blk::cropField(7, crop::kHeight), 360}, {blk::window(0, win::kSource), win::kSourceCrop | 7}};

struct Case {
    const char* name;
    std::vector<Write> setup; // handed over and applied first
    std::vector<Write> writes;
    bool fpgaUp;
    std::vector<std::string> calls;
    const char* requests;
};

std::vector<std::string> cat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Defaults: brightness 100, contrast 50, sharpness 10, saturation 50, colour temperature 2 with
// gains 64; window 0 shown on source 2, windows 1-5 hidden; audio on window 0; LED 1920 x 1080.
const Case kCases[] = {
    {"Brightness", {}, {{blk::kBrightness, 20}}, false, control("c331_SetBrightness", 50), "bri"},
    {"Contrast", {}, {{blk::kContrast, 70}}, false, control("c331_SetContrast", 70), ""},
    {"Sharpness", {}, {{blk::kSharpness, 30}}, false, control("c331_SetSharpness", 30), ""},
    {"Saturation", {}, {{blk::kSaturation, 30}}, false, control("c331_SetSaturation", 30), ""},
    {"ColourMode", {}, {{blk::kColourTemp, 0}}, false, control("c331_SetColorTemp", kColour(0, 64, 64, 64)), ""},
    {"RedGain", {}, {{blk::kColourRed, 90}}, false, control("c331_SetColorTemp", kColour(2, 90, 64, 64)), ""},
    {"GreenGain", {}, {{blk::kColourGreen, 100}}, false, control("c331_SetColorTemp", kColour(2, 64, 100, 64)), ""},
    {"BlueGain", {}, {{blk::kColourBlue, 120}}, false, control("c331_SetColorTemp", kColour(2, 64, 64, 120)), ""},
    {"AllColourFieldsOnce", {}, {{blk::kColourTemp, 0}, {blk::kColourRed, 1}, {blk::kColourGreen, 2}, {blk::kColourBlue, 3}},
     false, control("c331_SetColorTemp", kColour(0, 1, 2, 3)), ""},
    {"Priority", {}, {{blk::layerPriority(3), 9}}, false,
     {call("c331_SetWinPriority", {3, 9}), call("c331_SetWinPriority1")}, ""},
    {"Mirror", {}, {{blk::window(0, win::kMirror), 3}}, false, {call("c331_SetWinAttr", {0, 3})}, ""},
    {"SourceOfAudioWindow", {}, {{blk::window(0, win::kSource), 4}}, false, {call("c331_SetInputsource", {0, 4})}, "audio"},
    {"SourceOfOtherWindow", {}, {{blk::window(1, win::kSource), 0}}, false, {call("c331_SetInputsource", {1, 0})}, ""},
    {"OutputWord", {}, {{blk::window(0, win::kOutput), 0x105}}, false, {call("c331_SetWinOutput", {0, 0x105})}, ""},
    {"DotByDot", {}, {{blk::window(0, win::kDotByDot), 2}}, false, {call("c331_SetWinDbdMode", {0, 2})}, ""},
    {"State", {}, {{blk::window(0, win::kState), 0}}, false, kRebuild, ""},
    {"X", {}, {{blk::window(1, win::kX), 100}}, false, kRebuild, ""},
    {"Y", {}, {{blk::window(5, win::kY), 100}}, false, kRebuild, ""},
    {"Width", {}, {{blk::window(2, win::kWidth), 960}}, false, kRebuild, ""},
    {"Height", {}, {{blk::window(0, win::kHeight), 540}}, false, kRebuild, ""},
    {"UnusedWindowFields", {}, {{blk::window(0, 2), 7}, {blk::window(0, 6), 7}, {blk::window(0, 24), 7}}, false, {}, ""},
    {"Audio", {}, {{blk::window(3, win::kAudio), 255}}, false, {}, "audio"},
    {"Pattern", {}, {{blk::kTestPattern, 2}}, false, {call("c331_SetPattern", {2})}, ""},
    {"Edid", {}, {{blk::edidWidth(2), 1280}}, false, {}, "edid2"},
    {"BlackScreen", {}, {{blk::kBlackScreen, 1}}, false, {}, "onoff"},
    {"CanvasX", {}, {{blk::kCanvasX, 8}}, false, {}, "lcd"},
    {"CanvasY", {}, {{blk::kCanvasY, 8}}, false, {}, "lcd"},
    {"OsdMenu", {}, {{blk::kOsdMenu, 1}}, false, {call("vyrApi_OsdSet", {0, 1})}, ""},
    {"LedWidthFpgaDown", {}, {{blk::kLedWidth, 3840}}, false, {call("vyrApi_PnlInit2", {3840, 1080, 1920, 1080, 0})}, ""},
    {"LedHeightFpgaUp", {}, {{blk::kLedHeight, 2160}}, true, {call("vyrApi_PnlInit2", {1920, 2160, 1920, 1080, 0})}, "led2"},
    {"Output1Width", {}, {{blk::kOutput1Width, 960}}, true, {call("vyrApi_PnlInit2", {1920, 1080, 960, 1080, 0})}, "led2"},
    {"Output1Height", {}, {{blk::kOutput1Height, 540}}, true, {call("vyrApi_PnlInit2", {1920, 1080, 1920, 540, 0})}, "led2"},
    {"SpliceOnceForAllFive", {}, {{blk::kSpliceMode, 2}, {blk::kLedWidth, 3840}, {blk::kLedHeight, 2160},
      {blk::kOutput1Width, 1000}, {blk::kOutput1Height, 1200}}, true, {call("vyrApi_PnlInit2", {3840, 2160, 1000, 1200, 2})}, "led2"},
    // Refused: the FPGA is not stepped for it (the block is checked below).
    {"SplitTallerThanTheLed", {}, {{blk::kSpliceMode, 2}, {blk::kLedWidth, 7}, {blk::kLedHeight, 8}, {blk::kOutput1Width, 9},
      {blk::kOutput1Height, 10}}, true, {call("vyrApi_PnlInit2", {7, 8, 9, 10, 2})}, ""},
    {"CropSource", {}, kCropOnWindow0, false,
     {call("c331_SetInputsourceCrop", {0, 0x8007}), call("c331_SetCrop", {0, 1, 10, 20, 640, 360}),
      call("c331_SetInputsource", {0, 4})}, "audio"},
    {"CropSwitchedOff", kCropOnWindow0, {{blk::window(0, win::kSource), 3}}, false,
     {call("c331_SetCrop", {0, 0}), call("c331_SetInputsource", {0, 3})}, "audio"},
    // Refused: the previous source stays on the window.
    {"SourceWordWithHighByte", {}, {{blk::window(0, win::kSource), 0x0102}}, false, {}, ""},
    {"SourceSix", {}, {{blk::window(0, win::kSource), 6}}, false, {}, ""},
    {"CropPastTheTable", {}, {{blk::window(0, win::kSource), win::kSourceCrop | 40}}, false, {}, ""},
    {"UnusedCrop", {}, {{blk::window(0, win::kSource), win::kSourceCrop | 9}}, false, {}, ""},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class DispatchStep : public ScalerFixture, public ::testing::WithParamInterface<Case> {};

void apply(VyrRamPara& s, const std::vector<Write>& writes)
{
    for (const Write& w : writes)
        s.setU16(w.offset, w.value);
}

}

TEST_P(DispatchStep, CallsTheFieldsSettersAndRaisesItsRequests)
{
    const Case& c = GetParam();
    g_force_bkcolor = 2; // FPGA was up, forced colour already gone
    bringUp();
    settle();
    setFpgaUp(c.fpgaUp);
    if (!c.setup.empty()) {
        handOver([&](VyrRamPara& s) { apply(s, c.setup); });
        scaler->runOnce();
    }
    clearRequests(fpga);
    scaler->call_log.clear();
    c331Chip().clearLog();

    handOver([&](VyrRamPara& s) { apply(s, c.writes); });
    scaler->runOnce();
    EXPECT_EQ(calls(), c.calls);
    EXPECT_EQ(taken(fpga), c.requests);
    EXPECT_EQ(scaler->change_flag.load(), 0);

    // Applied once: another hand-over of the same block calls nothing again.
    scaler->call_log.clear();
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    EXPECT_EQ(calls(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Fields, DispatchStep, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

class Dispatch : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        g_force_bkcolor = 2;
        bringUp();
        settle();
        scaler->call_log.clear();
        c331Chip().clearLog();
    }
};

TEST_F(Dispatch, StepsRunInOrderAndTheWindowStepEndsAtARebuild)
{
    g_force_bkcolor = 0;
    store->image[regimage::kScalerDiag] = 0x82; // output slide bar (bit 1), not bit 7
    store->image[regimage::kDumpParam] = 3;
    store->image[regimage::kDumpGroup] = 1;
    store->image[regimage::kSyncTest] = 3;
    handOver([](VyrRamPara& s) {
        apply(s, {{blk::kOsdMenu, 1}, {blk::kTestPattern, 1}, {blk::window(4, win::kSource), 1},
                  {blk::window(2, win::kWidth), 960}, {blk::window(0, win::kMirror), 1}, {blk::layerPriority(1), 4},
                  {blk::kColourGreen, 70}, {blk::kSaturation, 40}, {blk::kSharpness, 20}, {blk::kContrast, 60},
                  {blk::kBrightness, 90}, {blk::kLedWidth, 3840}});
    });
    scaler->runOnce();
    std::vector<std::string> expected = {call("vyrApi_forceColorDisable"),
                                         call("vyrApi_PnlInit2", {3840, 1080, 1920, 1080, 0})};
    expected = cat(expected, control("c331_SetBrightness", 50));
    expected = cat(expected, control("c331_SetContrast", 60));
    expected = cat(expected, control("c331_SetSharpness", 20));
    expected = cat(expected, control("c331_SetSaturation", 40));
    expected = cat(expected, control("c331_SetColorTemp", kColour(2, 64, 70, 64)));
    expected = cat(expected, {call("c331_SetWinPriority", {1, 4}), call("c331_SetWinPriority1"),
                              call("c331_SetWinAttr", {0, 1})});
    // Window 2's width rebuilds every window: window 4's source gets no call of its own.
    expected = cat(expected, kRebuild);
    expected = cat(expected, {call("c331_SetPattern", {1}), call("vyrApi_OsdSet", {0, 1}), call("output_slidebar"),
                              call("vyrDbg_c331_param", {2}), call("vyrDbg_c331_print_regGrp", {0}),
                              call("sync_c331_device_test_input")});
    EXPECT_EQ(calls(), expected);
    EXPECT_EQ(g_force_bkcolor.load(), 2);
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(c331Chip().value(0x084903, 16 * n), 0u) << n;
}

TEST_F(Dispatch, RequestBytesRunTheirLowestBitOnlyWithAHandOver)
{
    struct Row {
        uint32_t byte;
        uint8_t value;
        std::vector<std::string> calls;
        uint8_t after;
    };
    const std::vector<Row> rows = {
        {regimage::kScalerDiag, 0x01, {call("input_slidebar")}, 0},
        {regimage::kScalerDiag, 0x02, {call("output_slidebar")}, 0},
        {regimage::kScalerDiag, 0x04, {call("disable_slidebar")}, 0},
        {regimage::kScalerDiag, 0x08, {call("vbyone_rx_ch1_seq")}, 0},
        {regimage::kScalerDiag, 0x10, {call("vbyone_rx_ch2_seq")}, 0},
        {regimage::kScalerDiag, 0x20, {call("read_c331_b174bug")}, 0},
        {regimage::kScalerDiag, 0x80, {call("write_read_c331_b80_iacthstch5")}, 0},
        {regimage::kScalerDiag, 0x05, {call("input_slidebar")}, 0},
        {regimage::kScalerDiag, 0xA0, {call("read_c331_b174bug")}, 0},
        {regimage::kDumpParam, 1, {call("vyrDbg_c331_param", {0})}, 0},
        {regimage::kDumpParam, 9, {call("vyrDbg_c331_param", {8})}, 0},
        {regimage::kDumpGroup, 1, {call("vyrDbg_c331_print_regGrp", {0})}, 0},
        {regimage::kDumpGroup, 2, {}, 0},
        {regimage::kSyncTest, 1, {call("sync_c331_device_test_input")}, 0},
        {regimage::kSyncTest, 2, {call("sync_c331_device_test_frame_lock")}, 0},
        {regimage::kSyncTest, 3, {call("sync_c331_device_test_input")}, 0},
        {regimage::kSyncTest, 4, {}, 4}, // left as it is
    };
    for (const Row& r : rows) {
        store->image[r.byte] = r.value;
        scaler->call_log.clear();
        scaler->runOnce();
        EXPECT_EQ(calls(), std::vector<std::string>{}) << "without a hand-over: " << r.byte << "/" << int(r.value);
        EXPECT_EQ(store->image[r.byte], r.value);
        handOver([](VyrRamPara&) {});
        scaler->runOnce();
        EXPECT_EQ(calls(), r.calls) << r.byte << "/" << int(r.value);
        EXPECT_EQ(store->image[r.byte], r.after) << r.byte << "/" << int(r.value);
        store->image[r.byte] = 0;
    }
    // Bit 6: identification and bring-up again.
    store->image[regimage::kScalerDiag] = 0x40;
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 0);
    EXPECT_EQ(store->image[regimage::kScalerDiag], 0);
}

TEST_F(Dispatch, AppliedFieldsAreNotAppliedAgainBeforeTheSaveNorAfterARebringUp)
{
    QSignalSpy spy(store, &VyrRamPara::sig_update_para);
    handOver([](VyrRamPara& s) { apply(s, {{blk::kContrast, 70}, {blk::kLedWidth, 3840}}); });
    scaler->runOnce();
    ASSERT_EQ(calls().size(), 4u);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    // The page thread has not copied block to shadow yet.
    ASSERT_NE(blk::get16(store->shadow, blk::kContrast), 70);

    scaler->call_log.clear();
    handOver([](VyrRamPara& s) { s.setU16(blk::kSaturation, 30); });
    scaler->runOnce();
    EXPECT_EQ(calls(), control("c331_SetSaturation", 30));

    // A bring-up asked for by the protocol programs the chip from the block; the hand-over after
    // it applies nothing again (a second panel set-up would reset FPGA 0 once more).
    store->image[regimage::kScalerDiag] = 0x40;
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    bringUp();
    settle();
    scaler->call_log.clear();
    setFpgaUp(true);
    g_set_led_para = 0;
    handOver([](VyrRamPara&) {}, 2);
    scaler->runOnce();
    EXPECT_EQ(calls(), std::vector<std::string>{});
    EXPECT_EQ(g_set_led_para.load(), 0);
    ASSERT_EQ(spy.count(), 4);
    EXPECT_EQ(spy.at(3).at(0).toInt(), 2) << "user-mode replacement is passed on as 2";
}

// A bring-up the protocol asks for while a tool's window width waits for its apply: the chip shows
// the box's window, and the tool's width at its apply.
TEST_F(Dispatch, RebringUpShowsWhatTheBoxAppliedUntilAToolsApply)
{
    auto drawing80 = [] { int n = 0; for (uint32_t o = 0; o < 8; ++o) n += c331Chip().value(0x084202, 16 * o) == 80; return n; };
    SecondWriter tool = SecondWriter::inProcess();
    ASSERT_EQ(tool.writeBlock(blk::window(0, blk::win::kWidth), {80, 0}), 0);
    store->image[regimage::kScalerDiag] = 0x40;
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    bringUp();
    EXPECT_EQ(drawing80(), 0);
    ASSERT_EQ(tool.apply(), 0);
    EXPECT_EQ(drawing80(), 1);
}

TEST_F(Dispatch, EdidsOfSeveralInputsAreFlaggedOnePerPass)
{
    keltosource* k = keltosource::p_kelto_source;
    handOver([](VyrRamPara& s) { apply(s, {{blk::edidWidth(1), 1280}, {blk::edidRate(4), 30}}); });
    k->custom_edid_written[1] = 1;
    scaler->runOnce();
    EXPECT_EQ(k->custom_edid_req[1].load(), 1);
    EXPECT_EQ(k->custom_edid_written[1].load(), 0);
    EXPECT_EQ(k->custom_edid_req[4].load(), 0) << "one input per pass";
    EXPECT_EQ(scaler->change_flag.load(), 1) << "the other input stays pending";
    scaler->runOnce();
    EXPECT_EQ(k->custom_edid_req[4].load(), 1);
    EXPECT_EQ(scaler->change_flag.load(), 0);

    // Beyond input 2's IT6602 clock: never flagged, taken back out of the block.
    k->custom_edid_req[4] = 0;
    handOver([](VyrRamPara& s) { apply(s, {{blk::edidWidth(2), 3840}, {blk::edidHeight(2), 2160}, {blk::edidWidth(4), 1280}}); });
    scaler->runOnce();
    EXPECT_EQ(k->custom_edid_req[2].load(), 0);
    EXPECT_EQ(k->custom_edid_req[4].load(), 1) << "the next changed input is not held up";
    EXPECT_EQ(store->u16(blk::edidWidth(2)), 1920);
    EXPECT_EQ(scaler->change_flag.load(), 0);
}

TEST_F(Dispatch, RefusedPatternIsTakenBackOutOfTheBlock)
{
    handOver([](VyrRamPara& s) { apply(s, {{blk::window(1, win::kState), 1}, {blk::kTestPattern, 3}}); });
    scaler->runOnce();
    EXPECT_EQ(testBlock(store)[blk::kTestPattern], 0);
    EXPECT_EQ(calls(), cat(kRebuild, {call("c331_SetPattern", {3})}));
    handOver([](VyrRamPara& s) { apply(s, {{blk::window(1, win::kState), 0}, {blk::kTestPattern, 3}}); });
    scaler->runOnce();
    EXPECT_EQ(testBlock(store)[blk::kTestPattern], 3);
    // A second window opened under the pattern: switching it off is still taken.
    handOver([](VyrRamPara& s) { apply(s, {{blk::window(1, win::kState), 1}}); });
    scaler->runOnce();
    handOver([](VyrRamPara& s) { apply(s, {{blk::kTestPattern, 0}}); });
    scaler->runOnce();
    EXPECT_EQ(testBlock(store)[blk::kTestPattern], 0);
    EXPECT_EQ(scaler->pattern_flag, 0);
}

TEST_F(Dispatch, RefusedLedSizeIsTakenBackOutOfTheBlockAndNeverReachesTheFpga)
{
    setFpgaUp(true);
    g_set_led_para = 0;
    const platform::Sim::C331Chip::Snapshot before = c331Chip().snapshot();
    // 8000 x 2000 is above the default pixel limit
    handOver([](VyrRamPara& s) {
        apply(s, {{blk::kLedWidth, 8000}, {blk::kLedHeight, 2000}, {blk::kOutput1Width, 8000}, {blk::kOutput1X, 5},
                  {blk::kOutput2Y, 7}, {blk::kOutput2Width, 8000}, {blk::kOutput2Height, 2000}});
    });
    scaler->runOnce();
    EXPECT_EQ(calls(), std::vector<std::string>{call("vyrApi_PnlInit2", {8000, 2000, 8000, 1080, 0})});
    EXPECT_EQ(g_set_led_para.load(), 0) << "no FPGA reset for a size the chip refused";
    EXPECT_EQ(c331Chip().diff(before), std::vector<std::string>{});
    // Every field of the screen goes back, the outputs' rectangles too.
    for (const Write& w : std::vector<Write>{{blk::kLedWidth, 1920}, {blk::kLedHeight, 1080}, {blk::kOutput1X, 0},
                                             {blk::kOutput1Width, 1920}, {blk::kOutput2Y, 0}, {blk::kOutput2Width, 1920},
                                             {blk::kOutput2Height, 1080}})
        EXPECT_EQ(store->u16(w.offset), w.value) << std::hex << w.offset;

    // The same size asked for again is tried again; a size the chip takes is kept and stepped.
    scaler->call_log.clear();
    handOver([](VyrRamPara& s) { apply(s, {{blk::kLedWidth, 8000}, {blk::kLedHeight, 2000}}); });
    scaler->runOnce();
    EXPECT_EQ(calls().size(), 1u);
    handOver([](VyrRamPara& s) { apply(s, {{blk::kLedWidth, 3840}, {blk::kLedHeight, 2160}}); });
    scaler->runOnce();
    EXPECT_EQ(store->u16(blk::kLedWidth), 3840);
    EXPECT_EQ(g_set_led_para.load(), 2);

    // A writer started the FPGA's step (the wall blanks) for a size refused: FPGA 0 is brought up
    // again on the panel it had.
    scaler->led_wait_limit_ms = 1;
    g_set_led_para = 1;
    handOver([](VyrRamPara& s) { apply(s, {{blk::kLedWidth, 8000}, {blk::kLedHeight, 2000}}); });
    scaler->runOnce();
    EXPECT_EQ(store->u16(blk::kLedWidth), 3840);
    EXPECT_EQ(g_set_led_para.load(), 2);
}

// A value the chip would show otherwise (contrast 101 as 0, a gain of 256 as 0, mode 5 as warm,
// a mirror mode of 4 as 0) or cannot show (a screen no splice mode takes, a window past the wall)
// leaves the chip as it was and goes back out of the block and the file, and the tool's apply is
// answered 1; the range's edge is taken, answered 0 and saved.
TEST_F(Dispatch, RefusedValuesAreTakenBackAndTheApplyAnsweredFailure)
{
    const struct {
        std::vector<Write> writes;
        bool taken;
    } rows[] = {
        {{{blk::kContrast, 100}}, true},     {{{blk::kContrast, 101}}, false},    {{{blk::kContrast, 150}}, false},
        {{{blk::kSaturation, 101}}, false},  {{{blk::kSharpness, 101}}, false},   {{{blk::kBrightness, 101}}, false},
        {{{blk::kColourTemp, 0}}, true},     {{{blk::kColourRed, 255}}, true},    {{{blk::kColourRed, 256}}, false},
        {{{blk::kColourBlue, 300}}, false},  {{{blk::kColourTemp, 3}}, true},     {{{blk::kColourTemp, 5}}, false},
        {{{blk::kColourTemp, 6}}, false},
        // a window's mirror mode: two bits on the chip; a window past the wall's edge
        {{{blk::window(0, win::kMirror), 3}}, true}, {{{blk::window(0, win::kMirror), 4}}, false},
        {{{blk::window(0, win::kMirror), 9}}, false}, {{{blk::window(0, win::kX), 5000}}, false},
        {{{blk::kLedWidth, 0}, {blk::kLedHeight, 0}}, false}, {{{blk::kLedWidth, 65535}, {blk::kLedHeight, 65535}}, false},
        {{{blk::kSpliceMode, 1}, {blk::kLedWidth, 1280}, {blk::kLedHeight, 720}}, false},
        {{{blk::kSpliceMode, 2}, {blk::kLedWidth, 1280}, {blk::kLedHeight, 720}}, false},
        {{{blk::kSpliceMode, 9}, {blk::kLedWidth, 1280}, {blk::kLedHeight, 720}}, false},
    };
    SecondWriter tool = SecondWriter::inProcess();
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.writes[0].offset) + " := " + std::to_string(row.writes[0].value));
        std::vector<uint16_t> before;
        for (const Write& w : row.writes)
            before.push_back(store->u16(w.offset));
        const platform::Sim::C331Chip::Snapshot chip = c331Chip().snapshot();
        clearRequests(fpga);
        for (const Write& w : row.writes)
            ASSERT_EQ(tool.writeBlock(w.offset, {uint8_t(w.value), uint8_t(w.value >> 8)}), 0);
        EXPECT_EQ(tool.apply(), row.taken ? 0 : 1);
        for (size_t i = 0; i < row.writes.size(); ++i) {
            EXPECT_EQ(store->u16(row.writes[i].offset), row.taken ? row.writes[i].value : before[i]);
            EXPECT_EQ(saved(row.writes[i].offset), store->u16(row.writes[i].offset)) << "what the next start loads";
        }
        if (row.writes[0].offset != blk::window(0, win::kX)) { // a refused layout still rebuilds the windows
            EXPECT_EQ(c331Chip().diff(chip).empty(), !row.taken);
        }
        EXPECT_EQ(fpga->bri_request.load(), 0) << "no brightness request for a refused percentage";
    }
}

// An apply a tool sends as soon as the box answers, before the scaler's bring-up, waits for it and
// is judged by the pass after it: answered 1, with block and file holding what was stored before
// (contrast 37, not the factory 50 the bring-up gives a stored value out of range).
TEST_F(Dispatch, AnApplyBeforeTheBringUpIsJudgedByThePassAfterIt)
{
    SecondWriter tool = SecondWriter::inProcess();
    ASSERT_EQ(tool.set16(blk::kContrast, 37), 0);
    for (const std::vector<Write>& writes : {std::vector<Write>{{blk::kContrast, 150}}, {{blk::kLedWidth, 0}, {blk::kLedHeight, 0}}}) {
        scaler->thread_state = 5; // identified, not brought up
        std::vector<uint16_t> before;
        for (const Write& w : writes) {
            before.push_back(store->u16(w.offset));
            ASSERT_EQ(tool.writeBlock(w.offset, {uint8_t(w.value), uint8_t(w.value >> 8)}), 0);
        }
        std::atomic<int> answer{-1};
        std::atomic<pid_t> applier{0};
        std::thread applying([&] { applier = LockWaiters::threadId(), answer = tool.apply(); });
        EXPECT_TRUE(waitFor([&] { return answer >= 0 || (applier && LockWaiters::waiting(applier)); }, 5000));
        bringUp();
        EXPECT_TRUE(waitFor([&] { return answer >= 0 || scaler->change_flag.load() != 0; }, 5000));
        scaler->runOnce();
        applying.join();
        EXPECT_EQ(answer, 1) << writes[0].offset;
        for (size_t i = 0; i < writes.size(); ++i)
            EXPECT_EQ(std::vector<uint16_t>({store->u16(writes[i].offset), saved(writes[i].offset)}),
                      std::vector<uint16_t>(2, before[i])) << writes[i].offset;
    }
}

// Two full-panel windows share a layer group; the chip lists its members by layer (0E:09).
TEST_F(Dispatch, EqualPrioritiesAreResolvedOnceAndKeptAcrossARebuild)
{
    auto groups = [] {
        std::vector<uint32_t> v;
        for (uint32_t g = 0; g < 8; ++g)
            v.push_back(c331Chip().value(0x0E0904, 16 * g));
        return v;
    };
    handOver([](VyrRamPara& s) {
        apply(s, {{blk::window(1, win::kState), 1}, {blk::window(1, win::kX), 0}, {blk::window(1, win::kY), 0},
                  {blk::window(1, win::kWidth), 1920}, {blk::window(1, win::kHeight), 1080},
                  {blk::window(1, win::kSource), 3}, {blk::layerPriority(0), 3}, {blk::layerPriority(1), 2}});
    });
    scaler->runOnce();
    const std::vector<uint32_t> before = groups();
    // Window 1 asked onto window 0's layer: it takes it, window 0 moves to the lowest free one.
    handOver([](VyrRamPara& s) { s.setU16(blk::layerPriority(1), 3); });
    scaler->runOnce();
    const std::vector<uint32_t> asked = groups();
    EXPECT_NE(asked, before) << "the two windows swapped layers";
    EXPECT_EQ(store->u16(blk::layerPriority(0)), 0) << "the resolved layer is written back";
    EXPECT_EQ(store->u16(blk::layerPriority(1)), 3);
    // An unrelated geometry change rebuilds the windows: same layers.
    handOver([](VyrRamPara& s) { s.setU16(blk::window(0, win::kWidth), 1900); });
    scaler->runOnce();
    EXPECT_EQ(groups(), asked);
    // Both asked for in one hand-over with the geometry change: the same order again.
    handOver([](VyrRamPara& s) {
        apply(s, {{blk::layerPriority(0), 3}, {blk::layerPriority(1), 2}, {blk::window(0, win::kWidth), 1920}});
    });
    scaler->runOnce();
    ASSERT_EQ(groups(), before);
    handOver([](VyrRamPara& s) { apply(s, {{blk::layerPriority(1), 3}, {blk::window(0, win::kWidth), 1900}}); });
    scaler->runOnce();
    EXPECT_EQ(groups(), asked);
}

TEST_F(Dispatch, FadesAreKeptForTheWindowEffectsWithoutRegisterWrites)
{
    handOver([](VyrRamPara& s) { apply(s, {{blk::fadeIn(2), 30}, {blk::fadeOut(4), 400}}); });
    scaler->runOnce();
    EXPECT_EQ(scaler->PM_WIN_FADE_IN[2], 30);
    EXPECT_EQ(scaler->PM_WIN_FADE_OUT[4], c331_manage::kMaxFadeSteps);
    EXPECT_EQ(c331Chip().transferCount(), 0u);
    EXPECT_EQ(calls(), std::vector<std::string>{});
}

TEST_F(Dispatch, HandOverMutexIsFreeWhileTheChipIsProgrammed)
{
    size_t transfers = 0, busy = 0;
    c331Chip().setTransferHook([&] {
        ++transfers;
        if (pthread_mutex_trylock(&scaler->c331_mutex) == EBUSY)
            ++busy;
        else
            pthread_mutex_unlock(&scaler->c331_mutex);
    });
    handOver([](VyrRamPara& s) { apply(s, {{blk::kContrast, 10}, {blk::kColourTemp, 3}, {blk::kBrightness, 1}}); });
    scaler->runOnce();
    EXPECT_GT(transfers, 100u);
    EXPECT_EQ(busy, 0u) << "writers would wait for the SPI work";
}

TEST_F(Dispatch, IdlePassesCostNoBusTraffic)
{
    for (int i = 0; i < 20; ++i)
        scaler->runOnce();
    EXPECT_EQ(c331Chip().transferCount(), 0u);
    // Each pass runs the upkeep the worker owes its inputs, in order.
    const std::vector<std::string> pass = {call("load_hdmi"), call("check_port_valid"), call("check_input_port")};
    const auto log = scaler->call_log.calls();
    ASSERT_EQ(log.size(), 60u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()), pass);
}

TEST_F(Dispatch, OutputFrameWaitIsBounded)
{
    EXPECT_TRUE(scaler->wait1_povs(scaler->c331_fd, 3));
    EXPECT_EQ(c331Chip().value(0x050901), 0u);
    EXPECT_EQ(c331Chip().value(0x002901), 0u);
    c331Chip().setOutputFrameStalled(true);
    c331Chip().clearLog();
    EXPECT_FALSE(scaler->wait1_povs(scaler->c331_fd, 3));
    size_t polls = 0;
    for (const auto& t : c331Chip().log())
        polls += t.kind == platform::Sim::C331Chip::Transfer::Read && t.bank == 0x05 && t.addr == 0x23;
    EXPECT_EQ(polls, size_t(c331_manage::kFrameWaitPolls));
    EXPECT_EQ(c331Chip().value(0x002901), 0u) << "the freeze is released after a timeout too";
    EXPECT_FALSE(scaler->wait1_povs(scaler->c331_fd, 8));
}

// ---- the LED-parameter hand-over (timing: the faults it covers showed as waits of seconds) ----

class ScalerLedStepTiming : public Dispatch {
protected:
    using Clock = std::chrono::steady_clock;
    static double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }
};

TEST_F(ScalerLedStepTiming, FpgaBeingResetIsNotWaitedForNorHandedTheStep)
{
    setFpgaUp(false);
    g_set_led_para = 1; // raised by a writer while FPGA 0 was being reset: nobody serves it
    // A wait for the step would last its whole bound, well past the limit below.
    scaler->led_wait_limit_ms = uint32_t(TimeLimit::ms(500)) * 4;
    handOver([](VyrRamPara& s) { s.setU16(blk::kLedWidth, 3840); });
    const auto start = Clock::now();
    scaler->runOnce();
    EXPECT_LT(msSince(start), TimeLimit::ms(500)) << "the worker waited for a step the FPGA cannot serve";
    EXPECT_EQ(calls(), std::vector<std::string>{call("vyrApi_PnlInit2", {3840, 1080, 1920, 1080, 0})});
    EXPECT_EQ(g_set_led_para.load(), 1) << "no reset handed to an FPGA that is coming up anyway";
}

TEST_F(ScalerLedStepTiming, WaitForTheFpgaStepLeavesTheHandOverFree)
{
    setFpgaUp(true);
    g_set_led_para = 1;
    handOver([](VyrRamPara& s) { s.setU16(blk::kLedWidth, 3840); });
    RaceHold waiting(RacePause::LedStepWait);
    std::thread worker([&] { scaler->runOnce(); });
    EXPECT_TRUE(waiting.parked()) << "the worker waits for the FPGA's step";
    // The worker is in its wait now: a writer of the block goes through meanwhile.
    std::atomic<bool> written{false};
    std::thread writer([&] {
        handOver([](VyrRamPara& s) { s.setU16(blk::kContrast, 20); });
        written = true;
    });
    EXPECT_TRUE(waitFor([&] { return written.load(); }, 2000)) << "a writer waited for the LED step";
    waiting.release();
    EXPECT_EQ(calls(), std::vector<std::string>{}) << "the panel waits for the FPGA's step";
    {
        QMutexLocker led(&Utils::_led_para_init_mutex);
        g_set_led_para = 0; // the FPGA worker ends its step
    }
    writer.join();
    worker.join();
    EXPECT_EQ(calls(), std::vector<std::string>{call("vyrApi_PnlInit2", {3840, 1080, 1920, 1080, 0})});
    EXPECT_EQ(g_set_led_para.load(), 2);
    EXPECT_EQ(scaler->change_flag.load(), 1) << "the contrast waits for the next pass";
}
