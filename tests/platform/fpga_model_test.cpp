#include "platform/mem_window.h"
#include "platform/paths.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/sim_board.h"
#include "platform/spi_bus.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>

namespace {

using platform::Sim::FpgaChip;
using platform::Sim::FpgaFlash;
using platform::Sim::LedNetwork;
using platform::Sim::fpgaChip;
using platform::Sim::fpgaFlash;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t Reset = FpgaChip::ResetWord, Select = FpgaChip::SelectWord, Phase = FpgaChip::PhaseWord;
constexpr uint32_t Select1 = FpgaChip::Fpga1SelectWord, FlashSelect = FpgaChip::FlashSelectWord, Irq = FpgaChip::IrqWord;

// The program's side of the wire: the window from the "/dev/msys" request, devices 1 and 3, and
// the select sequences of the FPGA access layer.
class Board {
public:
    Board()
    {
        uint32_t base = 0, length = 0;
        EXPECT_TRUE(platform::msysRequest(&base, &length));
        window_ = platform::openMemWindow(base, length);
        fpga_ = platform::openSpiBus(1);
        flash_ = platform::openSpiBus(3);
        if (!window_ || !fpga_ || !flash_)
            throw std::runtime_error("simulated board incomplete");
        fpga_->configure(3, 8, 10000000);
        flash_->configure(3, 8, 10000000);
        for (uint32_t word : {Select, Select1, FlashSelect})
            gpio(word, 16);
        run(false);
    }
    void gpio(uint32_t offset, uint16_t value) { window_->write16(offset, value); }
    uint16_t gpio(uint32_t offset) { return window_->read16(offset); }
    void run(bool on) { gpio(Reset, on ? 16 : 0); }

    static int send(platform::SpiBus* bus, const uint8_t* tx, uint8_t* rx, size_t len)
    {
        platform::SpiTransfer t;
        t.tx = tx;
        t.rx = rx;
        t.len = uint32_t(len);
        t.speedHz = 10000000;
        return bus->transfer(&t, 1);
    }
    void access(std::array<uint8_t, 4> command, const uint8_t* tx, uint8_t* rx, size_t len)
    {
        gpio(Phase, 16);
        gpio(Select, 0);
        gpio(Select1, 16);
        EXPECT_EQ(send(fpga_.get(), command.data(), nullptr, 4), 4);
        gpio(Phase, 0);
        EXPECT_EQ(send(fpga_.get(), tx, rx, len), int(len));
        gpio(Select, 16);
        gpio(Select1, 16);
    }
    uint8_t reg(uint8_t r)
    {
        const uint8_t ff = 0xFF;
        uint8_t v = 0xEE;
        access({0x05, 0, r, 0}, &ff, &v, 1);
        return v;
    }
    void setReg(uint8_t r, uint8_t v, uint8_t mask = 0xFF) { access({0x04, 0, r, mask}, &v, nullptr, 1); }
    void writeRam(uint8_t bank, uint16_t at, const Bytes& b)
    {
        access({0x02, bank, uint8_t(at), uint8_t(at >> 8 & 0x0F)}, b.data(), nullptr, b.size());
    }
    Bytes readRam(uint8_t bank, uint16_t at, size_t n)
    {
        const Bytes ff(n, 0xFF);
        Bytes rx(n);
        access({0x03, bank, uint8_t(at), uint8_t(at >> 8 & 0x0F)}, ff.data(), rx.data(), n);
        return rx;
    }

    // One flash operation: selects held across its transfers, each transfer one command.
    void flashSelect(bool on)
    {
        if (on) {
            gpio(Select1, 16);
            gpio(Select, 0);
            gpio(FlashSelect, 0);
        } else {
            gpio(FlashSelect, 16);
            gpio(Select1, 16);
            gpio(Select, 16);
        }
    }
    Bytes flash(Bytes tx)
    {
        Bytes rx(tx.size(), 0);
        EXPECT_EQ(send(flash_.get(), tx.data(), rx.data(), tx.size()), int(tx.size()));
        return rx;
    }
    void waitReady()
    {
        for (int i = 0; i < 50 && (flash({0x05, 0xFF})[1] & 1); ++i) {
        }
    }
    void program(uint32_t at, const Bytes& data)
    {
        flash({0x06});
        Bytes tx = {0x02, uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at)};
        tx.insert(tx.end(), data.begin(), data.end());
        flash(tx);
        waitReady();
    }
    Bytes fastRead(uint32_t at, size_t n)
    {
        Bytes tx(5 + n, 0xFF);
        tx[0] = 0x0B, tx[1] = uint8_t(at >> 16), tx[2] = uint8_t(at >> 8), tx[3] = uint8_t(at), tx[4] = 0;
        const Bytes rx = flash(tx);
        return Bytes(rx.begin() + 5, rx.end());
    }

