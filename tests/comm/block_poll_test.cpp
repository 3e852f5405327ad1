// A tool polling the whole parameter block while the workers write it: start-up, inputs that
// change, a panel that changes. Every reply holds only values some writer wrote whole, and under
// ThreadSanitizer the run gives no report (a race fails the test program).
#include "frame_client.h"
#include "second_writer.h"
#include "lock_waiters.h"
#include "program.h"

#include "base/bytes.h"
#include "base/global.h"
#include "base/tick_alarm.h"
#include "comm/networkmanage.h"
#include "comm/tcpserver.h"
#include "fpga/fpga_manage.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/board.h"
#include "platform/sim/board_config.h"
#include "platform/sim/devices/i2c_board.h"
#include "scaler/c331_manage.h"
#include "video_chips/keltosource.h"

#include <gtest/gtest.h>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

using platform::Sim::i2cBoard;
using platform::Sim::standardTiming;

// The program's start order with the TCP transport, and the panel's tick from a thread of its own.
// The workers end before the board they drive goes away: the scaler's, asked for a pass, then
// waits for its mutex.
class Running {
public:
    Running()
    {
        platform::configureBoard();
        ConfigEngine::pInstance();
        VyrRamPara::pInstance();
        inputs_ = keltosource::pInstance();
        fpga_ = fpga_manage::pInstance();
        inputs_->initialize();
        scaler_ = c331_manage::pInstance();
        g_port = 0; // any free port
        port = networkManage::pInstance()->server()->port();
        ticks_ = std::thread([this] {
            while (!stop_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                TickAlarm::advanced(++G_timeTicks);
            }
        });
    }
    ~Running()
    {
        inputs_->stopThread();
        fpga_->stop_worker();
        stop_ = true;
        ticks_.join();
        pthread_mutex_lock(&scaler_->c331_mutex);
        scaler_->change_flag = 1;
        scaler_->wakeWorker();
        EXPECT_TRUE(waitFor([this] { return LockWaiters::waited(scaler_->c331_mutex); }, 10000));
    }
    int port = -1;

private:
    keltosource* inputs_ = nullptr;
    fpga_manage* fpga_ = nullptr;
    c331_manage* scaler_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread ticks_;
};

}

TEST(BlockPoll, ToolPollingTheBlockSeesOnlyWholeValuesWhileWorkersWriteIt)
{
    Running program;
    const uint32_t hdmi1 = blk::inputResolution(2), uhd = blk::inputResolution(4);
    // What the writers write: a field holding anything else was read torn (1920 / 1280 as 1792).
    const std::map<uint32_t, std::set<uint16_t>> written = {
        {hdmi1 + blk::kInputWidth, {0, 1280, 1920}}, {hdmi1 + blk::kInputHeight, {0, 720, 1080}},
        {uhd + blk::kInputWidth, {0, 3840}},         {uhd + blk::kInputHeight, {0, 2160}},
        {blk::kLedWidth, {1920, 3840}},              {blk::kLedHeight, {1080, 2160}},
    };
    // Every 50 ms, in turn the whole block and 0x100 + 0xF01 bytes (past its end).
    std::mutex m;
    Bytes block(kBlockSize);
    std::atomic<int> bad{0};
    std::atomic<bool> stop{false};
    std::thread tool([&] {
        FrameClient client(program.port);
        for (bool whole = true; !stop.load(); whole = !whole) {
            const uint32_t from = whole ? 0 : 0x100, n = whole ? kBlockSize : 0xF01;
            const Bytes reply = client.request(Wire::readRam(from, uint16_t(n)));
            {
                std::lock_guard<std::mutex> lock(m);
                if (reply.size() == 12 + n && reply[10] == 0) {
                    std::copy(reply.begin() + 11, reply.begin() + 11 + (kBlockSize - from), block.begin() + from);
                    for (const auto& field : written)
                        bad += field.second.count(getU16(block.data() + field.first)) == 0;
                } else {
                    ++bad;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the tool's pace
        }
    });
    auto seen = [&](uint32_t offset, uint16_t value) {
        std::lock_guard<std::mutex> lock(m);
        return getU16(block.data() + offset) == value;
    };
    SecondWriter writer = SecondWriter::overTcp(program.port);

    // Start-up: the board's defaults feed HDMI 1 with 1080p60. Then HDMI 1 goes and comes back
    // with 720p60, and the first UHD input comes.
    EXPECT_TRUE(waitFor([&] { return seen(hdmi1 + blk::kInputWidth, 1920) && g_fpga_c331_start.load() == 1; }, 30000));
    i2cBoard().it6602(2).disconnect();
    EXPECT_TRUE(waitFor([&] { return seen(hdmi1 + blk::kInputWidth, 0); }, 10000));
    i2cBoard().it6602(2).connect(*standardTiming("1280x720p60"));
    i2cBoard().ite6805(0).connect(*standardTiming("3840x2160p30"));
    EXPECT_TRUE(waitFor([&] { return seen(hdmi1 + blk::kInputHeight, 720) && seen(uhd + blk::kInputHeight, 2160); }, 10000));
    // The panel: a 3840 x 2160 LED screen applied with register 11, and back; each time the scaler
    // lays the output channels out anew.
    for (const uint16_t w : {3840, 1920}) {
        const uint16_t h = w == 3840 ? 2160 : 1080;
        EXPECT_EQ(writer.set(blk::kLedWidth, {uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8)}), 0);
        EXPECT_TRUE(waitFor([&] { return seen(blk::kLedWidth, w) && seen(blk::kChannelWidth, w); }, 10000)) << w;
    }
    stop = true;
    tool.join();
    EXPECT_EQ(bad.load(), 0) << "replies refused or values read torn";
}
