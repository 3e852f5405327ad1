// A custom EDID request (input, width, height and rate as the page and the protocol store them)
// through the EDID writer: an accepted timing leaves both blocks summing to zero, a refused one
// leaves the table as it was.
#include "video_chips/edid_tables.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 7)
        return 0;
    const int input = data[0] % 8; // 6 and 7: beyond the inputs
    const uint32_t width = data[1] | data[2] << 8, height = data[3] | data[4] << 8, rate = data[5] | data[6] << 8;
    edid::Table table = edid::defaultFor(input);
    const edid::Table before = table;
    if (edid::Set_Custom_HDMI_EDID(table, width, height, rate, input)) {
        for (size_t block = 0; block < edid::TableSize; block += edid::BlockSize)
            if (edid::CalcSum4LCD(0, table.data() + block, edid::BlockSize) != 0)
                abort();
    } else if (table != before) {
        abort();
    }
    return 0;
}
