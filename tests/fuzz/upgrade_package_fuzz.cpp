// A USB upgrade package as it lies on the stick: read and checked whole (header, entries, FPGA
// images, fonts), and the application check on each application it carries. A stick's package can
// be far larger than an input: one that ends in "#ZEROS#" and a count (4 bytes, little-endian) has
// that many zero bytes in their place, at most 16 MiB, so that the limits of the flash areas
// (an FPGA image up to 0x6C0000 bytes) can be reached. An accepted entry of
// a type the box writes is checked against the package's layout as the box's flash has it: its
// bytes lie inside the package and fit where they go (an application the 5 MiB staging buffer, an
// FPGA image the flash below its data records at 0x6C0001, a font the slot of its coding and height).
#include "fuzz_board.h"

#include "platform/paths.h"
#include "tools/program_image.h"
#include "tools/upgrade_package.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {
void fail(const upgrade::Entry& e, const char* what)
{
    FuzzBoard::fail("accepted entry %d (type %u, %u bytes at %u): %s", e.index, e.type, e.dataLen, e.dataOffset, what);
}

// Slot of a font by coding (byte 5 of its header: 0 Chinese, 1 English) and height (byte 18).
struct FontArea {
    uint8_t coding, height;
    uint32_t address, size;
};
const FontArea kFontAreas[] = {{1, 32, 0x000000, 0x010000}, {0, 32, 0x010000, 0x400000},
                               {1, 64, 0x410000, 0x040000}, {0, 64, 0x450000, 0x3B0000}};

const FontArea* fontArea(uint8_t coding, uint8_t height)
{
    for (const FontArea& a : kFontAreas)
        if (a.coding == coding && a.height == height)
            return &a;
    return nullptr;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    FuzzBoard::start();
    const size_t marker = 7, tail = marker + 4;
    uint64_t zeros = 0;
    if (size >= tail && memcmp(input + size - tail, "#ZEROS#", marker) == 0) {
        const uint8_t* n = input + size - 4;
        zeros = std::min<uint64_t>(n[0] | n[1] << 8 | n[2] << 16 | uint64_t(n[3]) << 24, 16u << 20);
        size -= tail;
    }
    FuzzBoard::writeFile("/mnt/usb1/fuzz.VYR", input, size);
    if (zeros && !QFile::resize(QString::fromStdString(platform::Paths::resolve("/mnt/usb1/fuzz.VYR")), qint64(size + zeros)))
        FuzzBoard::fail("the package could not be made %llu bytes long", static_cast<unsigned long long>(size + zeros));
    // The whole package in memory only where an entry reaches into the zeros.
    std::vector<uint8_t> whole;
    const uint8_t* data = input;
    size += zeros;
    upgrade::Package package;
    std::string error;
    if (upgrade::readPackage(platform::Paths::resolve("/mnt/usb1/fuzz.VYR"), &package, &error)) {
        for (const upgrade::Entry& e : package.entries)
            if (zeros && uint64_t(e.dataOffset) + e.dataLen > size - zeros && whole.empty()) {
                whole.assign(input, input + size - zeros);
                whole.resize(size);
                data = whole.data();
            }
        for (const upgrade::Entry& e : package.entries) {
            if (e.type != upgrade::App && e.type != upgrade::Fpga0 && e.type != upgrade::Fpga1 && e.type != upgrade::Font)
                continue;
            if (uint64_t(e.dataOffset) + e.dataLen > size)
                fail(e, "its bytes run past the package");
            if (e.type == upgrade::App) {
                if (e.dataLen == 0 || e.dataLen > 0x500000)
                    fail(e, "an application that does not fit the staging buffer");
                program_image::refusal(data + e.dataOffset, e.dataLen);
            } else if (e.type == upgrade::Font) {
                const FontArea* area = e.dataLen < 35 ? nullptr : fontArea(data[e.dataOffset + 5], data[e.dataOffset + 18]);
                if (!area)
                    fail(e, "a font without a slot for its coding and height");
                if (e.target != area->address || e.dataLen > area->size)
                    fail(e, "a font that does not fit its slot");
            } else if (e.dataOffset < 64 || e.dataLen > 0x6C0000 ||
                       uint32_t(data[e.dataOffset - 33] | data[e.dataOffset - 32] << 8 | data[e.dataOffset - 31] << 16 |
                                uint32_t(data[e.dataOffset - 30]) << 24) != e.dataLen) {
                fail(e, "an FPGA image that is not the one its header announces, or runs into the flash's data records");
            }
        }
    }
    program_image::refusal(input, size - zeros);
    return 0;
}
