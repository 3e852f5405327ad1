// Register writes and reads: the image, the action registers and the hand-over to the scaler.
#include "tools/firmwareupdate.h"
#include "base/global.h"
#include "base/utils.h"
#include "ui/mainwindow.h"
#include "message_deal_fixture.h"
#include "fpga_up.h"
#include "lock_waiters.h"
#include "program.h"
#include "race_hold.h"
#include "second_writer.h"
#include "test_root.h"
#include "platform/sim/sim_board.h"
#include "video_chips/keltosource_status.h"
#include "store_face.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutexLocker>
#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <thread>

namespace {
uint32_t win(uint32_t w, uint32_t k) { return kWindowBase + kWindowSize * w + k; }
}

TEST_F(MessageDealTest, EveryControllerRegisterWriteAndReadAsTheTableSays)
{
    // Registers with an action answer a write with status 0, other stored ones with 1; 12 and 13
    // are ignored; 160-165 land in image bytes 32-36 (161 is an action, not stored); 170 and up
    // are refused. A read answers 0, except 4 and 6, which echo byte 11; 170 and up answer 1.
    const std::set<int> actions = {4, 5, 9, 10, 11, 14, 16, 17};
    const std::map<int, int> special = {{160, 32}, {162, 34}, {163, 35}, {164, 36}, {165, 33}};
    int reboots = 0; // register 14 bit 1 reboots at once
    platform::Sim::shellSim().setRebootHandler([&reboots] { ++reboots; });
    for (int g = 0; g < 256; ++g) {
        SCOPED_TRACE(g);
        std::vector<uint8_t> before(store->image, store->image + kImageSize);
        if (g < 170)
            store->image[g] = before[g] = 0xF0;
        const uint8_t status = writeReg(uint8_t(g), 0x0F, 0x5A);
        std::vector<uint8_t> want = before;
        if (g >= 170) {
            EXPECT_EQ(status, 1);
        } else if (g == 12 || g == 13 || g == 161) {
            EXPECT_EQ(status, 0);
        } else if (special.count(g)) {
            EXPECT_EQ(status, 0);
            want[special.at(g)] = g == 163 ? 0x5B : 0x0A; // 163: value + 1 whatever the mask
        } else {
            // 14's bit 0 finds no verified application to put in place: a failure.
            EXPECT_EQ(status, actions.count(g) && g != 14 ? 0 : 1);
            want[g] = 0xFA; // (value AND mask) OR (old AND NOT mask)
        }
        if (g == 14)
            want[0x2B] = 0x3F; // bit 3 reloads the fonts: the four present fonts' bits
        // Register 16 restores defaults and 11 applies the block; neither touches the image.
        EXPECT_EQ(differences(std::vector<uint8_t>(store->image, store->image + kImageSize), want, 0), "");

        ASSERT_EQ(send(kController, 0xA1, {uint8_t(g), 0x37}), 2u);
        if (g >= 170) {
            EXPECT_EQ(buf[10], g) << "byte 10 keeps the register number";
            EXPECT_EQ(buf[11], 1);
        } else {
            EXPECT_EQ(buf[10], 0);
            EXPECT_EQ(buf[11], g == 4 || g == 6 ? 0x37 : 0) << "the image is not read back";
        }
    }
    EXPECT_EQ(writeReg(170, 0xFF, 0x12, kFpgaSide), 1) << "refused on the FPGA side too";
    EXPECT_EQ(reboots, 1);
    platform::Sim::shellSim().setRebootHandler(nullptr);
}

// The input thread takes register 0's request bits with one atomic exchange; a write of another
// bit meanwhile must not put a taken request back (it would be served twice).
TEST_F(MessageDealTest, Register0RequestTakenMeanwhileIsNotPutBack)
{
    std::atomic<bool> stop{false};
    int taken = 0;
    std::thread inputs([&] {
        while (!stop.load())
            if (keltosource_status::take(regimage::kRegisters) & 0x01)
                ++taken;
    });
    const int rounds = 20000;
    for (int i = 0; i < rounds; ++i) {
        writeReg(0, 0x01, 0x01);
        writeReg(0, 0x02, 0x02);
    }
    stop = true;
    inputs.join();
    EXPECT_LE(taken, rounds);
}

