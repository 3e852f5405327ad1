// A PC tool's window records written over TCP and applied with register 11, with the scaler
// driven pass by pass: what reaches the chip's capture and output registers.
#include "scaler_fixture.h"

#include "second_writer.h"
#include "comm/networkmanage.h"
#include "comm/tcpserver.h"
#include "params/block_layout.h"

#include <algorithm>
#include <memory>
#include <thread>

using namespace scaler_test;

namespace {

namespace win = blk::win;

Bytes le16(std::initializer_list<uint16_t> words)
{
    Bytes b;
    for (uint16_t w : words)
        b.push_back(uint8_t(w)), b.push_back(uint8_t(w >> 8));
    return b;
}

class WindowRecordsOverTcp : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        g_force_bkcolor = 2;
        bringUp();
        settle();
        g_port = 0; // any free port
        const int port = networkManage::pInstance()->server()->port();
        ASSERT_GT(port, 0);
        tool = std::make_unique<SecondWriter>(SecondWriter::overTcp(port));
        ASSERT_TRUE(tool->connected());
    }

    // Record r's state, mirror and source, then its rectangle: two writes as the tool sends them.
    void writeRecord(uint32_t r, uint16_t state, uint16_t mirror, uint16_t source, uint16_t x, uint16_t y,
                     uint16_t w, uint16_t h)
    {
        EXPECT_EQ(tool->writeBlock(blk::window(r, win::kState), le16({state, 0, mirror, 0, source})), 0);
        EXPECT_EQ(tool->writeBlock(blk::window(r, win::kX), le16({x, y, w, h})), 0);
    }
    // Register 11 bit 1: apply the block; the scaler's pass that serves the hand-over, which the
    // answer waits for.
    void apply()
    {
        std::thread applying([this] { EXPECT_EQ(tool->apply(), 0); });
        EXPECT_TRUE(waitFor([this] { return scaler->change_flag.load() != 0; }, 5000));
        scaler->runOnce();
        applying.join();
        EXPECT_EQ(scaler->change_flag.load(), 0);
    }

    // The output channels the chip shows slot w on.
    std::vector<int> channelsOf(int w) const
    {
        std::vector<int> out;
        for (int o = 0; o < 8; ++o)
            if (scaler->PM_WIN_NUM[o] == w)
                out.push_back(o);
        return out;
    }

    std::unique_ptr<SecondWriter> tool;
};

}

TEST_F(WindowRecordsOverTcp, RecordsReachTheChipAndAWindowSwitchedOffLeavesIt)
{
    // Window 0 from HDMI 2 (input 3, chip port 0), 960 x 540 at (100, 50), mirrored; window 1 on
    // beside it from HDMI 1.
    writeRecord(0, 1, 1, 3, 100, 50, 960, 540);
    writeRecord(1, 1, 0, 2, 1000, 0, 640, 360);
    apply();
    const uint32_t acthst = uint32_t(scaler->PS_ACTHST), actvst = uint32_t(scaler->PS_ACTVST);
    const std::vector<int> shows0 = channelsOf(0);
    ASSERT_EQ(shows0.size(), 1u);
    const uint32_t off = 16 * uint32_t(shows0[0]);
    EXPECT_EQ(c331Chip().value(0x084002, off), acthst + 100);
    EXPECT_EQ(c331Chip().value(0x084202, off), 960u);
    EXPECT_EQ(c331Chip().value(0x084402, off), actvst + 50);
    EXPECT_EQ(c331Chip().value(0x084602, off), 541u);
    EXPECT_EQ(c331Chip().value(0x082201, off), 1u) << "mirrored";
    const int capture = scaler->g_win_ich[0][0];
    ASSERT_GE(capture, 0);
    EXPECT_EQ(c331Chip().value(0x001001 + (uint32_t(capture) << 8)) / 2, 0u) << "captured from port 0";
    ASSERT_EQ(channelsOf(1).size(), 1u);
    const uint32_t off1 = 16 * uint32_t(channelsOf(1)[0]);
    EXPECT_EQ(c331Chip().value(0x084002, off1), acthst + 1000);
    EXPECT_EQ(c331Chip().value(0x084202, off1), 640u);
    EXPECT_EQ(c331Chip().value(0x001001 + (uint32_t(scaler->g_win_ich[1][0]) << 8)) / 2, 1u) << "port 1";

    // Both are layers of the first mix group: its member word holds channel + 8 per nibble.
    auto members = [] {
        std::vector<uint32_t> m;
        for (uint32_t word = c331Chip().value(0x0E0904); word; word >>= 4)
            m.push_back((word & 0xF) - 8);
        std::sort(m.begin(), m.end());
        return m;
    };
    std::vector<uint32_t> both = {uint32_t(shows0[0]), uint32_t(channelsOf(1)[0])};
    std::sort(both.begin(), both.end());
    EXPECT_EQ(members(), both);

    // Window 1 off: it leaves the mix group, window 0 stays where it was.
    writeRecord(1, 0, 0, 2, 1000, 0, 640, 360);
    apply();
    EXPECT_TRUE(channelsOf(1).empty());
    EXPECT_EQ(members(), std::vector<uint32_t>{uint32_t(shows0[0])});
    ASSERT_EQ(channelsOf(0).size(), 1u);
    EXPECT_EQ(c331Chip().value(0x084202, 16 * uint32_t(channelsOf(0)[0])), 960u);
}
