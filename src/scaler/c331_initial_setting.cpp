// The chip's register programme at bring-up: clocks, PLLs, output data order, frame stores and
// the output channels' defaults.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"

namespace {

constexpr int kOutputChannels = 8;

// Output colour matrix RGB -> YCbCr (BT.709, 1/32768 units), rows Cr, Y, Cb.
constexpr uint16_t kOutputMatrix[9] = {0x4000, 0xC5DD, 0xFA23, 0x1B36, 0x5B8C, 0x093E, 0xF155, 0xCEAB, 0x4000};

// Bank 0x02 transmitter groups: each is opened by two selector pulses at 0x7F and then takes the
// divider class and the mode value at its first two addresses.
constexpr uint32_t kTxGroupAddress[2] = {0x08, 0x24};
constexpr uint32_t kTxGroupSelect[2][2] = {{0x0E, 0x0D}, {0x0B, 0x07}};
constexpr uint32_t kTxSelectorIdle = 0x0F;

constexpr uint32_t desc(uint32_t bank, uint32_t address, uint32_t width)
{
    return bank << 16 | address << 8 | width;
}

}

void c331_manage::write_initial_setting(int full)
{
    call_log.record("write_initial_setting", {full});
    const int fd = c331_fd;
    auto wr = [&](uint32_t d, uint32_t value, uint32_t bankOffset = 0) { drv->write_C331(fd, d, value, bankOffset); };

    // Divider class from the transmitter clock ratio.
    const int64_t divider = PS_PLL_SET1[3] > 0 ? PS_PLL_SET1[3] : 1;
    const int64_t ratio =
        int64_t(PS_CLOCK[2]) * PS_PLL_SET1[4] / ((PS_VBOTX_MODE == 1 ? 2000000 : 4000000) * divider);
    const uint32_t dividerClass = ratio < 21 ? 0x44 : ratio <= 40 ? 0x48 : 0x4C;

    if (full) {
        // FF:00 is also the bank register; the driver re-selects bank 0xFF for the next row.
        wr(desc(0xFF, 0x00, 1), 8);
        wr(desc(0xFF, 0x01, 1), 0);
        wr(desc(0xFF, 0x02, 1), 200);
        wr(desc(0xFF, 0x03, 1), 0);
        wr(desc(0xFF, 0x04, 1), 0x61);
        wr(desc(0xFF, 0x05, 3), 1);
        Sleep(20);
    }

    for (uint32_t k = 0; k < 8; ++k)
        wr(desc(0x00, 0x08 + k, 1), 0x11);
    for (uint32_t k = 0; k < 8; ++k)
        wr(desc(0x00, 0x10 + k, 1), 2 * k);
    for (uint32_t i = 0; i < 5; ++i)
        wr(desc(0x00, 0x47 + i, 1), uint32_t(PS_PLL_SET1[i]));
    for (uint32_t i = 0; i < 4; ++i)
        wr(desc(0x00, 0x51 + i, 1), uint32_t(PS_PLL_SET2[i]));

    // Output data order by transmitter mode.
    uint32_t order[3];
    if (PS_VBOTX_MODE == 1) {
        order[0] = order[1] = order[2] = 0x76543210;
    } else if (PS_VBOTX_MODE == 2) {
        order[0] = 0x00010000;
        order[1] = order[2] = 0x76543210;
    } else {
        wr(desc(0x03, 0x2C, 1), 5);
        wr(desc(0x03, 0x36, 1), 5);
        wr(desc(0x03, 0x2F, 2), 0x780);
        wr(desc(0x03, 0x39, 2), 0x780);
        wr(desc(0x03, 0x46, 1), 1);
        wr(desc(0x03, 0x4E, 1), 1);
        order[0] = order[1] = order[2] = 0x73625140;
    }
    wr(desc(0x03, 0x55, 4), order[0]);
    wr(desc(0x03, 0x5E, 4), order[1]);
    wr(desc(0x03, 0x62, 4), order[2]);

    // Frame-store bases; channels 5 and 7 share the store of the channel before, 0x1E00 further on.
    for (int n = 0; n < kOutputChannels; ++n) {
        const bool shared = n == 5 || n == 7;
        const int from = shared ? n - 1 : n;
        for (uint32_t k = 0; k < 4; ++k)
            wr(desc(0x16, 0x1C + 4 * k, 4), uint32_t(PS_MEM_SC[from][k] + (shared ? 0x1E00 : 0)), 16 * n);
    }

    for (int n = 0; n < kOutputChannels; ++n) {
        wr(desc(0x08, 0x0A, 2), uint32_t(PS_ACTHW - 2), 16 * n);
        wr(desc(0x08, 0x0C, 2), uint32_t(PS_ACTVW - 2), 16 * n);
        wr(desc(0x08, 0x1D, 2), 0x40, 16 * n);
        for (uint32_t k = 0; k < 9; ++k)
            wr(desc(0x10, 0x35 + 2 * k, 2), kOutputMatrix[k], 16 * n);
    }

    if (!full)
        return;
    Sleep(1);

    wr(desc(0x01, 0x08, 1), 0x30);
    uint32_t address = 0x09;
    for (uint32_t word : {0x22222222u, 0x66663445u, 0x88888888u}) {
        wr(desc(0x01, address, 4), word);
        address += 4;
    }
    for (uint32_t word : {0x924924u, 0x6DB6DBu}) {
        for (int k = 0; k < 8; ++k) {
            wr(desc(0x01, address, 3), word);
            address += 3;
        }
    }
    wr(desc(0x01, address, 4), 0x33333333);

    wr(desc(0xFF, 0x02, 1), 0x88);
    Sleep(1);
    wr(desc(0xFF, 0x02, 1), 200);
    Sleep(1);
    wr(desc(0xFF, 0x04, 1), 0x61);
    Sleep(20);

    const uint32_t modeValue = PS_VBOTX_MODE == 1 ? 5 : 9;
    for (int g = 0; g < 2; ++g) {
        for (uint32_t select : kTxGroupSelect[g]) {
            wr(desc(0x02, 0x7F, 1), select);
            wr(desc(0x02, 0x7F, 1), kTxSelectorIdle);
        }
        wr(desc(0x02, kTxGroupAddress[g], 1), dividerClass);
        wr(desc(0x02, kTxGroupAddress[g] + 1, 1), modeValue);
    }
}
