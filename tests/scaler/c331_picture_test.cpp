// Picture controls on the chip's registers: the values each control writes on all eight output
// channels, inside the routing update that makes the chip take them together.
#include "scaler_fixture.h"

#include <functional>

using namespace scaler_test;
using Transfer = platform::Sim::C331Chip::Transfer;

namespace {

struct Row {
    const char* what;
    std::function<void(c331_manage*)> set;
    std::vector<std::pair<uint32_t, uint32_t>> registers; // descriptor, value on every channel
    uint32_t enable;                                      // per-channel enable bit 0 register, or 0
};

int colour(int mode, int red, int green, int blue) { return mode | blue << 8 | green << 16 | red << 24; }

const std::vector<std::pair<uint32_t, uint32_t>> matrix(uint32_t c1, uint32_t c2, uint32_t c3)
{
    return {{0x0C5B02, c1}, {0x0C6302, c2}, {0x0C6B02, c3}, {0x0C5D02, 0}, {0x0C5F02, 0},
            {0x0C6102, 0},  {0x0C6502, 0},  {0x0C6702, 0},  {0x0C6902, 0}};
}

std::vector<std::pair<uint32_t, uint32_t>> triple(uint32_t first, uint32_t value)
{
    return {{first, value}, {first + 0x200, value}, {first + 0x400, value}};
}

const std::vector<Row>& rows()
{
    static const std::vector<Row> r = {
        {"brightness 50", [](c331_manage* m) { m->c331_SetBrightness(50); }, triple(0x0C3A02, 0), 0},
        {"brightness 0", [](c331_manage* m) { m->c331_SetBrightness(0); }, triple(0x0C3A02, 0xC00), 0},
        {"brightness 100", [](c331_manage* m) { m->c331_SetBrightness(100); }, triple(0x0C3A02, 0x400), 0},
        {"brightness 25", [](c331_manage* m) { m->c331_SetBrightness(25); }, triple(0x0C3A02, 0xE00), 0},
        {"brightness 151 wraps", [](c331_manage* m) { m->c331_SetBrightness(151); }, triple(0x0C3A02, 0), 0},
        {"contrast 100", [](c331_manage* m) { m->c331_SetContrast(100); }, triple(0x0C2802, 1023), 0x0C2101},
        {"contrast 101 wraps", [](c331_manage* m) { m->c331_SetContrast(101); }, triple(0x0C2802, 0), 0x0C2101},
        {"contrast 50", [](c331_manage* m) { m->c331_SetContrast(50); }, triple(0x0C2802, 511), 0x0C2101},
        {"saturation 100", [](c331_manage* m) { m->c331_SetSaturation(100); }, triple(0x0C1B02, 1023), 0x0C1401},
        {"saturation 30", [](c331_manage* m) { m->c331_SetSaturation(30); }, triple(0x0C1B02, 306), 0x0C1401},
        {"warm", [](c331_manage* m) { m->c331_SetColorTemp(colour(1, 9, 9, 9)); }, matrix(8845, 8113, 7056), 0},
        {"nature", [](c331_manage* m) { m->c331_SetColorTemp(colour(2, 9, 9, 9)); }, matrix(8192, 8192, 8192), 0},
        {"cool", [](c331_manage* m) { m->c331_SetColorTemp(colour(3, 9, 9, 9)); }, matrix(6944, 8282, 10978), 0},
        {"user gains", [](c331_manage* m) { m->c331_SetColorTemp(colour(0, 128, 64, 32)); }, matrix(8192, 4096, 2048), 0},
        {"user gains 1.0", [](c331_manage* m) { m->c331_SetColorTemp(colour(0, 128, 128, 128)); },
         matrix(8192, 8192, 8192), 0},
    };
    return r;
}

class PictureControl : public ScalerFixture {};

}

TEST_F(PictureControl, WritesItsValuesOnEveryChannelInsideTheRoutingUpdate)
{
    for (const Row& row : rows()) {
        for (uint32_t n = 0; n < 8; ++n) {
            for (const auto& r : row.registers)
                c331Chip().preset(r.first, 0x5A5A, 16 * n); // stale values must be overwritten
            if (row.enable)
                c331Chip().preset(row.enable, 0xF6, 16 * n);
        }
        c331Chip().preset(0x005901, 0x41);
        c331Chip().clearLog();
        row.set(scaler);

        for (uint32_t n = 0; n < 8; ++n) {
            for (const auto& r : row.registers)
                EXPECT_EQ(c331Chip().value(r.first, 16 * n), r.second) << row.what << " " << std::hex << r.first << "/" << n;
            if (row.enable) {
                EXPECT_EQ(c331Chip().value(row.enable, 16 * n), 0xF7u) << row.what << " enable bit only, channel " << n;
            }
        }
        if (row.registers.size() == 9) {
            for (uint32_t a = 0x59; a <= 0x60; ++a)
                EXPECT_EQ(c331Chip().value(a << 8 | 1) & 0x20, 0x20u) << row.what << " " << std::hex << a;
            EXPECT_EQ(c331Chip().value(0x005901), 0x61u) << "masked: other bits kept";
        }

        // Opened by routing group 2 (00:22 := 0xFF) before the first value, closed by group 1
        // (00:22 := 0x99) after the last.
        uint64_t open = UINT64_MAX, close = 0, first = UINT64_MAX, last = 0;
        for (const Transfer& t : c331Chip().log()) {
            if (t.kind != Transfer::Write)
                continue;
            if (t.bank == 0x00 && t.addr == 0x22) {
                if (t.value == 0xFF && open == UINT64_MAX)
                    open = t.seq;
                if (t.value == 0x99)
                    close = t.seq;
            } else if ((t.bank & 0x0F) == 0x0C) {
                first = std::min(first, t.seq);
                last = std::max(last, t.seq);
            }
        }
        EXPECT_LT(open, first) << row.what;
        EXPECT_GT(close, last) << row.what;
        EXPECT_EQ(c331Chip().value(0x002901) & 1, 0u) << row.what << ": routing update closed again";
    }
}
