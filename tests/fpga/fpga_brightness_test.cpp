// The brightness task's manual, half-hour and sensor passes and the relay path, with the
// multifunction card of the simulated LED network answering.
#include "card_fixture.h"

#include "base/bytes.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/devices/fpga_network.h"

#include "params/scaler_hand_over.h"
#include "scaler/c331_manage.h"
#include "second_writer.h"
#include "store_face.h"

#include <QDateTime>
#include <QMutexLocker>

using platform::Sim::FpgaFlash;
using platform::Sim::fpgaChip;
using platform::Sim::fpgaFlash;
using platform::Sim::LedNetwork;

namespace {

std::vector<uint8_t> record(uint8_t mode, const std::vector<uint8_t>& values)
{
    std::vector<uint8_t> r = {0xAA, 0x03, 0xAA, 0, 0, 0, uint8_t(1 + values.size()), 0, mode};
    r.insert(r.end(), values.begin(), values.end());
    r.resize(57, 0);
    return r;
}

class Brightness : public LedCards {
protected:
    void load(uint8_t mode, const std::vector<uint8_t>& values)
    {
        fpgaFlash().store(FpgaFlash::BrightnessRecord, record(mode, values));
        fpga->bri_reload = 1;
    }
    // One task pass: 1000 ticks after the last one.
    void taskPass() { tick(int(fpga_manage::kBrightnessTaskTicks) + 1); }
    std::vector<uint8_t> writes6() { return fpgaChip().registerWrites(6); }
    // A PC tool's manual level: mailbox command 3, mode 0, not stored.
    void mailboxLevel(uint8_t level)
    {
        const uint8_t cmd[10] = {0xAA, 3, 0, 0, 0, 0, 2, 0, 0, level};
        memcpy(fpga_manage::MCU_RAM_CMD, cmd, sizeof cmd);
        fpga->write_to_register(2, 0x04, 0x04, 0);
    }
    std::vector<Bytes> sensorReads(int port)
    {
        std::vector<Bytes> reads;
        for (const Bytes& p : fpgaChip().packets(port))
            if (p.size() == 19 && p[9] == 0x61 && getU32(p.data() + 10) == 0x02000000)
                reads.push_back(p);
        return reads;
    }
};

}

// A level goes out five times after a load and then rests; a level above 16 is full brightness,
// not a wrapped dim value.
TEST_F(Brightness, ManualLevelIsAppliedFiveTimesAndClampedAt16)
{
    fpgaChip().setCards(0, 1);
    load(0, {4});
    for (int i = 0; i < 7; ++i)
        taskPass();
    EXPECT_EQ(writes6(), std::vector<uint8_t>(5, 63));
    fpgaChip().clearLog();
    load(0, {17});
    taskPass();
    ASSERT_FALSE(writes6().empty());
    EXPECT_EQ(writes6().back(), 255);
    load(0, {1});
    taskPass();
    EXPECT_EQ(writes6().back(), 15);
}

TEST_F(Brightness, HalfHourTablePicksTheSlotOfTheTime)
{
    fpgaChip().setCards(0, 1);
    std::vector<uint8_t> table(48, 8);
    table[0] = 3;
    table[47] = 12;
    table[21] = 40; // 10:30: out of range, clamped
    // The worker at midday before the first row, so its slot is a change whatever time the test
    // runs at (run in the first half hour, the real clock's slot was the first row's).
    fpga_manage::clock = [] { return QDateTime(QDate(2026, 12, 7), QTime(12, 0)); };
    tick(int(fpga_manage::kClockReadTicks) + 1);
    load(1, table);
    const struct {
        int hour, minute;
        uint8_t reg6;
    } rows[] = {{0, 0, 47}, {0, 29, 47}, {0, 30, 127}, {10, 45, 255}, {23, 30, 191}, {23, 59, 191}};
    for (const auto& row : rows) {
        fpga_manage::clock = [&row] { return QDateTime(QDate(2026, 12, 7), QTime(row.hour, row.minute)); };
        tick(int(fpga_manage::kClockReadTicks) + 1); // the worker reads the clock
        fpgaChip().clearLog();
        taskPass();
        ASSERT_FALSE(writes6().empty()) << row.hour << ":" << row.minute;
        EXPECT_EQ(writes6().back(), row.reg6) << row.hour << ":" << row.minute;
    }
    // Raw table (mode 17): the values go out unscaled.
    table[47] = 77;
    load(17, table);
    fpgaChip().clearLog();
    taskPass();
    EXPECT_EQ(writes6().back(), 77);
}

