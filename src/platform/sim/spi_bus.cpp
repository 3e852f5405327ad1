#include "platform/spi_bus.h"

#include "platform/sim/devices/c331_chip.h"

#include <cerrno>
#include <vector>

namespace platform::Sim {
namespace {

constexpr uint32_t DefaultSpeedHz = 500000; // spidev's default until a maximum is set

// Device 0: the scaler chip. Chip select stays low across a transfer list unless a transfer asks
// to release it, so the chip sees one frame per chip-select cycle, as on the wire.
class ScalerBus : public SpiBus {
public:
    int configure(uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz) override
    {
        maxSpeedHz_ = speedHz ? speedHz : DefaultSpeedHz;
        c331Chip().setBusSetup({mode, bitsPerWord, maxSpeedHz_});
        return 0;
    }

    int transfer(const SpiTransfer* transfers, size_t count) override
    {
        if (!transfers || count == 0) {
            errno = EINVAL;
            return -1;
        }
        int moved = 0;
        std::vector<uint8_t> tx, rx;
        std::vector<const SpiTransfer*> frame;
        for (size_t i = 0; i < count; ++i) {
            const SpiTransfer& t = transfers[i];
            frame.push_back(&t);
            const uint8_t* out = t.tx ? t.tx : zeros(t.len); // no transmit buffer shifts zeros
            tx.insert(tx.end(), out, out + t.len);
            if (!t.csChange && i + 1 < count)
                continue;
            if (!sendFrame(frame, tx, &rx)) {
                errno = EIO;
                return -1;
            }
            moved += int(tx.size());
            frame.clear();
            tx.clear();
        }
        return moved;
    }

private:
    const uint8_t* zeros(size_t len)
    {
        if (zeros_.size() < len)
            zeros_.resize(len, 0);
        return zeros_.data();
    }

    bool sendFrame(const std::vector<const SpiTransfer*>& frame, const std::vector<uint8_t>& tx,
                   std::vector<uint8_t>* rx)
    {
        bool duplex = false;
        for (const SpiTransfer* t : frame)
            duplex = duplex || t->rx;
        rx->assign(tx.size(), 0);
        const uint32_t speed = frame.front()->speedHz ? frame.front()->speedHz : maxSpeedHz_;
        if (!c331Chip().transfer(tx.data(), duplex ? rx->data() : nullptr, tx.size(), speed))
            return false;
        size_t at = 0;
        for (const SpiTransfer* t : frame) {
            if (t->rx)
                std::copy(rx->begin() + at, rx->begin() + at + t->len, t->rx);
            at += t->len;
        }
        return true;
    }

    uint32_t maxSpeedHz_ = DefaultSpeedHz;
    std::vector<uint8_t> zeros_;
};

}
}

namespace platform {

// Device 0 is the scaler chip. The FPGA and its configuration flashes (the other devices) come
// with their own emulators later; until then they cannot be opened.
std::unique_ptr<SpiBus> openSpiBus(int device)
{
    if (device == 0)
        return std::make_unique<Sim::ScalerBus>();
    return nullptr;
}

}
