// The UDP transport in this process: real sockets on loopback, the real handler behind it. Replies
// are broadcast to the sender's port, so the test's client binds the wildcard address.
#include "frame_client.h"
#include "managers.h"
#include "program.h"
#include "race_hold.h"
#include "test_root.h"
#include "udp_tool.h"

#include "base/global.h"
#include "base/md5.h"
#include "base/posix_lock.h"
#include "comm/udpnetmanage.h"
#include "comm/udpserver.h"
#include "fpga/fpga_manage.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Wire::echoReply;

Bytes concat(const std::vector<Bytes>& parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class UdpTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        fpga = startManagersWithoutWorkers().fpga;
        udp = std::make_unique<udpnetManage>();
        ASSERT_EQ(udp->initialize(0, 0), 0);
        port = udp->server()->port();
        wifiPort = udp->server()->port13769();
        ASSERT_GT(port, 0);
        ASSERT_GT(wifiPort, 0);
    }
    void TearDown() override
    {
        udp.reset();
        udpnetManage::set_wifi_AT_cmd_manage(nullptr);
    }

    fpga_manage* fpga = nullptr;
    std::unique_ptr<udpnetManage> udp;
    int port = 0, wifiPort = 0;
};

}

TEST_F(UdpTransport, ReplyIsBroadcastToTheSendersPort)
{
    UdpTool tool;
    tool.wantDestinations();
    ASSERT_TRUE(tool.send(port, Wire::stuff(Wire::readRegister(4, 0x37))));
    uint32_t destination = 0;
    const Bytes d = tool.receive(2000, &destination);
    EXPECT_EQ(d, Bytes({0xA5, 0xA5, 0xA5, 0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0xA1, 0x00, 0x37, 0x87, 0x5A}));
    EXPECT_EQ(destination, 0x7FFFFFFFu) << "127.255.255.255 stands in for the broadcast address";
}

TEST_F(UdpTransport, APortInUseIsLoggedWithTheCause)
{
    UdpServer second;
    EXPECT_EQ(second.initialize(port, 0), 255);
    EXPECT_TRUE(TestRoot::logHas("bind error:Address already in use"));
}

TEST_F(UdpTransport, FramesCutAnywhereOrBackToBackAreAllServed)
{
    UdpTool tool;
    // Three frames in one datagram, then one frame over three datagrams cut mid-escape.
    ASSERT_TRUE(tool.send(port, concat({Wire::stuff(Wire::readRegister(4, 1)), Wire::stuff(Wire::readRegister(4, 2)),
                                       Wire::stuff(Wire::readRegister(4, 3))})));
    for (uint8_t i = 1; i <= 3; ++i)
        EXPECT_EQ(tool.reply(), echoReply(i));

    const Bytes w = Wire::stuff(Wire::readRegister(4, 0xA5)); // A5 travels as A6 02
    const size_t esc = size_t(std::find(w.begin() + 3, w.end(), 0xA6) - w.begin());
    ASSERT_LT(esc, w.size());
    ASSERT_TRUE(tool.send(port, Bytes(w.begin(), w.begin() + 5)));
    ASSERT_TRUE(tool.send(port, Bytes(w.begin() + 5, w.begin() + esc + 1)));
    ASSERT_TRUE(tool.send(port, Bytes(w.begin() + esc + 1, w.end())));
    EXPECT_EQ(tool.reply(), echoReply(0xA5));
}

TEST_F(UdpTransport, EachSenderAssemblesItsOwnFrames)
{
    UdpTool a, b;
    const Bytes wa = Wire::stuff(Wire::readRegister(4, 0x0A));
    const Bytes wb = Wire::stuff(Wire::readRegister(4, 0x0B));
    ASSERT_TRUE(a.send(port, Bytes(wa.begin(), wa.begin() + 8)));
    ASSERT_TRUE(b.send(port, Bytes(wb.begin(), wb.begin() + 6)));
    ASSERT_TRUE(a.send(port, Bytes(wa.begin() + 8, wa.end())));
    ASSERT_TRUE(b.send(port, Bytes(wb.begin() + 6, wb.end())));
    EXPECT_EQ(a.reply(), echoReply(0x0A));
    EXPECT_EQ(b.reply(), echoReply(0x0B));
}

TEST_F(UdpTransport, NothingIsSentForBadFramesOrEmptyReplies)
{
    UdpTool tool;
    Bytes bad = Wire::readRegister(4, 0x37);
    bad.back() ^= 1;
    ASSERT_TRUE(tool.send(port, Wire::stuff(bad)));
    ASSERT_TRUE(tool.send(port, Wire::stuff(Wire::request(0x55, {0x00})))); // unknown group: r = 0
    ASSERT_TRUE(tool.send(port, {}));                                      // empty datagram
    ASSERT_TRUE(tool.send(port, Wire::stuff({0x00, 0x00})));               // passes the XOR, too short
    EXPECT_TRUE(tool.receive(300).empty());
    // and the transport goes on
    ASSERT_TRUE(tool.send(port, Wire::stuff(Wire::readRegister(4, 9))));
    EXPECT_EQ(tool.reply(), echoReply(9));
}

