// The box's register window on an ordinary file standing in for "/dev/mem": the mapping starts at
// the page holding the physical address, and the window's offsets count from that address itself.
// The "/dev/msys" request needs the board's driver; here only its refusals can run.
#include "platform/mem_window.h"
#include "scratch_root.h"

#include <cstdint>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

class DevMemBackend : public ScratchRoot {
protected:
    std::vector<uint8_t> fileBytes()
    {
        std::vector<uint8_t> bytes(size_t(3 * page_));
        FILE* f = fopen(node("mem").c_str(), "rb");
        EXPECT_NE(f, nullptr);
        if (f) {
            EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), f), bytes.size());
            fclose(f);
        }
        return bytes;
    }
    void makeMem()
    {
        const std::vector<uint8_t> zeros(size_t(3 * page_), 0);
        FILE* f = fopen(node("mem").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(fwrite(zeros.data(), 1, zeros.size(), f), zeros.size());
        fclose(f);
    }
    const long page_ = sysconf(_SC_PAGESIZE);
};

TEST_F(DevMemBackend, WindowInsideAPageWritesWhereItsAddressIs)
{
    makeMem();
    const uint32_t physical = uint32_t(page_) + 0x30; // not page-aligned
    auto window = platform::openMemWindow(physical, 0x40);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), 0x40u);
    window->write32(0, 0x11223344);
    window->write16(0x3E, 0xBEEF); // the last halfword of the window
    window->write32(0x3E, 0xDEADDEAD); // crosses the end: nothing
    window->write32(2, 0xFFFFFFFF);    // misaligned: nothing
    EXPECT_EQ(window->read32(0), 0x11223344u);
    EXPECT_EQ(window->read16(0x3E), 0xBEEF);
    EXPECT_EQ(window->read32(0x40), 0u);
    window->write16(SIZE_MAX - 1, 0xBEEF); // offsets whose sum with the width would wrap: nothing
    EXPECT_EQ(window->read32(SIZE_MAX - 3), 0u);

    const std::vector<uint8_t> bytes = fileBytes();
    const std::vector<uint8_t> want0 = {0x44, 0x33, 0x22, 0x11}; // little-endian, at the address
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + physical, bytes.begin() + physical + 4), want0);
    EXPECT_EQ(bytes[physical + 0x3E], 0xEF);
    EXPECT_EQ(bytes[physical + 0x3F], 0xBE);
    size_t written = 0;
    for (uint8_t b : bytes)
        written += b != 0;
    EXPECT_EQ(written, 6u); // nothing else, in particular not the page's first bytes
}

TEST_F(DevMemBackend, NoWindowWithoutANodeOrALength)
{
    EXPECT_EQ(platform::openMemWindow(0x1000, 0x40), nullptr); // no "/dev/mem"
    makeMem();
    EXPECT_EQ(platform::openMemWindow(0x1000, 0), nullptr);
    uint32_t physical = 7, length = 7;
    EXPECT_FALSE(platform::msysRequest(&physical, &length)); // no "/dev/msys"
    plainNode("msys");
    EXPECT_FALSE(platform::msysRequest(&physical, &length)); // a file refuses the request
    EXPECT_EQ(physical, 7u);
    EXPECT_EQ(length, 7u);
}

}
