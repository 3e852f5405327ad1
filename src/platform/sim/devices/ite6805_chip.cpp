#include "platform/sim/devices/ite6805_chip.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace platform::Sim {

namespace {
constexpr uint8_t Status0 = 0x13, Status0b = 0x14, Status0c = 0x15, SyncStatus = 0x19;
constexpr uint8_t TmdsRatio = 0x43, TmdsCount = 0x48;
constexpr uint8_t Format = 0x98, SampleLow = 0x99, SampleHigh = 0x9A, TimingLast = 0xAA;
constexpr uint8_t AudioFirst = 0xB0, AudioLast = 0xB5;
constexpr uint8_t SampleLatch = 0x80;
constexpr int Samples = 20;
}

// The CEC engine: a receive FIFO of whole frames and a record of the frames sent.
class Ite6805Chip::Cec : public I2cDevice {
public:
    // A driver that keeps polling a faulty engine is let go (faults cleared) after this many
    // messages, so a test sees the count instead of hanging.
    static constexpr int FaultMessageLimit = 30000;

    bool address(bool, size_t, uint64_t) override
    {
        std::lock_guard<std::mutex> lock(m_);
        if (++addressings_ >= FaultMessageLimit) {
            stuckCount_ = 0;
            answerLeft_ = -1;
        }
        if (answerLeft_ < 0)
            return true;
        if (answerLeft_ == 0)
            return false;
        --answerLeft_;
        return true;
    }
    bool write(const uint8_t* data, size_t len, uint64_t) override
    {
        std::lock_guard<std::mutex> lock(m_);
        if (len == 0)
            return true;
        pointer_ = data[0];
        for (size_t i = 1; i < len; ++i, ++pointer_) {
            const uint8_t a = pointer_, v = data[i];
            writes_.push_back({a, v});
            if (a == 0x4C) {
                regs_[a] &= uint8_t(~v);
                continue;
            }
            if (a == 0x52 && (v & 0x40)) // receive FIFO reset
                fifo_.clear();
            if (a == 0x08 && (v & 0x88) == 0x88 && (regs_[a] & 0x88) == 0x08) {
                const uint8_t n = regs_[0x23];
                std::vector<uint8_t> frame(regs_.begin() + 0x10, regs_.begin() + 0x10 + std::min<uint8_t>(n, 32));
                sent_.push_back(std::move(frame));
                regs_[0x4C] |= 0x20; // transmission done
            }
            regs_[a] = v;
        }
        return true;
    }
    bool read(uint8_t* data, size_t len, uint64_t) override
    {
        std::lock_guard<std::mutex> lock(m_);
        for (size_t i = 0; i < len; ++i, ++pointer_) {
            const uint8_t a = pointer_;
            if (a == 0x4D) {
                ++framesTaken_;
                current_.clear();
                operand_ = 0;
                if (!fifo_.empty()) {
                    current_ = std::move(fifo_.front());
                    fifo_.pop_front();
                }
                data[i] = uint8_t(current_.size());
            } else if (a == 0x4E) {
                data[i] = current_.size() > 0 ? current_[0] : 0;
            } else if (a == 0x4F) {
                data[i] = current_.size() > 1 ? current_[1] : 0;
            } else if (a == 0x50) {
                data[i] = operand_ + 2 < current_.size() ? current_[2 + operand_] : 0;
                ++operand_;
            } else if (a == 0x51) {
                data[i] = 0;
            } else if (a == 0x52) {
                const size_t count = stuckCount_ ? stuckCount_ : std::min<size_t>(fifo_.size(), 15);
                data[i] = uint8_t((regs_[a] & 0xF0) | count);
            } else {
                data[i] = regs_[a];
            }
        }
        return true;
    }
    void reset() override
    {
        std::lock_guard<std::mutex> lock(m_);
        regs_.fill(0);
        pointer_ = 0;
        fifo_.clear();
        current_.clear();
        sent_.clear();
        writes_.clear();
        stuckCount_ = 0;
        framesTaken_ = 0;
        addressings_ = 0;
        answerLeft_ = -1;
        setPresent(true);
    }
    void setStuckCount(uint8_t count)
    {
        std::lock_guard<std::mutex> lock(m_);
        stuckCount_ = uint8_t(count & 0x0F);
    }
    void answerOnly(int transfers)
    {
        std::lock_guard<std::mutex> lock(m_);
        answerLeft_ = transfers;
    }
    uint8_t reg(uint8_t a) const
    {
        std::lock_guard<std::mutex> lock(m_);
        return regs_[a];
    }
    std::pair<int, int> counts() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return {framesTaken_, addressings_};
    }
    void receive(std::vector<uint8_t> frame)
    {
        std::lock_guard<std::mutex> lock(m_);
        fifo_.push_back(std::move(frame));
        regs_[0x4C] |= 0x04;
    }
    std::vector<std::vector<uint8_t>> sent() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return sent_;
    }
    std::vector<uint8_t> writesTo(uint8_t a) const
    {
        std::lock_guard<std::mutex> lock(m_);
        std::vector<uint8_t> v;
        for (const auto& w : writes_)
            if (w.first == a)
                v.push_back(w.second);
        return v;
    }