    platform::SpiBus* fpgaBus() { return fpga_.get(); }

private:
    std::unique_ptr<platform::MemWindow> window_;
    std::unique_ptr<platform::SpiBus> fpga_, flash_;
};

Bytes packet(uint16_t dest, uint16_t source, uint8_t serial, uint8_t portByte, uint8_t group, const Bytes& payload)
{
    Bytes p = {uint8_t(dest), uint8_t(dest >> 8), uint8_t(source), uint8_t(source >> 8), 0x10, serial, 1, portByte, 0, group};
    p.insert(p.end(), payload.begin(), payload.end());
    p.push_back(LedNetwork::checkByte(p.data(), p.size()));
    return p;
}

// What the program's port sender does: TX bank, length, port select, start.
void sendToPort(Board& b, int port, const Bytes& p)
{
    const int pair = port / 2, g = pair % 4;
    const uint8_t txLow[8] = {26, 134, 136, 138, 154, 155, 156, 157};
    b.writeRam(uint8_t(3 + 2 * pair), 0, p);
    b.setReg(txLow[pair], uint8_t(p.size() - 1));
    b.setReg(pair < 4 ? 27 : 158, uint8_t((p.size() - 1) >> 8 << (2 * g)), uint8_t(3 << (2 * g)));
    b.setReg(pair < 4 ? 132 : 148, uint8_t(1 << (port % 8)));
    b.setReg(pair < 4 ? 130 : 146, uint8_t(16 << g), 0xF0);
}

Bytes takeReply(Board& b, int pair)
{
    const int g = pair % 4;
    const uint8_t rxLow[8] = {24, 133, 135, 137, 149, 150, 151, 152};
    const size_t length = size_t((b.reg(pair < 4 ? 25 : 153) >> (2 * g) & 3) << 8 | b.reg(rxLow[pair])) + 1;
    Bytes reply = b.readRam(uint8_t(2 + 2 * pair), 0, length);
    b.setReg(pair < 4 ? 130 : 146, uint8_t(1 << g), uint8_t(1 << g));
    return reply;
}

bool mentions(const std::vector<std::string>& list, const std::string& text)
{
    return std::any_of(list.begin(), list.end(), [&](const std::string& v) { return v.find(text) != std::string::npos; });
}

// Each test runs in a process of its own; the model still starts from power-on before the board
// configures its buses, in case several tests share one.
struct FreshModel {
    FreshModel()
    {
        fpgaChip().reset();
        fpgaFlash().setStuckBusy(false);
        fpgaFlash().clearViolations();
    }
};
class FpgaModel : public ::testing::Test {
protected:
    FreshModel fresh_;
    Board b;
};
class FpgaPorts : public FpgaModel {
protected:
    void SetUp() override { b.run(true); }
};
class FpgaConfigFlash : public FpgaModel {};

TEST_F(FpgaModel, WindowDevicesAndBusSetup)
{
    uint32_t base = 0, length = 0;
    ASSERT_TRUE(platform::msysRequest(&base, &length));
    EXPECT_EQ(base, FpgaChip::WindowBase);
    EXPECT_GE(length, 0x207952u);
    platform::Sim::memSim().setMsysFails(true);
    EXPECT_FALSE(platform::msysRequest(&base, &length));
    platform::Sim::memSim().setMsysFails(false);

    EXPECT_EQ(platform::openSpiBus(2), nullptr);
    EXPECT_EQ(platform::openSpiBus(4), nullptr);
    fpgaFlash().setAbsent(true);
    EXPECT_EQ(platform::openSpiBus(3), nullptr) << "a flash that is not fitted has no device node";
    EXPECT_NE(platform::openSpiBus(1), nullptr);
    fpgaFlash().setAbsent(false);
    EXPECT_EQ(fpgaChip().busSetup().mode, 3);
    EXPECT_EQ(fpgaChip().busSetup().maxSpeedHz, 10000000u);
    EXPECT_EQ(fpgaFlash().busSetup().bitsPerWord, 8);
}

