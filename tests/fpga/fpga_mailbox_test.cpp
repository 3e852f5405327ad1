// Controller images and the mailbox on the simulated board: port geometry, link state, RAM check,
// control id, and the clock, on/off schedule and brightness commands with their flash records.
#include "base/bytes.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/sim_board.h"
#include "params/vyrrampara.h"
#include "second_writer.h"
#include "store_face.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using platform::Sim::FpgaFlash;
using platform::Sim::fpgaChip;
using platform::Sim::fpgaFlash;
using platform::Sim::shellSim;

class FpgaImages : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = VyrRamPara::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        fpga_manage::gpio_write(fpga->rst_fpga0, 16);
        fpgaChip().watchLines();
        fpga->MCU_REG_func[0][80] = 3;
        para = fpga->MCU_RAM_PARA_func[0];
        back = fpga->MCU_RAM_ETH_BACK_PARA_func[0];
        shellSim().clearLog();
        fpgaChip().clearLog();
        fpgaFlash().clearLog();
    }
    void TearDown() override
    {
        EXPECT_TRUE(fpgaChip().violations().empty()) << fpgaChip().violations().front();
        EXPECT_TRUE(fpgaFlash().violations().empty()) << fpgaFlash().violations().front();
        fpga_manage::clock = [] { return QDateTime::currentDateTime(); };
    }
    // A mailbox record (marker, command, store flag, payload length, payload) rung through register
    // 2; the write's answer (0 done) in `answer`.
    int answer = -1;
    void mailbox(uint8_t command, uint8_t storeFlag, const std::vector<uint8_t>& payload, uint8_t marker = 0xAA)
    {
        ASSERT_LE(payload.size() + 8, fpga_manage::kRamSize) << "a record larger than the command area";
        memset(fpga_manage::MCU_RAM_CMD, 0, fpga_manage::kRamSize);
        const uint8_t head[8] = {marker, command, storeFlag, 0, 0, 0, uint8_t(payload.size()), uint8_t(payload.size() >> 8)};
        memcpy(fpga_manage::MCU_RAM_CMD, head, 8);
        if (!payload.empty()) // an empty vector's data() may be null
            memcpy(fpga_manage::MCU_RAM_CMD + 8, payload.data(), payload.size());
        answer = fpga->write_to_register(2, 0x04, 0x04, 0);
    }
    std::vector<uint8_t> commandArea(size_t n) const
    {
        return std::vector<uint8_t>(fpga_manage::MCU_RAM_CMD, fpga_manage::MCU_RAM_CMD + n);
    }
    // The schedule's pass at that time, which the clock reads too.
    void at(uint32_t hour, uint32_t minute, uint32_t day = 1)
    {
        fpga_manage::clock = [=] { return QDateTime(QDate(2026, 12, int(day)), QTime(int(hour), int(minute))); };
        fpga->time_now.hour = uint8_t(hour);
        fpga->time_now.minute = uint8_t(minute);
        fpga->time_now.day = uint8_t(day);
        fpga->dealwith_onoff();
    }

    VyrRamPara* store = nullptr;
    fpga_manage* fpga = nullptr;
    uint8_t* para = nullptr;
    uint8_t* back = nullptr;
};

TEST_F(FpgaImages, PortGeometryAndCardCounts)
{
    uint32_t x, y, w, h;
    fpga_manage::get_eth_param_addr(3, &x, &y, &w, &h);
    EXPECT_EQ(std::vector<uint32_t>({x, y, w, h}), std::vector<uint32_t>({43, 45, 47, 49}));
    fpga_manage::get_eth_param_addr(5, &x, &y, &w, &h);
    EXPECT_EQ(x, 528u);
    fpga_manage::get_eth_param_addr(15, &x, &y, &w, &h);
    EXPECT_EQ(h, 638u);
    fpga_manage::get_eth_param_addr(16, &x, &y, &w, &h);
    EXPECT_EQ(x, 8u) << "beyond port 15: port 0";

    fpga->eth_param_init(1, 0);
    fpga_manage::get_eth_param_addr(9, &x, &y, &w, &h);
    putU16(para + x, 1000);
    putU16(para + y, 40);
    fpga->eth_param_init(0, 0);
    uint16_t minX, minY;
    uint32_t right, bottom;
    fpga->get_eth_min_x_y(0, &minX, &minY);
    fpga->get_eth_max_border(0, &right, &bottom);
    EXPECT_EQ(minX, 0);
    EXPECT_EQ(right, 2280u);
    EXPECT_EQ(bottom, 552u);

    putU16(para + 644, 7);
    EXPECT_EQ(fpga->get_port_card_num(9), 7);
    EXPECT_EQ(fpga->get_port_card_num(16), 0);
}