private:
    mutable std::mutex m_;
    std::array<uint8_t, 256> regs_{};
    uint8_t pointer_ = 0;
    std::deque<std::vector<uint8_t>> fifo_;
    std::vector<uint8_t> current_;
    size_t operand_ = 0;
    std::vector<std::vector<uint8_t>> sent_;
    std::vector<std::pair<uint8_t, uint8_t>> writes_; // register, value, in order
    uint8_t stuckCount_ = 0; // non-zero: 0x52 reports this many frames whatever the FIFO holds
    int framesTaken_ = 0;    // reads of 0x4D
    int addressings_ = 0;    // messages addressed to the engine, answered or not
    int answerLeft_ = -1;    // messages still answered (-1 = all)
};

Ite6805Chip::Ite6805Chip(int device) : device_(device), cec_(std::make_shared<Cec>()) {}

I2cDevice& Ite6805Chip::cec() { return *cec_; }
std::shared_ptr<I2cDevice> Ite6805Chip::cecShared() { return cec_; }

bool Ite6805Chip::interruptRegister(uint8_t a)
{
    return (a >= 0x05 && a <= 0x0E) || (a >= 0x10 && a <= 0x12) || a == 0x1D || a == 0xB9 || a == 0xBE ||
           a == 0xD4 || a == 0xD5;
}

bool Ite6805Chip::chipDriven(uint8_t a)
{
    return a <= 0x04 || (a >= Status0 && a <= SyncStatus) || a == TmdsCount || a == Format || a == SampleLow ||
           (a > SampleHigh && a <= TimingLast) || (a >= AudioFirst && a <= AudioLast);
}

void Ite6805Chip::violation(const char* what, int bank, uint8_t address)
{
    char text[120];
    std::snprintf(text, sizeof text, "iTE6805 %d: %s bank %d register 0x%02X", device_, what, bank, unsigned(address));
    violations_.push_back(text);
}

uint32_t Ite6805Chip::rclk() const
{
    const uint32_t khz = oscHundredths_ ? oscCount_ / 100 : oscCount_;
    return khz < 13000 || khz > 27000 ? 19000 : khz;
}

uint8_t Ite6805Chip::readByte(uint8_t a)
{
    if (a == BankRegister)
        return bankReg_;
    const int bank = bankReg_ & 7;
    if (bank == 0) {
        switch (a) {
        case 0x00:
            return 0x54;
        case 0x01:
            return 0x49;
        case 0x02:
            return identity2_;
        case 0x03:
            return 0x68;
        case 0x04:
            return revision_;
        case 0x08:
        case 0x0D:
            return uint8_t(regs_[0][a] | (caofDone_ ? 0x10 : 0));
        case TmdsRatio:
            return uint8_t((regs_[0][a] & 0x1F) | ratioBits_);
        default:
            break;
        }
    }
    if (bank == 1 && a == 0x60)
        return oclkReady_ ? 0x19 : 0x00;
    if ((bank == 3 || bank == 7) && (a == 0xEA || a == 0xEB)) {
        const int ch = errSelect_ < 3 ? errSelect_ : 0;
        return a == 0xEA ? errLow_[ch] : errHigh_[ch];
    }
    if (bank == 5 && a == 0xDB)
        return uint8_t((regs_[5][a] & ~0x10) | (pllLock_ ? 0x10 : 0));
    return regs_[bank][a];
}