TEST_F(MessageDealTest, SpecialRegistersFillTheImageBytesOf32To36)
{
    EXPECT_EQ(writeReg(163, 0x00, 4), 0);
    EXPECT_EQ(store->image[35], 5) << "value + 1, whatever the mask";
    EXPECT_EQ(scaler->change_flag, 1);
    scaler->change_flag = 0;
    EXPECT_EQ(writeReg(160, 0x0F, 0xFF), 0);
    EXPECT_EQ(store->image[32], 0x0F);
    EXPECT_EQ(scaler->change_flag, 0) << "160 is not handed over";
    writeReg(162, 0xF0, 0x3C);
    writeReg(164, 0xFF, 0x01);
    writeReg(165, 0x0F, 0x3C);
    EXPECT_EQ(store->image[34], 0x30);
    EXPECT_EQ(store->image[36], 0x01);
    EXPECT_EQ(store->image[33], 0x0C);
}

TEST_F(MessageDealTest, UpgradeDialogFollowsRegisters9And10)
{
    g_update_flag = 0;
    writeReg(9, 0xFF, 0x10); // before the main window exists: only the flag
    EXPECT_EQ(g_update_flag, 1);
    writeReg(9, 0xFF, 0x0F);
    EXPECT_EQ(g_update_flag, 0);
    QCoreApplication::processEvents();

    MainWindow window;
    g_mainwindow = &window;
    auto shown = [] { return !g_move_update.isNull() && g_move_update->isVisible(); };
    auto serveGui = [] { // the request and the window's own queued call
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };
    writeReg(9, 0xFF, 0x10);
    EXPECT_FALSE(shown()) << "the dialog is shown from the GUI thread's queue";
    serveGui();
    EXPECT_TRUE(shown());
    writeReg(9, 0xFF, 0x0F);
    serveGui();
    EXPECT_FALSE(shown());
    writeReg(10, 0xFF, 0x80); // bit 7 does not count
    serveGui();
    EXPECT_FALSE(shown());
    EXPECT_EQ(g_update_flag, 0);
    writeReg(10, 0xFF, 0x01);
    serveGui();
    EXPECT_TRUE(shown());
    EXPECT_EQ(g_update_flag, 1);
    g_mainwindow = nullptr;
}

TEST_F(MessageDealTest, Register11Bit1InTheMaskAppliesTheBlock)
{
    store->setU16(0x846, 1);
    testBlock(store)[win(3, 18)] = 0x0C | 0x01;
    EXPECT_EQ(writeReg(11, 0x02, 0x00), 0);
    EXPECT_EQ(store->image[11], 0) << "the value stays 0; the mask starts the action";
    EXPECT_EQ(scaler->change_flag, 1);
    EXPECT_EQ(testBlock(store)[win(3, 18)], 0x05) << "switch effect bits from word 0x846";
    scaler->change_flag = 0;
    writeReg(11, 0x04, 0x04);
    EXPECT_EQ(scaler->change_flag, 2);
    writeReg(11, 0x02, 0x02);
    EXPECT_EQ(scaler->change_flag, 2) << "a pending record save is never lowered";
}

TEST_F(MessageDealTest, Register11Bit3ReloadsTheMenuOnlyWhenItIsUsed)
{
    g_osd_update = 0;
    writeReg(11, 0x08, 0);
    EXPECT_EQ(scaler->change_flag, 0);
    store->setU16(0x84C, 1);
    writeReg(11, 0x08, 0);
    EXPECT_EQ(scaler->change_flag, 1);
    EXPECT_EQ(g_osd_update, 1);
}

