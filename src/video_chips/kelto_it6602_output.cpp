#include "video_chips/kelto_it6602.h"
#include "video_chips/kelto_it6602_regs.h"

#include <array>
#include <cstdio>

using namespace it6602;

// Colour-space converter, 21 bytes loaded at bank 1 0x70: three signed output offsets, then nine
// coefficients (rows = output channels R G B or Y Cb Cr, columns = input channels in the same
// order), each 16-bit little-endian two's complement with 10 fractional bits. Chroma enters
// centred on 0 when the input is YUV and leaves re-centred on 128 when the output is YUV.
//
// The coefficients follow from the luma weights of ITU-R BT.601 (Kr 0.299, Kb 0.114) and BT.709
// (Kr 0.2126, Kb 0.0722), with limited range spanning 16-235 for luma and RGB and 16-240 for
// chroma.
namespace {

using Csc = std::array<uint8_t, 21>;

constexpr int roundTo(double v) { return v >= 0 ? int(v + 0.5) : -int(-v + 0.5); }

constexpr Csc pack(const double (&coef)[9], const double (&offset)[3])
{
    Csc m{};
    for (int i = 0; i < 3; ++i)
        m[size_t(i)] = uint8_t(int8_t(roundTo(offset[i])));
    for (int i = 0; i < 9; ++i) {
        const uint16_t c = uint16_t(int16_t(roundTo(coef[i] * 1024.0)));
        m[size_t(3 + 2 * i)] = uint8_t(c);
        m[size_t(4 + 2 * i)] = uint8_t(c >> 8);
    }
    return m;
}

constexpr double LumaSpan = 219.0, ChromaSpan = 224.0, FullSpan = 255.0;

// Limited-range YUV to RGB; full-range output when `full`.
constexpr Csc yuvToRgb(double kr, double kb, bool full)
{
    const double kg = 1.0 - kr - kb;
    const double s = full ? FullSpan / LumaSpan : 1.0;
    const double c = (full ? FullSpan : LumaSpan) / ChromaSpan;
    const double coef[9] = {s, 0.0, c * 2 * (1 - kr),
                            s, -c * 2 * (1 - kb) * kb / kg, -c * 2 * (1 - kr) * kr / kg,
                            s, c * 2 * (1 - kb), 0.0};
    const double off = full ? -16.0 * s : 0.0;
    const double offset[3] = {off, off, off};
    return pack(coef, offset);
}

// RGB to limited-range YUV; the RGB input spans 0-255 when `full`, else 16-235.
constexpr Csc rgbToYuv(double kr, double kb, bool full)
{
    const double kg = 1.0 - kr - kb;
    const double s = full ? LumaSpan / FullSpan : 1.0;
    const double c = ChromaSpan / (full ? FullSpan : LumaSpan);
    const double cb = c / (2 * (1 - kb)), cr = c / (2 * (1 - kr));
    const double coef[9] = {s * kr, s * kg, s * kb,
                            -cb * kr, -cb * kg, cb * (1 - kb),
                            cr * (1 - kr), -cr * kg, -cr * kb};
    const double offset[3] = {full ? 16.0 : 0.0, 0.0, 0.0};
    return pack(coef, offset);
}

constexpr Csc rgbRange(bool expand)
{
    const double g = expand ? FullSpan / LumaSpan : LumaSpan / FullSpan;
    const double coef[9] = {g, 0, 0, 0, g, 0, 0, 0, g};
    const double off = expand ? -16.0 * g : 16.0;
    const double offset[3] = {off, off, off};
    return pack(coef, offset);
}

constexpr double Kr601 = 0.299, Kb601 = 0.114, Kr709 = 0.2126, Kb709 = 0.0722;

constexpr Csc RgbExpand = rgbRange(true), RgbCompress = rgbRange(false);
constexpr Csc Yuv709Full = yuvToRgb(Kr709, Kb709, true), Yuv709Limited = yuvToRgb(Kr709, Kb709, false);
constexpr Csc Yuv601Full = yuvToRgb(Kr601, Kb601, true), Yuv601Limited = yuvToRgb(Kr601, Kb601, false);
constexpr Csc Rgb709Full = rgbToYuv(Kr709, Kb709, true), Rgb709Limited = rgbToYuv(Kr709, Kb709, false);
constexpr Csc Rgb601Full = rgbToYuv(Kr601, Kb601, true), Rgb601Limited = rgbToYuv(Kr601, Kb601, false);

// converter modes, register 0x65 bits 4-5
constexpr uint8_t CscBypass = 0x00, CscRgbToYuv = 0x10, CscYuvToRgb = 0x20, CscRgbToRgb = 0x30;
}

#define CSC_BYTES(m)                                                                                           \
    {                                                                                                          \
        m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], m[12], m[13], m[14], m[15], \
            m[16], m[17], m[18], m[19], m[20]                                                                  \
    }

const uint8_t kelto_it6602::bCSCMtx_RGB_16_235_RGB_0_255[21] = CSC_BYTES(RgbExpand);
const uint8_t kelto_it6602::bCSCMtx_RGB_0_255_RGB_16_235[21] = CSC_BYTES(RgbCompress);
const uint8_t kelto_it6602::bCSCMtx_YUV2RGB_ITU709_0_255[21] = CSC_BYTES(Yuv709Full);
const uint8_t kelto_it6602::bCSCMtx_YUV2RGB_ITU709_16_235[21] = CSC_BYTES(Yuv709Limited);
const uint8_t kelto_it6602::bCSCMtx_YUV2RGB_ITU601_0_255[21] = CSC_BYTES(Yuv601Full);
const uint8_t kelto_it6602::bCSCMtx_YUV2RGB_ITU601_16_235[21] = CSC_BYTES(Yuv601Limited);
const uint8_t kelto_it6602::bCSCMtx_RGB2YUV_ITU709_0_255[21] = CSC_BYTES(Rgb709Full);
const uint8_t kelto_it6602::bCSCMtx_RGB2YUV_ITU709_16_235[21] = CSC_BYTES(Rgb709Limited);
const uint8_t kelto_it6602::bCSCMtx_RGB2YUV_ITU601_0_255[21] = CSC_BYTES(Rgb601Full);
const uint8_t kelto_it6602::bCSCMtx_RGB2YUV_ITU601_16_235[21] = CSC_BYTES(Rgb601Limited);

