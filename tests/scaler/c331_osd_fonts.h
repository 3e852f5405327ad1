#pragma once
// Small font images for the simulated scaler flash, drawn at test time from a font of this
// machine: only the glyphs a test needs, at their places in the four fonts.
#include "platform/sim/devices/c331_chip.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace osd_test {

// 1 bit per pixel, rows top down, leftmost pixel in the most significant bit. ASCII glyphs keep
// to the left half of their cell (they advance by half the size).
inline std::vector<uint8_t> glyphBits(uint32_t code, int size)
{
    QImage image(size, size, QImage::Format_Grayscale8);
    image.fill(0);
    if (code != ' ') {
        QPainter p(&image);
        QFont font(QStringLiteral("WenQuanYi Micro Hei"));
        font.setPixelSize(size * 7 / 8);
        p.setFont(font);
        p.setPen(Qt::white);
        const int width = code < 0x80 ? size / 2 : size;
        p.drawText(QRect(0, 0, width, size), Qt::AlignCenter, QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1));
    }
    std::vector<uint8_t> bits(size_t(size * size / 8), 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (qGray(image.pixel(x, y)) >= 96)
                bits[size_t(y * size / 8 + x / 8)] |= uint8_t(0x80 >> (x % 8));
    return bits;
}

inline int inkOf(const std::vector<uint8_t>& bits)
{
    int n = 0;
    for (uint8_t b : bits)
        n += __builtin_popcount(b);
    return n;
}

inline uint32_t rgba(uint32_t bbggrr)
{
    return (bbggrr & 0xFF) << 24 | ((bbggrr >> 8) & 0xFF) << 16 | ((bbggrr >> 16) & 0xFF) << 8 | 0xFF;
}

// Pixels of one character cell of the picture that differ from its glyph in the flash font,
// drawn in fg over bg (colours 0xBBGGRR).
inline int cellErrors(const platform::Sim::C331Chip::Picture& pic, int x0, int y0, uint32_t code, int size, uint32_t fg,
                      uint32_t bg)
{
    const uint32_t glyphBytes = uint32_t(size * size / 8);
    const uint32_t at = code < 0x80 ? (size == 32 ? 0x23u : 0x410023u) + (code - 0x20) * glyphBytes
                                    : (size == 32 ? 0x10023u : 0x450023u) + (code - 0x4E00) * glyphBytes;
    const std::vector<uint8_t> bits = platform::Sim::c331Chip().flashRead(at, glyphBytes);
    const int advance = code < 0x80 ? size / 2 : size;
    int errors = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < advance; ++x) {
            const bool ink = bits[size_t(y * size / 8 + x / 8)] & (0x80 >> (x % 8));
            errors += pic.pixel(x0 + x, y0 + y) != rgba(ink ? fg : bg);
        }
    return errors;
}

// Writes the glyphs of text (UTF-8) into the flash fonts of both sizes.
inline void storeGlyphs(const std::string& text)
{
    for (uint32_t code : QString::fromStdString(text).toUcs4()) {
        for (int size : {32, 64}) {
            const uint32_t glyphBytes = uint32_t(size * size / 8);
            uint32_t at;
            if (code >= 0x20 && code <= 0x7F)
                at = (size == 32 ? 0x000023u : 0x410023u) + (code - 0x20) * glyphBytes;
            else if (code >= 0x4E00 && code <= 0x9FFF)
                at = (size == 32 ? 0x010023u : 0x450023u) + (code - 0x4E00) * glyphBytes;
            else
                continue;
            platform::Sim::c331Chip().flashWrite(at, glyphBits(code, size));
        }
    }
}

}