// A tool's recall (0x362) or store (0x364), written and then applied: served before the answer,
// which is 0 only for what was done; a word no record stands behind is answered 1 and loads and
// stores nothing: a recall of it leaves no mode in use, a store the mode in use (16, stored last).
TEST_F(MessageDealTest, Register11ServesTheToolsRecallAndStoreBeforeItsAnswer)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", "{}"));
    struct Row {
        const char* what;
        uint32_t word;
        uint16_t value;
        uint8_t status;
        uint16_t current; // 0x362 afterwards
        uint8_t body;     // block 0x380 afterwards: 0x42 mode 3's, 0x11 the block's own
        int stored;       // record written from the block, or -1
    };
    const Row rows[] = {
        {"recall of saved mode 3", 0x362, 3, 0, 3, 0x42, -1},
        {"recall of empty mode 5", 0x362, 5, 1, 0, 0x11, -1},
        {"recall of 17", 0x362, 17, 1, 0, 0x11, -1},
        {"recall of 0xFFFF", 0x362, 0xFFFF, 1, 0, 0x11, -1},
        {"store as mode 16", 0x364, 16, 0, 16, 0x11, 15},
        {"store as mode 17", 0x364, 17, 1, 16, 0x11, -1},
        {"store as 0xFFFF", 0x364, 0xFFFF, 1, 16, 0x11, -1},
        {"store request 0", 0x364, 0, 0, 16, 0x11, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        for (uint32_t m = 0; m < kModeCount; ++m)
            store->mode[m][0] = store->mode[m][1] = 0xFF;
        store->mode[2][0] = store->mode[2][1] = 0xAA;
        memset(store->mode[2] + 2, 0x42, kModeDataSize);
        memset(testBlock(store) + 0x380, 0x11, 16);
        store->setU16(0x84C, 1);
        EXPECT_EQ(writeRam(r.word, {uint8_t(r.value), uint8_t(r.value >> 8)}), 0);
        EXPECT_EQ(writeReg(11, 0x02, 0), r.status);
        EXPECT_EQ(blockU16(0x362), r.current);
        EXPECT_EQ(blockU16(0x364), 0);
        EXPECT_EQ(testBlock(store)[0x380], r.body);
        for (uint32_t m = 0; m < kModeCount; ++m)
            EXPECT_EQ(store->VyrUserModeSaved(m) != 0, m == 2 || int(m) == r.stored) << m;
        if (r.stored < 0)
            continue;
        EXPECT_EQ(store->mode[r.stored][2], 0x11);
        const QByteArray file = TestRoot::readFile("/data/modes/custom_mode16");
        ASSERT_EQ(file.size(), 4096);
        EXPECT_EQ(uint8_t(file[2]), 0x11);
        EXPECT_EQ(TestRoot::readFile("/data/modes/MO10.json"), QByteArray("{}")) << "menu on: its copy goes with the mode";
    }
    // A tool's recall of the mode the box marks in use (the panel's recall) loads it, over a body
    // byte written before it; another tool's apply that changes no byte of the mode body leaves it
    // in use, and one that changes a byte does not.
    ASSERT_TRUE(store->recallMode(2));
    SecondWriter a = SecondWriter::inProcess(1), b = SecondWriter::inProcess(2);
    EXPECT_EQ(a.writeBlock(blk::kContrast, {70, 0}), 0);
    EXPECT_EQ(a.set16(blk::kCurrentMode, 3), 0);
    EXPECT_EQ(blockU16(blk::kContrast), 0x4242);
    EXPECT_EQ(b.apply(), 0);
    EXPECT_EQ(blockU16(0x362), 3);
    EXPECT_EQ(b.set16(blk::kContrast, 77), 0);
    EXPECT_EQ(blockU16(0x362), 0);
}

// A tool's store parked between its file and its mode word while another tool recalls a mode:
// the recalled mode stays in use, and the stored one is not named over it.
TEST_F(MessageDealTest, StoreLeavesTheModeAnotherToolRecalledMeanwhile)
{
    store->mode[2][0] = store->mode[2][1] = blk::kMarkerSaved;
    memset(store->mode[2] + 2, 0x42, kModeDataSize);
    RaceHold between(RacePause::StoreModeWord);
    int stored = -1;
    std::thread a([&stored] { stored = SecondWriter::inProcess(1).set16(blk::kSaveModeRequest, 5); });
    EXPECT_TRUE(between.parked());
    EXPECT_EQ(SecondWriter::inProcess(2).set16(blk::kCurrentMode, 3), 0);
    between.release();
    a.join();
    EXPECT_EQ(stored, 0);
    EXPECT_EQ(blockU16(blk::kCurrentMode), 3);
    EXPECT_EQ(blockU16(blk::kContrast), 0x4242) << "the block holds mode 3";
    EXPECT_TRUE(store->VyrUserModeSaved(4));
}

