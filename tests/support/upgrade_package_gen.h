#pragma once
#include <QByteArray>
#include <cstdint>
#include <vector>

// Builds USB upgrade packages for tests, good and damaged: a 49-byte header (publish type at 2,
// controller type u16 at 18, entry count u16 at 47), 21-byte entries from 49 (type, u32 length,
// u32 offset, six version bytes, u32 flash address, u16 sector count), then the embedded files.
namespace PackageGen {

struct Entry {
    uint8_t type = 10;
    std::vector<uint8_t> file;                    // the embedded file as it lies in the package
    uint8_t version[6] = {25, 1, 2, 3, 4, 5};
    int64_t lenOverride = -1, offsetOverride = -1; // damage: table values that lie
};

struct Package {
    uint8_t publishType = 0;
    uint16_t controllerType = 0x8B52;
    std::vector<Entry> entries;
    int fileNumOverride = -1; // damage: more entries announced than present
    int64_t cutTo = -1;       // damage: file cut to this many bytes
};

QByteArray build(const Package& package);
std::vector<uint8_t> pattern(size_t n, uint32_t seed);             // bytes that differ by position
std::vector<uint8_t> fpgaImage(const std::vector<uint8_t>& data, int64_t lenOverride = -1); // 64-byte header + data
std::vector<uint8_t> font(uint8_t coding, uint8_t height, size_t size); // 35-byte header + glyph bytes

}
