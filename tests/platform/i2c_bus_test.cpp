#include "platform/i2c_bus.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <vector>

using platform::I2cMsg;
using platform::Sim::ClockSynth;
using platform::Sim::EdidEeprom;
using platform::Sim::I2cBoard;
using platform::Sim::i2cBoard;

namespace {

// The bus as the program opens it; addresses are given by their 8-bit names.
class Bus {
public:
    Bus() : bus_(platform::openI2cBus(0)) {}
    bool write(uint8_t addr8, std::vector<uint8_t> bytes)
    {
        I2cMsg m{uint16_t(addr8 >> 1), 0, uint16_t(bytes.size()), bytes.data()};
        return bus_->transfer(&m, 1) == 1;
    }
    // Register read as the wrapper does it: one-byte write, then a read, in one transfer.
    bool read(uint8_t addr8, uint8_t reg, std::vector<uint8_t>* out, size_t len)
    {
        out->assign(len, 0);
        I2cMsg m[2] = {{uint16_t(addr8 >> 1), 0, 1, &reg},
                       {uint16_t(addr8 >> 1), I2cMsg::Read, uint16_t(len), out->data()}};
        return bus_->transfer(m, 2) == 2;
    }
    int raw(I2cMsg* m, size_t n) { return bus_->transfer(m, n); }

private:
    std::unique_ptr<platform::I2cBus> bus_;
};

// A chip that answers every access, standing in for a receiver behind the 0xEE switch.
class Probe : public platform::Sim::I2cDevice {
public:
    bool write(const uint8_t*, size_t, uint64_t) override { return ++writes, true; }
    bool read(uint8_t* d, size_t n, uint64_t) override
    {
        for (size_t i = 0; i < n; ++i)
            d[i] = 0x5A;
        return true;
    }
    void reset() override {}
    int writes = 0;
};

TEST(I2cBus, EachInputsEepromAnswersOnlyOnItsOwnChannel)
{
    Bus bus;
    for (int i = 0; i < I2cBoard::Inputs; ++i) {
        std::array<uint8_t, EdidEeprom::Size> mark{};
        mark.fill(uint8_t(0x10 + i));
        i2cBoard().eeprom(i).setContents(mark);
    }
    const uint8_t channels[I2cBoard::Inputs] = {0x01, 0x02, 0x04, 0x08, 0x20, 0x10};
    for (int i = 0; i < I2cBoard::Inputs; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(bus.write(0xE0, {channels[i]}));
        std::vector<uint8_t> got;
        ASSERT_TRUE(bus.read(0xA0, 0x40, &got, 8));
        EXPECT_EQ(got, std::vector<uint8_t>(8, uint8_t(0x10 + i)));
        EXPECT_FALSE(bus.read(0xD0, 0, &got, 1)) << "synthesiser off its channel";
    }
    ASSERT_TRUE(bus.write(0xE0, {0x80}));
    std::vector<uint8_t> got;
    EXPECT_FALSE(bus.read(0xA0, 0, &got, 1)) << "no EEPROM on the synthesiser's channel";
    EXPECT_TRUE(bus.read(0xD0, 0, &got, 1));
    ASSERT_TRUE(bus.write(0xE0, {0x00}));
    EXPECT_FALSE(bus.read(0xD0, 0, &got, 1));
    EXPECT_FALSE(bus.read(0xA0, 0, &got, 1));
    EXPECT_TRUE(i2cBoard().violations().empty());
}

TEST(I2cBus, SwitchReadsBackItsControlByteAndLogsChannelsInForce)
{
    Bus bus;
    auto probe = std::make_shared<Probe>();
    i2cBoard().attachBehind(I2cBoard::ReceiverSwitch, 0x04, 0x94 >> 1, probe);
    std::vector<uint8_t> got;
    EXPECT_FALSE(bus.read(0x94, 0, &got, 1));
    ASSERT_TRUE(bus.write(0xEE, {0x02}));
    EXPECT_FALSE(bus.read(0x94, 0, &got, 1));
    ASSERT_TRUE(bus.write(0xEE, {0x04}));
    ASSERT_TRUE(bus.read(0x94, 0, &got, 1));
    EXPECT_EQ(got[0], 0x5A);
    ASSERT_TRUE(bus.read(0xEE, 0, &got, 1)); // the written register byte becomes the control byte
    EXPECT_EQ(got[0], 0);
    ASSERT_TRUE(bus.write(0xEE, {0x04}));
    I2cMsg m{0xEE >> 1, I2cMsg::Read, 1, got.data()};
    ASSERT_EQ(bus.raw(&m, 1), 1);
    EXPECT_EQ(got[0], 0x04);
    EXPECT_EQ(i2cBoard().receiverSwitch().selection(), 0x04);
    EXPECT_EQ(i2cBoard().receiverSwitch().writes(), (std::vector<uint8_t>{0x02, 0x04, 0x00, 0x04}));

    const auto log = i2cBoard().logOf(0x94 >> 1);
    ASSERT_EQ(log.size(), 4u); // refused once, refused once more, then a write and a read
    EXPECT_FALSE(log[0].acknowledged);
    EXPECT_EQ(log[0].receiverChannels, 0x00);
    EXPECT_EQ(log[1].receiverChannels, 0x02);
    EXPECT_TRUE(log[3].acknowledged);
    EXPECT_TRUE(log[3].read);
    EXPECT_EQ(log[3].receiverChannels, 0x04);
    i2cBoard().detach(probe.get());
}

TEST(I2cBus, RefusedAddressEndsTheTransferThere)
{
    Bus bus;
    uint8_t first = 0x01, second = 0x02, reg = 0;
    I2cMsg m[3] = {{0xE0 >> 1, 0, 1, &first}, {0x90 >> 1, 0, 1, &reg}, {0xE0 >> 1, 0, 1, &second}};
    errno = 0;
    EXPECT_EQ(bus.raw(m, 3), -1);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(i2cBoard().edidSwitch().selection(), 0x01) << "messages after the refusal ran";
    EXPECT_EQ(i2cBoard().nacks(), 1);
    EXPECT_EQ(i2cBoard().log().size(), 2u);

    i2cBoard().expander().setPresent(false); // a missing chip
    EXPECT_FALSE(bus.write(0x40, {0x01}));
    EXPECT_EQ(i2cBoard().expander().value(), 0xFF);
    EXPECT_EQ(platform::openI2cBus(1), nullptr);
    i2cBoard().setOpenFails(true);
    EXPECT_EQ(platform::openI2cBus(0), nullptr);
}

TEST(I2cBus, TwoChipsAnsweringOneAddressIsABreach)
{
    Bus bus;
    ASSERT_TRUE(bus.write(0xE0, {0x03}));
    uint8_t got = 0;
    I2cMsg m{0xA0 >> 1, I2cMsg::Read, 1, &got};
    bus.raw(&m, 1);
    const auto v = i2cBoard().violations();
    i2cBoard().clearViolations();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_NE(v[0].find("0xA0"), std::string::npos) << v[0];
}

// One address behind both switches: a chip answers only while its own switch selects its channel
// and it is fitted; two answering at once is a breach.
TEST(I2cBus, ChipAnswersOnlyBehindItsSelectedChannelAndWhenFitted)
{
    struct Row {
        uint8_t receiverChannels, edidChannels;
        bool receiverChipFitted, edidChipFitted;
        int answering; // 0 none, 1 the receiver-side chip, 2 the EDID-side chip, 3 both
    };
    const Row rows[] = {
        {0x04, 0x00, true, true, 1},  {0x00, 0x02, true, true, 2},  {0x04, 0x02, true, true, 3},
        {0x04, 0x02, false, true, 2}, {0x04, 0x02, true, false, 1}, {0x04, 0x02, false, false, 0},
        {0x08, 0x01, true, true, 0},  {0xFF, 0xFF, true, true, 3},
    };
    Bus bus;
    auto onReceiverSide = std::make_shared<Probe>();
    auto onEdidSide = std::make_shared<Probe>();
    i2cBoard().attachBehind(I2cBoard::ReceiverSwitch, 0x04, 0x94 >> 1, onReceiverSide);
    i2cBoard().attachBehind(I2cBoard::EdidSwitch, 0x02, 0x94 >> 1, onEdidSide);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(row.receiverChannels) << "/" << int(row.edidChannels)
                                        << " fitted " << row.receiverChipFitted << row.edidChipFitted);
        ASSERT_TRUE(bus.write(0xEE, {row.receiverChannels}));
        ASSERT_TRUE(bus.write(0xE0, {row.edidChannels}));
        onReceiverSide->setPresent(row.receiverChipFitted);
        onEdidSide->setPresent(row.edidChipFitted);
        onReceiverSide->writes = onEdidSide->writes = 0;
        i2cBoard().clearViolations();
        EXPECT_EQ(bus.write(0x94, {0x00}), row.answering != 0);
        const int first = row.answering == 3 ? 1 : row.answering; // the first wire fitted takes the data
        EXPECT_EQ(onReceiverSide->writes, first == 1 ? 1 : 0);
        EXPECT_EQ(onEdidSide->writes, first == 2 ? 1 : 0);
        EXPECT_EQ(i2cBoard().violations().size(), row.answering == 3 ? 1u : 0u);
    }
    i2cBoard().clearViolations();
    i2cBoard().detach(onReceiverSide.get());
    i2cBoard().detach(onEdidSide.get());
    ASSERT_TRUE(bus.write(0xEE, {0x00}));
    ASSERT_TRUE(bus.write(0xE0, {0x00}));
}

