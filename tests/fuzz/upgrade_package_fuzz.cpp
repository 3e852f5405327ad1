// A USB upgrade package as it lies on the stick: read and checked whole (header, entries, FPGA
// images, fonts), and the application check on each application it carries. A stick's package can
// be far larger than an input: one that ends in "#ZEROS#" and a count (4 bytes, little-endian) has
// that many zero bytes in their place, at most 16 MiB, so that the limits of the flash areas
// (an FPGA image up to 0x6C0000 bytes) can be reached. An accepted entry of a type the box writes
// is checked against the box's flash: its bytes lie inside the package and fit where they go (an
// application the 5 MiB staging buffer, an FPGA image the flash below its data records at
// 0x6C0001, a font the slot of its coding and height), and its file starts past the entry table.
#include "fuzz_board.h"

#include "base/bytes.h"
#include "platform/paths.h"
#include "tools/program_image.h"
#include "tools/upgrade_package.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {
[[noreturn]] void fail(const upgrade::Entry& e, const char* what)
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

// The checks above on an accepted entry of a type the box writes; bytes: the package, size long.
void checkEntry(const upgrade::Entry& e, uint16_t entries, const uint8_t* bytes, uint64_t size)
{
    if (e.type != upgrade::App && e.type != upgrade::Fpga0 && e.type != upgrade::Fpga1 && e.type != upgrade::Font)
        return;
    if (uint64_t(e.dataOffset) + e.dataLen > size)
        fail(e, "its bytes run past the package");
    if (e.fileOffset < 49 + 21 * uint32_t(entries))
        fail(e, "its file starts inside the entry table");
    if (e.type == upgrade::App) {
        if (e.dataLen == 0 || e.dataLen > 0x500000)
            fail(e, "an application that does not fit the staging buffer");
        program_image::refusal(bytes + e.dataOffset, e.dataLen);
    } else if (e.type == upgrade::Font) {
        const FontArea* area = e.dataLen < 35 ? nullptr : fontArea(bytes[e.dataOffset + 5], bytes[e.dataOffset + 18]);
        if (!area)
            fail(e, "a font without a slot for its coding and height");
        if (e.target != area->address || e.dataLen > area->size)
            fail(e, "a font that does not fit its slot");
    } else if (e.dataOffset < 64 || e.dataLen > 0x6C0000 || getU32(bytes + e.dataOffset - 33) != e.dataLen) {
        fail(e, "an FPGA image that is not the one its header announces, or runs into the flash's data records");
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    FuzzBoard::start();
    uint64_t zeros = 0;
    const size_t trailer = 7 + 4;
    if (size >= trailer && memcmp(input + size - trailer, "#ZEROS#", 7) == 0) {
        zeros = std::min<uint64_t>(getU32(input + size - 4), 16u << 20);
        size -= trailer;
    }
    const std::string path = platform::Paths::resolve("/mnt/usb1/fuzz.VYR");
    FuzzBoard::writeFile("/mnt/usb1/fuzz.VYR", input, size);
    if (zeros && !QFile::resize(QString::fromStdString(path), qint64(size + zeros)))
        FuzzBoard::fail("the package could not be made %llu bytes long", static_cast<unsigned long long>(size + zeros));
    upgrade::Package package;
    std::string error;
    if (upgrade::readPackage(path, &package, &error)) {
        // The package in memory with its zeros only where an entry reaches them.
        std::vector<uint8_t> whole;
        const uint8_t* bytes = input;
        for (const upgrade::Entry& e : package.entries)
            if (uint64_t(e.dataOffset) + e.dataLen > size && whole.empty() && zeros) {
                whole.assign(input, input + size);
                whole.resize(size + zeros);
                bytes = whole.data();
            }
        for (const upgrade::Entry& e : package.entries)
            checkEntry(e, package.fileNum, bytes, size + zeros);
    }
    program_image::refusal(input, size);
    return 0;
}