TEST_F(FpgaImages, LedOffsetMovesEveryPortFromItsBackup)
{
    putU16(para + 8, 100);
    putU16(para + 10, 200);
    putU16(para + 12, 640);
    putU16(para + 632, 0xFFFA); // port 15 x: the sum keeps 16 bits
    putU16(para + 60, 1);
    fpga->R58_back_mcu_set_net_para(0);
    EXPECT_EQ(getU16(back + 4), 100);
    EXPECT_EQ(getU16(back + 124), 0xFFFA);
    store->setU16(0x566, 10);
    store->setU16(0x568, 20);
    fpga->R58_mcu_set_net_para(0);
    fpga->R58_mcu_set_net_para(0);
    EXPECT_EQ(getU16(para + 8), 110) << "always from the backup, never cumulative";
    EXPECT_EQ(getU16(para + 10), 220);
    EXPECT_EQ(getU16(para + 12), 640) << "widths stay";
    EXPECT_EQ(getU16(para + 632), 4);
    EXPECT_EQ(getU16(para + 60), 11);
    EXPECT_EQ(getU16(para + 62), 20);
}

TEST_F(FpgaImages, LinkDropClearsThePortInTheImageAndTheFpga)
{
    fpgaChip().setCards(2, 1);
    fpgaChip().setCards(9, 3);
    para[96] = 0xFF;
    putU16(para + 644, 3);
    para[646] = 1;
    fpgaChip().setRam(1, 644, {3, 0, 1});
    fpga->update_eth_state(0);
    EXPECT_EQ(para[96], 0xEC) << "port 2 in bit 3, bits 2 and 5-7 kept";
    EXPECT_EQ(para[513], 0x02);
    EXPECT_EQ(fpgaChip().ram(1, 96, 1), std::vector<uint8_t>{0xEC});
    EXPECT_EQ(fpga->get_port_card_num(9), 3);

    fpgaChip().setLinked(9, false);
    fpga->update_eth_state(0);
    EXPECT_EQ(para[513], 0);
    EXPECT_EQ(fpga->get_port_card_num(9), 0);
    EXPECT_EQ(para[646], 0);
    EXPECT_EQ(fpgaChip().ram(1, 644, 3), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(fpgaChip().ram(1, 513, 1), std::vector<uint8_t>{0});
}

TEST_F(FpgaImages, RamCheckComparesPortsAndEntries)
{
    fpga->eth_param_init(1, 0);
    for (uint32_t i = 296; i < 360; ++i)
        para[i] = uint8_t(i);
    fpgaChip().setRam(1, 0, std::vector<uint8_t>(para, para + fpga_manage::kRamSize));
    EXPECT_EQ(fpga->check_fpga_ram_param(0), 1);
    fpgaChip().setRamCheckMismatch(true);
    EXPECT_EQ(fpga->check_fpga_ram_param(0), 0);
    fpgaChip().setRamCheckMismatch(false);
    para[359] ^= 1;
    EXPECT_EQ(fpga->check_fpga_ram_param(0), 0);
}

TEST_F(FpgaImages, ControlIdAndIdentityBytes)
{
    fpgaFlash().setUniqueId({0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87});
    ASSERT_EQ(fpga->get_control_uid(0), 0);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(fpgaChip().registerValue(32 + i), 0x10 + 0x11 * i);
    EXPECT_TRUE(fpgaChip().registerWrites(40).empty()) << "only 8 id bytes";
    EXPECT_EQ(fpga->control_uid[8], 0);
    // CRC-32, reflected 0xEDB88320, initial 0, no final XOR, over id and 8 zeros.
    uint32_t crc = 0;
    for (uint8_t b : fpga->control_uid) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (crc & 1 ? 0xEDB88320u : 0);
    }
    EXPECT_EQ(fpga->control_id, crc);

    fpgaChip().setIdentity(0x30);
    fpga->FPGA_to_RAM(0);
    EXPECT_EQ(commandArea(16), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x16, 0x08, 0x10, 0x30}));
}