TEST(I2cBus, ExpanderKeepsAndLogsItsByte)
{
    Bus bus;
    std::vector<uint8_t> got;
    ASSERT_TRUE(bus.read(0x40, 0x21, &got, 1)); // the register byte is the output byte
    EXPECT_EQ(got[0], 0x21);
    ASSERT_TRUE(bus.write(0x40, {0x01}));
    ASSERT_TRUE(bus.write(0x40, {0x20}));
    EXPECT_EQ(i2cBoard().expander().value(), 0x20);
    EXPECT_EQ(i2cBoard().expander().writes(), (std::vector<uint8_t>{0x21, 0x01, 0x20}));

    // A board polled for ever keeps its newest writes only, in order.
    const size_t more = platform::Sim::ByteLatch::LogLimit;
    for (size_t i = 0; i < more; ++i) {
        const uint8_t b = uint8_t(i * 7);
        i2cBoard().expander().write(&b, 1, 0);
    }
    const std::vector<uint8_t> log = i2cBoard().expander().writes();
    ASSERT_LE(log.size(), platform::Sim::ByteLatch::LogLimit);
    ASSERT_GE(log.size(), platform::Sim::ByteLatch::LogLimit / 2);
    for (size_t k = 1; k <= log.size(); ++k)
        ASSERT_EQ(log[log.size() - k], uint8_t((more - k) * 7)) << k;
}