// Tool A's store, served by tool B's apply whose file write waits: A's own apply, with nothing
// left to serve, is answered once the mode's file is there.
TEST_F(MessageDealTest, StoreAnotherToolsApplyServesIsAnsweredOnceItsFileIsThere)
{
    SecondWriter a = SecondWriter::inProcess(1), b = SecondWriter::inProcess(2);
    ASSERT_EQ(a.writeBlock(blk::kSaveModeRequest, {5, 0}), 0);
    Utils::_file_deal_mutex.lock();
    std::thread bApplies([&b] { EXPECT_EQ(b.apply(), 0); });
    ASSERT_TRUE(waitFor([] { return LockWaiters::waited(Utils::_file_deal_mutex); }, 5000));
    std::atomic<pid_t> aThread{0};
    std::atomic<int> aAnswer{-1}; // 0x100 and up: answered with the file there
    std::thread aApplies([&] {
        aThread = LockWaiters::threadId();
        aAnswer = a.apply() | (TestRoot::exists("/data/modes/custom_mode5") ? 0x100 : 0);
    });
    EXPECT_TRUE(waitFor([&] { return aAnswer >= 0 || (aThread && LockWaiters::waiting(aThread)); }, 5000));
    Utils::_file_deal_mutex.unlock();
    aApplies.join();
    bApplies.join();
    EXPECT_EQ(aAnswer, 0x100);
}

// A tool's recalls beside the input thread's EDID check and audio selection and the FPGA worker's
// black-screen read, which read words the recall copies into the block: an unlocked read fails the
// ThreadSanitizer run (which reports one race of each copy, the first word's).
TEST_F(MessageDealTest, RecallsBesideTheEdidCheckAudioAndTheBlackScreenRead)
{
    ASSERT_TRUE(bringUpFpga0ByItsPasses());
    keltosource* inputs = keltosource::p_kelto_source;
    ASSERT_EQ(inputs->initializeWithoutThread(), 0);
    for (uint32_t m : {2, 3}) { // modes 3 and 4; 4 blanks the wall and offers 1280 x 720 on input 0
        store->mode[m][0] = store->mode[m][1] = blk::kMarkerSaved;
        memcpy(store->mode[m] + 2, testBlock(store) + kModeBodyStart, kModeDataSize);
    }
    for (const auto& f : {std::pair{blk::kBlackScreen, 1}, {blk::edidWidth(0), 1280}, {blk::edidHeight(0), 720}})
        blk::put16(store->mode[3] + blk::inRecord(f.first), 0, uint16_t(f.second));
    std::atomic<int> edidChecks{0}, blackReads{0};
    std::atomic<bool> done{false};
    std::thread edid([&] {
        for (; !done.load(); ++edidChecks) {
            {
                QMutexLocker lock(&Utils::_source_init_mutex);
                inputs->path_state = edidChecks % 2 ? keltosource::PathRunning : keltosource::PathEdidCheck;
            }
            inputs->audio_sel_req = 1;
            inputs->runOnce();
        }
    });
    std::thread black([&] {
        while (!done.load())
            blackReads += fpga->set_output_status();
    });
    EXPECT_TRUE(waitFor([&] { return edidChecks.load() > 1 && blackReads.load() > 0; }, 2000));
    SecondWriter tool = SecondWriter::inProcess();
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(tool.set16(blk::kCurrentMode, uint16_t(3 + i % 2)), 0);
    done = true;
    edid.join();
    black.join();
}