TEST_F(FpgaImages, MailboxWithoutMarkerIsIgnored)
{
    mailbox(1, 0, {0x24, 0x20, 0x05, 0x01, 0x09, 0x30, 0x00}, 0x55);
    mailbox(2, 0xAA, {1, 0x08, 0x00, 0x20, 0x00}, 0x00);
    EXPECT_TRUE(shellSim().commands().empty());
    EXPECT_TRUE(fpgaFlash().log().empty());
    EXPECT_EQ(fpga->onoff.count, 0);
}

// The doorbell's answer says whether the clock was set: a date the board's 32-bit clock cannot
// hold, or one date refuses, is no success, and the hardware clock is written only after date.
TEST_F(FpgaImages, ClockCommandSetsTheClockThroughTheShellOnly)
{
    const std::vector<std::string> set = {"date \"2024-5-1 9:30:0\"", "hwclock -wu"};
    const struct {
        const char* what;
        std::vector<uint8_t> payload;
        const char* failing; // shell command that fails, or none
        int answer;
        std::vector<std::string> commands;
    } rows[] = {
        {"2024-5-1 9:30:0", {0x24, 0x20, 0x05, 0x01, 0x09, 0x30, 0x00}, nullptr, 0, set},
        {"month 13", {0x24, 0x20, 0x13, 0x01, 0x09, 0x30, 0x00}, nullptr, 1, {}},
        {"not BCD", {0x24, 0x20, 0x05, 0x01, 0x1A, 0x30, 0x00}, nullptr, 1, {}},
        {"30 February", {0x24, 0x20, 0x02, 0x30, 0x09, 0x30, 0x00}, nullptr, 1, {}},
        {"1969", {0x69, 0x19, 0x12, 0x31, 0x23, 0x59, 0x59}, nullptr, 1, {}},
        {"1970", {0x70, 0x19, 0x01, 0x01, 0x00, 0x00, 0x00}, nullptr, 0, {"date \"1970-1-1 0:0:0\"", "hwclock -wu"}},
        {"2038", {0x38, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00}, nullptr, 1, {}},
        {"date refuses", {0x24, 0x20, 0x05, 0x01, 0x09, 0x30, 0x00}, "date ", 1, {set[0]}},
        {"hwclock fails", {0x24, 0x20, 0x05, 0x01, 0x09, 0x30, 0x00}, "hwclock", 1, set},
        {"no second", {0x24, 0x20, 0x05, 0x01, 0x09, 0x30}, nullptr, 1, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        shellSim().clearScripts();
        if (row.failing)
            shellSim().script(row.failing, 1);
        shellSim().clearLog();
        mailbox(1, 0, row.payload);
        EXPECT_EQ(answer, row.answer);
        EXPECT_EQ(shellSim().commands(), row.commands);
    }
    shellSim().clearScripts();
}

// The clock read gives the local date and time as numbers; a clock that cannot be read leaves the
// fields as they were, the weekday is never touched.
TEST_F(FpgaImages, ClockReadGivesTheDateAndTimeFields)
{
    struct Row {
        QDateTime clock;
        TimeRealType fields; // second, minute, hour, day, weekday, month, year
    };
    const TimeRealType untouched = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A5A};
    const Row rows[] = {
        {QDateTime(QDate(2026, 12, 9), QTime(23, 59, 58)), {58, 59, 23, 9, 0x5A, 12, 2026}},
        {QDateTime(QDate(2000, 2, 29), QTime(0, 0, 0)), {0, 0, 0, 29, 0x5A, 2, 2000}},
        {QDateTime(QDate(999, 1, 1), QTime(12, 0, 7)), {7, 0, 12, 1, 0x5A, 1, 999}},
        {QDateTime(), untouched},
    };
    const auto localTime = fpga_manage::clock;
    for (const Row& row : rows) {
        fpga_manage::clock = [&row] { return row.clock; };
        TimeRealType got = untouched;
        EXPECT_EQ(fpga->IT8563WE_Get(&got), 0);
        EXPECT_EQ(std::vector<int>({got.year, got.month, got.day, got.hour, got.minute, got.second, got.weekday}),
                  std::vector<int>({row.fields.year, row.fields.month, row.fields.day, row.fields.hour,
                                    row.fields.minute, row.fields.second, row.fields.weekday}))
            << row.clock.toString(Qt::ISODate).toStdString();
    }
    fpga_manage::clock = localTime;
}

