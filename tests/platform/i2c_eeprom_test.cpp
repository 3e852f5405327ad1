#include "platform/i2c_bus.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <vector>

using platform::I2cMsg;
using platform::Sim::EdidEeprom;
using platform::Sim::i2cBoard;

namespace {

constexpr uint32_t ProtectWord = platform::Sim::FpgaChip::WindowBase + 0x207948;

// Input 3's EEPROM selected and writable, on the manual bus clock.
class Eeprom : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus_ = platform::openI2cBus(0);
        i2cBoard().setManualClock(true);
        platform::Sim::memSim().write16(ProtectWord, 0);
        ASSERT_TRUE(write(0x40, {0x00}));
        ASSERT_TRUE(write(0xE0, {0x08}));
    }
    bool write(uint8_t addr8, std::vector<uint8_t> bytes)
    {
        I2cMsg m{uint16_t(addr8 >> 1), 0, uint16_t(bytes.size()), bytes.data()};
        return bus_->transfer(&m, 1) == 1;
    }
    bool read(uint8_t offset, std::vector<uint8_t>* out, size_t len)
    {
        out->assign(len, 0);
        I2cMsg m[2] = {{0xA0 >> 1, 0, 1, &offset}, {0xA0 >> 1, I2cMsg::Read, uint16_t(len), out->data()}};
        return bus_->transfer(m, 2) == 2;
    }
    std::array<uint8_t, 256> contents() const { return i2cBoard().eepromContents(3); }
    EdidEeprom& chip() { return i2cBoard().eeprom(3); }

    std::unique_ptr<platform::I2cBus> bus_;
};

TEST_F(Eeprom, PageWriteWrapsInsideItsPage)
{
    struct Case {
        uint8_t offset;
        size_t count;
        std::vector<int> where; // where byte k of the write lands
    };
    const Case cases[] = {
        {0x00, 8, {0, 1, 2, 3, 4, 5, 6, 7}},
        {0x0C, 8, {0x0C, 0x0D, 0x0E, 0x0F, 0x08, 0x09, 0x0A, 0x0B}},
        {0xFE, 3, {0xFE, 0xFF, 0xF8}},
        {0x10, 10, {0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x10, 0x11}}, // bytes 0-1 overwritten by 8-9
        {0x33, 1, {0x33}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.offset));
        chip().erase();
        std::vector<uint8_t> msg = {c.offset};
        for (size_t k = 0; k < c.count; ++k)
            msg.push_back(uint8_t(0x80 + k));
        ASSERT_TRUE(write(0xA0, msg));
        i2cBoard().advanceUs(EdidEeprom::DefaultWriteCycleUs);
        std::array<uint8_t, 256> expected;
        expected.fill(0xFF);
        const size_t skipped = c.count - c.where.size();
        for (size_t k = 0; k < c.where.size(); ++k)
            expected[c.where[k]] = uint8_t(0x80 + skipped + k);
        EXPECT_EQ(contents(), expected);
    }
    EXPECT_EQ(chip().pageWrites(), 5);
}

TEST_F(Eeprom, SequentialReadRunsOnAndWrapsAt256)
{
    std::array<uint8_t, 256> bytes;
    for (int i = 0; i < 256; ++i)
        bytes[i] = uint8_t(i ^ 0xA5);
    chip().setContents(bytes);
    std::vector<uint8_t> got;
    ASSERT_TRUE(read(0xFC, &got, 8));
    EXPECT_EQ(got, (std::vector<uint8_t>{bytes[252], bytes[253], bytes[254], bytes[255], bytes[0], bytes[1], bytes[2], bytes[3]}));
    I2cMsg more{0xA0 >> 1, I2cMsg::Read, 2, got.data()}; // a read alone goes on from the pointer
    ASSERT_EQ(bus_->transfer(&more, 1), 1);
    EXPECT_EQ(got[0], bytes[4]);
    EXPECT_EQ(got[1], bytes[5]);
}

TEST_F(Eeprom, WriteCycleRefusesEveryAccessUntilItEnds)
{
    ASSERT_TRUE(write(0xA0, {0x20, 1, 2, 3, 4, 5, 6, 7, 8}));
    std::vector<uint8_t> got;
    EXPECT_FALSE(read(0x20, &got, 8)) << "read during the write cycle";
    EXPECT_FALSE(write(0xA0, {0x28, 9, 9, 9, 9, 9, 9, 9, 9})) << "page write during the write cycle";
    i2cBoard().advanceUs(EdidEeprom::DefaultWriteCycleUs - 1);
    EXPECT_FALSE(write(0xA0, {})) << "still busy 1 us before the end";
    EXPECT_EQ(chip().busyRefusals(), 3);
    EXPECT_EQ(chip().refusedPageWrites(), 1);
    i2cBoard().advanceUs(1);
    ASSERT_TRUE(read(0x20, &got, 16));
    EXPECT_EQ(got, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}))
        << "the refused page was written";
    EXPECT_EQ(chip().pageWrites(), 1);
    EXPECT_EQ(i2cBoard().nacks(), 3);
    EXPECT_TRUE(chip().violations().empty()) << "refusals in the write cycle are not breaches";
}

