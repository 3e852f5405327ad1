// The image of a fresh parameter file: AA AA, block 0x300-0xFFF with the factory defaults, zeros.
#include "params/vyrrampara.h"
#include "base/bytes.h"

#include <array>

namespace {

constexpr uint32_t kFileOffset = 0x2FE; // file offset = block offset - 0x2FE

std::array<uint8_t, 4096> buildDefaults()
{
    std::array<uint8_t, 4096> f{};
    auto u8 = [&f](uint32_t block, uint8_t v) { f[block - kFileOffset] = v; };
    auto u16 = [&f](uint32_t block, uint16_t v) { putU16(&f[block - kFileOffset], v); };

    f[0] = 0xAA;
    f[1] = 0xAA;
    u8(0x302, 100);
    for (uint32_t i = 0; i < 6; ++i) {
        const bool uhd = i >= 4;
        u16(0x380 + 6 * i, uhd ? 3840 : 1920);
        u16(0x382 + 6 * i, uhd ? 2160 : 1080);
        u16(0x384 + 6 * i, 60);
    }
    for (uint32_t off : {0x562u, 0x584u, 0x58Cu, 0x56Eu})
        u16(off, 1920);
    for (uint32_t off : {0x564u, 0x586u, 0x58Eu, 0x570u})
        u16(off, 1080);
    u16(0x56A, 1);
    u16(0x56C, 1);
    for (uint32_t k = 0; k < 64; ++k) { // 64 slots up to 0x83F, the first 40 used
        const uint32_t e = kCropBase + 10 * k;
        u16(e, 0x0002);
        u16(e + 6, 1920);
        u16(e + 8, 1080);
    }
    u16(0x880, 100); // brightness
    u16(0x882, 50);  // contrast
    u16(0x884, 10);  // sharpness
    u16(0x886, 50);  // saturation
    u16(0x888, 2);   // colour temperature: nature
    u16(0x88A, 64);
    u16(0x88C, 64);
    u16(0x88E, 64);
    for (uint32_t w = 0; w < 16; ++w)
        u16(0x8A0 + 2 * w, uint16_t(w));
    u16(0x8DE, 1);
    const uint16_t sources[6] = {2, 5, 3, 4, 1, 0};
    for (uint32_t w = 0; w < 6; ++w) {
        const uint32_t r = kWindowBase + kWindowSize * w;
        u16(r, w == 0 ? 1 : 0);
        u16(r + 8, sources[w]);
        u16(r + 14, 1920);
        u16(r + 16, 1080);
    }
    return f;
}

const std::array<uint8_t, 4096> defaults = buildDefaults();

}

const uint8_t* const default_para_ramlist = defaults.data();