TEST_F(UdpTransport, ReplyLargerThanADatagramIsRefused)
{
    UdpTool tool;
    // 65,535 bytes of the zero window: the body alone passes the largest UDP payload.
    ASSERT_TRUE(tool.send(port, Wire::stuff(Wire::readRam(0xFD000000, 0xFFFF))));
    const Bytes body = tool.reply();
    ASSERT_EQ(body.size(), 13u);
    EXPECT_EQ(body[10], 1);
    EXPECT_TRUE(Wire::checkOk(body));

    // The largest read that still fits goes out whole.
    const uint16_t n = 65507 - 4 - 12;
    ASSERT_TRUE(tool.send(port, Wire::stuff(Wire::readRam(0xFD000000, n))));
    EXPECT_EQ(tool.reply().size(), 12u + n);
}

// A second sender's frames, for the box or for another card, are served meanwhile and leave the
// first sender's wait alone: each card's answer reaches the sender whose frame it answers.
TEST_F(UdpTransport, CardFrameIsAnsweredToItsSenderBesideAnotherSender)
{
    UdpTool tool, other;
    const Bytes toCard = Wire::request(0x61, {0, 0, 0, 0, 1, 0, 0, 0}, 0x0001, 0xF010);
    const Bytes toCard2 = Wire::request(0x61, {0, 0, 0, 0, 1, 0, 0, 0}, 0x0002, 0xF010);
    const Bytes answer = Wire::sealed({0x10, 0xF0, 0x01, 0x00, 0x10, 0x00, 1, 1, 0, 0x61, 0x00, 0x5A});
    const Bytes answer2 = Wire::sealed({0x10, 0xF0, 0x02, 0x00, 0x10, 0x00, 1, 1, 0, 0x61, 0x00, 0x77});
    ASSERT_TRUE(tool.send(port, Wire::stuff(toCard)));
    ASSERT_TRUE(waitFor([&] { return udp->passState() == 1; }, 2000));
    EXPECT_TRUE(tool.receive(100).empty()) << "nothing before the card has answered";
    ASSERT_TRUE(other.send(port, Wire::stuff(Wire::readRegister(4, 0x42))));
    EXPECT_EQ(other.reply(), echoReply(0x42));
    ASSERT_TRUE(other.send(port, Wire::stuff(toCard2)));
    // The FPGA worker's hand-over of an answer from port 0: taken once the frame it answers is on
    // the link.
    auto cardAnswers = [&](const Bytes& a) {
        PosixLock pass(fpga->pass_mutex);
        return fpga->card_link.take(a.data(), uint32_t(a.size()), 0);
    };
    ASSERT_TRUE(cardAnswers(answer));
    EXPECT_EQ(tool.receive(), Wire::stuff(answer));
    ASSERT_TRUE(waitFor([&] { return cardAnswers(answer2); }, 2000));
    EXPECT_EQ(other.receive(), Wire::stuff(answer2));
    EXPECT_TRUE(tool.receive(100).empty());
    EXPECT_TRUE(waitFor([&] { return udp->passState() == 0; }, 1000));
}

TEST_F(UdpTransport, ConfigurationAnswersGoToEachSenderInOrder)
{
    udpnetManage* self = udp.get();
    std::atomic<int> seen{0};
    udpnetManage::set_wifi_AT_cmd_manage([self, &seen](const uint8_t* data, uint32_t length) {
        const std::string text(reinterpret_cast<const char*>(data), length);
        ++seen;
        if (text != "SILENT") {
            const std::string answer = "OK+" + text;
            self->answer_13769(reinterpret_cast<const uint8_t*>(answer.data()), uint32_t(answer.size()));
        }
    });
    UdpTool a, b;
    auto text = [](const char* s) { return Bytes(s, s + strlen(s)); };
    ASSERT_TRUE(a.send(wifiPort, text("AT+ONE")));
    ASSERT_TRUE(waitFor([&] { return seen == 1; }, 2000));
    ASSERT_TRUE(b.send(wifiPort, text("SILENT")));
    ASSERT_TRUE(waitFor([&] { return seen == 2; }, 2000));
    ASSERT_TRUE(b.send(wifiPort, text("AT+TWO")));
    EXPECT_EQ(a.receive(), text("OK+AT+ONE"));
    EXPECT_EQ(b.receive(), text("OK+AT+TWO"));
    EXPECT_TRUE(b.receive(200).empty());
}