// The sensor's target level is approached one step per pass; the card is the one on the lowest
// port that the search flagged.
TEST_F(Brightness, SensorModeStepsTowardTheCardsTarget)
{
    fpgaChip().setCards(5, 2);
    fpgaChip().setMultifunction(5, true);
    fpgaChip().setCards(9, 1);
    fpgaChip().setMultifunction(9, true);
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(5).multifunction.targetLevel = 13; });
    searchCards();
    load(2, {});
    tick(2);
    fpga->bri_level = 16;
    fpgaChip().clearPackets();
    std::vector<uint8_t> seen;
    for (int i = 0; i < 5; ++i) {
        fpgaChip().clearLog();
        taskPass();
        ASSERT_FALSE(writes6().empty());
        seen.push_back(writes6().back());
    }
    EXPECT_EQ(seen, (std::vector<uint8_t>{239, 223, 207, 207, 207}));
    const auto reads = sensorReads(5);
    ASSERT_EQ(reads.size(), 5u);
    EXPECT_EQ(getU16(reads[0].data()), 0x5000);
    EXPECT_EQ(reads[0][14], 0x80);
    EXPECT_TRUE(sensorReads(9).empty());
    EXPECT_EQ(fpga->bri_fail_count.load(), 0u);
}

// Ten reads without a good answer force full brightness and start the count again; bad answers
// count in register 85.
TEST_F(Brightness, SensorWithoutAnswerFallsBackToFullAfterTenFailures)
{
    fpgaChip().setCards(2, 1);
    fpgaChip().setMultifunction(2, true);
    searchCards();
    load(2, {});
    tick(2);
    fpga->bri_level = 5;
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(2).multifunction.targetLevel = 4; });
    fpga->Brightness_auto_change(); // one good read: level 4
    ASSERT_EQ(fpgaChip().registerValue(6), 63);
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(2).multifunction.badCheck = true; });
    const uint8_t before = fpga->reg_cached(0, 85);
    for (int i = 0; i < 9; ++i)
        fpga->Brightness_auto_change();
    EXPECT_EQ(fpga->bri_fail_count.load(), 9u);
    EXPECT_EQ(fpgaChip().registerValue(6), 63) << "a failed read leaves the level";
    EXPECT_EQ(fpga->reg_cached(0, 85), uint8_t(before + 9));
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(2).multifunction.silent = true; });
    fpga->Brightness_auto_change();
    EXPECT_EQ(fpga->bri_fail_count.load(), 0u);
    EXPECT_EQ(fpgaChip().registerValue(6), 255);
    EXPECT_EQ(fpga->bri_level.load(), 16u);
}

TEST_F(Brightness, NoMultifunctionCardMeansNoReadAndNoFailure)
{
    fpgaChip().setCards(2, 1);
    searchCards();
    load(16, {153});
    tick(2);
    load(2, {});
    tick(2);
    fpgaChip().clearPackets();
    fpga->Brightness_auto_change();
    EXPECT_TRUE(sensorReads(2).empty());
    EXPECT_EQ(fpga->bri_fail_count.load(), 0u);
    EXPECT_EQ(fpgaChip().registerValue(6), 255);
    EXPECT_EQ(fpga->reg_cached(0, FpgaReg::ManualBrightness), 16);
}