TEST_F(FpgaModel, ResetSelectAndPhaseRules)
{
    EXPECT_FALSE(fpgaChip().running());
    b.setReg(23, 0x5A);
    EXPECT_EQ(b.reg(31), 0) << "in reset every read is 0";
    bool clockReady = false;
    fpgaChip().setClockGate([&] { return clockReady; });
    b.run(true);
    EXPECT_EQ(b.reg(31), 0) << "no clock yet";
    clockReady = true;
    EXPECT_EQ(b.reg(23), 0) << "the write during reset was lost";
    EXPECT_EQ(b.reg(31), 0x24);
    fpgaChip().setClockGate(nullptr);
    EXPECT_TRUE(fpgaChip().violations().empty());

    // Not selected: nothing happens, and it is recorded.
    b.gpio(Phase, 16);
    const uint8_t cmd[4] = {0x04, 0, 23, 0xFF};
    Board::send(b.fpgaBus(), cmd, nullptr, 4);
    EXPECT_TRUE(mentions(fpgaChip().violations(), "not selected"));
    // Data while the command phase is still up.
    fpgaChip().clearViolations();
    b.gpio(Select, 0);
    Board::send(b.fpgaBus(), cmd, nullptr, 4);
    const uint8_t v = 0x77;
    Board::send(b.fpgaBus(), &v, nullptr, 1);
    EXPECT_TRUE(mentions(fpgaChip().violations(), "command phase is 16"));
    b.gpio(Select, 16);
    EXPECT_EQ(fpgaChip().registerValue(23), 0);

    // A reset seen at a transfer clears the FPGA; the next transfer after release starts it afresh.
    b.setReg(23, 0x42);
    b.writeRam(1, 0, {1, 2, 3});
    b.run(false);
    EXPECT_EQ(b.reg(23), 0);
    b.run(true);
    EXPECT_EQ(b.reg(23), 0);
    EXPECT_EQ(b.readRam(1, 0, 3), Bytes(3, 0));
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST_F(FpgaModel, RegisterReadRules)
{
    b.run(true);
    EXPECT_EQ(b.reg(22) & 0xD8, 0) << "no link before the bring-up writes register 3";
    b.setReg(3, 0x40, 0x40);
    EXPECT_EQ(b.reg(22) & 0xD8, 0x80);
    b.setReg(3, 0x80, 0x80);
    EXPECT_EQ(b.reg(22) & 0xD8, 0x90);
    EXPECT_EQ(b.reg(40), 0x1F);

    b.setReg(23, 0xF0);
    b.setReg(23, 0x03, 0x0F); // the mask keeps the high nibble
    EXPECT_EQ(b.reg(23), 0xF1) << "bit 1 (loop test) reads 1 only while register 41 bit 0 runs it";
    b.setReg(41, 0x01, 0x01);
    EXPECT_EQ(b.reg(23), 0xF3);
    b.setReg(31, 0x11);
    EXPECT_EQ(b.reg(31), 0x24) << "identity is read-only";

    fpgaChip().setCards(1, 2);
    fpgaChip().setLinked(4, true);
    fpgaChip().setCards(9, 1);
    EXPECT_EQ(b.reg(128), 0x12);
    EXPECT_EQ(b.reg(144), 0x02);

    b.setReg(130, 0xFF);
    EXPECT_EQ(b.reg(130), 0) << "strobes read 0, so read-modify-writes do not repeat them";
    b.setReg(170, 0x33);
    EXPECT_EQ(b.reg(170), 0x33);
    EXPECT_FALSE(mentions(fpgaChip().violations(), "beyond"));
    b.setReg(171, 1);
    EXPECT_TRUE(mentions(fpgaChip().violations(), "register 171"));
    EXPECT_EQ(fpgaChip().registerWrites(23), (Bytes{0xF0, 0x03}));
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

// The running program keeps no log (it polls for ever); a test's hook still sees every access.
TEST_F(FpgaModel, LogKeepsTheNewestAccessesOrNoneWhileAHookSeesEachOne)
{
    b.run(true);
    Bytes hooked;
    fpgaChip().setAccessHook([&](const FpgaChip::Access& a) {
        if (a.kind == FpgaChip::Access::RegisterWrite && a.address == 23)
            hooked.push_back(a.data[0]);
    });
    fpgaChip().setLogLimit(2);
    for (uint8_t v : {0x10, 0x20, 0x30})
        b.setReg(23, v);
    EXPECT_EQ(fpgaChip().registerWrites(23), (Bytes{0x20, 0x30}));
    fpgaChip().setLogLimit(0);
    EXPECT_TRUE(fpgaChip().log().empty());
    b.setReg(23, 0x40);
    EXPECT_EQ(b.reg(23), 0x40) << "the access itself is served";
    EXPECT_TRUE(fpgaChip().log().empty());
    EXPECT_EQ(hooked, (Bytes{0x10, 0x20, 0x30, 0x40}));
    fpgaChip().setAccessHook(nullptr);
}

// Each bit the bring-up sets or clears for the picture matters on its own.
TEST_F(FpgaModel, PictureNeedsEveryOutputBitAndRegister2KeepsItsBitsApart)
{
    b.run(true);
    struct Bit {
        uint8_t reg, mask, on; // value that lets the picture out
    };
    const Bit bits[] = {{23, 0x01, 0x01}, {3, 0x20, 0x20}, {0, 0x04, 0x00}, {23, 0x08, 0x00}};
    for (const Bit& bit : bits)
        b.setReg(bit.reg, bit.on, bit.mask);
    EXPECT_FALSE(fpgaChip().pictureOut()) << "nothing loaded yet";
    b.setReg(2, 0x01, 0x01);
    EXPECT_FALSE(fpgaChip().imageLoaded()) << "bit 0 applies, it does not load";
    EXPECT_TRUE(fpgaChip().canvasApplied());
    b.setReg(2, 0x08, 0x08);
    EXPECT_TRUE(fpgaChip().imageLoaded());
    ASSERT_TRUE(fpgaChip().pictureOut());
    for (const Bit& bit : bits) {
        SCOPED_TRACE(int(bit.reg));
        b.setReg(bit.reg, uint8_t(~bit.on), bit.mask);
        EXPECT_FALSE(fpgaChip().pictureOut());
        b.setReg(bit.reg, bit.on, bit.mask);
        EXPECT_TRUE(fpgaChip().pictureOut());
    }
    // Applies are counted only where the mask lets bit 0 through.
    b.setReg(2, 0x09, 0x08);
    b.setReg(2, 0x01, 0x01);
    EXPECT_EQ(fpgaChip().applyCount(), 2);
    EXPECT_TRUE(fpgaChip().violations().empty());
    b.setReg(2, 0x04, 0x04);
    EXPECT_TRUE(mentions(fpgaChip().violations(), "program's own requests"));
    fpgaChip().clearViolations();
    b.run(false);
    b.reg(0); // seen in reset, then started from power-on
    b.run(true);
    b.reg(0);
    EXPECT_FALSE(fpgaChip().pictureOut());
    EXPECT_EQ(fpgaChip().applyCount(), 0);
}

TEST_F(FpgaModel, FaultHooks)
{
    b.run(true);
    b.setReg(3, 0xC0);
    fpgaChip().setVboErrorReads(2);
    EXPECT_EQ(b.reg(22) & 0x08, 0x08);
    EXPECT_EQ(b.reg(22) & 0x08, 0x08);
    EXPECT_EQ(b.reg(22) & 0x08, 0);
    fpgaChip().setLinkDropReads(1);
    EXPECT_EQ(b.reg(40) & 0x1C, 0);
    EXPECT_EQ(b.reg(40), 0x1F);
    fpgaChip().setLinkLocked(false);
    EXPECT_EQ(b.reg(22) & 0x80, 0);
    fpgaChip().setFaultFlag(true);
    EXPECT_EQ(b.reg(0) & 0x08, 0x08);
    b.writeRam(1, 8, {0x10, 0x00});
    fpgaChip().setRamCheckMismatch(true);
    EXPECT_NE(b.readRam(1, 8, 2), (Bytes{0x10, 0x00}));
    fpgaChip().failNextTransfers(1);
    const uint8_t cmd[4] = {0x05, 0, 31, 0};
    EXPECT_EQ(Board::send(b.fpgaBus(), cmd, nullptr, 4), -1);
}

TEST_F(FpgaModel, Bank1MeasurementAfterTheCanvasIsApplied)
{
    b.run(true);
    Bytes image(1024);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 7);
    b.writeRam(1, 0, image);
    const Bytes back = b.readRam(1, 0, 1024);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 116, image.begin()));
    EXPECT_TRUE(std::equal(back.begin() + 124, back.end(), image.begin() + 124));
    EXPECT_EQ(Bytes(back.begin() + 116, back.begin() + 124), Bytes(8, 0)) << "FPGA-owned, nothing measured yet";

    b.setReg(2, 0x01, 0x01);
    EXPECT_EQ(b.readRam(1, 116, 8), (Bytes{0x80, 0x07, 0x38, 0x04, 0x35, 0xB7, 0x0C, 0x00})); // 1920, 1080, 833,333
    fpgaChip().setMeasuredInput(3840, 2160, 714286);
    b.writeRam(1, 116, Bytes(8, 0));
    EXPECT_EQ(b.readRam(1, 116, 4), (Bytes{0x00, 0x0F, 0x70, 0x08}));
    // On the board, what the scaler chip sends: channel 0 of its panel, its frame at 594 MHz (LED
    // 1920 x 1080: 1940 x 5104 in all, 833,481 clocks); nothing before it has one.
    fpgaChip().setPictureSource(platform::Sim::scalerOutput);
    EXPECT_EQ(b.readRam(1, 116, 8), Bytes(8, 0));
    for (const auto& [reg, value] : {std::pair{0x080A02u, 1938u}, {0x080C02u, 5102u}, {0x082A02u, 1920u}, {0x082E02u, 1080u}})
        platform::Sim::c331Chip().preset(reg, value);
    EXPECT_EQ(b.readRam(1, 116, 8), (Bytes{0x80, 0x07, 0x38, 0x04, 0xC9, 0xB7, 0x0C, 0x00}));

    // Addresses are 12 bits inside the bank.
    b.writeRam(9, 0xFFE, {0xA1, 0xA2, 0xA3});
    EXPECT_EQ(b.readRam(9, 0, 1), Bytes{0xA3});
    EXPECT_TRUE(mentions(fpgaChip().violations(), "past the bank"));
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST_F(FpgaPorts, SearchGoesOutAndTheReplyComesBack)
{
    fpgaChip().setCards(3, 5);
    fpgaChip().setMultifunction(3, true);
    const Bytes search = packet(0x1FFE, 0xF000, 0xAA, 4, 0x10, Bytes(20, 0));
    sendToPort(b, 3, search);
    ASSERT_EQ(fpgaChip().packets(3).size(), 1u);
    EXPECT_EQ(fpgaChip().packets(3)[0], search);
    EXPECT_TRUE(fpgaChip().packets(2).empty());

    EXPECT_EQ(b.gpio(Irq) & 1, 1);
    EXPECT_EQ(b.reg(129), 0x04) << "RX ready of pair 1";
    EXPECT_EQ(b.reg(22) & 0x20, 0x20);
    const Bytes reply = takeReply(b, 1);
    ASSERT_EQ(reply.size(), search.size() + 1);
    EXPECT_EQ(LedNetwork::checkByte(reply.data(), reply.size() - 1), reply.back());
    EXPECT_EQ(reply[0] | reply[1] << 8, 0xF000);
    EXPECT_EQ(reply[3] >> 4 & 3, 3) << "source carries the port within its group";
    EXPECT_EQ(reply[7], 4);
    EXPECT_EQ(reply[9], 0x10);
    EXPECT_EQ(reply[10], 0);
    EXPECT_EQ(reply[11] | reply[12] << 8, 5);
    EXPECT_NE(reply[13], 0) << "multifunction card on the port";
    EXPECT_EQ(b.gpio(Irq) & 1, 0);
    EXPECT_EQ(b.reg(129), 0);
    b.setReg(22, 0, 0x20);
    EXPECT_EQ(b.reg(22) & 0x20, 0);

    b.setReg(130, 0x02, 0x02);
    EXPECT_TRUE(mentions(fpgaChip().violations(), "no reply loaded"));
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST_F(FpgaPorts, TransmitRulesQueueAndTiming)
{
    fpgaChip().setCards(10, 2); // pair 5, second register row
    Bytes bad = packet(0x0000, 0xF000, 0x67, 11, 0x81, {0xFF, 0x00});
    bad.back() ^= 1;
    sendToPort(b, 10, bad);
    EXPECT_TRUE(fpgaChip().packets(10).empty());
    EXPECT_EQ(fpgaChip().dropped().size(), 1u);
    EXPECT_TRUE(mentions(fpgaChip().violations(), "bad check byte"));

    // Two answers wait behind each other; each acknowledge loads the next.
    fpgaChip().setTxLatency(10);
    sendToPort(b, 10, packet(0x0001, 0xF000, 0x67, 11, 0x81, {0xFF, 0x00}));
    EXPECT_EQ(b.reg(145) & 0x08, 0x08) << "TX busy of pair 5";
    b.writeRam(13, 0, {0});
    EXPECT_TRUE(mentions(fpgaChip().violations(), "still sending"));
    fpgaChip().settle();
    EXPECT_EQ(b.reg(145) & 0x08, 0);
    EXPECT_EQ(fpgaChip().network().port(10).cards[1].saves, 1);
    fpgaChip().queueReply(11, {0x01, 0x02, 0x03});
    EXPECT_EQ(fpgaChip().pendingReplies(5), 2u);
    const Bytes first = takeReply(b, 5);
    EXPECT_EQ(first[2] | first[3] << 8, 0x2001) << "card 1 of port 10 answers";
    EXPECT_EQ(first[5], 0x67);
    EXPECT_EQ(b.gpio(Irq) & 1, 1);
    EXPECT_EQ(takeReply(b, 5), (Bytes{0x01, 0x02, 0x03}));
    EXPECT_EQ(b.gpio(Irq) & 1, 0);

    fpgaChip().setTxLatency(0);
    fpgaChip().setReplyDelay(4);
    sendToPort(b, 10, packet(0x0FFF, 0xF000, 0x67, 11, 0x81, {0xFF, 0x00}));
    EXPECT_EQ(fpgaChip().pendingReplies(5), 0u);
    for (int i = 0; i < 4; ++i)
        b.reg(40);
    EXPECT_EQ(fpgaChip().pendingReplies(5), 1u) << "one answer per port for a broadcast";
    EXPECT_EQ(fpgaChip().network().port(10).cards[0].saves, 1);
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST(LedNetworkModel, CardsAnswerWhatTheProgramReliesOn)
{
    LedNetwork net;
    net.port(5).linked = true;
    net.port(5).cards.resize(3);
    net.port(5).cards[2].configId = 0xBEEF;

    // RAM write then read through the PC's pass-through address.
    net.deliver(5, packet(0x1002, 0xF000, 0x67, 6, 0x60, {0x80, 0x01, 0, 0, 4, 0, 0, 0, 10, 0, 20, 0}));
    const auto read = net.deliver(5, packet(0x1002, 0xF010, 0x12, 6, 0x61, {0x80, 0x01, 0, 0, 4, 0, 0, 0}));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0][0] | read[0][1] << 8, 0xF010);
    EXPECT_EQ(Bytes(read[0].begin() + 10, read[0].end() - 1), (Bytes{0, 10, 0, 20, 0}));

    // Error-search: the first card whose config id differs, or the echoed 0x00FF.
    Bytes q(19, 0);
    q[6] = 1;
    q[7] = 0xEF, q[8] = 0xBE, q[11] = 0xFF;
    auto r = net.deliver(5, packet(0x1FFE, 0xF000, 0xAA, 6, 0x10, q));
    ASSERT_EQ(r.size(), 1u);
    ASSERT_GE(r[0].size(), 25u);
    EXPECT_EQ(r[0][18], 0xEF);
    EXPECT_EQ(r[0][22] | r[0][23] << 8, 0);
    for (auto& c : net.port(5).cards)
        c.configId = 0xBEEF;
    r = net.deliver(5, packet(0x1FFE, 0xF000, 0xAA, 6, 0x10, q));
    EXPECT_EQ(r[0][22] | r[0][23] << 8, 0x00FF);

    // Silent and damaged answers, malformed writes, unknown cards.
    net.port(5).cards[0].silent = true;
    r = net.deliver(5, packet(0x1FFF, 0xF000, 0x67, 6, 0xA0, {0x03, 0x0F, 1, 1}));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][2] & 0x0F, 1) << "the first card that is not silent answers";
    EXPECT_EQ(net.port(5).cards[2].registers[LedNetwork::MappingRegister], 1);
    net.port(5).cards[1].badCheck = true;
    r = net.deliver(5, packet(0x1001, 0xF000, 0x67, 6, 0x81, {0xFF, 0}));
    EXPECT_NE(LedNetwork::checkByte(r[0].data(), r[0].size() - 1), r[0].back());
    r = net.deliver(5, packet(0x1002, 0xF000, 0x67, 6, 0x60, {0, 0, 0, 0, 9, 0, 0, 0, 1}));
    EXPECT_EQ(r[0][10], 1) << "length field and packet disagree";
    EXPECT_TRUE(net.deliver(5, packet(0x1007, 0xF000, 0x67, 6, 0x81, {0xFF, 0})).empty());
    EXPECT_TRUE(net.deliver(5, {0x00}).empty());
    EXPECT_EQ(net.port(5).log.size(), 9u);
    net.port(6).cards.resize(1);
    EXPECT_TRUE(net.deliver(6, packet(0x2000, 0xF000, 0x67, 7, 0x81, {0xFF, 0})).empty()) << "no link";
}

