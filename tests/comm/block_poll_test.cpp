// A tool polling the whole parameter block while the workers write it: start-up, inputs that
// change, a panel that changes. Every reply holds only values some writer wrote whole, and under
// ThreadSanitizer the run gives no report (a race fails the test program).
#include "lock_waiters.h"
#include "program.h"
#include "test_root.h"

#include "base/bytes.h"
#include "base/global.h"
#include "base/tick_alarm.h"
#include "comm/message_deal.h"
#include "fpga/fpga_manage.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/board.h"
#include "platform/sim/board_config.h"
#include "platform/sim/devices/i2c_board.h"
#include "scaler/c331_manage.h"
#include "video_chips/keltosource.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using platform::Sim::i2cBoard;
using platform::Sim::standardTiming;

// One request through the dispatcher, as a transport hands it over; the reply from byte 10.
std::vector<uint8_t> request(message_deal& handler, uint8_t group, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> buf(kMessageBufferSize, 0xEE);
    const std::vector<uint8_t> head = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, group};
    std::copy(head.begin(), head.end(), buf.begin());
    std::copy(payload.begin(), payload.end(), buf.begin() + 10);
    const uint32_t r = handler.message_group_deal(buf.data(), uint32_t(head.size() + payload.size()), kMessageBufferSize);
    return std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 10 + r);
}

std::vector<uint8_t> ramRequest(uint32_t address, uint16_t n, const std::vector<uint8_t>& data = {})
{
    std::vector<uint8_t> p(6);
    putU32(p.data(), address);
    putU16(p.data() + 4, n);
    p.resize(8);
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

// Polls every 50 ms, reading in turn the whole block and 0x100 + 0xF01 bytes (past its end),
// and keeps the latest copy of the block and every 16-bit value seen in the watched fields.
class Poller {
public:
    explicit Poller(std::vector<uint32_t> watched) : watched_(std::move(watched)), thread_([this] { run(); }) {}
    ~Poller() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    uint16_t latest(uint32_t offset)
    {
        std::lock_guard<std::mutex> lock(m_);
        return getU16(block_.data() + offset);
    }
    std::set<uint16_t> seen(uint32_t offset)
    {
        std::lock_guard<std::mutex> lock(m_);
        return seen_[offset];
    }
    int failures() const { return failures_.load(); }

private:
    void run()
    {
        message_deal handler;
        for (bool whole = true; !stop_.load(); whole = !whole) {
            const uint32_t from = whole ? 0 : 0x100;
            const uint16_t n = uint16_t(whole ? kBlockSize : 0xF01);
            const std::vector<uint8_t> reply = request(handler, 0x61, ramRequest(from, n));
            if (reply.size() != n + 1u || reply[0] != 0) {
                ++failures_;
            } else {
                std::lock_guard<std::mutex> lock(m_);
                std::copy(reply.begin() + 1, reply.begin() + 1 + (kBlockSize - from), block_.begin() + from);
                for (uint32_t offset : watched_)
                    seen_[offset].insert(getU16(block_.data() + offset));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the tool's pace
        }
    }
    const std::vector<uint32_t> watched_;
    std::mutex m_;
    std::vector<uint8_t> block_ = std::vector<uint8_t>(kBlockSize);
    std::map<uint32_t, std::set<uint16_t>> seen_;
    std::atomic<int> failures_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The program's start order, the transports aside, and the panel's tick from a thread of its own.
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
    const uint32_t width = hdmi1 + blk::kInputWidth, height = hdmi1 + blk::kInputHeight;
    const uint32_t uhdWidth = uhd + blk::kInputWidth, uhdHeight = uhd + blk::kInputHeight;
    Poller poll({width, height, uhdWidth, uhdHeight, blk::kLedWidth, blk::kLedHeight});
    message_deal tool;

    // Start-up: the board's defaults feed HDMI 1 with 1080p60.
    ASSERT_TRUE(waitFor([&] { return poll.latest(width) == 1920 && poll.latest(height) == 1080; }, 30000));
    ASSERT_TRUE(waitFor([] { return g_fpga_c331_start.load() == 1; }, 30000));
    // Inputs change: HDMI 1 goes and comes back with 720p60, the first UHD input comes.
    i2cBoard().it6602(2).disconnect();
    EXPECT_TRUE(waitFor([&] { return poll.latest(width) == 0; }, 10000));
    i2cBoard().it6602(2).connect(*standardTiming("1280x720p60"));
    i2cBoard().ite6805(0).connect(*standardTiming("3840x2160p30"));
    EXPECT_TRUE(waitFor([&] { return poll.latest(width) == 1280 && poll.latest(height) == 720; }, 10000))
        << poll.latest(width) << " x " << poll.latest(height);
    EXPECT_TRUE(waitFor([&] { return poll.latest(uhdWidth) == 3840 && poll.latest(uhdHeight) == 2160; }, 10000))
        << poll.latest(uhdWidth) << " x " << poll.latest(uhdHeight);
    // The panel changes: a 3840 x 2160 LED screen, applied with register 11, and back; the scaler
    // lays the output channels out anew each time.
    for (const uint16_t w : {3840, 1920}) {
        SCOPED_TRACE(w);
        const uint16_t h = w == 3840 ? 2160 : 1080;
        ASSERT_EQ(request(tool, 0x60, ramRequest(blk::kLedWidth, 4, {uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8)})),
                  std::vector<uint8_t>{0});
        ASSERT_EQ(request(tool, 0xA0, {11, 0x02, 0, 0x02}), std::vector<uint8_t>{0});
        EXPECT_TRUE(waitFor([&] { return poll.latest(blk::kLedWidth) == w && poll.latest(blk::kChannelWidth) == w; }, 10000))
            << "channel width " << poll.latest(blk::kChannelWidth);
    }
    poll.stop();

    EXPECT_EQ(poll.failures(), 0);
    // Each field only ever held what a writer wrote whole (a torn 1920 / 1280 would show 1792).
    const std::pair<uint32_t, std::set<uint16_t>> written[] = {
        {width, {0, 1280, 1920}},        {height, {0, 720, 1080}},        {uhdWidth, {0, 3840}},
        {uhdHeight, {0, 2160}},          {blk::kLedWidth, {1920, 3840}},  {blk::kLedHeight, {1080, 2160}},
    };
    for (const auto& field : written) {
        const std::set<uint16_t> seen = poll.seen(field.first);
        EXPECT_TRUE(std::includes(field.second.begin(), field.second.end(), seen.begin(), seen.end()))
            << "field 0x" << std::hex << field.first << ": " << ::testing::PrintToString(seen);
    }
}