TEST_F(Brightness, RelaysFollowTheirCommandsAndTheirStateIsReadBack)
{
    fpgaChip().setCards(6, 1);
    fpgaChip().setMultifunction(6, true);
    searchCards();
    fpga->Power_ctrl_init();
    fpga->Power_check_VMF();
    EXPECT_EQ(fpga->relay_port, 6);
    for (int i = 0; i < 8; ++i) {
        tick(52);
        fpga->eth_data_send_start();
    }
    LedNetwork net = fpgaChip().network();
    EXPECT_EQ(net.port(6).multifunction.registers[2], 0xFF);
    EXPECT_EQ(net.port(6).multifunction.registers[3], 0xFF);
    fpga->Power_ctrl_task();
    EXPECT_EQ(fpga->relay_power, 1);
    EXPECT_EQ(fpga->reg_cached(0, 67), 1);

    // Switching off: one relay per call, no faster than every 51 ticks.
    fpga->relay_counter = 1;
    fpga->eth_data_send_stop();
    fpga->eth_data_send_stop();
    net = fpgaChip().network();
    EXPECT_EQ(net.port(6).multifunction.registers[2], 0xFF) << "too soon after the last switch";
    for (int i = 0; i < 8; ++i) {
        tick(52);
        fpga->eth_data_send_stop();
    }
    net = fpgaChip().network();
    EXPECT_EQ(net.port(6).multifunction.registers[2], 0x55);
    EXPECT_EQ(net.port(6).multifunction.registers[3], 0x55);
    fpga->Power_ctrl_task();
    EXPECT_EQ(fpga->relay_power, 0);
    EXPECT_EQ(fpga->Send_write_VMF_reg_cmd(0, 9), 0) << "there is no relay 9";
}

// A short answer is taken for what it holds: the bytes it lacks read as zero, never as what an
// earlier answer left in the buffer.
TEST_F(Brightness, ShortSensorAnswerDoesNotReuseAnEarlierOne)
{
    fpgaChip().setCards(2, 1);
    fpgaChip().setMultifunction(2, true);
    searchCards();
    load(2, {});
    tick(2);
    fpga->bri_level = 5;
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(2).multifunction.targetLevel = 1; });
    fpga->Brightness_auto_change();
    ASSERT_EQ(fpgaChip().registerValue(6), 63); // level 4
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(2).multifunction.silent = true; });
    fpgaChip().queueReply(2, sealed({0x00, 0xF0, 0x00, 0x60, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61, 0x00, 0x01, 0x02}));
    fpga->Brightness_auto_change();
    EXPECT_EQ(fpgaChip().registerValue(6), 63) << "level kept";
    EXPECT_EQ(fpga->bri_fail_count.load(), 0u) << "the answer itself was good";
}

// The relays follow window 0's signal while no other window is shown: all on with a picture, all
// off once it has been gone for more than 1,000 ticks; a second window stops the path.
TEST_F(Brightness, RelayPathFollowsWindowZerosSignal)
{
    fpgaChip().setCards(6, 1);
    fpgaChip().setMultifunction(6, true);
    searchCards();
    fpga->Power_ctrl_init();
    for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
        store->setU16(blk::window(w, blk::win::kState), w == 0);
    store->setU16(blk::window(0, blk::win::kSource), 2);
    auto signal = [this](bool on) {
        store->setU16(blk::inputResolution(2) + blk::kInputWidth, on ? 1920 : 0);
        store->setU16(blk::inputResolution(2) + blk::kInputHeight, 1080);
        testBlock(store)[blk::inputResolution(2) + blk::kInputRate] = 60;
    };
    auto run = [this](int ticks) {
        for (int i = 0; i < ticks; ++i) {
            tick();
            fpga->Power_ctrl_deal();
        }
    };
    auto relays = [] {
        const LedNetwork net = fpgaChip().network();
        return std::make_pair(net.port(6).multifunction.registers[2], net.port(6).multifunction.registers[3]);
    };
    const std::pair<uint8_t, uint8_t> on{0xFF, 0xFF}, off{0x55, 0x55};
    signal(true);
    run(1001 + 8 * 52); // the first card look-up comes with the first task pass
    EXPECT_EQ(relays(), on);
    EXPECT_EQ(fpga->relay_port, 6);

    signal(false);
    run(1100 + 8 * 52); // the card's power state read, then more than 1,000 ticks without a picture
    EXPECT_EQ(relays(), off);

    // With window 1 shown as well nothing is switched.
    store->setU16(blk::window(1, blk::win::kState), 1);
    signal(true);
    run(200 + 8 * 52);
    EXPECT_EQ(relays(), off);
}

