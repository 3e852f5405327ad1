#include "platform/spi_bus.h"

#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"

#include <boost/container/small_vector.hpp>
#include <cerrno>
#include <vector>

namespace platform::Sim {
namespace {

constexpr uint32_t DefaultSpeedHz = 500000; // spidev's default until a maximum is set

// A register access of the polling workers is a few bytes: those frames take no allocation.
using Bytes = boost::container::small_vector<uint8_t, 64>;
using Frame = boost::container::small_vector<const SpiTransfer*, 4>;

// One spidev device. Chip select stays low across a transfer list unless a transfer asks to
// release it, so the chip sees one frame per chip-select cycle, as on the wire.
class FramedBus : public SpiBus {
public:
    int configure(uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz) override
    {
        maxSpeedHz_ = speedHz ? speedHz : DefaultSpeedHz;
        setup(mode, bitsPerWord, maxSpeedHz_);
        return 0;
    }

    int transfer(const SpiTransfer* transfers, size_t count) override
    {
        if (!transfers || count == 0) {
            errno = EINVAL;
            return -1;
        }
        int moved = 0;
        Bytes tx, rx;
        Frame frame;
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

protected:
    virtual void setup(uint8_t mode, uint8_t bitsPerWord, uint32_t maxSpeedHz) = 0;
    // One frame to the chip; rx is null when no transfer of the frame has a receive buffer.
    virtual bool send(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speedHz) = 0;

private:
    const uint8_t* zeros(size_t len)
    {
        if (zeros_.size() < len)
            zeros_.resize(len, 0);
        return zeros_.data();
    }

    bool sendFrame(const Frame& frame, const Bytes& tx, Bytes* rx)
    {
        bool duplex = false;
        for (const SpiTransfer* t : frame)
            duplex = duplex || t->rx;
        rx->assign(tx.size(), 0);
        const uint32_t speed = frame.front()->speedHz ? frame.front()->speedHz : maxSpeedHz_;
        fpgaChip().watchLines(); // the FPGA sees its reset line whatever the bus carries
        if (!send(tx.data(), duplex ? rx->data() : nullptr, tx.size(), speed))
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

// Device 0: the scaler chip.
class ScalerBus : public FramedBus {
    void setup(uint8_t mode, uint8_t bitsPerWord, uint32_t maxSpeedHz) override
    {
        c331Chip().setBusSetup({mode, bitsPerWord, maxSpeedHz});
    }
    bool send(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speedHz) override
    {
        return c331Chip().transfer(tx, rx, len, speedHz);
    }
};

// Device 1: FPGA 0, which reads its select and command-phase lines at each frame.
class FpgaBus : public FramedBus {
    void setup(uint8_t mode, uint8_t bitsPerWord, uint32_t maxSpeedHz) override
    {
        fpgaChip().setBusSetup({mode, bitsPerWord, maxSpeedHz});
    }
    bool send(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t) override
    {
        return fpgaChip().transfer(tx, rx, len);
    }
};

// Device 3: FPGA 0's configuration flash, routed while FPGA 0 and its flash are selected.
class FpgaFlashBus : public FramedBus {
    void setup(uint8_t mode, uint8_t bitsPerWord, uint32_t maxSpeedHz) override
    {
        fpgaFlash().setBusSetup({mode, bitsPerWord, maxSpeedHz});
    }
    bool send(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t) override
    {
        return fpgaFlash().transfer(tx, rx, len);
    }
};

}
}

namespace platform {

// Devices 2 and 4 (FPGA 1 and its flash) are not fitted on the simulated board.
std::unique_ptr<SpiBus> openSpiBus(int device)
{
    switch (device) {
    case 0:
        return std::make_unique<Sim::ScalerBus>();
    case 1:
        return std::make_unique<Sim::FpgaBus>();
    case 3:
        return Sim::fpgaFlash().absent() ? nullptr : std::make_unique<Sim::FpgaFlashBus>();
    default:
        return nullptr;
    }
}

}