TEST_F(FpgaImages, OnOffCommandTakesFourEntriesStoresAndErases)
{
    std::vector<uint8_t> payload = {7};
    for (int i = 0; i < 7; ++i)
        payload.insert(payload.end(), {0x08, uint8_t(0x10 * i), 0x22, 0x45});
    mailbox(2, 0xAA, payload);
    EXPECT_EQ(answer, 0);
    const std::vector<uint8_t> record = commandArea(8 + payload.size());
    EXPECT_EQ(fpga->onoff.count, 4);
    EXPECT_EQ(fpga->onoff.entry[3].on_minute, 30) << "BCD 0x30 taken as 30";
    EXPECT_EQ(fpga->onoff.entry[3].off_hour, 22);
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::OnOffRecord, record.size()), record);
    EXPECT_EQ(fpga->MCU_REG_func[0][66], 1);

    // A record in the flash comes back at the next initialisation (two entries, 06:15-23:59).
    std::vector<uint8_t> stored = {0xAA, 2, 0xAA, 0, 0, 0, 9, 0, 2, 0x06, 0x15, 0x23, 0x59, 0x07, 0x00, 0x08, 0x00};
    stored.resize(50, 0);
    fpgaFlash().store(FpgaFlash::OnOffRecord, stored);
    fpga->onoff = OnOffSchedule{};
    fpga->record_onoff_time(2);
    EXPECT_EQ(fpga->onoff.count, 2);
    EXPECT_EQ(fpga->onoff.entry[0].on_minute, 15);
    EXPECT_EQ(fpga->onoff.entry[0].off_hour, 23);
    EXPECT_EQ(fpga->onoff.entry[1].on_hour, 7);

    // A length beyond the command area is not a command, nor a record the flash did not take.
    fpgaFlash().clearLog();
    memcpy(fpga_manage::MCU_RAM_CMD, "\xAA\x02\x55\0\0\0\xF9\x03", 8); // 1017 + 8 bytes
    EXPECT_EQ(fpga->write_to_register(2, 0x04, 0x04, 0), 1);
    EXPECT_TRUE(fpgaFlash().log().empty());
    // Nor an entry that is no time of day (hour 24, minute 60, not BCD), nor a record shorter than
    // what it claims (entries, 48 half-hour levels, a level, a mode): the ones in force stay.
    const std::pair<uint8_t, std::vector<uint8_t>> refused[] = {
        {2, {1, 0x24, 0x00, 0x08, 0x00}}, {2, {2, 0x06, 0x00, 0x08, 0x00, 0x07, 0x00, 0x08, 0x60}},
        {2, {1, 0x06, 0x0A, 0x08, 0x00}}, {2, {2, 0x06, 0x00, 0x08, 0x00}}, {2, {}},
        {3, std::vector<uint8_t>(48, 1)}, {3, {0x10}}, {3, {}}};
    for (const auto& record : refused) {
        mailbox(record.first, 0xAA, record.second);
        EXPECT_EQ(answer, 1) << int(record.first) << ", " << record.second.size() << " bytes";
    }
    EXPECT_TRUE(fpgaFlash().log().empty());
    EXPECT_EQ(fpga->onoff.count, 2);
    EXPECT_EQ(fpga->onoff.entry[1].on_hour, 7);
    fpgaFlash().failProgramsAt(FpgaFlash::OnOffRecord, 3);
    mailbox(2, 0xAA, {0});
    EXPECT_EQ(answer, 1);
    fpgaFlash().failProgramsAt(0, 0);
    EXPECT_EQ(fpga->MCU_REG_func[0][66], 1);

    mailbox(2, 0x55, {0});
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::OnOffRecord, 64), std::vector<uint8_t>(64, 0xFF));
    EXPECT_EQ(fpga->MCU_REG_func[0][66], 0);
}