// A percentage from the block: register 6 gets 255 x percent / 100, never below 15 unless the
// loaded record is raw; the record kept is raw (mode 16) afterwards.
TEST_F(Brightness, BlockPercentageGivesTheLevelWithAFloorOf15)
{
    fpgaChip().setCards(0, 1);
    searchCards();
    const struct {
        uint32_t mode;
        uint16_t percent;
        uint8_t reg6;
    } rows[] = {{0, 0, 15}, {0, 5, 15}, {0, 6, 15}, {0, 7, 17}, {0, 100, 255}, {0, 150, 255}, {16, 0, 0}, {16, 5, 12}};
    for (const auto& row : rows) {
        fpga->bri_mode = row.mode;
        store->setU16(blk::kBrightness, row.percent);
        fpga->bri_request = 1;
        fpgaChip().clearLog();
        fpga->Brightness_hand_dealwith(0);
        ASSERT_FALSE(writes6().empty()) << row.percent;
        EXPECT_EQ(writes6().back(), row.reg6) << "mode " << row.mode << ", " << row.percent << "%";
        EXPECT_EQ(fpga->bri_mode, 16u);
    }
}

// The block's percentage is what the user or a PC tool set. Once a record holds its level (after
// a change and a restart), the resends give back every percentage 0-100 as itself, over several
// applies; a percentage a PC writes is not replaced by a resend before it is applied.
TEST_F(Brightness, BlockPercentageSurvivesTheRestartPathAndItsResends)
{
    fpgaChip().setCards(0, 1);
    searchCards();
    std::vector<std::pair<uint16_t, uint8_t>> rows; // block percentage, the record's level
    for (uint16_t p = 0; p <= 100; ++p)
        rows.emplace_back(p, uint8_t(p * 255 / 100));
    rows.emplace_back(3, 15); // stored in mode 0, where the level is at least 15
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        store->setU16(blk::kBrightness, row.first);
        load(16, {row.second});
        for (int apply = 0; apply < 3; ++apply) {
            taskPass();
            taskPass();
            ASSERT_EQ(store->u16(blk::kBrightness), row.first);
            fpga->bri_request = 1; // the scaler's dispatch saw a change
            tick();
        }
    }
    fpgaChip().clearLog();
    store->setU16(blk::kBrightness, 47);
    fpga->bri_request = 1;
    tick();
    store->setU16(blk::kBrightness, 99); // a PC tool's write, not yet applied
    taskPass();
    EXPECT_EQ(store->u16(blk::kBrightness), 99);
    fpga->bri_request = 1;
    tick();
    EXPECT_EQ(writes6(), (std::vector<uint8_t>{119, 119, 252}));
    EXPECT_EQ(store->u16(blk::kBrightness), 99);
}

