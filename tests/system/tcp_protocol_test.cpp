// The program started on the simulated board and driven over a real TCP connection, as a PC
// tool drives the box: parameter memory reads and writes, however the stream is cut, with many
// clients, clients that vanish and clients that send garbage.
#include "frame_client.h"
#include "program.h"
#include "test_root.h"

#include "platform/paths.h"

#include <QImage>
#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <thread>

namespace {

class TcpProtocol : public ::testing::Test {
protected:
    void start(uint8_t brightness = 100)
    {
        port = freeTcpPort();
        ASSERT_GT(port, 0);
        ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini",
                                        QByteArray("[config]\nTcpPort=") + QByteArray::number(port) + "\n"));
        // Parameter file: AA AA, then block 0x300 on; the brightness word sits at block 0x880.
        QByteArray para(4096, '\0');
        para[0] = char(0xAA);
        para[1] = char(0xAA);
        para[2 + 0x880 - 0x300] = char(brightness);
        ASSERT_TRUE(TestRoot::writeFile("/data/ram_device_info", para));
        program = std::make_unique<Program>(platform::Paths::root());
        tool = connect(20000);
        ASSERT_TRUE(tool->connected()) << program->report();
    }
    std::unique_ptr<FrameClient> connect(int timeoutMs = 2000) { return std::make_unique<FrameClient>(port, timeoutMs); }

    // Status of a write; data of a read (status 0 checked), each reply checked whole.
    static uint8_t write(FrameClient& c, uint32_t address, const Bytes& data)
    {
        const Bytes reply = c.request(Wire::writeRam(address, data));
        EXPECT_EQ(reply.size(), 12u);
        EXPECT_TRUE(Wire::checkOk(reply));
        return reply.size() > 10 ? reply[10] : 0xFF;
    }
    static Bytes read(FrameClient& c, uint32_t address, uint16_t n)
    {
        const Bytes reply = c.request(Wire::readRam(address, n));
        EXPECT_EQ(reply.size(), 12u + n);
        EXPECT_TRUE(Wire::checkOk(reply));
        if (reply.size() != 12u + n || reply[10] != 0)
            return {};
        return Bytes(reply.begin() + 11, reply.end() - 1);
    }

    // The front screen as a tool reads it: the size from the head, then the PNG from 0x800082 in
    // pieces. A null image when the program has no screen yet.
    static QImage screenshot(FrameClient& c)
    {
        // The grab waits for the GUI thread, which a loaded, instrumented build can keep busy for
        // seconds; a reply that came late would be taken for the next request's.
        const Bytes reply = c.request(Wire::readRam(0x800000, 16), 20000);
        if (reply.size() != 28 || reply[10] != 0)
            return QImage();
        const uint32_t size = reply[23] | reply[24] << 8 | reply[25] << 16 | uint32_t(reply[26]) << 24;
        Bytes png;
        for (uint32_t at = 0; at < size;) {
            const uint16_t n = uint16_t(std::min<uint32_t>(size - at, 30000));
            const Bytes piece = read(c, 0x800082 + at, n);
            if (piece.size() != n)
                return QImage();
            png.insert(png.end(), piece.begin(), piece.end());
            at += n;
        }
        return QImage::fromData(png.data(), int(png.size()), "PNG");
    }

    int port = -1;
    std::unique_ptr<Program> program;
    std::unique_ptr<FrameClient> tool;
};

}