void Ite6805Chip::writeByte(uint8_t a, uint8_t value)
{
    const int bank = bankReg_ & 7;
    logWrite(a == BankRegister ? -1 : bank, a, value);
    if (a == BankRegister) {
        bankReg_ = value;
        return;
    }
    if (bank == 0) {
        if (interruptRegister(a)) {
            regs_[0][a] &= uint8_t(~value);
            return;
        }
        if (a == SampleHigh) {
            // bit 7 is the sampling control; a write with it clear takes a new sample
            regs_[0][a] = uint8_t((regs_[0][a] & 0x03) | (value & 0x80));
            if (!(value & SampleLatch))
                latchSample();
            return;
        }
        if (a == TmdsRatio) {
            regs_[0][a] = uint8_t(value & 0x1F);
            return;
        }
        if (chipDriven(a)) {
            violation("write to chip-driven", bank, a);
            return;
        }
    }
    if (bank == 1 && (a == 0x60 || a == 0x61 || a == 0x62)) {
        violation("write to chip-driven", bank, a);
        return;
    }
    if ((bank == 3 || bank == 7) && a == 0xE9) {
        if (value & 0x80) { // a new sampling window: the next queued counts, if any
            for (int ch = 0; ch < 3; ++ch)
                if (!errQueue_[ch].empty()) {
                    errLow_[ch] = errQueue_[ch].front().first;
                    errHigh_[ch] = errQueue_[ch].front().second;
                    errQueue_[ch].erase(errQueue_[ch].begin());
                }
        }
        errSelect_ = uint8_t((value >> 5) & 0x03);
    }
    if ((bank == 3 || bank == 7) && a == 0x22 && (value & 0x04) && !(regs_[bank][a] & 0x04)) {
        ++trainingStarts_;
        regs_[0][0x07] |= 0x10; // equaliser done
    }
    regs_[bank][a] = value;
    if (bank == 1 && a == 0x54)
        indirectRead();
}

// Indirect read of the stored oscillator count: page 0, addresses 0xB0 (low, middle byte) and
// 0xB1 (high byte, flags: both bits 6-7 set = counted in hundredths of a kHz).
void Ite6805Chip::indirectRead()
{
    const uint8_t page = regs_[1][0x50], address = regs_[1][0x51];
    uint8_t first = 0, second = 0;
    if (page == 0 && address == 0xB0) {
        first = uint8_t(oscCount_);
        second = uint8_t(oscCount_ >> 8);
    } else if (page == 0 && address == 0xB1) {
        first = uint8_t(oscCount_ >> 16);
        second = oscHundredths_ ? 0xC0 : 0x00;
    }
    regs_[1][0x61] = first;
    regs_[1][0x62] = second;
}

// Twenty samples of about 512 x RCLK / PCLK each, spread so that their sum is 10240 x RCLK / PCLK.
void Ite6805Chip::latchSample()
{
    uint32_t sample = 0;
    const uint32_t khz = connected_ ? (yuv420_ ? timing_.pixelClockKHz / 2 : timing_.pixelClockKHz) : 0;
    if (khz) {
        const uint64_t total = (uint64_t(10240) * rclk() + khz / 2) / khz;
        const uint32_t k = sampleIndex_ % Samples;
        sample = uint32_t(total / Samples + (k < total % Samples ? 1 : 0));
        sample = std::min<uint32_t>(sample, 0x3FF);
    }
    ++sampleIndex_;
    ++samplesTaken_;
    regs_[0][SampleLow] = uint8_t(sample);
    regs_[0][SampleHigh] = uint8_t((regs_[0][SampleHigh] & 0x80) | ((sample >> 8) & 0x03));
}