// Records a tool replaced with group 0x60 and saves with register 11 bit 2: in their files, or
// their files gone, before the answer. A file that cannot be written is answered 1 and its record
// is loaded back from it, as the next start would load it; either 0xFF marker means empty.
TEST_F(MessageDealTest, Register11Bit2PutsTheReplacedRecordsInTheirFilesBeforeItsAnswer)
{
    const auto path = [](uint32_t n) { return "/data/modes/custom_mode" + std::to_string(n); };
    QByteArray old(4096, 0x20);
    old[0] = old[1] = char(0xAA);
    for (uint32_t n = 2; n <= 5; ++n)
        ASSERT_TRUE(TestRoot::writeFile(path(n), old));
    for (uint32_t m = 0; m < kModeCount; ++m)
        store->mode_file_deal(m, 0);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path(path(4) + ".atomic-tmp/x"))));
    const std::vector<uint8_t> written[] = {{0xAA, 0xAA, 0x31}, {0xFF, 0xFF}, {0xAA, 0xFF}, {0xAA, 0xAA, 0x34}};
    for (uint32_t n = 1; n <= 4; ++n)
        ASSERT_EQ(writeRam(0x1000 * n, written[n - 1]), 0);
    SecondWriter other = SecondWriter::inProcess(2); // recalls the box's records until bit 2
    EXPECT_EQ(other.set16(blk::kCurrentMode, 2), 0);
    EXPECT_EQ(other.set16(blk::kCurrentMode, 1), 1);

    EXPECT_EQ(writeReg(11, 0x04, 0x04), 1);
    EXPECT_EQ(scaler->change_flag, 2);
    EXPECT_EQ(TestRoot::readFile(path(1)).left(3), QByteArray("\xAA\xAA\x31"));
    EXPECT_FALSE(TestRoot::exists(path(2)));
    EXPECT_FALSE(TestRoot::exists(path(3)));
    EXPECT_EQ(TestRoot::readFile(path(4)), old);
    const int saved[] = {1, 0, 0, 1, 1};
    for (uint32_t m = 0; m < 5; ++m)
        EXPECT_EQ(store->VyrUserModeSaved(m), saved[m]) << m;
    EXPECT_EQ(store->mode[3][2], 0x20) << "mode 4 as its file holds it";
    EXPECT_FALSE(TestRoot::shellLog().contains(QStringLiteral("rm  -rf  /data/modes/custom_mode5")));

    ASSERT_TRUE(QDir(QString::fromStdString(TestRoot::path(path(4) + ".atomic-tmp"))).removeRecursively());
    EXPECT_EQ(writeReg(11, 0x04, 0x04), 0) << "nothing replaced since";
    EXPECT_EQ(TestRoot::readFile(path(4)), old);
}

TEST_F(MessageDealTest, Register11BoundsTheAudioWindow)
{
    store->setU16(0x840, 9);
    writeReg(11, 0x02, 0);
    EXPECT_EQ(blockU16(0x840), 0);
    store->setU16(win(2, 0), 1);
    store->setU16(0x840, 2);
    writeReg(11, 0x02, 0);
    EXPECT_EQ(blockU16(0x840), 2) << "a window that is on keeps the audio";
    store->setU16(win(2, 0), 0);
    writeReg(11, 0x02, 0);
    EXPECT_EQ(blockU16(0x840), 0);
}