// A level from elsewhere (here a PC's manual level 4, register 6 = 63) is shown in the block as
// its nearest percentage; the block changing to it is not a new percentage: the mode stays.
TEST_F(Brightness, LevelFromElsewhereIsShownInTheBlockAndKeepsItsMode)
{
    fpgaChip().setCards(0, 1);
    searchCards();
    store->setU16(blk::kBrightness, 47);
    store->setU16(blk::kCurrentMode, 3);
    load(0, {4});
    taskPass();
    EXPECT_EQ(store->u16(blk::kBrightness), 25);
    EXPECT_EQ(store->u16(blk::kCurrentMode), 0) << "no longer mode 3: a tool's recall of it loads it";
    fpga->bri_request = 1;
    tick();
    taskPass();
    EXPECT_EQ(writes6(), (std::vector<uint8_t>{63, 63, 63})) << "at the load, then once a task pass";
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord, 57), record(0, {4})) << "the mode-0 record stays";
}

// A PC tool's manual level (mailbox command 3, mode 0, not stored) is a level 1-16 whatever mode a
// panel change left loaded, and is never taken for a block change still waiting: the block
// follows the level and the change waiting leaves the level and the flash record alone.
TEST_F(Brightness, MailboxLevelIsALevelAfterAndDuringAPanelChange)
{
    fpgaChip().setCards(0, 1);
    searchCards();
    store->setU16(blk::kBrightness, 60);
    fpga->bri_request = 1;
    tick(); // the panel's change: 153, kept as a raw record
    ASSERT_EQ(fpgaChip().registerValue(6), 153);
    const std::vector<uint8_t> kept = fpgaFlash().read(FpgaFlash::BrightnessRecord, 57);
    mailboxLevel(8);
    EXPECT_EQ(fpgaChip().registerValue(6), 127);
    EXPECT_EQ(store->u16(blk::kBrightness), 50);
    taskPass(); // a resend
    EXPECT_EQ(writes6().back(), 127);

    store->setU16(blk::kBrightness, 80); // a panel change not yet served
    fpga->bri_request = 1;
    mailboxLevel(4);
    tick();
    EXPECT_EQ(fpgaChip().registerValue(6), 63);
    EXPECT_EQ(store->u16(blk::kBrightness), 25);
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord, 57), kept);
}

// A tool's percentage, a PC's mailbox level, the tool's percentage again, handed over to the
// scaler as register 11 does: each reaches register 6, whichever writer set the block last.
TEST_F(Brightness, PercentageSetBackAfterAMailboxLevelReachesTheWall)
{
    fpgaChip().setCards(0, 1);
    searchCards();
    c331_manage* scaler = c331_manage::instanceWithoutWorker();
    for (int i = 0; i < 10 && scaler->thread_state < 6; ++i)
        scaler->runOnce();
    auto toolSets = [&](uint16_t percent, uint32_t field = blk::kBrightness) {
        {
            ScalerHandOver handOver;
            store->setU16(field, percent);
            handOver.commit(1);
        }
        scaler->runOnce();
        tick();
    };
    toolSets(80);
    EXPECT_EQ(fpgaChip().registerValue(6), 204);
    mailboxLevel(10);
    EXPECT_EQ(fpgaChip().registerValue(6), 159);
    EXPECT_EQ(store->u16(blk::kBrightness), 62);
    toolSets(80);
    EXPECT_EQ(fpgaChip().registerValue(6), 204);
    EXPECT_EQ(store->u16(blk::kBrightness), 80);

    // Set while no port is linked (cabinets unplugged, FPGA 0 just reset): the record that the
    // next FPGA start loads holds 40 %, not the level before it.
    fpgaChip().setLinked(0, false);
    toolSets(40);
    EXPECT_EQ(fpgaChip().registerValue(6), 204) << "nothing linked: no register written";
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord, 10), (std::vector<uint8_t>{0xAA, 3, 0xAA, 0, 0, 0, 0x31, 0, 0x10, 102}));
    fpgaChip().setCards(0, 1);
    fpga->record_bright_change();
    tick();
    EXPECT_EQ(fpgaChip().registerValue(6), 102);
    EXPECT_EQ(store->u16(blk::kBrightness), 40);

    // A tool's 30 % and black screen wait for its apply while another writer changes the red gain:
    // the wall and the record the next start loads keep 40 %, the worker's write-back a lit wall.
    SecondWriter tool = SecondWriter::inProcess();
    ASSERT_EQ(tool.writeBlock(blk::kBrightness, {30, 0}) | tool.writeBlock(blk::kBlackScreen, {1, 0}), 0);
    toolSets(100, blk::kColourRed);
    fpga->set_output_status();
    EXPECT_EQ(std::vector<int>({fpgaChip().registerValue(6), fpgaChip().registerValue(0) & 0x04}), std::vector<int>({102, 0}));
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord, 10).back(), 102);
    ASSERT_EQ(tool.apply(), 0);
    scaler->runOnce();
    tick();
    EXPECT_EQ(std::vector<int>({fpgaChip().registerValue(6), fpgaChip().registerValue(0) & 0x04}), std::vector<int>({76, 4}));
}

