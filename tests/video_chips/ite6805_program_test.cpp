#include "params/block_layout.h"
#include "platform/paths.h"
#include "frame_client.h"
#include "program.h"
#include "test_root.h"

#include <gtest/gtest.h>

// The whole program on the simulated board with its default board.json: input 4 carries
// 3840x2160 at 60 Hz, and a PC tool reads what the iTE6805 receiver published, in real time
// (path states, two pixel-clock measurements of about two seconds each).
namespace {

TEST(Ite6805Program, FourKInputIsPublishedAndBothSdiAndReceiversAreFound)
{
    const int port = freeTcpPort();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini",
                                    QByteArray("[config]\nTcpPort=") + QByteArray::number(port) + "\n"));
    Program program(platform::Paths::root());
    FrameClient tool(port, 20000);
    ASSERT_TRUE(tool.connected()) << program.report();
    auto read = [&](uint32_t address, size_t n) {
        const Bytes reply = tool.request(Wire::readRam(address, uint16_t(n)));
        return reply.size() == 12 + n && Wire::checkOk(reply) ? Bytes(reply.begin() + 11, reply.begin() + 11 + long(n))
                                                              : Bytes{};
    };
    const Bytes expected{0x00, 0x0F, 0x70, 0x08, 0x3C, 0x00}; // 3840, 2160, 60
    ASSERT_TRUE(waitFor([&] { return read(blk::inputResolution(4), 6) == expected; }, 60000))
        << program.report();
    const Bytes status0 = read(0x600880, 1);
    ASSERT_EQ(status0.size(), 1u);
    EXPECT_EQ(status0[0] & 0x60, 0x60) << "both iTE6805 receivers identified";
    EXPECT_EQ(status0[0] & 0x02, 0x02) << "SDI transmitter identified";
    EXPECT_EQ(read(blk::inputResolution(5), 6), Bytes(6, 0)) << "input 5 without a source";
    EXPECT_TRUE(program.running());
}

}
