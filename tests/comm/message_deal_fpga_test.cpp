// Memory commands for the FPGA side: RAM images, banks, the extension clock, flash store.
#include "fpga/fpga_drv.h"
#include "message_deal_fixture.h"
#include "platform/sim/devices/fpga_chip.h"
#include "store_face.h"

#include <cstring>

class FpgaMemoryTest : public MessageDealTest {
protected:
    void SetUp() override
    {
        MessageDealTest::SetUp();
        fpga_manage::gpio_write(fpga->rst_fpga0, 16); // FPGA 0 out of reset
        fpga->MCU_REG_func[0][80] = 3;
        fpga->MCU_REG_func[1][80] = 3;
    }
    std::vector<uint8_t> bank(int b, uint32_t at, uint32_t n, int which = 0)
    {
        std::vector<uint8_t> v(n);
        fpga->read_fpga_ram(v.data(), at, n, b, which);
        return v;
    }
};

TEST_F(FpgaMemoryTest, ParameterRamWriteMirrorsPortPositionsAndReachesBank1)
{
    EXPECT_EQ(writeRam(8, {1, 2, 3, 4, 5, 6}, kFpgaSide), 0);
    const uint8_t* back = fpga->MCU_RAM_ETH_BACK_PARA_func[0];
    EXPECT_EQ(std::vector<uint8_t>(back + 4, back + 8), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(back[8], 0) << "offsets 12-13 are not in the mirror table";
    EXPECT_EQ(bank(1, 8, 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    // Reads take the mirrored bytes from the backup, the others from the FPGA.
    fpga->MCU_RAM_ETH_BACK_PARA_func[0][4] = 0x99;
    EXPECT_EQ(readRam(8, 6, kFpgaSide), (std::vector<uint8_t>{0x99, 2, 3, 4, 5, 6}));
}

TEST_F(FpgaMemoryTest, HighAddressBitsNeverMoveTheWrite)
{
    EXPECT_EQ(writeRam(0xF0000010, {0x77}, kFpgaSide), 0);
    EXPECT_EQ(fpga->MCU_RAM_PARA_func[0][0x10], 0x77);
    EXPECT_EQ(writeRam(0x3FE, {1, 2, 3}, kFpgaSide), 1) << "past the 1024-byte image";
    EXPECT_EQ(fpga->MCU_RAM_PARA_func[0][0x3FE], 0);
}

// FPGA 1 (byte 7 = 2) is not fitted: a write that would reach its RAM is answered failure and
// its image keeps what it held; so is a write FPGA 0 does not take.
TEST_F(FpgaMemoryTest, FrameBytes6And7ChooseTheFpgaAndAWriteItDoesNotTakeFails)
{
    ASSERT_EQ(send(kFpgaSide, 0x60, ramRequest(0x21, 1, {0x43}), kMessageBufferSize, 1, 2), 1u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(fpga->MCU_RAM_PARA_func[0][0x21], 0x43) << "byte 6 not 0: FPGA 0";
    EXPECT_EQ(bank(1, 0x21, 1), std::vector<uint8_t>{0x43});
    // The command area and the extension are FPGA 0's: FPGA 0's doorbell must not run a record
    // sent to FPGA 1. Nothing of them reaches FPGA 0.
    platform::Sim::fpgaChip().clearLog();
    for (uint32_t address : {0x20u, 0x01003000u, 0x02001000u, 0x04000000u, 0x05000000u, 0x06000010u, 0x810u}) {
        SCOPED_TRACE(testing::Message() << std::hex << address);
        ASSERT_EQ(send(kFpgaSide, 0x60, ramRequest(address, 1, {0x42}), kMessageBufferSize, 0, 2), 1u);
        EXPECT_EQ(buf[10], 1);
    }
    for (const auto& a : platform::Sim::fpgaChip().log())
        EXPECT_TRUE(a.kind == platform::Sim::FpgaChip::Access::RegisterRead || a.kind == platform::Sim::FpgaChip::Access::RamRead)
            << "write to bank " << int(a.bank) << " at " << a.address;
    platform::Sim::fpgaChip().failNextTransfers(2);
    EXPECT_EQ(writeRam(0x30, {0x44}, kFpgaSide), 1);
    EXPECT_EQ(fpga->MCU_RAM_PARA_func[0][0x30], 0);
    EXPECT_EQ(bank(1, 0x30, 1), std::vector<uint8_t>{0});
    // Held in reset FPGA 0 drops bank writes; until it is up again its start rewrites banks 1 and 50.
    for (const bool reset : {true, false}) {
        SCOPED_TRACE(reset ? "held in reset" : "not up");
        fpga->MCU_REG_func[0][80] = reset ? 3 : 2;
        if (reset)
            fpga->hold_in_reset(0);
        for (uint32_t address : {0x30u, 0x01003000u, 0x04000000u})
            EXPECT_EQ(writeRam(address, {0x45}, kFpgaSide), 1) << std::hex << address;
        EXPECT_EQ(writeRam(0x830, {0x46}, kFpgaSide), 0) << "the extension is the program's";
        fpga->rst_pending[0] = 0;
        fpga_manage::gpio_write(fpga->rst_fpga0, 16);
    }
    EXPECT_EQ(fpga->MCU_RAM_PARA_func[0][0x30], 0);
    EXPECT_EQ(fpga->MCU_RAM_TX_func[0][0], 0);
}

TEST_F(FpgaMemoryTest, PortAreasAndStagedImages)
{
    EXPECT_EQ(writeRam(0x01003000, {5, 6}, kFpgaSide), 0); // odd port 3: RX, bank 4
    EXPECT_EQ(fpga->MCU_RAM_RX_func[0][0], 5);
    EXPECT_EQ(bank(4, 0, 2), (std::vector<uint8_t>{5, 6}));
    EXPECT_EQ(writeRam(0x01002010, {7}, kFpgaSide), 0); // even port 2: TX, bank 3 at 0x10
    EXPECT_EQ(bank(3, 0x10, 1), std::vector<uint8_t>{7});
    EXPECT_EQ(writeRam(0x02000000, {8}, kFpgaSide), 0);
    EXPECT_EQ(fpga_manage::MCU_RAM_DEFAULT[0], 8);
    EXPECT_EQ(bank(33, 0, 1), std::vector<uint8_t>{8});

    // Port 0 of area 1 and areas 3, 7-15 take nothing: writes fail, reads answer zeros, not old
    // buffer bytes.
    for (uint32_t address : {0x01000000u, 0x03000000u, 0x07000000u, 0x0F000000u})
        EXPECT_EQ(writeRam(address, {9}, kFpgaSide), 1) << std::hex << address;
    EXPECT_EQ(fpga->MCU_RAM_TX_func[0][0], 7);
    EXPECT_EQ(fpga->MCU_RAM_RX_func[0][0], 5);
    EXPECT_EQ(bank(1, 0, 1), std::vector<uint8_t>{0});
    EXPECT_EQ(readRam(0x01000000, 3, kFpgaSide), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(readRam(0x03000000, 2, kFpgaSide), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(readRam(0x01003000, 2, kFpgaSide), (std::vector<uint8_t>{5, 6}));
}

TEST_F(FpgaMemoryTest, ExtensionWritesReloadTheMulticastSettings)
{
    fpga->multicast_flag = 1;
    fpga_manage::MCU_RAM_EXTEND[49] = 0xFF;
    std::vector<uint8_t> data(262, 0);
    putU32(&data[257], 0x0000F00F);
    EXPECT_EQ(writeRam(0x800, data, kFpgaSide), 0);
    EXPECT_EQ(fpga->multicast_flag, 0);
    EXPECT_EQ(fpga->multicast_port_mask, 0x0000F00Fu);
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[49], 0); // written 0, bit 6 cleared
    EXPECT_EQ(writeRam(0xC00, {1}, kFpgaSide), 1) << "offset 0x400 is past the image";
}

TEST_F(FpgaMemoryTest, ExtensionReadCarriesTheClockInBcd)
{
    message_deal::clock = [] { return QDateTime(QDate(2024, 5, 1), QTime(9, 30, 7)); };
    fpga->MCU_REG_func[0][64] = 0x21;
    const std::vector<uint8_t> ext = readRam(0x800, 50, kFpgaSide);
    EXPECT_EQ(std::vector<uint8_t>(ext.begin() + 16, ext.begin() + 24),
              (std::vector<uint8_t>{0x24, 0x20, 0x05, 0x01, 0x09, 0x30, 0x07, 0x00}));
    EXPECT_EQ(ext[28], 0x21);
    EXPECT_EQ(ext[49], 0x9F);
    message_deal::clock = [] { return QDateTime::currentDateTime(); };
}

// A read FPGA 0 does not answer fails: the image may hold what the FPGA no longer does.
TEST_F(FpgaMemoryTest, ReadsOfAnFpgaThatIsDownAnswerZerosAndUnansweredOnesFail)
{
    for (uint32_t address : {0x10u, 0x01003000u, 0x02000000u, 0x04000000u}) {
        SCOPED_TRACE(testing::Message() << std::hex << address);
        ASSERT_EQ(writeRam(address, {0x47}, kFpgaSide), 0);
        platform::Sim::fpgaChip().failNextTransfers(2);
        ASSERT_EQ(send(kFpgaSide, 0x61, ramRequest(address, 1)), 2u);
        platform::Sim::fpgaChip().failNextTransfers(0);
        EXPECT_EQ(buf[10], 1);
        EXPECT_EQ(buf[11], 0);
    }
    fpga->MCU_RAM_PARA_func[0][0] = 1;
    uint8_t one = 1;
    fpga->write_fpga_ram(&one, 0, 1, 1, 0);
    fpga->MCU_REG_func[0][80] = 2;
    EXPECT_EQ(readRam(0, 2, kFpgaSide), (std::vector<uint8_t>{0, 0}));
    ASSERT_EQ(send(kFpgaSide, 0x61, ramRequest(0x3FF, 2)), 2u);
    EXPECT_EQ(buf[10], 1) << "the range is refused first";
}

TEST_F(FpgaMemoryTest, HalvingFlagHalvesParameterWord0x74)
{
    // The FPGA itself measures the input width there once the canvas is applied.
    platform::Sim::fpgaChip().setMeasuredInput(800, 600, 833333);
    fpga->write_to_register(2, 0x01, 0x01, 0);
    scaler->half_flag = 1;
    EXPECT_EQ(readRam(0x74, 2, kFpgaSide), (std::vector<uint8_t>{0x90, 0x01}));
    EXPECT_EQ(readRam(0x74, 2, kFpgaSide), (std::vector<uint8_t>{0x90, 0x01})) << "halved once a read";
    scaler->half_flag = 0;
    EXPECT_EQ(readRam(0x74, 2, kFpgaSide), (std::vector<uint8_t>{0x20, 0x03}));
}

TEST_F(FpgaMemoryTest, ParamSaveStoresTheImageAndFitsWindow0)
{
    uint8_t* para = fpga->MCU_RAM_PARA_func[0];
    for (uint32_t i = 0; i < fpga_manage::kRamSize; ++i)
        para[i] = uint8_t(i * 7);
    putU16(para + 56, 10);
    putU16(para + 60, 2000);
    putU16(para + 58, 0);
    putU16(para + 62, 20); // below 64: taken as 64
    testBlock(store)[kWindowBase + kWindowSize * 3] = 1;
    const std::vector<uint8_t> before(testBlock(store), testBlock(store) + kBlockSize);
    // FPGA 1 and its flash are not fitted: its store is refused, and the screen stays as it was.
    ASSERT_EQ(send(kFpgaSide, 0x81, {}, kMessageBufferSize, 0, 2), 1u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(differences(std::vector<uint8_t>(testBlock(store), testBlock(store) + kBlockSize), before, 0), "");
    EXPECT_EQ(scaler->change_flag, 0);

    ASSERT_EQ(send(kFpgaSide, 0x81, {}), 1u);
    EXPECT_EQ(buf[10], 0);

    std::vector<uint8_t> flash(fpga_manage::kRamSize + 1);
    ASSERT_EQ(fpga->fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(2, 0x6C7000, uint32_t(flash.size()), flash.data()), 1);
    EXPECT_EQ(flash[0], 0xAA);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 1, flash.end()), std::vector<uint8_t>(para, para + 1024));
    EXPECT_EQ(getU16(fpga->MCU_RAM_ETH_BACK_PARA_func[0] + 4), getU16(para + 8));

    EXPECT_EQ(blockU16(0x562), 2010);
    EXPECT_EQ(blockU16(0x564), 64);
    EXPECT_EQ(blockU16(0x58C), 2010);
    EXPECT_EQ(blockU16(kWindowBase + 14), 2010);
    EXPECT_EQ(testBlock(store)[kWindowBase + kWindowSize * 3], 0);
    EXPECT_EQ(scaler->change_flag, 1);
    scaler->change_flag = 0;
    send(kFpgaSide, 0x81, {});
    EXPECT_EQ(scaler->change_flag, 0) << "the screen already fits: no hand-over";
}

TEST_F(FpgaMemoryTest, EmptyReadsAnswerCleanlyInEveryArea)
{
    // Length 0 while both FPGAs are up: status 0 and no data, never a copy from nowhere (the
    // sanitizer build stops on a null source handed to memcpy).
    for (uint32_t address : {0x00000000u, 0x00000010u, 0x00000800u, 0x01003000u, 0x01002000u, 0x02000000u,
                             0x02001000u, 0x04000000u, 0x05000000u, 0x06000000u, 0x07000000u}) {
        for (uint8_t byte7 : {uint8_t(1), uint8_t(2)}) {
            SCOPED_TRACE(testing::Message() << std::hex << address << " FPGA " << int(byte7 - 1));
            ASSERT_EQ(send(kFpgaSide, 0x61, ramRequest(address, 0), kMessageBufferSize, 0, byte7), 1u);
            EXPECT_EQ(buf[10], 0);
        }
    }
    EXPECT_EQ(readRam(8, 2, kFpgaSide), std::vector<uint8_t>(2, 0)) << "later reads still served";
}