// At start, FPGA 0 just up, the wall shows at once the level the block shows: the record's level,
// which the block then shows, or without a record the block's percentage.
struct StartRow {
    bool record;
    uint8_t reg6;
    uint16_t percent;
};
void PrintTo(const StartRow& r, std::ostream* os) { *os << (r.record ? "record of level 100" : "no record"); }

class BrightnessAtStart : public Brightness, public ::testing::WithParamInterface<StartRow> {
protected:
    void SetUp() override
    {
        VyrRamPara::pInstance()->setU16(blk::kBrightness, 60); // as the parameter file left it
        fpgaChip().setCards(0, 1);
        if (GetParam().record)
            fpgaFlash().store(FpgaFlash::BrightnessRecord, record(16, {100}));
        Brightness::SetUp();
    }
};

TEST_P(BrightnessAtStart, WallAndBlockAgreeAtOnce)
{
    tick(20);
    EXPECT_EQ(fpgaChip().registerValue(6), GetParam().reg6);
    EXPECT_EQ(store->u16(blk::kBrightness), GetParam().percent);
}

INSTANTIATE_TEST_SUITE_P(Records, BrightnessAtStart, ::testing::Values(StartRow{true, 100, 39}, StartRow{false, 153, 60}),
                         [](const ::testing::TestParamInfo<StartRow>& info) {
                             return std::string(info.param.record ? "WithRecord" : "WithoutRecord");
                         });

// The packets the multifunction card receives, byte by byte as its wire format gives them (card
// 0x6000 behind port 6): the sensor read of 128 bytes at 0x02000000, the RAM0 read of 256 bytes
// at 0 (the relay state lies in it), and relay register writes; the last byte is the XOR check.
TEST_F(Brightness, MultifunctionPacketsAreTheCardsWireFormat)
{
    fpgaChip().setCards(6, 1);
    fpgaChip().setMultifunction(6, true);
    searchCards();
    fpga->Power_ctrl_init();
    fpga->Power_check_VMF();
    ASSERT_EQ(fpga->mf_address, 0x6000u);
    const struct {
        const char* what;
        std::function<void()> send;
        Bytes packet; // without its check byte
    } rows[] = {
        {"sensor read", [this] { fpga->Brightness_read_VMF_value(); },
         {0x00, 0x60, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61, 0x00, 0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x00}},
        {"RAM0 read", [this] { fpga->Power_read_VMF_value(); },
         {0x00, 0x60, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}},
        {"relay 6 on", [this] { fpga->Send_write_VMF_reg_cmd(0, 6); },
         {0x00, 0x60, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0xA0, 0x03, 0x0C, 0x00, 0x0C}},
        {"relay 1 off", [this] { fpga->Send_write_VMF_reg_cmd(1, 1); },
         {0x00, 0x60, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0xA0, 0x02, 0x03, 0x00, 0x01}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fpgaChip().clearPackets();
        row.send();
        const std::vector<Bytes> sent = fpgaChip().packets(6);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], sealed(row.packet));
    }
}
