#include "upgrade_package_gen.h"

namespace PackageGen {

namespace {
void put16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = uint8_t(x >> 16);
    }
    return out;
}

std::vector<uint8_t> fpgaImage(const std::vector<uint8_t>& data, int64_t lenOverride)
{
    std::vector<uint8_t> out(64, 0);
    out[16] = 1; // FCG
    out[17] = 3;
    put32(out, 31, lenOverride >= 0 ? uint32_t(lenOverride) : uint32_t(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> font(uint8_t coding, uint8_t height, size_t size)
{
    std::vector<uint8_t> out = pattern(size < 35 ? 35 : size, height + coding * 7u);
    std::fill(out.begin(), out.begin() + 35, 0);
    out[0] = 'P';
    out[5] = coding;
    out[17] = uint8_t(height / 2);
    out[18] = height;
    return out;
}

QByteArray build(const Package& p)
{
    const size_t n = p.entries.size();
    std::vector<uint8_t> b(49 + 21 * n, 0);
    b[0] = 1;
    b[1] = 1;
    b[2] = p.publishType;
    put16(b, 18, p.controllerType);
    put16(b, 47, p.fileNumOverride >= 0 ? uint32_t(p.fileNumOverride) : uint32_t(n));
    for (size_t k = 0; k < n; ++k) {
        const Entry& e = p.entries[k];
        const size_t at = 49 + 21 * k;
        const uint32_t offset = uint32_t(b.size());
        b[at] = e.type;
        put32(b, at + 1, e.lenOverride >= 0 ? uint32_t(e.lenOverride) : uint32_t(e.file.size()));
        put32(b, at + 5, e.offsetOverride >= 0 ? uint32_t(e.offsetOverride) : offset);
        for (int i = 0; i < 6; ++i)
            b[at + 9 + size_t(i)] = e.version[i];
        b.insert(b.end(), e.file.begin(), e.file.end());
    }
    if (p.cutTo >= 0 && size_t(p.cutTo) < b.size())
        b.resize(size_t(p.cutTo));
    return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
}

}
