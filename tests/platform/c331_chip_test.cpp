#include "platform/sim/devices/c331_chip.h"
#include "platform/spi_bus.h"
#include "test_root.h"

#include <gtest/gtest.h>

namespace {

using platform::Sim::C331Chip;
using platform::Sim::c331Chip;

// The register layer's messages: writes at 10 MHz write-only, reads at 5 MHz full duplex.
class RegisterWire {
public:
    RegisterWire() : bus_(platform::openSpiBus(0)) {}
    int send(uint8_t b0, uint8_t b1, uint8_t* rx)
    {
        const uint8_t tx[2] = {b0, b1};
        platform::SpiTransfer t;
        t.tx = tx;
        t.rx = rx;
        t.len = 2;
        t.speedHz = rx ? 5000000 : 10000000;
        return bus_->transfer(&t, 1);
    }
    void select(uint8_t bank) { send(0x80, bank, nullptr); }
    void write(uint8_t addr, uint8_t v) { send(0x80 | addr, v, nullptr); }
    uint8_t read(uint8_t addr)
    {
        uint8_t rx[2] = {0, 0};
        EXPECT_EQ(send(addr, 0xFF, rx), 2);
        EXPECT_EQ(rx[0], 0xFF);
        return rx[1];
    }
    void put(uint8_t bank, uint8_t addr, uint32_t v, int width)
    {
        select(bank);
        for (int i = 0; i < width; ++i, v >>= 8)
            write(uint8_t(addr + i), uint8_t(v));
    }
    void flashAddress(uint32_t a) { put(0x04, 0x4E, a, 4); }
    platform::SpiBus* bus() { return bus_.get(); }

private:
    std::unique_ptr<platform::SpiBus> bus_;
};

// The chip is one per process: every test starts from power-on with a fresh flash.
class Fresh : public ::testing::Test {
protected:
    void SetUp() override
    {
        c331Chip().reset();
        c331Chip().resetFlash();
    }
};
class C331Wire : public Fresh {};
class C331Model : public Fresh {};
class C331Flash : public Fresh {};
class C331Osd : public Fresh {};

TEST_F(C331Wire, SelectWriteReadAndTestFace)
{
    RegisterWire w;
    ASSERT_NE(w.bus(), nullptr);
    EXPECT_EQ(platform::openSpiBus(2), nullptr); // FPGA 1 is not fitted
    const auto before = c331Chip().snapshot();

    w.put(0x08, 0x49, 0x00FF00, 3);
    w.put(0x78, 0x49, 0x123456, 3); // channel 7's copy
    EXPECT_EQ(c331Chip().value(0x084903), 0x00FF00u);
    EXPECT_EQ(c331Chip().value(0x084903, 0x70), 0x123456u);
    EXPECT_EQ(w.read(0x4A), 0x34);
    EXPECT_EQ(w.read(0x00), 0x78) << "address 0 is the bank register";

    const auto log = c331Chip().log();
    ASSERT_EQ(log.size(), 10u);
    EXPECT_EQ(log[0].kind, C331Chip::Transfer::Select);
    EXPECT_EQ(log[0].bank, 0x08);
    EXPECT_EQ(log[2].kind, C331Chip::Transfer::Write);
    EXPECT_EQ(log[2].addr, 0x4A);
    EXPECT_EQ(log[2].value, 0xFF);
    EXPECT_EQ(log[2].speedHz, 10000000u);
    EXPECT_FALSE(log[2].fullDuplex);
    EXPECT_EQ(log[8].kind, C331Chip::Transfer::Read);
    EXPECT_EQ(log[8].value, 0x34);
    EXPECT_EQ(log[8].speedHz, 5000000u);
    EXPECT_TRUE(log[8].fullDuplex);
    EXPECT_LT(log[0].seq, log[9].seq);
    EXPECT_EQ(c331Chip().selectCount(), 2u);
    EXPECT_EQ(c331Chip().writesTo(0x084A01, 0x70).size(), 1u);
    EXPECT_EQ(c331Chip().writesTo(0x084903).size(), 3u);

    const auto changed = c331Chip().diff(before);
    EXPECT_EQ(changed, (std::vector<std::string>{"08:4A 00->FF", "78:49 00->56", "78:4A 00->34", "78:4B 00->12"}));
    EXPECT_THROW(c331Chip().value(0x087E04), std::invalid_argument); // runs past address 0x7F
    EXPECT_THROW(c331Chip().value(0xF00001, 0x10), std::invalid_argument);
    EXPECT_TRUE(c331Chip().violations().empty());
}

// The program runs the chip without a log (nothing reads it there): the registers behave the same,
// and a limit keeps only the newest transfers.
TEST_F(C331Wire, LogLimitKeepsTheNewestTransfersOrNone)
{
    const struct {
        size_t limit;
        size_t kept;
    } rows[] = {{0, 0}, {3, 3}, {100, 5}};
    RegisterWire w;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.limit);
        c331Chip().reset();
        c331Chip().setLogLimit(row.limit);
        w.put(0x08, 0x49, 0x112233, 3); // select and three writes
        EXPECT_EQ(w.read(0x4A), 0x22);
        EXPECT_EQ(c331Chip().value(0x084903), 0x112233u);
        const auto log = c331Chip().log();
        ASSERT_EQ(log.size(), row.kept);
        if (row.kept) {
            EXPECT_EQ(log.back().kind, C331Chip::Transfer::Read);
        }
    }
    c331Chip().setLogLimit(size_t(1) << 20);
}