// Measured timing (revisions other than 0x10 and 0xE0):
//   0x98 bit 1 interlaced; 0x9B/0x9C total width, 0x9D/0x9E active width (high byte bits 0-5)
//   0x9F sync width low, 0xA0 front porch low, 0xA1 bits 4-7 front porch bits 8-11, bit 0 sync bit 8
//   0xA2/0xA3 total height, 0xA4/0xA5 active height
//   0xA6 sync height low, 0xA7 front porch low, 0xA8 bits 4-7 porch bits 8-11, bit 0 sync bit 8
//   0xAA bit 6 vertical sync positive, bit 5 horizontal sync positive
// Revisions 0x10 and 0xE0 give every value as low/high pairs: front porch 0xA1/0xA2, sync width
// 0x9F/0xA0, total height 0xA3/0xA4, active height 0xA5/0xA6, sync height 0xA7/0xA8, vertical front
// porch 0xA9/0xAB.
void Ite6805Chip::loadTiming()
{
    auto& b0 = regs_[0];
    for (uint8_t a = 0x9B; a <= TimingLast; ++a)
        b0[a] = 0;
    b0[0xAB] = 0;
    b0[Format] = 0;
    if (!connected_)
        return;
    HdmiTiming t = timing_;
    if (yuv420_) { // the chip sees half the horizontal values
        t.hactive /= 2;
        t.htotal /= 2;
        t.hsync /= 2;
        t.hback /= 2;
    }
    const unsigned hfront = t.htotal >= t.hactive + t.hsync + t.hback ? t.htotal - t.hactive - t.hsync - t.hback : 0;
    const unsigned vfront = t.vtotal >= t.vactive + t.vsync + t.vback ? t.vtotal - t.vactive - t.vsync - t.vback : 0;
    auto pair = [&](uint8_t low, uint8_t high, unsigned v) {
        b0[low] = uint8_t(v);
        b0[high] = uint8_t((v >> 8) & 0x3F);
    };
    b0[Format] = t.interlaced ? 0x02 : 0x00;
    pair(0x9B, 0x9C, t.htotal);
    pair(0x9D, 0x9E, t.hactive);
    if (revision_ == 0x10 || revision_ == 0xE0) {
        pair(0x9F, 0xA0, t.hsync);
        pair(0xA1, 0xA2, hfront);
        pair(0xA3, 0xA4, t.vtotal);
        pair(0xA5, 0xA6, t.vactive);
        pair(0xA7, 0xA8, t.vsync);
        b0[0xA9] = uint8_t(vfront);
        b0[0xAB] = uint8_t((vfront >> 8) & 0x3F);
    } else {
        b0[0x9F] = uint8_t(t.hsync);
        b0[0xA0] = uint8_t(hfront);
        b0[0xA1] = uint8_t((((hfront >> 8) & 0x0F) << 4) | ((t.hsync >> 8) & 0x01));
        pair(0xA2, 0xA3, t.vtotal);
        pair(0xA4, 0xA5, t.vactive);
        b0[0xA6] = uint8_t(t.vsync);
        b0[0xA7] = uint8_t(vfront);
        b0[0xA8] = uint8_t((((vfront >> 8) & 0x0F) << 4) | ((t.vsync >> 8) & 0x01));
    }
    b0[TimingLast] = uint8_t((t.vpositive ? 0x40 : 0) | (t.hpositive ? 0x20 : 0));
}