TEST_F(MessageDealTest, Register11AfterANewScreenSizeResolvesCropsAndStartsTheLedHandshake)
{
    fpga->MCU_REG_func[0][80] = 3; // FPGA 0 up: brought up and watched
    fpga->vbo_step[0] = VboStep::Up;
    fpga->status_step[0] = StatusStep::Up;
    g_set_led_para = 0;
    g_set_led_setup = 1;
    putU16(store->shadow + 0x362, 4);
    ASSERT_EQ(writeRam(0x562, {0xB8, 0x0B, 0xF4, 0x01}), 0); // a tool's 3000 x 500
    store->setU16(kCropBase + 10 * 7, 0x8000 | 0x0104); // crop entry 7: input 4
    store->setU16(win(1, 8), 0x8007);
    testBlock(store)[win(1, 0)] = 1;
    store->setU16(0x362, 4);
    writeReg(11, 0x02, 0);
    EXPECT_EQ(blockU16(win(0, 14)), 3000);
    EXPECT_EQ(blockU16(win(0, 16)), 500);
    EXPECT_EQ(blockU16(win(0, 10)), 0);
    EXPECT_EQ(testBlock(store)[win(1, 0)], 0) << "the other windows are switched off";
    EXPECT_EQ(blockU16(win(1, 8)), 4);
    EXPECT_EQ(g_set_led_para, 1);
    EXPECT_EQ(g_set_led_setup, 0);

    // Held in reset FPGA 0 cannot serve the hand-over, though its state byte still reads 3.
    g_set_led_para = 0;
    fpga->hold_in_reset(0);
    ASSERT_EQ(writeRam(0x562, {0xD0, 0x07}), 0);
    writeReg(11, 0x02, 0);
    EXPECT_EQ(g_set_led_para, 0);
}

// A screen the scaler refuses: no FPGA step (it would leave the wall dark), crops and audio kept.
TEST_F(MessageDealTest, Register11WithAScreenTheScalerRefusesLeavesWallCropsAndAudio)
{
    ASSERT_TRUE(bringUpFpga0ByItsPasses());
    struct Row {
        const char* name;
        uint16_t splice, width, height, out1w;
    };
    for (const Row& r : {Row{"above the pixel limit", 0, 4096, 3000, 4096}, Row{"split past the wall", 3, 1920, 1080, 4000}}) {
        SCOPED_TRACE(r.name);
        store->setU16(kCropBase + 10 * 7, 0x8000 | 0x0104); // crop entry 7: input 4
        store->setU16(win(1, 8), 0x8007);
        testBlock(store)[win(1, 0)] = 1;
        store->setU16(0x840, 1);
        store->setU16(0x560, r.splice);
        store->setU16(0x562, r.width);
        store->setU16(0x564, r.height);
        store->setU16(0x584, r.out1w);
        writeReg(11, 0x02, 0);
        for (int i = 0; i < 60; ++i) {
            G_timeTicks.fetch_add(1);
            fpga->runOnce();
        }
        EXPECT_EQ(platform::Sim::fpgaChip().registerValue(0) & 0x04, 0) << "not blanked";
        EXPECT_NE(platform::Sim::fpgaChip().registerValue(3) & 0x20, 0) << "output on";
        EXPECT_EQ(blockU16(win(1, 8)), 0x8007);
        EXPECT_EQ(blockU16(0x840), 1);
    }
}

TEST_F(MessageDealTest, Register161SchedulesTheRebootAndSetsWindow0Stitching)
{
    G_timeTicks = 1234;
    g_app_reset_flag = 0;
    writeReg(161, 0x01, 0x01);
    EXPECT_EQ(g_app_reset_flag, 1);
    EXPECT_EQ(G_reboot_tickTicks, 1234u);
    EXPECT_EQ(scaler->change_flag, 0) << "window 0 already as asked: no hand-over";

    writeReg(161, 0xFF, 0x10);
    EXPECT_EQ(blockU16(win(0, 22)), 8);
    EXPECT_EQ(blockU16(win(0, 18)) & 0x100, 0x100);
    EXPECT_EQ(scaler->change_flag, 1);
    scaler->change_flag = 0;
    writeReg(161, 0x18, 0x18); // bit 3 wins over bit 4
    EXPECT_EQ(blockU16(win(0, 22)), 0);
    writeReg(161, 0xFF, 0x24); // bit 2 clears, leaves the mode
    EXPECT_EQ(blockU16(win(0, 18)) & 0x100, 0);
    EXPECT_EQ(blockU16(win(0, 22)), 0);
    EXPECT_EQ(store->image[161], 0) << "161 is not stored";
}