TEST_F(TcpProtocol, ParameterBlockReadsAndWrites)
{
    start(42);
    EXPECT_EQ(read(*tool, 0x880, 2), Bytes({42, 0})) << "the brightness loaded from the parameter file";
    const Bytes block = read(*tool, 0x500, 1024);
    ASSERT_EQ(block.size(), 1024u);
    EXPECT_EQ(block[0x380], 42);

    const Bytes pattern = {0x5A, 0xA5, 0x5B, 0xA6, 1, 2, 3, 4, 0, 0xFF, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    EXPECT_EQ(write(*tool, 0xF80, pattern), 0);
    EXPECT_EQ(read(*tool, 0xF80, 16), pattern);
    EXPECT_EQ(write(*tool, 0xFFE, {1, 2, 3, 4}), 1) << "past the end of the block";
    EXPECT_EQ(write(*tool, 0xFFE, {1, 2}), 0);
    EXPECT_EQ(write(*tool, 0x1002, {7, 8, 9}), 0) << "user-mode record 0, its body";
    EXPECT_EQ(read(*tool, 0x1002, 3), Bytes({7, 8, 9}));

    // One byte A5 written at block 0x5A, byte for byte as a tool sends it.
    ASSERT_TRUE(tool->sendRaw({0xA5, 0xA5, 0xA5, 0x00, 0xF1, 0x10, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0x5B,
                               0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA6, 0x02, 0x8F, 0x5A}));
    Bytes reply;
    ASSERT_TRUE(tool->receive(&reply));
    EXPECT_EQ(reply, Wire::sealed({0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0x60, 0x00}));
    EXPECT_EQ(read(*tool, 0x5A, 1), Bytes({0xA5}));
}

TEST_F(TcpProtocol, StreamCutIntoSingleBytesAndFramesSharingASegment)
{
    start();
    const Bytes wire = Wire::stuff(Wire::writeRam(0xF40, {0xA5, 0x5A, 0x11, 0x22}));
    for (uint8_t b : wire) {
        ASSERT_TRUE(tool->sendRaw({b}));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Bytes reply;
    ASSERT_TRUE(tool->receive(&reply));
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(reply[10], 0);

    Bytes segment;
    for (const Bytes& body : {Wire::readRam(0xF40, 4), Wire::writeRam(0xF44, {0x33}), Wire::readRam(0xF40, 5)}) {
        const Bytes w = Wire::stuff(body);
        segment.insert(segment.end(), w.begin(), w.end());
    }
    ASSERT_TRUE(tool->sendRaw(segment));
    const std::vector<Bytes> expected = {
        Wire::sealed({0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0x61, 0, 0xA5, 0x5A, 0x11, 0x22}),
        Wire::sealed({0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0x60, 0}),
        Wire::sealed({0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0x61, 0, 0xA5, 0x5A, 0x11, 0x22, 0x33}),
    };
    for (const Bytes& e : expected) {
        ASSERT_TRUE(tool->receive(&reply));
        EXPECT_EQ(reply, e);
    }
}

TEST_F(TcpProtocol, ManyClientsWhileOthersVanishOrSendGarbage)
{
    start();
    std::mt19937 random(5);
    {
        auto vanishes = connect();
        auto crashes = connect();
        ASSERT_TRUE(crashes->sendRaw({0xA5, 0x00, 0xF1, 0x10}));
        crashes->reset();
    }
    auto garbage = connect();
    // Random bytes without an end byte: one frame that never ends and outgrows every buffer
    // (with end bytes, some of the random frames would pass their check and be run).
    Bytes noise(200000);
    for (uint8_t& b : noise)
        b = uint8_t(random());
    for (uint8_t& b : noise)
        b = b == 0x5A ? 0x00 : b;
    noise[0] = 0xA5;
    std::thread spray([&] { garbage->sendRaw(noise); });

    std::vector<std::unique_ptr<FrameClient>> clients;
    for (int i = 0; i < 40; ++i)
        clients.push_back(connect());
    for (size_t i = 0; i < clients.size(); ++i) // each its own 4 bytes of the block
        ASSERT_TRUE(clients[i]->sendFrame(Wire::writeRam(0xE00 + 4 * uint32_t(i), {uint8_t(i), 0xA5, 0x5A, uint8_t(~i)})));
    for (size_t i = 0; i < clients.size(); ++i) {
        Bytes reply;
        ASSERT_TRUE(clients[i]->receive(&reply)) << "client " << i;
        EXPECT_EQ(reply.size() > 10 ? reply[10] : 0xFF, 0);
    }
    spray.join();
    for (size_t i = 0; i < clients.size(); ++i)
        EXPECT_EQ(read(*clients[i], 0xE00 + 4 * uint32_t(i), 4), Bytes({uint8_t(i), 0xA5, 0x5A, uint8_t(~i)}));
    EXPECT_EQ(read(*garbage, 0xE00, 4), Bytes({0, 0xA5, 0x5A, 0xFF})) << "garbage costs its sender nothing later";
    EXPECT_TRUE(program->running()) << program->report();
}

TEST_F(TcpProtocol, RebootRegisterEndsTheProgramThreeSecondsLaterWithCode77)
{
    start();
    // register 161, mask 1, a spare byte, value 1: bit 0 asks for the reboot
    const auto asked = std::chrono::steady_clock::now();
    const Bytes reply = tool->request(Wire::request(0xA0, {161, 0x01, 0x00, 0x01}));
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(reply[10], 0);
    // The reboot waits 300 ticks of the panel's 10 ms clock, which counts the periods that really
    // passed: it comes 3 s later, not at once, however slowly this build runs.
    ASSERT_TRUE(waitFor([&] { return !program->running(); }, 15000));
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(2500)) << "the reboot came at once";
    EXPECT_NE(program->report().find("status 19712"), std::string::npos) << program->report(); // exit 77
    const QStringList shell = TestRoot::shellLog();
    EXPECT_EQ(shell.count("reboot"), 1);
}

TEST_F(TcpProtocol, ScreenshotShowsTheWindowsOnTop)
{
    start();
    // At start the home screen lies over the root menu; its rule under the top line is on no page.
    const QColor homeRule(133, 129, 153);
    QImage image;
    ASSERT_TRUE(waitFor([&] {
        image = screenshot(*tool);
        return !image.isNull();
    }, 10000)) << program->report();
    ASSERT_EQ(image.size(), QSize(320, 240));
    EXPECT_EQ(image.pixelColor(160, 73), homeRule);
    EXPECT_EQ(image.pixelColor(20, 73), homeRule);

    // Register 9 above 15 opens the full-screen upgrade dialog.
    const Bytes reply = tool->request(Wire::request(0xA0, {9, 0xFF, 0x00, 0x10}));
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(reply[10], 0);
    EXPECT_TRUE(waitFor([&] {
        image = screenshot(*tool);
        return !image.isNull() && image.pixelColor(160, 73) != homeRule;
    }, 5000)) << "the dialog covers the middle of the rule";
    EXPECT_EQ(image.pixelColor(20, 73), QColor(16, 16, 28)) << "the dialog covers the whole screen";
}