void Ite6805Chip::connect(const HdmiTiming& timing, bool yuv420)
{
    std::lock_guard<std::mutex> lock(m_);
    const bool was = connected_;
    connected_ = true;
    timing_ = timing;
    yuv420_ = yuv420;
    sampleIndex_ = 0;
    loadTiming();
    auto& b0 = regs_[0];
    const bool hdmi20 = timing.pixelClockKHz > 340000;
    b0[Status0] = 0xBF;
    b0[Status0b] = uint8_t(0x38 | (hdmi20 ? 0x41 : 0));
    b0[Status0c] = 0;
    b0[SyncStatus] = 0x82;
    // TMDS count: RCLK x 2^k / (count + 1) gives the character clock, k from the ratio bits
    const uint32_t tmds = yuv420 ? timing.pixelClockKHz / 2 : timing.pixelClockKHz;
    ratioBits_ = 0;
    b0[TmdsCount] = 0xFF;
    if (tmds) {
        for (int k = 10; k >= 7; --k) {
            const uint64_t count = ((uint64_t(rclk()) << k) + tmds / 2) / tmds;
            if (count >= 1 && count <= 256) {
                b0[TmdsCount] = uint8_t(count - 1);
                ratioBits_ = k == 10 ? 0x80 : k == 9 ? 0x40 : k == 8 ? 0x20 : 0;
                break;
            }
        }
    }
    regs_[2][0x15] = yuv420 ? 0x60 : regs_[2][0x15];
    for (int ch = 0; ch < 3; ++ch) { // a good link: few bit errors, counter valid
        errLow_[ch] = 0x10;
        errHigh_[ch] = 0x80;
    }
    for (uint8_t a = 0xD5; a <= 0xD7; ++a)
        regs_[3][a] = regs_[7][a] = 0x07;
    if (!was) {
        b0[0x05] |= 0x01; // 5 V change
        b0[0x10] |= 0x02; // sync change
    }
    b0[0x06] |= 0x01;     // clock detected
    b0[0x07] |= 0x10;     // equaliser done
    b0[0x12] |= 0x01;     // AVI InfoFrame
}

void Ite6805Chip::disconnect()
{
    std::lock_guard<std::mutex> lock(m_);
    const bool was = connected_;
    connected_ = false;
    loadTiming();
    auto& b0 = regs_[0];
    b0[Status0] = b0[Status0b] = b0[Status0c] = b0[SyncStatus] = 0;
    b0[TmdsCount] = 0xFF; // no clock: the counter runs over
    ratioBits_ = 0;
    b0[SampleLow] = 0;
    b0[SampleHigh] &= 0x80;
    for (uint8_t a = AudioFirst; a <= AudioLast; ++a)
        b0[a] = 0;
    if (was)
        b0[0x05] |= 0x01; // 5 V change; the sync change goes with it unlatched
}

bool Ite6805Chip::connected() const
{
    std::lock_guard<std::mutex> lock(m_);
    return connected_;
}

void Ite6805Chip::setAvi(uint8_t b15, uint8_t b16, uint8_t b17, uint8_t vic, uint8_t b19)
{
    std::lock_guard<std::mutex> lock(m_);
    const uint8_t v[5] = {b15, b16, b17, vic, b19};
    for (int i = 0; i < 5; ++i)
        regs_[2][0x15 + i] = v[i];
    regs_[0][0x12] |= 0x01;
}

void Ite6805Chip::setAudio(uint32_t n, uint32_t cts, uint8_t fsRegister)
{
    std::lock_guard<std::mutex> lock(m_);
    auto& b2 = regs_[2];
    b2[0xBE] = uint8_t(n >> 12);
    b2[0xBF] = uint8_t(n >> 4);
    b2[0xC0] = uint8_t((n & 0x0F) | ((cts & 0x0F) << 4));
    b2[0xC1] = uint8_t(cts >> 12);
    b2[0xC2] = uint8_t(cts >> 4);
    regs_[0][0xB0] = 0x40; // two channels
    regs_[0][0xB1] = 0x81; // audio present, channel mask 1
    regs_[0][0xB5] = fsRegister;
}

void Ite6805Chip::setIdentityByte(uint8_t third)
{
    std::lock_guard<std::mutex> lock(m_);
    identity2_ = third;
}

void Ite6805Chip::setRevision(uint8_t revision)
{
    std::lock_guard<std::mutex> lock(m_);
    revision_ = revision;
    loadTiming();
}

void Ite6805Chip::setOscillator(uint32_t count, bool inHundredths)
{
    std::lock_guard<std::mutex> lock(m_);
    oscCount_ = count & 0xFFFFFF;
    oscHundredths_ = inHundredths;
}

void Ite6805Chip::setCalibrationDone(bool done)
{
    std::lock_guard<std::mutex> lock(m_);
    caofDone_ = done;
}

void Ite6805Chip::setOscillatorReady(bool ready)
{
    std::lock_guard<std::mutex> lock(m_);
    oclkReady_ = ready;
}

