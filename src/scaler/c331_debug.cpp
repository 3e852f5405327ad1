// Bench aids started by the request bytes: moving test bars, V-by-One receiver restarts, timing
// tests and single register checks. Their results go to the console only.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/delay.h"
#include "base/global.h"

#include <cstdio>

namespace {

constexpr uint32_t desc(uint32_t bank, uint32_t address, uint32_t width)
{
    return bank << 16 | address << 8 | width;
}

struct Bar {
    uint32_t bank;
    uint32_t colour[3];
    uint32_t scale[3];
};

}

// One bar generator: mode, phase, sizes and colour of the bar in `bank`.
static void writeBar(c331_drv* drv, int fd, uint32_t mode, uint32_t length, const Bar& bar)
{
    auto wr = [&](uint32_t address, uint32_t width, uint32_t value) {
        drv->write_C331(fd, desc(bar.bank, address, width), value, 0);
    };
    wr(0x57, 1, mode);
    wr(0x58, 1, 0);
    wr(0x59, 1, 0);
    wr(0x5A, 1, 0);
    wr(0x5B, 2, 160);
    wr(0x5D, 2, 0);
    wr(0x5F, 2, 32);
    wr(0x61, 2, length);
    for (uint32_t i = 0; i < 3; ++i)
        wr(0x63 + i, 1, bar.colour[i]);
    for (uint32_t i = 0; i < 3; ++i)
        wr(0x66 + i, 1, bar.scale[i]);
}

void c331_manage::input_slidebar()
{
    call_log.record("input_slidebar", {});
    static const Bar kBars[] = {{0x48, {255, 255, 255}, {3, 3, 3}}, {0x58, {0, 255, 0}, {0, 3, 0}}};
    for (const Bar& bar : kBars)
        writeBar(drv, c331_fd, 0x89, 2752, bar);
    if (traceOn())
        printf("input_slidebar over\n");
}

void c331_manage::output_slidebar()
{
    call_log.record("output_slidebar", {});
    static const Bar kBars[] = {{0x08, {255, 255, 255}, {3, 3, 3}},
                                {0x18, {255, 0, 0}, {3, 0, 0}},
                                {0x28, {0, 255, 0}, {0, 3, 0}},
                                {0x38, {0, 0, 255}, {0, 0, 3}}};
    for (const Bar& bar : kBars)
        writeBar(drv, c331_fd, 9, 1376, bar);
    if (traceOn())
        printf("output_slidebar over\n");
}

void c331_manage::disable_slidebar()
{
    call_log.record("disable_slidebar", {});
    for (uint32_t bank : {0x08u, 0x18u, 0x28u, 0x38u, 0x48u, 0x58u})
        drv->write_C331(c331_fd, desc(bank, 0x57, 1), 0, 0);
    if (traceOn())
        printf("disable_slidebar over\n");
}

void c331_manage::vbyone_rx_ch1_seq()
{
    call_log.record("vbyone_rx_ch1_seq", {});
    static const uint32_t kSeq[][2] = {{0x7F, 0x0E}, {0x7F, 0x0F}, {0x40, 5}, {0x4F, 0xFF}, {0x4C, 0xAB}};
    for (const auto& s : kSeq)
        drv->write_C331(c331_fd, desc(0x02, s[0], 1), s[1], 0);
    if (traceOn())
        printf("vbyone_rx_ch1_seq over\n");
}

void c331_manage::vbyone_rx_ch2_seq()
{
    call_log.record("vbyone_rx_ch2_seq", {});
    static const uint32_t kSeq[][2] = {{0x7F, 0x0D}, {0x7F, 0x0F}, {0x5C, 5}, {0x6B, 0xFF}, {0x68, 0xAB}};
    for (const auto& s : kSeq)
        drv->write_C331(c331_fd, desc(0x02, s[0], 1), s[1], 0);
    if (traceOn())
        printf("vbyone_rx_ch2_seq over\n");
}

void c331_manage::read_c331_b174bug()
{
    call_log.record("read_c331_b174bug", {});
    const int fd = c331_fd;
    for (uint32_t i = 0; i < 4; ++i)
        printf("B174_VI1%uFHM: %u\n", 1 + 2 * i, drv->read_C331(fd, desc(0xAE, 0x40 + 2 * i, 2), 0) + 1);
    for (uint32_t i = 0; i < 4; ++i)
        printf("B174_VI1%uFVM: %u\n", 1 + 2 * i, drv->read_C331(fd, desc(0xAE, 0x5B + 3 * i, 3), 0) + 1);
    printf("B3_IDUALCTCH56: %u\n", drv->read_C331(fd, desc(0x03, 0x1A, 1), 0));
    if (traceOn())
        printf("read_c331_b174bug over\n");
}

void c331_manage::write_read_c331_b80_iacthstch5()
{
    call_log.record("write_read_c331_b80_iacthstch5", {});
    const int fd = c331_fd;
    const uint32_t reg = desc(0x50, 0x17, 2);
    const uint32_t before = drv->read_C331(fd, reg, 0);
    drv->write_C331(fd, reg, (before + 100) & 0xFFFF, 0);
    const uint32_t after = drv->read_C331(fd, reg, 0);
    printf("B80_IACTHSTCH5: %u -> %u\n", before, after);
    if (traceOn())
        printf("write_read_c331_b80_iacthstch5 over\n");
}

void c331_manage::sync_c331_device_test_input()
{
    call_log.record("sync_c331_device_test_input", {});
    const int fd = c331_fd;
    drv->write_C331(fd, 0x004801, 0x89, 0);
    drv->write_C331(fd, 0x004901, 0x43, 0);
    drv->write_C331(fd, 0x004A01, 2, 0);
    drv->write_C331(fd, 0x004B01, 0x10, 0);
    drv->write_C331(fd, 0x081802, 1, 0);
    drv->write_C331(fd, 0x080F01, 0xC4, 0);
    Delay::ms(100); // the dispatch runs this without the hand-over mutex: writers are not held up
    drv->write_C331(fd, 0x080F01, 0, 0);
    if (traceOn())
        printf("sync_c331_device_test_input over\n");
}

void c331_manage::sync_c331_device_test_frame_lock()
{
    call_log.record("sync_c331_device_test_frame_lock", {});
    const int fd = c331_fd;
    drv->write_C331(fd, 0x080F01, 4, 0);
    drv->write_C331(fd, 0x080802, 3, 0);
    drv->write_C331(fd, 0x081802, 1, 0);
    for (uint32_t n = 0; n < 8; ++n)
        drv->write_C331(fd, 0x080C02, 5612, 16 * n);
    if (traceOn())
        printf("sync_c331_device_test_frame_lock over\n");
}
