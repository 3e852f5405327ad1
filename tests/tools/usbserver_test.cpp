// The USB stick monitor on the simulated board's kernel-event socket.
#include "base/global.h"
#include "platform/sim/uevent_sim.h"
#include "platform/uevent_source.h"
#include "program.h"
#include "tools/usbserver.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <QDir>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {
std::string event(const std::string& header)
{
    std::string m = header;
    m.push_back('\0');
    m += "ACTION=x";
    m.push_back('\0');
    return m;
}

struct Codes {
    std::mutex mutex;
    std::vector<int> codes;
    void attach(UsbServer* server)
    {
        QObject::connect(server, &UsbServer::sig_usb_update, [this](int c) {
            std::lock_guard<std::mutex> lock(mutex);
            codes.push_back(c);
        });
    }
    std::vector<int> take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(codes, {});
    }
};
const std::string kUsb = "/devices/platform/ehci/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0";
}

TEST(UsbServerEvents, CodesAndStorageWaitByEventHeader)
{
    struct Case {
        std::string header;
        std::vector<int> codes;
        bool awaits;
    };
    const std::vector<Case> cases = {
        {"add@" + kUsb + "/block/sda/sda1", {100}, true},
        {"add@" + kUsb + "/block/sda/sda9", {100}, true},
        {"add@" + kUsb + "/block/sda", {100}, false},          // no partition
        {"add@" + kUsb + "/block/sdb/sdb1", {100}, false},     // only the first disk
        {"add@" + kUsb + "/block/sda/sda10", {100}, false},
        {"add@" + kUsb + "/block/sda/sdax", {100}, false},     // not a digit
        {"add@" + kUsb + "/block/sda/sda1/holders", {100}, false},
        {"remove@" + kUsb + "/block/sda/sda1", {101}, false},  // never "ready" after a removal
        {"change@" + kUsb + "/block/sda/sda1", {}, false},
        {"add@/devices/virtual/net/wlan1", {}, false},         // not a stick
        {"add@/devices/virtual/block/loop0", {}, false},
        {"no header at all", {}, false},
        {"@/block/sda/sda1", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        UsbServer server(nullptr);
        Codes codes;
        codes.attach(&server);
        const std::string m = event(c.header);
        server.handleEvent(m.data(), m.size());
        EXPECT_EQ(codes.take(), c.codes);
        EXPECT_EQ(server.storageAwaited(), c.awaits);
    }
}

TEST(UsbServerEvents, HeaderWithoutTerminatorIsReadOnlyToTheReceivedLength)
{
    UsbServer server(nullptr);
    Codes codes;
    codes.attach(&server);
    const std::string h = "add@" + kUsb + "/block/sda/sda1";
    server.handleEvent(h.data(), h.size() - 1); // "sda" only: the whole disk
    EXPECT_EQ(codes.take(), std::vector<int>({100}));
    EXPECT_FALSE(server.storageAwaited());
}

class UsbServerSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        G_timeTicks = 1000;
        server = std::make_unique<UsbServer>(platform::openUeventSource());
        codes.attach(server.get());
    }
    std::unique_ptr<UsbServer> server;
    Codes codes;
};

TEST_F(UsbServerSim, StorageReadyComesOnlyAfterThreeSecondsAndTheMount)
{
    ASSERT_TRUE(platform::Sim::plugStick());
    ASSERT_EQ(server->recvData(1000), 0);
    EXPECT_EQ(codes.take(), std::vector<int>({100}));
    G_timeTicks = 1300;
    server->recvData(0);
    EXPECT_TRUE(codes.take().empty()) << "300 ticks are not yet more than 300";
    G_timeTicks = 1301;
    server->recvData(0);
    EXPECT_EQ(codes.take(), std::vector<int>({102}));
    EXPECT_FALSE(server->storageAwaited());
    G_timeTicks = 2000;
    server->recvData(0);
    EXPECT_TRUE(codes.take().empty()) << "announced once";
}

TEST_F(UsbServerSim, NoMountNoReadyAndTheWaitEnds)
{
    ASSERT_TRUE(platform::Sim::sendUevent(event("add@" + kUsb + "/block/sda/sda1")));
    QDir().mkpath(QString::fromStdString(TestRoot::path("/proc/scsi/usb-storage")));
    server->recvData(1000);
    EXPECT_EQ(codes.take(), std::vector<int>({100}));
    G_timeTicks = 1500;
    server->recvData(0);
    EXPECT_TRUE(codes.take().empty()) << "usb-storage exists but nothing is mounted";
    G_timeTicks = 1000 + UsbServer::kGiveUpTicks + 1;
    server->recvData(0);
    EXPECT_FALSE(server->storageAwaited());
    TestRoot::writeFile("/proc/mounts", "/dev/sda1 /mnt/usb1 vfat rw 0 0\n");
    server->recvData(0);
    EXPECT_TRUE(codes.take().empty());
}

TEST_F(UsbServerSim, StickPulledBeforeTheMountIsNeverReady)
{
    ASSERT_TRUE(platform::Sim::plugStick());
    server->recvData(1000);
    ASSERT_TRUE(platform::Sim::unplugStick());
    server->recvData(1000);
    EXPECT_EQ(codes.take(), std::vector<int>({100, 101}));
    G_timeTicks = 1400;
    server->recvData(0);
    EXPECT_TRUE(codes.take().empty());
}

TEST_F(UsbServerSim, ThreadAnnouncesFromItsOwnPollAndStopsPromptly)
{
    ASSERT_EQ(server->initialize(), 0);
    ASSERT_TRUE(platform::Sim::plugStick());
    std::vector<int> seen;
    auto announced = [&](size_t n) {
        return ::waitFor([&] {
            for (int c : codes.take())
                seen.push_back(c);
            return seen.size() >= n;
        }, 2000);
    };
    EXPECT_TRUE(announced(1));
    G_timeTicks = 1400;
    EXPECT_TRUE(announced(2));
    EXPECT_EQ(seen, std::vector<int>({100, 102}));
    const auto t0 = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, TimeLimit::of(500));
}

TEST(UsbServerStart, WithoutAnEventSourceTheFailureIsReported)
{
    UsbServer server(nullptr);
    EXPECT_EQ(server.initialize(), 255);
    EXPECT_EQ(server.recvData(0), 255);
}

TEST(UsbServerStart, SecondMonitorOnTheSameBoardTakesTheSocketOver)
{
    // Start-up after a killed run: a stale socket file does not keep the monitor deaf.
    auto first = platform::openUeventSource();
    ASSERT_TRUE(first);
    first.reset();
    UsbServer server(platform::openUeventSource());
    Codes codes;
    codes.attach(&server);
    ASSERT_TRUE(platform::Sim::sendUevent(event("remove@" + kUsb + "/block/sda")));
    server.recvData(1000);
    EXPECT_EQ(codes.take(), std::vector<int>({101}));
}