// A burst longer than the answer list, read in one pass: every command is answered, each answer
// as soon as its command has run (the second command waits until the first answer has arrived).
TEST_F(UdpTransport, EveryConfigurationCommandOfALongBurstIsAnsweredAtOnce)
{
    udpnetManage* self = udp.get();
    static std::atomic<int> seen{0}, step{0}; // outlive a test body that ends early
    udpnetManage::set_wifi_AT_cmd_manage([self](const uint8_t* data, uint32_t length) {
        const int n = seen++;
        if (n < 2) // 0: the burst piles up meanwhile; 1: the first answer arrives meanwhile
            waitFor([n] { return step > n; }, 5000);
        self->answer_13769(data, length);
    });
    UdpTool tool;
    ASSERT_TRUE(tool.send(wifiPort, Bytes{'0'}));
    ASSERT_TRUE(waitFor([] { return seen == 1; }, 2000));
    std::string expected = "0";
    for (int i = 1; i <= int(udpnetManage::kMaxTextAnswers) + 36; ++i) {
        const std::string text = std::to_string(i);
        expected += "," + text;
        ASSERT_TRUE(tool.send(wifiPort, Bytes(text.begin(), text.end())));
    }
    step = 1;
    const Bytes first = tool.receive(2000);
    step = 2;
    EXPECT_EQ(first, Bytes{'0'}) << "before the next command ran";
    std::string got(first.begin(), first.end());
    for (Bytes answer; got.size() < expected.size() && !(answer = tool.receive()).empty();)
        got += "," + std::string(answer.begin(), answer.end());
    EXPECT_EQ(got, expected);
}

TEST_F(UdpTransport, ConfigurationAnswersWaitWhileSendingIsOffAndAreBounded)
{
    udpnetManage* self = udp.get();
    std::atomic<int> ran{0};
    udpnetManage::set_wifi_AT_cmd_manage([self, &ran](const uint8_t* data, uint32_t length) {
        ++ran;
        self->answer_13769(data, length);
    });
    g_networkMode = 0;
    UdpTool tool;
    for (int i = 0; i < 80; ++i)
        ASSERT_TRUE(tool.send(wifiPort, Bytes{uint8_t('a' + i % 26)}));
    ASSERT_TRUE(waitFor([&] { return udp->pending13769() == udpnetManage::kMaxTextAnswers; }, 3000));
    EXPECT_TRUE(tool.receive(200).empty());
    EXPECT_EQ(udp->pending13769(), udpnetManage::kMaxTextAnswers);

    // Switched on just before the thread chooses how long to wait: it must not wait for a datagram.
    RaceHold choosing(RacePause::WifiAnswerWait);
    ASSERT_TRUE(choosing.parked());
    g_networkMode = 1;
    choosing.release();
    EXPECT_EQ(tool.receive(2000), Bytes{'a'}) << "the oldest answer goes first";
    EXPECT_TRUE(waitFor([&] { return udp->pending13769() == 0; }, 2000));
    // A command that could not be answered did not run either.
    ASSERT_TRUE(tool.send(wifiPort, Bytes{'!'}));
    for (size_t i = 1; i < udpnetManage::kMaxTextAnswers; ++i)
        ASSERT_FALSE(tool.receive().empty()) << i;
    EXPECT_EQ(tool.receive(), Bytes{'!'});
    EXPECT_EQ(ran, int(udpnetManage::kMaxTextAnswers) + 1);
}

TEST_F(UdpTransport, FrameLongerThanTheRecordIsDroppedAndTheSenderGoesOn)
{
    UdpTool tool;
    Bytes piece(60000, 0x11);
    piece[0] = 0xA5;
    ASSERT_TRUE(tool.send(port, piece));
    piece[0] = 0x11;
    ASSERT_TRUE(tool.send(port, piece));
    ASSERT_TRUE(tool.send(port, piece)); // 180,000 bytes: past the 131,072-byte record
    Bytes last = {0x11, 0x5A};
    const Bytes next = Wire::stuff(Wire::readRegister(4, 7));
    last.insert(last.end(), next.begin(), next.end());
    ASSERT_TRUE(tool.send(port, last));
    EXPECT_EQ(tool.reply(), echoReply(7));
    EXPECT_TRUE(tool.receive(100).empty());
}

// Two tools on the control port, told apart by their address and port: an upload belongs to the
// one that started it.
TEST_F(UdpTransport, UploadBelongsToTheSenderThatStartedIt)
{
    auto u32 = [](uint32_t v) { return Bytes({uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); };
    const Bytes data(16, 'q');
    MD5 digest(data.data(), data.size());
    const Bytes start = concat({{1, 0, 0, 'Q', 'Z', 'F', 'X', 9}, u32(16)});
    const Bytes block = concat({{2, 0, 0, 0, 0}, u32(0), u32(16), data});
    const Bytes end = concat({{3, 0, 0, 0, 0}, Bytes(digest.digest(), digest.digest() + 16)});
    UdpTool a, b;
    auto ask = [this](const UdpTool& tool, const Bytes& payload) {
        EXPECT_TRUE(tool.send(port, Wire::stuff(Wire::request(0xC0, payload))));
        return tool.reply();
    };
    Bytes reply = ask(a, start);
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(reply[10], 0);
    reply = ask(b, start);
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(Bytes(reply.begin() + 10, reply.begin() + 13), Bytes({1, 1, 2}));
    reply = ask(b, block);
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[10], 1);
    reply = ask(b, end);
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(reply[12], 1);
    EXPECT_FALSE(TestRoot::exists("/data/rcvrecovery/QZFX"));
    ASSERT_EQ(ask(a, block).size(), 13u);
    reply = ask(a, end);
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(reply[12], 0);
    EXPECT_EQ(TestRoot::readFile("/data/rcvrecovery/QZFX"), QByteArray(16, 'q'));
}