TEST(LedNetworkModel, MultifunctionCardSensorAndRelays)
{
    LedNetwork net;
    net.port(6).linked = true;
    net.port(6).multifunction.present = true;
    net.port(6).multifunction.targetLevel = 9;
    const auto sensor = net.deliver(6, packet(0x6000, 0xF000, 0xBB, 0, 0x61, {0, 0, 0, 2, 0x80, 0, 0, 0}));
    ASSERT_EQ(sensor.size(), 1u);
    ASSERT_EQ(sensor[0].size(), 11u + 128 + 1);
    EXPECT_EQ(sensor[0][2] | sensor[0][3] << 8, 0x6000);
    EXPECT_EQ(sensor[0][11 + 49], 0xFF);
    EXPECT_EQ(sensor[0][11 + 52], 9);

    auto relay = net.deliver(6, packet(0x6000, 0xF000, 0xBB, 0, 0xA0, {2, 0x0C, 0, 0x0C}));
    EXPECT_EQ(relay[0][9], 0xA0);
    EXPECT_EQ(relay[0][10], 0);
    const auto ram0 = net.deliver(6, packet(0x6000, 0xF000, 0xBB, 0, 0x61, {0, 0, 0, 0, 0, 1, 0, 0}));
    ASSERT_EQ(ram0[0].size(), 11u + 256 + 1);
    EXPECT_EQ(ram0[0][11 + 44], 1);
    net.deliver(6, packet(0x6000, 0xF000, 0xBB, 0, 0xA0, {2, 0x0C, 0, 0x04}));
    EXPECT_FALSE(net.port(6).multifunction.relayPower());
    EXPECT_TRUE(net.deliver(7, packet(0x7000, 0xF000, 0xBB, 0, 0x61, {0, 0, 0, 2, 0x80, 0, 0, 0})).empty());
}

