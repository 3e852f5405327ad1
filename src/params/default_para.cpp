// The image of a fresh parameter file: AA AA, block 0x300-0xFFF with the factory defaults, zeros.
#include "params/vyrrampara.h"
#include "base/bytes.h"

#include <array>

namespace {

constexpr uint32_t kFileOffset = kPersistStart - 2; // file offset = block offset - 0x2FE (after the markers)

std::array<uint8_t, 4096> buildDefaults()
{
    std::array<uint8_t, 4096> f{};
    auto u8 = [&f](uint32_t block, uint8_t v) { f[block - kFileOffset] = v; };
    auto u16 = [&f](uint32_t block, uint16_t v) { putU16(&f[block - kFileOffset], v); };

    f[0] = blk::kMarkerSaved;
    f[1] = blk::kMarkerSaved;
    u8(blk::kUnknown302, 100);
    for (uint32_t i = 0; i < 6; ++i) {
        const bool uhd = i >= 4;
        u16(blk::edidWidth(i), uhd ? 3840 : 1920);
        u16(blk::edidHeight(i), uhd ? 2160 : 1080);
        u16(blk::edidRate(i), 60);
    }
    for (uint32_t off : {blk::kLedWidth, blk::kOutput1Width, blk::kOutput2Width, blk::kChannelWidth})
        u16(off, 1920);
    for (uint32_t off : {blk::kLedHeight, blk::kOutput1Height, blk::kOutput2Height, blk::kChannelHeight})
        u16(off, 1080);
    u16(blk::kChannelsH, 1);
    u16(blk::kChannelsV, 1);
    for (uint32_t k = 0; k < blk::kCropSlots; ++k) {
        u16(blk::cropField(k, blk::crop::kId), blk::crop::kUnusedDefault);
        u16(blk::cropField(k, blk::crop::kWidth), 1920);
        u16(blk::cropField(k, blk::crop::kHeight), 1080);
    }
    u16(blk::kBrightness, 100);
    u16(blk::kContrast, 50);
    u16(blk::kSharpness, 10);
    u16(blk::kSaturation, 50);
    u16(blk::kColourTemp, 2); // nature
    u16(blk::kColourRed, 64);
    u16(blk::kColourGreen, 64);
    u16(blk::kColourBlue, 64);
    for (uint32_t w = 0; w < blk::kWindows; ++w)
        u16(blk::layerPriority(w), uint16_t(w));
    u16(blk::kUnknown8DE, 1);
    const uint16_t sources[blk::kScalerWindows] = {2, 5, 3, 4, 1, 0};
    for (uint32_t w = 0; w < blk::kScalerWindows; ++w) {
        u16(blk::window(w, blk::win::kState), w == 0 ? 1 : 0);
        u16(blk::window(w, blk::win::kSource), sources[w]);
        u16(blk::window(w, blk::win::kWidth), 1920);
        u16(blk::window(w, blk::win::kHeight), 1080);
    }
    return f;
}

const std::array<uint8_t, 4096> defaults = buildDefaults();

}

const uint8_t* const default_para_ramlist = defaults.data();
