// Register access against the simulated chip: the 2-byte wire protocol, the bank cache and the
// accesses the layer refuses.
#include "scaler/c331_drv.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/sim_board.h"

#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>

using platform::Sim::c331Chip;
using Transfer = platform::Sim::C331Chip::Transfer;

namespace {

class Drv : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(drv.initialize(), 0);
        c331Chip().clearLog();
    }

    std::vector<Transfer> ofKind(Transfer::Kind kind)
    {
        std::vector<Transfer> out;
        for (const Transfer& t : c331Chip().log())
            if (t.kind == kind)
                out.push_back(t);
        return out;
    }

    c331_drv drv;
    const int fd = 0;
};

}

TEST_F(Drv, OpensTheChipInMode3At10MHz)
{
    const auto setup = c331Chip().busSetup();
    EXPECT_EQ(setup.mode, 3);
    EXPECT_EQ(setup.bitsPerWord, 8);
    EXPECT_EQ(setup.maxSpeedHz, 10000000u);
}

TEST_F(Drv, BankSelectIsSentOnlyWhenTheBankChanges)
{
    drv.write_C331(fd, 0x084801, 1, 0);
    drv.read_C331(fd, 0x084903, 0);
    EXPECT_EQ(c331Chip().selectCount(), 1u) << "same bank and offset: one select";

    drv.init_reg_acc_param();
    drv.write_C331(fd, 0x084801, 1, 0);
    EXPECT_EQ(c331Chip().selectCount(), 2u) << "a forgotten bank is selected again";

    drv.write_C331(fd, 0x094801, 1, 0);
    const auto selects = ofKind(Transfer::Select);
    ASSERT_EQ(selects.size(), 3u);
    EXPECT_EQ(selects[2].bank, 0x09);
    EXPECT_EQ(selects[2].speedHz, 10000000u);
    EXPECT_FALSE(selects[2].fullDuplex);
}

TEST_F(Drv, BankOffsetIsAddedAndTheSumCached)
{
    drv.write_C331(fd, 0x084801, 0x5A, 0x70);
    auto selects = ofKind(Transfer::Select);
    ASSERT_EQ(selects.size(), 1u);
    EXPECT_EQ(selects[0].bank, 0x78);
    EXPECT_EQ(c331Chip().value(0x784801), 0x5Au);

    EXPECT_EQ(drv.read_C331(fd, 0x784801, 0), 0x5Au);
    EXPECT_EQ(c331Chip().selectCount(), 1u) << "bank 0x78 was already selected through the offset";
}

TEST_F(Drv, MultiByteWriteGoesOutLowByteFirstAtConsecutiveAddresses)
{
    drv.write_C331(fd, 0x084903, 0x00FF00, 0);
    const auto log = c331Chip().log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].kind, Transfer::Select);
    const uint8_t addr[3] = {0x49, 0x4A, 0x4B};
    const uint8_t data[3] = {0x00, 0xFF, 0x00};
    for (int i = 0; i < 3; ++i) {
        const Transfer& t = log[1 + i];
        EXPECT_EQ(t.kind, Transfer::Write) << i;
        EXPECT_EQ(t.bank, 0x08) << i;
        EXPECT_EQ(t.addr, addr[i]) << i;
        EXPECT_EQ(t.value, data[i]) << i;
        EXPECT_EQ(t.speedHz, 10000000u) << i;
        EXPECT_FALSE(t.fullDuplex) << i;
    }
}

TEST_F(Drv, ReadsAreFullDuplexAt5MHzAndComposeLittleEndian)
{
    c331Chip().preset(0x2A0804, 0x12345678);
    EXPECT_EQ(drv.read_C331(fd, 0x2A0804, 0), 0x12345678u);
    const auto reads = ofKind(Transfer::Read);
    ASSERT_EQ(reads.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(reads[i].addr, 0x08 + i);
        EXPECT_TRUE(reads[i].fullDuplex);
        EXPECT_EQ(reads[i].speedHz, 5000000u);
    }
}

TEST_F(Drv, ReadOfWidthZeroSelectsButMovesNoData)
{
    c331Chip().preset(0x084801, 0x77);
    EXPECT_EQ(drv.read_C331(fd, 0x084800, 0), 0u);
    EXPECT_EQ(c331Chip().selectCount(), 1u);
    EXPECT_TRUE(ofKind(Transfer::Read).empty());
}