TEST_F(FpgaImages, ScheduleFiresOncePerDayAtBinaryTimes)
{
    mailbox(2, 0, {1, 0x10, 0x30, 0x22, 0x05});
    at(8, 0);
    fpgaChip().clearLog();
    fpga->write_to_register(0, 0x04, 0x04, 0);
    at(10, 30);
    EXPECT_EQ(fpgaChip().registerValue(0) & 0x04, 0) << "10:30 shows the wall";
    EXPECT_EQ(fpga->onoff.state, 0);
    fpga->write_to_register(0, 0x04, 0x04, 0);
    at(10, 30);
    EXPECT_EQ(fpgaChip().registerValue(0) & 0x04, 0x04) << "once per day";
    at(22, 5);
    EXPECT_EQ(fpga->onoff.state, 1);
    EXPECT_EQ(fpgaChip().registerValue(0) & 0x04, 0x04);
    at(10, 30, 2);
    at(10, 30, 2);
    EXPECT_EQ(fpgaChip().registerValue(0) & 0x04, 0) << "re-armed on the next day";
}

// At a start, a clock set (group 0x87 or the mailbox) and a load the wall takes the state of the
// schedule's last event before now, yesterday's when none came today; later events still fire.
TEST_F(FpgaImages, ScheduleStateIsTakenAtStartClockSetAndLoad)
{
    const std::vector<uint8_t> schedule = {2, 0x10, 0x30, 0x10, 0x00, 0x06, 0x00, 0x23, 0x00};
    mailbox(2, 0xAA, schedule); // shows 06:00 and 10:30, blanks 10:00 and 23:00
    SecondWriter tool = SecondWriter::inProcess();
    const std::function<void(const Bytes&)> ways[] = {
        [&](const Bytes&) { fpga->record_onoff_time(2); }, [&](const Bytes&) { mailbox(2, 0, schedule); },
        [&](const Bytes& bcd) { mailbox(1, 0, bcd); }, [&](const Bytes& bcd) { tool.request(0x87, bcd); }};
    const int rows[][3] = {{0, 30, 1}, {5, 59, 1}, {6, 0, 0}, {9, 59, 0}, {10, 0, 1}, {10, 29, 1}, {10, 30, 0}, {22, 59, 0}, {23, 0, 1}};
    for (const auto& row : rows)
        for (const auto& way : ways) {
            fpga->write_to_register(0, 0x04, row[2] ? 0 : 0x04, 0); // the other state
            way({0x26, 0x20, 0x12, 0x07, uint8_t(row[0] / 10 * 16 + row[0] % 10), uint8_t(row[1] / 10 * 16 + row[1] % 10), 0});
            at(row[0], row[1], 7);
            EXPECT_EQ(std::make_pair(fpgaChip().registerValue(0) & 0x04, int(store->u16(blk::kBlackScreen))), std::make_pair(row[2] * 4, row[2]))
                << row[0] << ":" << row[1] << ", way " << &way - ways;
        }
    ways[3]({0x26, 0x20, 0x12, 0x07, 0x09, 0x00, 0}); // set back from 23:00: today's 10:00 and 10:30 come again
    at(9, 0, 7);
    for (const int minute : {0, 30}) {
        at(10, minute, 7);
        EXPECT_EQ(fpgaChip().registerValue(0) & 0x04, minute ? 0 : 0x04);
    }
}

