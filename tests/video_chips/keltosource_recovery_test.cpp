#include "keltosource_fixture.h"
#include "lock_waiters.h"
#include "program.h"

#include "base/named_thread.h"
#include "platform/sim/board_config.h"
#include "register_rows.h"

#include <QMutexLocker>
#include <atomic>
#include <chrono>
#include <thread>

// How the input manager comes through trouble: a receiver that stops answering, a request that
// lands while the thread clears a served one, EEPROMs the program itself found bad, a thread that
// cannot be started.
namespace {

using namespace keltosource_test;

platform::Sim::HdmiTiming p1080p60() { return *platform::Sim::standardTiming("1920x1080p60"); }
const std::vector<uint8_t> kBlock1080p60 = {0x80, 0x07, 0x38, 0x04, 0x3C, 0x00};
constexpr uint8_t kReceiver2Present = 0x08; // status byte 0 bit 3

bool edidGood(const VyrRamPara* store, int input)
{
    if (input == 0)
        return store->image[regimage::kChipPresence] & 0x80;
    return store->image[regimage::kEdidStatus] & (1u << (input - 1));
}

// The receiver of HDMI 1 (input 2) goes silent while it shows a picture, and comes back powered up
// afresh: the input shows no signal meanwhile, and the receiver is identified and set up again.
TEST_F(KeltoSource, It6602ThatStopsAnsweringShowsNoSignalAndIsSetUpAgainWhenBack)
{
    ASSERT_TRUE(showOnInput2(p1080p60(), kBlock1080p60));
    ASSERT_EQ(store->image[regimage::kChipPresence] & kReceiver2Present, kReceiver2Present);
    ASSERT_EQ(k->it6602_step[2], 2);

    i2cBoard().it6602(2).setPresent(false);
    run(200);
    EXPECT_EQ(blockOf(2), std::vector<uint8_t>(6, 0));
    EXPECT_EQ(record(2).nosignal, 1);
    EXPECT_EQ(record(2).hact, 0);
    EXPECT_EQ(record(2).vtt, 0);
    EXPECT_EQ(store->image[regimage::kChipPresence] & kReceiver2Present, 0);
    EXPECT_EQ(k->it6602_step[2], 0) << "to be identified again";
    EXPECT_TRUE(logHas("IT6602 receiver 2 (input 2) stopped answering"));
    EXPECT_EQ(k->it6602_step[3], 2) << "the other receivers run on";
    // Gone, it is asked again about once a second and gets no init table meanwhile.
    i2cBoard().clearLog();
    run(300);
    int messages = 0;
    for (const auto& m : i2cBoard().log())
        messages += m.receiverChannels == 0x04 && (m.address == 0x90 >> 1 || m.address == 0x94 >> 1);
    EXPECT_EQ(messages, 3 * 2) << "three identifications, each refused at 0x90 and at 0x94";

    i2cBoard().it6602(2).reset(); // powered up again: registers at their power-on values
    i2cBoard().it6602(2).clearLog();
    i2cBoard().it6602(2).connect(p1080p60());
    run(140); // found at the next identification, within a second
    // The set-up from the top of the init table to its end, then the picture.
    const auto rows = register_rows::parse("0F/03/00 10/FF/08 0F/03/00 10/FF/17 11/FF/1F 18/FF/1F 12/FF/F8 "
                                           "22/FF/00 3A/FF/00 26/FF/00 3E/FF/00 63/FF/3F 77/0C/08");
    EXPECT_EQ(register_rows::missingInOrder(i2cBoard().it6602(2).writes(), rows), "");
    EXPECT_EQ(k->it6602_step[2], 2);
    EXPECT_EQ(store->image[regimage::kChipPresence] & kReceiver2Present, kReceiver2Present);
    EXPECT_EQ(blockOf(2), kBlock1080p60);
    EXPECT_EQ(record(2).hact, 1920);
    EXPECT_EQ(record(2).nosignal, 0);
}

// A refused transfer now and then is not a lost chip: two passes with refusals in a row leave the
// receiver running.
TEST_F(KeltoSource, It6602WithRefusalsInTwoPassesKeepsRunning)
{
    ASSERT_TRUE(showOnInput2(p1080p60(), kBlock1080p60));
    for (int round = 0; round < 3; ++round) {
        i2cBoard().it6602(2).setPresent(false);
        run(2);
        i2cBoard().it6602(2).setPresent(true);
        run(1);
    }
    EXPECT_EQ(k->it6602_step[2], 2);
    EXPECT_EQ(blockOf(2), kBlock1080p60);
    EXPECT_EQ(store->image[regimage::kChipPresence] & kReceiver2Present, kReceiver2Present);
    EXPECT_FALSE(logHas("stopped answering"));
}

// A request (its two stores, under the lock) that lands after the thread has seen the served one
// and before it takes the lock to clear it: the new request stays and is written on a later pass.
TEST_F(KeltoSource, CustomEdidRequestLandingWhileAServedOneIsClearedIsKept)
{
    toRunning("Never");
    run(3);
    ASSERT_EQ(k->audio_sel_req, 0); // nothing else in the pass takes the lock
    k->custom_edid_req[3] = 1;      // written in this pass, then cleared in input 3's step
    std::atomic<bool> atInput3{false}, locked{false};
    i2cBoard().receiverSwitch().setWriteHook([&](uint8_t channels) {
        if (channels != 0x08 || atInput3.exchange(true))
            return;
        // Input 3's step begins: hold it here until the request's writer has the lock.
        waitFor([&] { return locked.load(); }, 5000);
    });
    std::thread poller([&] { k->runOnce(); });
    EXPECT_TRUE(waitFor([&] { return atInput3.load(); }, 5000)); // the pass goes on by itself later; join it either way
    {
        QMutexLocker lock(&Utils::_system_mutex);
        locked = true;
        EXPECT_TRUE(waitFor([] { return LockWaiters::waited(Utils::_system_mutex); }, 5000)) << "the step at the lock";
        EXPECT_EQ(k->custom_edid_written[3], 1) << "the first request was written in this pass";
        k->custom_edid_written[3] = 0; // requestCustomEdid's stores
        k->custom_edid_req[3] = 1;
    }
    poller.join();
    i2cBoard().receiverSwitch().setWriteHook(nullptr);
    EXPECT_EQ(k->custom_edid_req[3], 1) << "the new request was cleared unserved";
    EXPECT_EQ(k->custom_edid_written[3], 0);
    const int pages = i2cBoard().eeprom(3).pageWrites();
    run(1);
    EXPECT_GE(i2cBoard().eeprom(3).pageWrites(), pages + 32) << "written again";
    EXPECT_EQ(k->custom_edid_req[3], 0);
}

// A custom EDID write the part stops taking after its 8th page: the previous table is written back
// and input 2's record goes back to the timing that table stands for; the good bit says what a read
// of the part finds. A part that takes nothing more keeps a broken table, its bit clear, until the
// check at the next start rewrites it from the record.
TEST_F(KeltoSource, CustomEdidCutAfterTheEighthPagePutsThePreviousTableAndRecordBack)
{
    fillAllEeproms();
    toRunning("Never");
    const auto previous = i2cBoard().eepromContents(2);
    const std::vector<uint16_t> record1080p60 = {1920, 1080, 60};
    auto record = [&] { return std::vector<uint16_t>{store->u16(blk::edidWidth(2)), store->u16(blk::edidHeight(2)), store->u16(blk::edidRate(2))}; };
    ASSERT_EQ(record(), record1080p60);
    for (const bool takesTheWriteBack : {true, false}) {
        SCOPED_TRACE(takesTheWriteBack ? "the part takes the write-back" : "the part takes nothing more");
        platform::Sim::EdidEeprom& part = i2cBoard().eeprom(2);
        part.setContents(previous);
        const int pages = part.pageWrites();
        part.setProtectLine([&part, pages, takesTheWriteBack] {
            return part.pageWrites() >= pages + 8 &&
                   !(takesTheWriteBack && logHas("EEPROM write failed after"));
        });
        store->VyrSetEDIDPara(2, 1280, 720, 60);
        k->requestCustomEdid(2);
        run(1);
        EXPECT_TRUE(logHas("custom EDID of input 2 not written"));
        EXPECT_EQ(k->custom_edid_req[2], 0);
        EXPECT_EQ(record(), record1080p60) << "the record goes back";
        if (takesTheWriteBack) {
            EXPECT_EQ(i2cBoard().eepromContents(2), previous);
            EXPECT_TRUE(edidGood(store, 2));
        } else {
            EXPECT_FALSE(valid(i2cBoard().eepromContents(2)));
            EXPECT_FALSE(edidGood(store, 2));
        }
    }

    // The next start, the part whole again: the status bits at their start values.
    i2cBoard().eeprom(2).setProtectLine(nullptr);
    store->image[regimage::kChipPresence] |= 0x80;
    store->image[regimage::kEdidStatus] |= 0x1F;
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        k->path_state = keltosource::PathHold;
    }
    toRunning("Never");
    const auto repaired = i2cBoard().eepromContents(2);
    EXPECT_TRUE(valid(repaired));
    EXPECT_EQ(repaired[54] | repaired[55] << 8, 14850) << "the default table's 1080p60, as the record says";
    EXPECT_TRUE(edidGood(store, 2));
    TestRoot::acceptViolations(); // the refused page writes were provoked
}