#undef CSC_BYTES

const uint8_t* kelto_it6602::cscMatrix(IT6602_ColorFormat in, bool inLimited, IT6602_Colorimetry c, uint8_t config)
{
    const bool outYuv = (config & VOC_Format) != VOC_RGB444;
    const bool outLimited = config & VOC_Limited;
    const bool bt709 = c == C_ITU709;
    if (in == F_RGB444) {
        if (outYuv) {
            if (bt709)
                return inLimited ? bCSCMtx_RGB2YUV_ITU709_16_235 : bCSCMtx_RGB2YUV_ITU709_0_255;
            return inLimited ? bCSCMtx_RGB2YUV_ITU601_16_235 : bCSCMtx_RGB2YUV_ITU601_0_255;
        }
        if (inLimited == outLimited)
            return nullptr;
        return inLimited ? bCSCMtx_RGB_16_235_RGB_0_255 : bCSCMtx_RGB_0_255_RGB_16_235;
    }
    if (outYuv)
        return nullptr;
    if (bt709)
        return outLimited ? bCSCMtx_YUV2RGB_ITU709_16_235 : bCSCMtx_YUV2RGB_ITU709_0_255;
    return outLimited ? bCSCMtx_YUV2RGB_ITU601_16_235 : bCSCMtx_YUV2RGB_ITU601_0_255;
}

void kelto_it6602::IT6602VideoOutputConfigure(int fd, int index)
{
    IT6602_dev_data& d = dev_[index];
    const uint8_t config = d.outputConfig < VOC_Count ? d.outputConfig : 0;
    // Without colorimetry in the information frame, HD sizes are BT.709 and SD sizes BT.601.
    const IT6602_Colorimetry bySize = vid_[index].vactive >= 720 ? C_ITU709 : C_ITU601;
    d.inputFormat = F_RGB444;
    d.colorimetry = bySize;
    d.inputLimited = 0;
    if (d.flags & 0x08) {
        uint8_t pb[4];
        chgbank_it6602(fd, 2);
        for (uint8_t i = 0; i < 4; ++i)
            pb[i] = hdmirxrd_it6602(fd, uint8_t(RegAviData + i));
        chgbank_it6602(fd, 0);
        const uint8_t y = (pb[0] >> 5) & 3; // 0 RGB, 1 YUV 4:2:2, 2 YUV 4:4:4, 3 reserved (RGB)
        d.inputFormat = y == 1 ? F_YUV422 : y == 2 ? F_YUV444 : F_RGB444;
        switch ((pb[1] >> 6) & 3) {
        case 1:
            d.colorimetry = C_ITU601;
            break;
        case 2:
            d.colorimetry = C_ITU709;
            break;
        case 3: {
            const uint8_t ext = (pb[2] >> 4) & 7; // xvYCC601, xvYCC709, sYCC601, AdobeYCC601, others
            d.colorimetry = (ext == 0 || ext == 2 || ext == 3) ? C_ITU601 : C_ITU709;
            break;
        }
        default:
            break;
        }
        if (d.inputFormat != F_RGB444) {
            d.inputLimited = 1;
        } else {
            const uint8_t q = (pb[2] >> 2) & 3;
            // Default range: limited for the numbered video formats, full for the rest.
            d.inputLimited = q == 1 || (q == 0 && (pb[3] & 0x7F) != 0);
        }
    }

    const uint8_t* m = cscMatrix(d.inputFormat, d.inputLimited, d.colorimetry, config);
    const bool outYuv = (config & VOC_Format) != VOC_RGB444;
    uint8_t mode = CscBypass;
    if (m) {
        mode = d.inputFormat != F_RGB444 ? CscYuvToRgb : outYuv ? CscRgbToYuv : CscRgbToRgb;
        chgbank_it6602(fd, RegCscBank);
        hdmirxbwr_it6602(fd, RegCsc, 21, m);
        chgbank_it6602(fd, 0);
    }
    const uint8_t format = config & VOC_Format;
    const uint8_t outFormat = format == VOC_RGB444 ? F_RGB444 : format == VOC_YUV444 ? F_YUV444 : F_YUV422;
    d.outputMode = uint8_t(mode | outFormat);
    hdmirxset_it6602(fd, RegOutputMode, 0x33, d.outputMode);
    const uint8_t input = uint8_t(((config & VOC_DoubleRate) ? 0x04 : 0) |
                                  (format == VOC_YUV422EmbeddedSync ? 0x08 : 0) | (d.inputFormat << 4) |
                                  (d.colorimetry == C_ITU709 ? 0x40 : 0));
    hdmirxset_it6602(fd, RegInputMode, 0x7C, input); // bit 0 is the port selection
    chgbank_it6602(fd, 1);
    hdmirxwr_it6602(fd, RegOutputExtra1, 0x00);
    hdmirxwr_it6602(fd, RegOutputExtra2, 0x00);
    chgbank_it6602(fd, 0);
    if (tracing())
        std::printf("IT6602 %d: input format %d colorimetry %d %s, output configuration %d\n", index,
                    d.inputFormat, d.colorimetry, d.inputLimited ? "16-235" : "0-255", config);
}