TEST(ClockSynth, LocksOnlyOnceTheWholeTableIsHeld)
{
    Bus bus;
    ASSERT_TRUE(bus.write(0xE0, {0x80}));
    const auto& table = ClockSynth::boardTable();
    EXPECT_EQ(table.size(), 63u);
    EXPECT_EQ(table[62], 0x05);
    // One register per transfer, as the program writes them; the last one completes the table.
    for (int r = 0; r < ClockSynth::Registers - 1; ++r)
        ASSERT_TRUE(bus.write(0xD0, {uint8_t(r), table[r]})) << r;
    EXPECT_FALSE(i2cBoard().clockSynth().locked());
    ASSERT_TRUE(bus.write(0xD0, {62, table[62]}));
    EXPECT_TRUE(i2cBoard().clockSynth().locked());
    std::vector<uint8_t> got;
    ASSERT_TRUE(bus.read(0xD0, 0x20, &got, 8));
    EXPECT_EQ(got, std::vector<uint8_t>(table.begin() + 0x20, table.begin() + 0x28));
    EXPECT_FALSE(bus.write(0xD0, {63, 0})) << "register beyond the table";
    ASSERT_TRUE(bus.write(0xD0, {4, uint8_t(table[4] ^ 1)}));
    EXPECT_FALSE(i2cBoard().clockSynth().locked()) << "a changed register unlocks";
    i2cBoard().clockSynth().setRegister(4, table[4]);
    EXPECT_TRUE(i2cBoard().clockSynth().locked()) << "the test face's register write counts too";
    i2cBoard().clockSynth().reset();
    EXPECT_FALSE(i2cBoard().clockSynth().locked()) << "power-on registers are all 0";
}

TEST(ClockSynth, RefusedWriteStoresNothingUntilRetried)
{
    Bus bus;
    ASSERT_TRUE(bus.write(0xE0, {0x80}));
    i2cBoard().clockSynth().refuseWriteOf(17);
    const auto& table = ClockSynth::boardTable();
    std::vector<uint8_t> block = {0};
    block.insert(block.end(), table.begin(), table.end());
    EXPECT_FALSE(bus.write(0xD0, block));
    EXPECT_EQ(i2cBoard().clockSynth().registers()[16], table[16]);
    EXPECT_EQ(i2cBoard().clockSynth().registers()[17], 0) << "refused byte stored";
    EXPECT_EQ(i2cBoard().clockSynth().registers()[18], 0) << "bytes after the refusal stored";
    EXPECT_FALSE(i2cBoard().clockSynth().locked());
    EXPECT_TRUE(bus.write(0xD0, block));
    EXPECT_TRUE(i2cBoard().clockSynth().locked());
}

}
