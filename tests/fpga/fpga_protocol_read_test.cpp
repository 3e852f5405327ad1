// The FPGA-side memory reads of the control protocol at the edges of their ranges, with FPGA 0 up.
#include "../comm/message_deal_fixture.h"
#include "platform/sim/devices/fpga_chip.h"

using platform::Sim::fpgaChip;

class FpgaProtocolRead : public MessageDealTest {
protected:
    void SetUp() override
    {
        MessageDealTest::SetUp();
        fpga_manage::gpio_write(fpga_manage::rst_fpga0, 16);
        fpgaChip().watchLines(); // powered on now, so what the test puts in RAM stays
        fpga->MCU_REG_func[0][FpgaReg::State] = FpgaReg::StateUp;
    }
};

// An empty read answers status 0 and no data in every area; with the sanitizers on, a copy from
// an empty buffer would end the test.
TEST_F(FpgaProtocolRead, EmptyReadsOfEveryAreaAnswerStatusOnly)
{
    fpgaChip().setRam(1, 0x10, {0x11, 0x22});
    for (uint32_t address : {0x00000010u, 0x00000810u, 0x01003000u, 0x02000000u, 0x04000000u, 0x05000000u}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(send(kFpgaSide, 0x61, ramRequest(address, 0)), 1u);
        EXPECT_EQ(buf[10], 0);
    }
    EXPECT_EQ(readRam(0x10, 2, kFpgaSide), (std::vector<uint8_t>{0x11, 0x22})) << "a read with data still reads";
}
