// A custom EDID request (input, width, height and rate as the page and the protocol store them)
// through the EDID writer. An accepted timing is read back from the bytes as a source reads them:
// both blocks sum to zero, the first two detailed timings describe the size and rate asked for at a
// pixel clock the input's receiver takes (300 MHz inputs 0-3, 600 MHz inputs 4-5, no less than
// 10 MHz), the range limits take that timing in, and nothing else changed. A refused one leaves the
// table as it was.
#include "fuzz_board.h"

#include "video_chips/edid_tables.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 7)
        return 0;
    const int input = data[0] % 8; // 6 and 7: beyond the inputs
    const uint32_t width = data[1] | data[2] << 8, height = data[3] | data[4] << 8, rate = data[5] | data[6] << 8;
    edid::Table table = edid::defaultFor(input);
    const edid::Table before = table;
    if (!edid::Set_Custom_HDMI_EDID(table, width, height, rate, input)) {
        if (table != before)
            FuzzBoard::fail("custom EDID %ux%u@%u on input %d: refused, but the table changed", width, height, rate, input);
        return 0;
    }
    auto check = [&](bool ok, const char* what) {
        if (!ok)
            FuzzBoard::fail("custom EDID %ux%u@%u on input %d: %s", width, height, rate, input, what);
    };
    for (size_t block = 0; block < edid::TableSize; block += edid::BlockSize)
        check(edid::CalcSum4LCD(0, table.data() + block, edid::BlockSize) == 0, "a block does not sum to zero");
    const uint8_t* d = table.data() + 54;
    check(memcmp(d, table.data() + 72, 18) == 0, "the second detailed timing is not the first");
    const uint64_t clock = d[0] | d[1] << 8; // 10 kHz
    const uint32_t hactive = d[2] | (d[4] >> 4) << 8, hblank = d[3] | (d[4] & 15) << 8;
    const uint32_t vactive = d[5] | (d[7] >> 4) << 8, vblank = d[6] | (d[7] & 15) << 8;
    check(hactive == width && vactive == height, "the detailed timing describes another size");
    const uint64_t maxMHz = input < 4 ? 300 : 600;
    check(clock >= 1000 && clock <= maxMHz * 100, "the pixel clock is outside what the receiver takes");
    // The clock field is the exact clock cut to 10 kHz: the rate a source computes from it lies
    // within one 10 kHz step below the one asked for.
    const uint64_t total = uint64_t(hactive + hblank) * (vactive + vblank);
    check(total > 0 && clock * 10000 <= rate * total && rate * total < clock * 10000 + 10000,
          "the detailed timing describes another rate");
    const uint8_t* range = nullptr;
    for (size_t at : {90, 108})
        if (table[at] == 0 && table[at + 1] == 0 && table[at + 3] == 0xFD)
            range = table.data() + at;
    check(range != nullptr, "the range limits are gone");
    const uint64_t hz = clock * 10000, line = hactive + hblank;
    check(range[5] * total <= hz && hz <= range[6] * total, "the vertical rate is outside the range limits");
    check(range[7] * line * 1000 <= hz && hz <= range[8] * line * 1000, "the horizontal rate is outside the range limits");
    check(uint64_t(range[9]) * 1000 >= clock, "the pixel clock is above the range limits' maximum");
    for (size_t i = 0; i < edid::TableSize; ++i) {
        const bool timing = i >= 54 && i < 90, limits = range && i >= size_t(range - table.data()) + 5 &&
                                                        i <= size_t(range - table.data()) + 8;
        if (!timing && !limits && i != 127)
            check(table[i] == before[i], "a byte outside the timings, the range limits and the checksum changed");
    }
    return 0;
}