// A path restart runs the check again but skips the inputs whose bit is clear: those whose repair
// failed, or whose custom write left a table that does not read valid, stay marked bad, the others
// good.
TEST_F(KeltoSource, PathRestartKeepsTheEdidBitsTheProgramCleared)
{
    // Input 2's repair fails in the first check; input 1's custom write is cut after 8 pages.
    runFirstCheckWithInput2Unrepairable();
    ASSERT_EQ(g_check_edid.get(), QStringLiteral("Never"));
    ASSERT_FALSE(edidGood(store, 2));
    std::atomic<bool> protect1{true};
    platform::Sim::EdidEeprom& part1 = i2cBoard().eeprom(1);
    const int pages1 = part1.pageWrites();
    part1.setProtectLine([&] { return protect1.load() && part1.pageWrites() >= pages1 + 8; });
    store->setU16(blk::edidWidth(1), 1280);
    store->setU16(blk::edidHeight(1), 720);
    k->custom_edid_req[1] = 1;
    run(1);
    ASSERT_FALSE(edidGood(store, 1));

    // The iTE6805 watchdog's restart of its path.
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        k->path_timer = G_timeTicks;
        k->path_state = keltosource::PathHold;
        k->path_flags[4] = 1;
    }
    toRunning("Never");
    for (int input = 0; input < 6; ++input)
        EXPECT_EQ(edidGood(store, input), input != 1 && input != 2) << input;
    EXPECT_EQ(store->image[regimage::kEdidStatus] & 0x40, 0x40) << "switch bit set as before";

    // Input 1's part takes writes again: its next custom write marks it good, and a restart keeps it.
    protect1 = false;
    k->custom_edid_req[1] = 1;
    run(1);
    ASSERT_TRUE(edidGood(store, 1));
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        k->path_state = keltosource::PathHold;
        k->path_flags[4] = 1;
    }
    toRunning("Never");
    EXPECT_TRUE(edidGood(store, 1));
    EXPECT_FALSE(edidGood(store, 2));
    TestRoot::acceptViolations(); // the refused page writes were provoked
}

// The thread cannot be created: traced when tracing is on, logged as an error, 255.
TEST_F(KeltoSource, ThreadThatCannotBeStartedIsTracedLoggedAndAnswered255)
{
    struct Row {
        uint8_t debugSwitch;
        bool traced;
    };
    for (const Row row : {Row{254, true}, Row{1, false}}) {
        SCOPED_TRACE(int(row.debugSwitch));
        g_debugSwitch = row.debugSwitch;
        failNextThreadStarts(1);
        testing::internal::CaptureStdout();
        const int result = k->initialize();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, 255);
        EXPECT_EQ(out.find("create manage thread failed") != std::string::npos, row.traced) << out;
    }
    g_debugSwitch = 0;
    const QString log = TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog");
    EXPECT_EQ(log.count("[ERROR   ] # PELOMSG # create check source thread failed\n"), 2) << log.toStdString();
    // Only those starts failed: the next one runs the thread.
    g_check_edid = "Never";
    ASSERT_EQ(k->initialize(), 0);
    k->stopThread();
}

} // namespace