TEST_F(C331Wire, BadFramesAndInjectedFailures)
{
    RegisterWire w;
    w.put(0x02, 0x10, 0xAA, 1);
    const uint8_t three[3] = {0x90, 1, 2};
    platform::SpiTransfer t;
    t.tx = three;
    t.len = 3;
    EXPECT_EQ(w.bus()->transfer(&t, 1), -1);
    ASSERT_EQ(c331Chip().violations().size(), 1u);

    // Two messages in one list share a chip-select cycle unless the first releases it.
    const uint8_t a[2] = {0x91, 0x01}, b[2] = {0x92, 0x02};
    platform::SpiTransfer pair[2];
    pair[0].tx = a, pair[0].len = 2, pair[1].tx = b, pair[1].len = 2;
    EXPECT_EQ(w.bus()->transfer(pair, 2), -1);
    pair[0].csChange = true;
    EXPECT_EQ(w.bus()->transfer(pair, 2), 4);
    EXPECT_EQ(c331Chip().value(0x021102), 0x0201u);

    c331Chip().clearLog();
    c331Chip().failNextTransfers(2);
    uint8_t rx[2] = {0x5A, 0x5A};
    EXPECT_EQ(w.send(0x90, 0x55, nullptr), -1);
    EXPECT_EQ(w.send(0x10, 0xFF, rx), -1);
    EXPECT_EQ(rx[0], 0x5A) << "a failed read leaves the buffer alone";
    c331Chip().failNextTransfers(1);
    const uint8_t read10[2] = {0x10, 0xFF};
    EXPECT_FALSE(c331Chip().transfer(read10, rx, 2, 5000000));
    EXPECT_TRUE(rx[0] == 0x5A && rx[1] == 0x5A);
    EXPECT_EQ(w.read(0x10), 0xAA) << "the failed write did not land";
    EXPECT_EQ(c331Chip().transferCount(), 4u);
    EXPECT_EQ(c331Chip().log().size(), 1u);
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST_F(C331Wire, MessagesOutsideTheBusTimingAreRecorded)
{
    RegisterWire w;
    struct Row {
        uint8_t b0;
        bool duplex;
        uint32_t speedHz;
        bool breach;
    };
    const Row rows[] = {
        {0x90, false, 10000000, false}, {0x10, true, 5000000, false},  // as the register layer sends them
        {0x90, true, 10000000, true},   {0x90, false, 5000000, true},  // a write read back, or slow
        {0x10, false, 5000000, true},   {0x10, true, 10000000, true},  // a read without its byte, or fast
        {0x80, false, 5000000, true},                                   // a bank select is a write too
    };
    for (const Row& r : rows) {
        const size_t before = c331Chip().violations().size();
        const uint8_t tx[2] = {r.b0, 0xFF};
        uint8_t rx[2] = {};
        c331Chip().transfer(tx, r.duplex ? rx : nullptr, 2, r.speedHz);
        EXPECT_EQ(c331Chip().violations().size() - before, r.breach ? 1u : 0u)
            << int(r.b0) << (r.duplex ? " duplex " : " write-only ") << r.speedHz;
    }
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST_F(C331Model, ChipIdAndInputMeasurement)
{
    RegisterWire w;
    w.select(0xB2);
    EXPECT_EQ(w.read(0x08), 0x24);
    c331Chip().setChipId(0x11);
    EXPECT_EQ(w.read(0x08), 0x11);

    for (uint32_t p = 0; p < 4; ++p) { // no signal until an input is set
        EXPECT_EQ(c331Chip().value(0xAE0802 + 0x200 * p), 0xFFFFu);
        EXPECT_EQ(c331Chip().value(0xAE5003 + 0x300 * p), 0xFFFFFFu);
    }
    c331Chip().setInput(1, {true, 2200, 1125, 1920, 60.0, false, 0});
    EXPECT_EQ(c331Chip().value(0xAE0A02), 2199u);
    EXPECT_EQ(c331Chip().value(0xAE2202), 1125u);
    EXPECT_EQ(c331Chip().value(0xAE3A02), 399u); // 27 MHz / 67.5 kHz - 1
    EXPECT_EQ(c331Chip().value(0xAE5303), 449999u);
    EXPECT_EQ(c331Chip().value(0xAF0A02), 1920u);
    EXPECT_EQ(c331Chip().value(0xAE0802), 0xFFFFu) << "port 0 untouched";

    c331Chip().setInput(2, {true, 2200, 1125, 1920, 60.0, true, 0}); // 1080i: measured per field
    EXPECT_EQ(c331Chip().value(0xAE2402), 562u);
    EXPECT_EQ(c331Chip().value(0xAE3C02), 799u);
    c331Chip().setInput(3, {true, 2200, 1125, 1920, 1.0, false, 0}); // period beyond 24 bits
    EXPECT_EQ(c331Chip().value(0xAE5903), 0xFFFFFFu);

    c331Chip().setInput(5, {true, 4400, 2250, 3840, 60.0, false, 4});
    EXPECT_EQ(c331Chip().value(0xAE1802), 4399u);
    EXPECT_EQ(c331Chip().value(0xAE3002), 2250u);
    EXPECT_EQ(c331Chip().value(0xAF1802), 3840u);
    for (uint32_t g = 0; g < 4; ++g) { // four lanes fill lane groups 0 and 1
        EXPECT_EQ(c331Chip().value(0xAE4802 + 0x200 * g), g < 2 ? 199u : 0xFFFFu) << g;
        EXPECT_EQ(c331Chip().value(0xAE6803 + 0x300 * g), g < 2 ? 449999u : 0xFFFFFFu) << g;
    }
    EXPECT_EQ(c331Chip().value(0xB26301), 0x80u);
    c331Chip().setInput(4, {true, 2200, 1125, 1920, 60.0, false, 8});
    EXPECT_EQ(c331Chip().value(0xAE6503), 449999u);
    c331Chip().setInput(5, {});
    EXPECT_EQ(c331Chip().value(0xB26301), 0x20u);
    EXPECT_EQ(c331Chip().value(0xAE6803), 0xFFFFFFu);
    EXPECT_THROW(c331Chip().setInput(6, {}), std::out_of_range);
}

TEST_F(C331Model, FrameFlagsAndFieldPhase)
{
    RegisterWire w;
    c331Chip().setFrameFlagReads(3, 1);
    w.put(0x05, 0x09, 1 << 3, 1);
    EXPECT_EQ(w.read(0x23), 0);
    EXPECT_EQ(w.read(0x23), 0);
    EXPECT_EQ(w.read(0x23), 1 << 3);
    w.write(0x09, 0);
    EXPECT_EQ(w.read(0x23), 0);

    w.write(0x08, 1 << 2); // input channel 2
    EXPECT_EQ(w.read(0x22), 1 << 2);
    c331Chip().setOutputFrameStalled(true);
    c331Chip().setInputFrameStalled(true);
    w.write(0x09, 1);
    w.write(0x08, 1 << 2);
    c331Chip().preset(0xA84901, 0x12);
    w.select(0xA8);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(w.read(0x3F + 5 * 2), 0x12);
    w.select(0x05);
    EXPECT_EQ(w.read(0x23) | w.read(0x22), 0);
    c331Chip().setInputFrameStalled(false);
    w.select(0xA8);
    EXPECT_EQ(w.read(0x49), 0xFF);

    // Field phase: bits 2-3 step through all four fields, the other bits are the cell's.
    c331Chip().preset(0xAB4801, 0x03);
    c331Chip().setFieldPhase(1, 2);
    w.select(0xAB);
    EXPECT_EQ(w.read(0x48), 0x0B);
    int seen = 0;
    for (int i = 0; i < 4; ++i)
        seen |= 1 << (w.read(0x48) >> 2 & 3);
    EXPECT_EQ(seen, 0xF);
    c331Chip().setFieldPhaseRunning(false);
    const uint8_t held = w.read(0x48);
    EXPECT_EQ(w.read(0x48), held);
}

// A flash page write as the engine does it: address twice, bytes, address at each page start.
void writeFlash(RegisterWire& w, uint32_t start, const std::vector<uint8_t>& bytes)
{
    w.put(0x04, 0x4C, 0x06, 1);
    w.flashAddress(start);
    w.flashAddress(start);
    for (size_t i = 0; i < bytes.size(); ++i) {
        w.write(0x52, bytes[i]);
        if ((start + i + 1) % 256 == 0)
            w.flashAddress(uint32_t(start + i + 1));
    }
    if ((start + bytes.size()) % 256)
        w.flashAddress(uint32_t(start + bytes.size()));
}

TEST_F(C331Flash, PageProgramsAndReadStream)
{
    RegisterWire w;
    EXPECT_EQ(c331Chip().flashRead(0x450000, 19)[0], 'P');
    EXPECT_EQ(c331Chip().flashRead(0x450011, 2), (std::vector<uint8_t>{64, 64}));
    EXPECT_EQ(c331Chip().flashRead(0x010011, 2), (std::vector<uint8_t>{32, 32}));

    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 1);
    writeFlash(w, 0x1F0, data);
    EXPECT_EQ(c331Chip().flashRead(0x1F0, 300), data);
    EXPECT_EQ(c331Chip().flashRead(0x1EF, 1)[0], 0xFF);
    EXPECT_EQ(c331Chip().flashRead(0x31C, 1)[0], 0xFF);
    EXPECT_EQ(c331Chip().writesTo(0x045101).size(), 5u); // 0x1F0 twice, 0x200, 0x300, 0x31C

    writeFlash(w, 0x1F0, {0x0F}); // programming only clears bits
    EXPECT_EQ(c331Chip().flashRead(0x1F0, 1)[0], uint8_t(0x0F & data[0]));
    // A program that runs past its page wraps to the page start, as the flash does.
    w.flashAddress(0x4F0);
    for (int i = 0; i < 32; ++i)
        w.write(0x52, uint8_t(i));
    w.flashAddress(0);
    EXPECT_EQ(c331Chip().flashRead(0x4FF, 1)[0], 15);
    EXPECT_EQ(c331Chip().flashRead(0x400, 2), (std::vector<uint8_t>{16, 17}));
    EXPECT_EQ(c331Chip().flashRead(0x500, 1)[0], 0xFF);
    EXPECT_TRUE(c331Chip().violations().empty());

    w.write(0x4C, 0x00); // no write enable: refused
    w.flashAddress(0x600);
    w.write(0x52, 0x00);
    w.flashAddress(0x601);
    EXPECT_EQ(c331Chip().flashRead(0x600, 1)[0], 0xFF);
    EXPECT_EQ(c331Chip().violations().size(), 1u);

    // Read stream from the committed address, with the busy bit held for two polls.
    c331Chip().setFlashBusyPolls(2);
    w.flashAddress(0x2FE);
    w.write(0x53, 1);
    EXPECT_EQ(w.read(0x53) & 0xA0, 0xA0);
    EXPECT_EQ(w.read(0x53) & 0x80, 0x80);
    EXPECT_EQ(w.read(0x53) & 0xA0, 0x20);
    w.write(0x53, 0);
    for (uint32_t a = 0x2FE; a < 0x302; ++a)
        EXPECT_EQ(w.read(0x52), c331Chip().flashRead(a, 1)[0]) << std::hex << a;
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST_F(C331Flash, EraseWriteEnableAndChipErase)
{
    RegisterWire w;
    c331Chip().flashWrite(0x0F000, std::vector<uint8_t>(0x12000, 0x00));
    w.put(0x04, 0x4C, 0x06, 1);
    c331Chip().setFlashBusyPolls(1);
    c331Chip().setWelFault(C331Chip::WelFault::UntilWrdi);
    w.flashAddress(0x10123);
    w.put(0x04, 0x4B, 0x20, 1);
    w.write(0x48, 4);
    EXPECT_EQ(w.read(0x54), 0x08);
    EXPECT_EQ(w.read(0x54), 0x00);
    EXPECT_EQ(w.read(0x55), 0x03);
    EXPECT_EQ(w.read(0x55), 0x02) << "WEL latched until write disable";
    w.write(0x4B, 0x04);
    w.write(0x48, 5);
    EXPECT_EQ(w.read(0x55), 0x00);
    EXPECT_EQ(c331Chip().flashRead(0x0FFFF, 1)[0], 0x00);
    EXPECT_EQ(c331Chip().flashRead(0x10000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
    EXPECT_EQ(c331Chip().flashRead(0x11000, 1)[0], 0x00);

    w.write(0x48, 4); // 04:4B still holds WRDI: not an erase
    EXPECT_EQ(c331Chip().violations().size(), 1u);
    c331Chip().setWelFault(C331Chip::WelFault::Stuck);
    w.flashAddress(0x1A123); // inside the 64 KiB block at 0x10000
    w.put(0x04, 0x4B, 0xD8, 1);
    w.write(0x48, 4);
    EXPECT_EQ(c331Chip().flashRead(0x10000, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
    EXPECT_EQ(c331Chip().flashRead(0x20000, 1)[0], 0x00);
    w.write(0x4B, 0x04);
    w.write(0x48, 5);
    EXPECT_EQ(w.read(0x55) & 0x02, 0x02) << "stuck WEL survives write disable";

    // The memory-transfer set-up leaves chip erase in 04:4B; only a command start runs it.
    w.write(0x4B, 0xC7);
    w.write(0x48, 2);
    w.write(0x48, 0);
    EXPECT_FALSE(c331Chip().chipEraseSeen());
    EXPECT_EQ(c331Chip().flashRead(0x0F000, 1)[0], 0x00);
    w.write(0x48, 5);
    EXPECT_TRUE(c331Chip().chipEraseSeen());
    EXPECT_EQ(c331Chip().flashRead(0x000000, 1)[0], 0xFF) << "font headers gone too";

    c331Chip().reset();
    EXPECT_TRUE(c331Chip().chipEraseSeen());
    c331Chip().resetFlash();
    EXPECT_EQ(c331Chip().flashRead(0x410000, 1)[0], 'P');
    EXPECT_FALSE(c331Chip().chipEraseSeen());
}

TEST_F(C331Osd, MemoryTransfersAndCharacterGenerator)
{
    RegisterWire w;
    c331Chip().setFlashBusyPolls(1);
    w.put(0x09, 0x1F, 0x01, 1);
    w.flashAddress(0x000023);
    w.put(0x04, 0x56, 0x3000 | 0x80000000u, 4);
    w.put(0x04, 0x5A, 0, 1);
    w.put(0x04, 0x11, 0x7F000000, 4);
    w.write(0x48, 2);
    EXPECT_EQ(w.read(0x54), 0x01);
    EXPECT_EQ(w.read(0x54), 0x00);
    w.write(0x5A, 1);
    w.put(0x04, 0x27, 0x1234, 2);
    w.write(0x48, 2);
    w.flashAddress(0x10D3C00);
    w.put(0x04, 0x56, 816 | 0x80000000u, 4);
    w.write(0x5A, 4);
    w.write(0x48, 2);
    const auto dma = c331Chip().dmaLog();
    ASSERT_EQ(dma.size(), 3u);
    EXPECT_EQ(dma[0].flashAddr, 0x23u);
    EXPECT_EQ(dma[0].size, 0x3000u);
    EXPECT_EQ(dma[0].dest, 0x7F000000u);
    EXPECT_EQ(dma[1].target, 1);
    EXPECT_EQ(dma[1].dest, 0x1234u);
    EXPECT_EQ(dma[2].flashAddr, 0x10D3C00u);
    EXPECT_EQ(dma[2].dest, 1u);
    EXPECT_FALSE(c331Chip().chipEraseSeen());

    const std::vector<uint8_t> chars = {0x21, 0, 2, 255, 16, 0x00, 0x4E, 2, 255, 32};
    for (uint8_t b : chars)
        w.write(0x29, b);
    w.write(0x08, 3);
    EXPECT_EQ(w.read(0x17) & 1, 0);
    EXPECT_EQ(w.read(0x17) & 1, 1) << "done reads 1";
    w.write(0x29, 1);
    w.write(0x08, 3);
    EXPECT_EQ(c331Chip().charRuns(), (std::vector<std::vector<uint8_t>>{chars, {1}}));
    EXPECT_EQ(c331Chip().violations().size(), 1u) << "a part record";
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

}