TEST_F(FpgaImages, ManualBrightnessAppliesTheLevelAndStoresTheRecord)
{
    fpgaChip().setCards(0, 1);
    mailbox(3, 0xAA, {0x00, 8});
    EXPECT_EQ(fpga->MCU_REG_func[0][64], 8);
    EXPECT_EQ(fpgaChip().registerValue(6), 127);
    EXPECT_EQ(fpgaChip().registerValue(3) & 0x04, 0x04);
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord, 10), commandArea(10));
    EXPECT_EQ(fpga->bri_reload.load(), 1u);

    mailbox(3, 0, {0x00, 40}); // levels stop at 16
    EXPECT_EQ(fpga->MCU_REG_func[0][64], 16);
    EXPECT_EQ(fpgaChip().registerValue(6), 255);
    EXPECT_EQ(testBlock(store)[0x880], 100);
    mailbox(3, 0, {0x10, 40}); // mode 16 is manual too (bit 4 dropped), its level raw as its record's
    EXPECT_EQ(fpga->MCU_REG_func[0][64], 40);
    EXPECT_EQ(fpgaChip().registerValue(6), 40);
    EXPECT_EQ(testBlock(store)[0x880], 16);
}

TEST_F(FpgaImages, TableBrightnessOnlyStoresOrErasesTheRecord)
{
    fpga->bri_fail_count = 5;
    std::vector<uint8_t> payload = {0x01};
    payload.insert(payload.end(), 48, 9);
    mailbox(3, 0xAA, payload);
    const std::vector<uint8_t> first = commandArea(57);
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord, 57), first);
    EXPECT_EQ(fpga->bri_reload.load(), 1u);
    EXPECT_EQ(fpga->bri_fail_count.load(), 0u);
    EXPECT_TRUE(fpgaChip().registerWrites(6).empty());
    std::vector<uint8_t> table = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 0x11};
    for (int i = 0; i < 48; ++i)
        table.push_back(uint8_t(i));
    fpgaFlash().store(FpgaFlash::BrightnessRecord, table); // as a later start finds it
    fpga->record_bright_change();
    EXPECT_EQ(fpga->bri_mode, 17u);
    EXPECT_EQ(fpga->HalfHourValue[47], 47);
    fpgaFlash().store(FpgaFlash::BrightnessRecord, first);

    fpgaFlash().clearLog();
    mailbox(3, 0xAA, payload);
    EXPECT_TRUE(fpgaFlash().logOf(0x20).empty()) << "the same record is not written again";
    mailbox(3, 0x55, payload);
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord, 57), std::vector<uint8_t>(57, 0xFF));
}

TEST_F(FpgaImages, BlockBrightnessIsClampedAndBecomesARawRecord)
{
    fpgaChip().setCards(0, 1);
    store->setU16(0x880, 150);
    fpga->bri_request = 1;
    fpga->Brightness_hand_dealwith(1);
    EXPECT_EQ(fpgaChip().registerValue(6), 255);
    std::vector<uint8_t> record = {0xAA, 0x03, 0xAA, 0, 0, 0, 0x31, 0, 0x10};
    record.insert(record.end(), 48, 255);
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord, 57), record);
    EXPECT_EQ(fpga->bri_mode, 16u) << "the loaded mode follows the stored record";
}

TEST_F(FpgaImages, RecordsAreReadBackAndStayInTheirSector)
{
    const std::vector<uint8_t> data(100, 0x42);
    EXPECT_FALSE(fpga->store_flash_record(0x6CDFC0, data.data(), 100)) << "would cross into sector 1742";
    EXPECT_TRUE(fpgaFlash().log().empty());
    fpgaFlash().setStuckBusy(true);
    EXPECT_FALSE(fpga->store_flash_record(0x6CD000, data.data(), 100));
    fpgaFlash().setStuckBusy(false);
    fpgaFlash().clearViolations();
    EXPECT_TRUE(fpga->store_flash_record(0x6CD000, data.data(), 100));
    EXPECT_EQ(fpgaFlash().read(0x6CD000, 100), data);
}