TEST_F(FpgaConfigFlash, ProgramEraseAndReadRules)
{
    b.flashSelect(true);
    // 300 bytes at 0x1F0 split at the page ends, each page behind its own write enable.
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i);
    b.program(0x1F0, Bytes(data.begin(), data.begin() + 16));
    b.program(0x200, Bytes(data.begin() + 16, data.begin() + 272));
    b.program(0x300, Bytes(data.begin() + 272, data.end()));
    EXPECT_EQ(b.fastRead(0x1F0, 300), data);
    EXPECT_TRUE(fpgaFlash().violations().empty());

    // Past the page end the flash wraps to the page start; programming only clears bits.
    b.program(0x4F8, Bytes(16, 0x0F));
    EXPECT_TRUE(mentions(fpgaFlash().violations(), "past the page end"));
    EXPECT_EQ(fpgaFlash().read(0x400, 8), Bytes(8, 0x0F));
    b.program(0x4F8, Bytes(1, 0xF0));
    EXPECT_EQ(fpgaFlash().read(0x4F8, 1), Bytes{0x00});
    EXPECT_TRUE(mentions(fpgaFlash().violations(), "not erased"));

    // No write enable: refused.
    fpgaFlash().clearViolations();
    b.flash({0x02, 0x00, 0x10, 0x00, 0x12});
    EXPECT_EQ(fpgaFlash().read(0x1000, 1), Bytes{0xFF});
    EXPECT_TRUE(mentions(fpgaFlash().violations(), "without write enable"));

    // Erase sizes, busy polls and write-enable drop.
    fpgaFlash().store(0x6C0000, Bytes(0x10000, 0x00));
    b.flash({0x06});
    EXPECT_EQ(b.flash({0x05, 0xFF})[1], 0x02);
    b.flash({0x20, 0x6C, 0x10, 0x00});
    EXPECT_EQ(b.flash({0x05, 0xFF})[1] & 1, 1);
    b.flash({0x06}); // ignored while busy
    EXPECT_TRUE(mentions(fpgaFlash().violations(), "busy"));
    b.waitReady();
    EXPECT_EQ(b.flash({0x05, 0xFF})[1], 0x00);
    EXPECT_EQ(fpgaFlash().read(0x6C1000, 0x1000), Bytes(0x1000, 0xFF));
    EXPECT_EQ(fpgaFlash().read(0x6C0FFF, 1), Bytes{0x00});
    EXPECT_EQ(fpgaFlash().read(0x6C2000, 1), Bytes{0x00});
    b.flash({0x06});
    b.flash({0x52, 0x6C, 0x80, 0x00});
    b.waitReady();
    b.flash({0x06});
    b.flash({0xD8, 0x6C, 0x00, 0x00});
    b.waitReady();
    EXPECT_EQ(fpgaFlash().read(0x6C0000, 0x10000), Bytes(0x10000, 0xFF));

    // Unique id after four dummy bytes.
    fpgaFlash().setUniqueId({1, 2, 3, 4, 5, 6, 7, 8});
    Bytes uid = b.flash({0x4B, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(Bytes(uid.begin() + 5, uid.end()), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));

    fpgaFlash().setStuckBusy(true);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(b.flash({0x05, 0xFF})[1] & 1, 1);
    b.flashSelect(false);

    fpgaFlash().clearViolations();
    b.flash({0x05, 0xFF});
    EXPECT_TRUE(mentions(fpgaFlash().violations(), "not selected"));
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST_F(FpgaConfigFlash, RecordsPersistAcrossARestart)
{
    fpgaFlash().store(FpgaFlash::BrightnessRecord, {0xAA, 0x03, 0xAA, 0, 0, 0, 0x02, 0x00, 0x00, 0x0C});
    fpgaFlash().setSavedImage(Bytes(1024, 0x5C));
    b.flashSelect(true);
    b.flash({0x06});
    b.flash({0x20, 0x6C, 0xD0, 0x00});
    b.waitReady();
    b.program(FpgaFlash::OnOffRecord, {0xAA, 0x02, 0xAA});
    EXPECT_EQ(b.fastRead(FpgaFlash::SavedImage, 3), (Bytes{0xAA, 0x5C, 0x5C}));
    b.flashSelect(false);

    // The file holds the flash up to its last write; bytes never written read erased there too.
    const QByteArray file = TestRoot::readFile("/sim/fpga0_flash.bin");
    ASSERT_GT(file.size(), int(FpgaFlash::OnOffRecord + 2));
    EXPECT_LE(file.size(), int(FpgaFlash::Size));
    EXPECT_EQ(uint8_t(file[int(FpgaFlash::OnOffRecord)]), 0xAA);
    EXPECT_EQ(uint8_t(file[int(FpgaFlash::OnOffRecord - 1)]), 0xFF);
    EXPECT_EQ(uint8_t(file[0x100000]), 0xFF);
    fpgaFlash().reload();
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::OnOffRecord, 4), (Bytes{0xAA, 0x02, 0xAA, 0xFF}));
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::BrightnessRecord + 8, 2), (Bytes{0x00, 0x0C}));
    EXPECT_EQ(fpgaFlash().read(FpgaFlash::SavedImage + 1024, 2), (Bytes{0x5C, 0xFF}));
}

}