void Ite6805Chip::setPllLock(bool locked)
{
    std::lock_guard<std::mutex> lock(m_);
    pllLock_ = locked;
}

void Ite6805Chip::setBitErrors(int channel, uint8_t low, uint8_t high)
{
    std::lock_guard<std::mutex> lock(m_);
    errLow_[channel % 3] = low;
    errHigh_[channel % 3] = high;
}

void Ite6805Chip::queueBitErrors(int channel, std::vector<std::pair<uint8_t, uint8_t>> samples)
{
    std::lock_guard<std::mutex> lock(m_);
    errQueue_[channel % 3] = std::move(samples);
}

int Ite6805Chip::trainingStarts() const
{
    std::lock_guard<std::mutex> lock(m_);
    return trainingStarts_;
}

void Ite6805Chip::sendCecFrame(std::vector<uint8_t> frame)
{
    cec_->receive(std::move(frame));
}

std::vector<std::vector<uint8_t>> Ite6805Chip::cecSent() const
{
    return cec_->sent();
}

void Ite6805Chip::setCecStuckCount(uint8_t count) { cec_->setStuckCount(count); }
void Ite6805Chip::cecAnswerOnly(int transfers) { cec_->answerOnly(transfers); }
uint8_t Ite6805Chip::cecRegister(uint8_t address) const { return cec_->reg(address); }
std::vector<uint8_t> Ite6805Chip::cecWritesTo(uint8_t address) const { return cec_->writesTo(address); }
int Ite6805Chip::cecFramesTaken() const { return cec_->counts().first; }
int Ite6805Chip::cecAddressings() const { return cec_->counts().second; }

uint32_t Ite6805Chip::referenceKHz() const
{
    std::lock_guard<std::mutex> lock(m_);
    return rclk();
}

uint8_t Ite6805Chip::reg(int bank, uint8_t address) const
{
    auto* self = const_cast<Ite6805Chip*>(this);
    std::lock_guard<std::mutex> lock(m_);
    const uint8_t keep = self->bankReg_;
    self->bankReg_ = uint8_t((keep & ~7) | (bank & 7));
    const uint8_t v = address == BankRegister ? keep : self->readByte(address);
    self->bankReg_ = keep;
    return v;
}

void Ite6805Chip::poke(int bank, uint8_t address, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_);
    if (address == BankRegister)
        bankReg_ = value;
    else
        regs_.at(size_t(bank & 7))[address] = value;
}

int Ite6805Chip::bank() const
{
    std::lock_guard<std::mutex> lock(m_);
    return bankReg_ & 7;
}

uint8_t Ite6805Chip::hotPlug() const
{
    std::lock_guard<std::mutex> lock(m_);
    return regs_[3][0xAB] & 0xC0;
}

int Ite6805Chip::pixelSamplesTaken() const
{
    std::lock_guard<std::mutex> lock(m_);
    return samplesTaken_;
}

std::vector<std::string> Ite6805Chip::violations() const
{
    std::lock_guard<std::mutex> lock(m_);
    return violations_;
}

void Ite6805Chip::clearViolations()
{
    std::lock_guard<std::mutex> lock(m_);
    violations_.clear();
}

void Ite6805Chip::reset()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        for (auto& b : regs_)
            b.fill(0);
        bankReg_ = 0;
        pointer_ = 0;
        identity2_ = 0x05;
        revision_ = 0xA0;
        oscCount_ = 0;
        oscHundredths_ = false;
        caofDone_ = oclkReady_ = pllLock_ = true;
        connected_ = yuv420_ = false;
        timing_ = HdmiTiming{};
        sampleIndex_ = 0;
        samplesTaken_ = 0;
        ratioBits_ = 0;
        for (int ch = 0; ch < 3; ++ch) {
            errLow_[ch] = errHigh_[ch] = 0;
            errQueue_[ch].clear();
        }
        errSelect_ = 0;
        trainingStarts_ = 0;
        failNext_ = 0;
        writes_.clear();
        violations_.clear();
        regs_[0][TmdsCount] = 0xFF;
        setPresent(true);
    }
    cec_->reset();
}

}