TEST_F(Drv, MaskedWriteChangesOnlyTheMaskedBits)
{
    c331Chip().preset(0x0C2101, 0xA4);
    drv.write_c331_mask(fd, 0x0C2101, 1, 0x01, 0);
    EXPECT_EQ(c331Chip().value(0x0C2101), 0xA5u);
    drv.write_c331_mask(fd, 0x0C2101, 0x00, 0xF0, 0);
    EXPECT_EQ(c331Chip().value(0x0C2101), 0x05u);

    c331Chip().preset(0x0C2802, 0x1234, 0x30);
    drv.write_c331_mask(fd, 0x0C2802, 0xABCD, 0xFF00, 0x30);
    EXPECT_EQ(c331Chip().value(0x0C2802, 0x30), 0xAB34u);
}

TEST_F(Drv, BanksBeyond0xFFAreRefused)
{
    c331Chip().preset(0x000901, 7);
    drv.write_C331(fd, 0xF00801, 1, 0x20);
    // -16 as a bank offset: in 32 bits 0x10 - 16 would wrap to bank 0 and hit channel 0's registers
    EXPECT_EQ(drv.read_C331(fd, 0x100901, uint32_t(-16)), 0u);
    drv.write_C331(fd, 0x100901, 3, uint32_t(-16));
    drv.write_c331_mask(fd, 0x100901, 1, 1, 16 * 255);
    EXPECT_EQ(c331Chip().transferCount(), 0u);
    EXPECT_EQ(c331Chip().value(0x000901), 7u);

    drv.write_C331(fd, 0xF00801, 0x42, 0x0F);
    EXPECT_EQ(c331Chip().value(0xFF0801), 0x42u) << "bank 0xFF itself is reachable";
}

TEST_F(Drv, DescriptorsRunningPastAddress0x7FAreRefused)
{
    drv.write_C331(fd, 0x087E04, 0x11223344, 0);
    EXPECT_EQ(drv.read_C331(fd, 0x087F02, 0), 0u);
    drv.write_C331(fd, 0x088001, 1, 0);
    EXPECT_EQ(c331Chip().transferCount(), 0u) << "address 0x80 would have gone out as a bank select";

    drv.write_C331(fd, 0x087C04, 0x11223344, 0);
    EXPECT_EQ(c331Chip().value(0x087C04), 0x11223344u) << "a register ending at 0x7F is fine";
}

TEST_F(Drv, WriteToAddressZeroForgetsTheSelectedBank)
{
    drv.write_C331(fd, 0xFF0001, 8, 0); // the clock generator's first row: the chip now sits in bank 8
    drv.write_C331(fd, 0xFF0201, 200, 0);
    EXPECT_EQ(c331Chip().value(0xFF0201), 200u);
    EXPECT_EQ(c331Chip().value(0x080201), 0u);
    EXPECT_EQ(c331Chip().selectCount(), 3u);
}

TEST_F(Drv, FailedTransfersLeaveNoStaleStateBehind)
{
    c331Chip().preset(0x300801, 0x5A);
    ASSERT_EQ(drv.read_C331(fd, 0x300801, 0), 0x5Au);
    c331Chip().failNextTransfers(1);
    EXPECT_EQ(drv.read_C331(fd, 0x300801, 0), 0u) << "a failed read gives 0, not the last bytes received";
    EXPECT_EQ(drv.read_C331(fd, 0x300801, 0), 0x5Au);

    // A select that did not go out is not remembered, and its data byte does not go out into the
    // bank selected before (the bus is shared with the FPGA's flash).
    c331Chip().failNextTransfers(1);
    drv.write_C331(fd, 0x084801, 1, 0);
    EXPECT_EQ(c331Chip().value(0x304801), 0u);
    drv.write_C331(fd, 0x084801, 2, 0);
    EXPECT_EQ(c331Chip().value(0x084801), 2u);
}