TEST_F(MessageDealTest, Register16RestoresDefaultsPerBit)
{
    memset(testBlock(store) + 0x300, 0x11, kPersistSize);
    writeReg(16, 0x10, 0);
    EXPECT_EQ(blockU16(0x880), 100) << "bit 4: picture controls";
    EXPECT_EQ(blockU16(0x362), 0) << "no longer user mode 0x1111: a tool's recall of a mode loads it";
    EXPECT_EQ(testBlock(store)[0x380], 0x11) << "EDID records untouched";
    writeReg(16, 0x02, 0);
    EXPECT_EQ(blockU16(0x380), 1920);
    EXPECT_EQ(testBlock(store)[0x300], 0x11);
    writeReg(16, 0x01, 0);
    EXPECT_EQ(testBlock(store)[0x300], 0);
    EXPECT_EQ(blockU16(0x562), 1920);
    EXPECT_EQ(scaler->change_flag, 1);
}

TEST_F(MessageDealTest, Register17AsksTheInputManagerWithBit0OfTheMask)
{
    keltosource::p_kelto_source->sdi_reset_req = 0;
    writeReg(17, 0x02, 0x01);
    EXPECT_EQ(keltosource::p_kelto_source->sdi_reset_req, 0);
    writeReg(17, 0x01, 0x00);
    EXPECT_EQ(keltosource::p_kelto_source->sdi_reset_req, 1);
}

// A register write on the FPGA side is answered with what the FPGA took: FPGA 0 takes it;
// FPGA 1 is not fitted, registers 97-127 exist on neither side, and a write whose FPGA access
// fails is not done. None of these leaves a value to read back.
TEST_F(MessageDealTest, FpgaSideRegisterWritesAnswerWhatTheFpgaTook)
{
    using platform::Sim::fpgaChip;
    fpga_manage::gpio_write(fpga->rst_fpga0, 16); // FPGA 0 out of reset
    auto readReg = [this](uint8_t g, uint8_t byte7) {
        EXPECT_EQ(send(kFpgaSide, 0xA1, {g}, kMessageBufferSize, 0, byte7), 2u);
        return std::make_pair(buf[10], buf[11]);
    };
    EXPECT_EQ(writeReg(3, 0x0F, 0x05, kFpgaSide, 1), 0);
    EXPECT_EQ(fpgaChip().registerValue(3), 0x05);
    EXPECT_EQ(readReg(3, 1), std::make_pair(uint8_t(0), uint8_t(0x05)));
    EXPECT_EQ(store->image[3], 0) << "the controller image is not touched";
    EXPECT_EQ(writeReg(64, 0xFF, 0x09, kFpgaSide, 1), 0) << "held by the program";
    EXPECT_EQ(readReg(64, 1), std::make_pair(uint8_t(0), uint8_t(0x09)));

    fpga->MCU_REG_func[1][3] = 0xF0;
    const struct {
        const char* what;
        uint8_t g, byte7;
        int failing; // FPGA transfers that fail
    } refused[] = {
        {"FPGA 1", 3, 2, 0}, {"FPGA 1, a register of the program", 64, 2, 0}, {"register 97", 97, 1, 0},
        {"register 127", 127, 1, 0}, {"FPGA 0 not answering", 3, 1, 2},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        const uint8_t cached = fpga->MCU_REG_func[r.byte7 - 1][r.g];
        fpgaChip().failNextTransfers(r.failing);
        EXPECT_EQ(writeReg(r.g, 0xFF, 0x0A, kFpgaSide, r.byte7), 1);
        fpgaChip().failNextTransfers(0);
        EXPECT_EQ(fpga->MCU_REG_func[r.byte7 - 1][r.g], cached);
        EXPECT_NE(readReg(r.g, r.byte7).second, 0x0A);
    }
    EXPECT_EQ(fpgaChip().registerValue(3), 0x05);
    EXPECT_EQ(readReg(3, 2), std::make_pair(uint8_t(1), uint8_t(0))) << "FPGA 1 cannot be read";
    // Held in reset FPGA 0 drops what it is sent; the program's registers are still taken.
    fpga->hold_in_reset(0);
    EXPECT_EQ(writeReg(3, 0xFF, 0x0A, kFpgaSide, 1), 1);
    EXPECT_EQ(writeReg(64, 0xFF, 0x0B, kFpgaSide, 1), 0);
}