// The bus reads its clock only for chips that keep time; a transfer that first reaches the
// switch (no timing) still starts the EEPROM's cycle at the bus time of its end.
TEST_F(Eeprom, CycleKeepsTheBusClockWhateverChipTheTransferReachesFirst)
{
    struct Row {
        const char* name;
        bool switchFirst;
        uint32_t waitedUs;
        bool answers;
    };
    const Row rows[] = {
        {"EEPROM alone, 1 us early", false, EdidEeprom::DefaultWriteCycleUs - 1, false},
        {"EEPROM alone, on time", false, EdidEeprom::DefaultWriteCycleUs, true},
        {"after the switch, 1 us early", true, EdidEeprom::DefaultWriteCycleUs - 1, false},
        {"after the switch, on time", true, EdidEeprom::DefaultWriteCycleUs, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        i2cBoard().advanceUs(1000000); // one second on: any earlier cycle is over
        uint8_t channel = 0x08;
        uint8_t page[9] = {0x30, 1, 2, 3, 4, 5, 6, 7, 8};
        I2cMsg both[2] = {{0xE0 >> 1, 0, 1, &channel}, {0xA0 >> 1, 0, sizeof page, page}};
        ASSERT_EQ(bus_->transfer(row.switchFirst ? both : both + 1, row.switchFirst ? 2 : 1), row.switchFirst ? 2 : 1);
        i2cBoard().advanceUs(row.waitedUs);
        EXPECT_EQ(write(0xA0, {}), row.answers);
    }
}

TEST_F(Eeprom, AcknowledgePollingFindsTheEndOfTheCycle)
{
    chip().setWriteCycleUs(3000);
    for (uint8_t page = 0; page < 4; ++page) {
        ASSERT_TRUE(write(0xA0, {uint8_t(page * 8), page, page, page, page, page, page, page, page}));
        int polls = 0;
        while (!write(0xA0, {}) && polls < 100) { // empty write: address only
            ++polls;
            i2cBoard().advanceUs(500);
        }
        EXPECT_EQ(polls, 6) << int(page);
    }
    std::vector<uint8_t> got;
    ASSERT_TRUE(read(0, &got, 32));
    for (size_t i = 0; i < 32; ++i)
        EXPECT_EQ(got[i], i / 8) << i;
}

TEST_F(Eeprom, WriteProtectLineRefusesAndRecordsTheWrite)
{
    struct Case {
        uint8_t expander;
        uint16_t word;
        bool writable;
    };
    const Case cases[] = {{0x01, 0, false}, {0x00, 16, false}, {0xFD, 16, false}, {0xFC, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.expander) * 100 + c.word);
        chip().erase();
        chip().clearViolations();
        ASSERT_TRUE(write(0x40, {c.expander}));
        platform::Sim::memSim().write16(ProtectWord, c.word);
        EXPECT_TRUE(write(0xA0, {0x40, 0x11, 0x22})) << "data is acknowledged either way";
        EXPECT_EQ(contents()[0x40], c.writable ? 0x11 : 0xFF);
        EXPECT_EQ(chip().violations().size(), c.writable ? 0u : 1u);
        // A refused write starts no write cycle.
        EXPECT_EQ(write(0xA0, {}), !c.writable);
        i2cBoard().advanceUs(EdidEeprom::DefaultWriteCycleUs);
    }
    EXPECT_EQ(chip().protectedWrites(), 3);
    EXPECT_EQ(chip().pageWrites(), 1);
    i2cBoard().clearViolations();
}

TEST(EepromClock, RealTimeCycleEndsOnItsOwn)
{
    auto bus = platform::openI2cBus(0);
    platform::Sim::memSim().write16(ProtectWord, 0);
    uint8_t off = 0x00, sel = 0x01;
    uint8_t page[3] = {0x08, 0xAB, 0xCD};
    I2cMsg setup[2] = {{0x40 >> 1, 0, 1, &off}, {0xE0 >> 1, 0, 1, &sel}};
    ASSERT_EQ(bus->transfer(setup, 2), 2);
    i2cBoard().eeprom(0).setWriteCycleUs(2000);
    I2cMsg w{0xA0 >> 1, 0, 3, page};
    const uint64_t start = i2cBoard().nowUs();
    ASSERT_EQ(bus->transfer(&w, 1), 1);
    I2cMsg poll{0xA0 >> 1, 0, 0, nullptr};
    while (bus->transfer(&poll, 1) != 1)
        ASSERT_LT(i2cBoard().nowUs() - start, 1000000u) << "write cycle never ended";
    EXPECT_GE(i2cBoard().nowUs() - start, 2000u);
    EXPECT_EQ(i2cBoard().eepromContents(0)[8], 0xAB);
    EXPECT_EQ(i2cBoard().eepromContents(0)[9], 0xCD);
}

}