TEST_F(Drv, FpgaFlashSelectsAreReleasedBeforeEveryTransfer)
{
    fpga_manage::instanceWithoutWorker();
    auto word = [](uint32_t offset) { return platform::Sim::memSim().read16(0x1F000000 + offset); };
    auto select = [] {
        fpga_manage::gpio_write(fpga_manage::cs_fpga0, 0);
        fpga_manage::gpio_write(fpga_manage::cs_fpga1, 0);
    };
    select();
    drv.write_C331(fd, 0x084801, 1, 0);
    EXPECT_EQ(word(fpga_manage::cs_fpga0), 16);
    EXPECT_EQ(word(fpga_manage::cs_fpga1), 16);
    select();
    drv.read_C331(fd, 0x084801, 0);
    EXPECT_EQ(word(fpga_manage::cs_fpga0), 16);
    EXPECT_EQ(word(fpga_manage::cs_fpga1), 16);
}

TEST_F(Drv, MaskedWritesFromSeveralThreadsLoseNoUpdate)
{
    // Each thread owns one bit of the same register; another thread's read-modify-write must never
    // put back a stale copy of it.
    c331Chip().preset(0x0C2101, 0);
    std::atomic<int> violations{0};
    std::vector<std::thread> threads;
    for (uint32_t bit = 0; bit < 4; ++bit) {
        threads.emplace_back([&, bit] {
            const uint32_t mask = 1u << bit;
            for (int i = 0; i < 200; ++i) {
                drv.write_c331_mask(fd, 0x0C2101, mask, mask, 0);
                if (!(drv.read_C331(fd, 0x0C2101, 0) & mask))
                    ++violations;
                drv.write_c331_mask(fd, 0x0C2101, 0, mask, 0);
                if (drv.read_C331(fd, 0x0C2101, 0) & mask)
                    ++violations;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(c331Chip().value(0x0C2101), 0u);
}

// Settings banks 0x08-0x9F (but 0x09) keep what was written: a write that changes no byte of the
// register stays off the bus. Triggers, flags, the palette port and the measurements always go out.
TEST_F(Drv, RepeatedSettingsWritesStayOffTheBus)
{
    const struct {
        uint32_t desc;
        bool skipped;
    } rows[] = {{0x084903, true}, {0x0E0F02, true}, {0x9F1001, true}, {0x002201, false}, {0x050901, false},
                {0x071001, false}, {0x091F01, false}, {0xA01001, false}, {0xB20801, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.desc));
        drv.write_C331(fd, row.desc, 0x123456, 0);
        const size_t writes = ofKind(Transfer::Write).size();
        drv.write_C331(fd, row.desc, 0x123456, 0);
        EXPECT_EQ(ofKind(Transfer::Write).size() - writes, row.skipped ? 0u : (row.desc & 0xFF));
    }

    c331Chip().clearLog();
    drv.write_C331(fd, 0x084903, 0x123457, 0); // one byte differs: the whole register goes out
    EXPECT_EQ(c331Chip().writesTo(0x084903).size(), 3u);
    EXPECT_EQ(c331Chip().value(0x084903), 0x123457u);
    drv.write_C331(fd, 0x084903, 0x123457, 16); // another channel's bank is another register
    EXPECT_EQ(c331Chip().writesTo(0x084903, 16).size(), 3u);

    // A value read from the chip is known as well; forgetting sends everything again.
    c331Chip().preset(0x0A2001, 0x5A);
    EXPECT_EQ(drv.read_C331(fd, 0x0A2001, 0), 0x5Au);
    c331Chip().clearLog();
    drv.write_C331(fd, 0x0A2001, 0x5A, 0);
    EXPECT_TRUE(c331Chip().writesTo(0x0A2001).empty());
    drv.init_reg_acc_param();
    drv.write_C331(fd, 0x0A2001, 0x5A, 0);
    EXPECT_EQ(c331Chip().writesTo(0x0A2001).size(), 1u);

    // A byte whose transfer failed is sent again.
    c331Chip().failNextTransfers(1);
    drv.write_C331(fd, 0x0A2101, 0x33, 0);
    EXPECT_NE(c331Chip().value(0x0A2101), 0x33u);
    drv.write_C331(fd, 0x0A2101, 0x33, 0);
    EXPECT_EQ(c331Chip().value(0x0A2101), 0x33u);
}
