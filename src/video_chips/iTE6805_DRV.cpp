// Register access and the core driver routines of the iTE6805 receivers: identification,
// initialisation, front-end calibration, reference clock, hot plug and timing measurement.
#include "video_chips/iTE6805_SYS.h"

#include "base/delay.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "video_chips/drv_i2c.h"
#include "video_chips/hdmi_info.h"
#include "video_chips/keltosource.h"
#include "video_chips/keltosource_status.h"

#include <QMutexLocker>

namespace {
Drv_I2C0* bus(int* fd)
{
    keltosource* k = keltosource::p_kelto_source;
    if (!k || !k->i2c || !k->ite6805)
        return nullptr;
    *fd = k->ite6805->fd;
    return k->i2c;
}
bool validDev(int dev) { return dev == 0 || dev == 1; }
constexpr uint8_t PresenceBit[2] = {0x20, 0x40};
}

ite6805_sys* ite6805()
{
    keltosource* k = keltosource::p_kelto_source;
    return k ? k->ite6805 : nullptr;
}

// ---- register access ---------------------------------------------------------------------------

// Only the receiver block tells whether the chip is there: a CEC engine that does not answer
// leaves the video working and must not have the chip identified (and its hot plug cycled) again.
void ite6805_i2c_rdwr::countFailure(int ok, uint8_t addr, int dev)
{
    if (!ok && addr == RxAddress && validDev(dev))
        ++failures_[dev];
}

int ite6805_i2c_rdwr::read(uint8_t addr, uint8_t reg, uint8_t* out, int n, int dev)
{
    int fd = -1;
    Drv_I2C0* b = bus(&fd);
    const int ok = b && n > 0 && n <= Drv_I2C0::MaxRead ? b->i2c_read(fd, addr, reg, out, n) : 0;
    countFailure(ok, addr, dev);
    return ok;
}

int ite6805_i2c_rdwr::write(uint8_t addr, uint8_t reg, const uint8_t* buf, int n, int dev)
{
    int fd = -1;
    Drv_I2C0* b = bus(&fd);
    const int ok = b && n >= 0 && n <= Drv_I2C0::MaxWrite ? b->i2c_write(fd, addr, reg, buf, n) : 0;
    countFailure(ok, addr, dev);
    return ok;
}

uint8_t ite6805_i2c_rdwr::hdmirxrd(uint8_t reg, int dev)
{
    uint8_t v = 0;
    read(RxAddress, reg, &v, 1, dev);
    return v;
}

int ite6805_i2c_rdwr::hdmirxwr(uint8_t reg, uint8_t value, int dev)
{
    return write(RxAddress, reg, &value, 1, dev) ? 0 : 1;
}

int ite6805_i2c_rdwr::hdmirxset(uint8_t reg, uint8_t mask, uint8_t value, int dev)
{
    uint8_t old = 0;
    if (!read(RxAddress, reg, &old, 1, dev))
        return 1; // never write back a guessed value
    return hdmirxwr(reg, uint8_t((old & ~mask) | (value & mask)), dev);
}

int ite6805_i2c_rdwr::hdmirxbwr(uint8_t reg, int n, const uint8_t* buf, int dev)
{
    if (n <= 0 || !buf)
        return 0;
    return write(RxAddress, reg, buf, n, dev) ? 0 : 1;
}

void ite6805_i2c_rdwr::hdimrx_write_init(const uint8_t* table, int dev)
{
    if (!table)
        return;
    for (int row = 0; row < 512 && table[0] != 0xFF; ++row, table += 3)
        hdmirxset(table[0], table[1], table[2], dev);
}

uint8_t ite6805_i2c_rdwr::cecrd_6805(uint8_t reg, int dev)
{
    uint8_t v = 0;
    read(CecAddress, reg, &v, 1, dev);
    return v;
}

int ite6805_i2c_rdwr::cecwr_6805(uint8_t reg, uint8_t value, int dev)
{
    return write(CecAddress, reg, &value, 1, dev) ? 0 : 1;
}

int ite6805_i2c_rdwr::cecset_6805(uint8_t reg, uint8_t mask, uint8_t value, int dev)
{
    uint8_t old = 0;
    if (!read(CecAddress, reg, &old, 1, dev))
        return 1;
    return cecwr_6805(reg, uint8_t((old & ~mask) | (value & mask)), dev);
}

int ite6805_i2c_rdwr::cecbrd_it6805(uint8_t reg, int n, uint8_t* buf, int dev)
{
    if (n <= 0 || !buf)
        return 0;
    return read(CecAddress, reg, buf, n, dev) ? 0 : 1;
}

int ite6805_i2c_rdwr::cecbwr_it6805(uint8_t reg, int n, const uint8_t* buf, int dev)
{
    if (n <= 0 || !buf)
        return 0;
    return write(CecAddress, reg, buf, n, dev) ? 0 : 1;
}

void ite6805_i2c_rdwr::chgbank(uint8_t bank, int dev)
{
    hdmirxset(0x0F, 0x07, uint8_t(bank & 7), dev);
}

uint32_t ite6805_i2c_rdwr::takeFailures(int dev)
{
    if (!validDev(dev))
        return 0;
    const uint32_t n = failures_[dev];
    failures_[dev] = 0;
    return n;
}

// ---- initialisation table ----------------------------------------------------------------------

// Rows (register, mask, value), applied as masked writes; 0x0F rows change the bank. The logic
// resets are held while the front end and clocks are set and released before the output block.
const uint8_t ite6805_drv::iTE6805_INIT_HDMI_TABLE[] = {
    0x0F, 0x07, 0x00,
    0x22, 0xFF, 0x08, 0x22, 0xFF, 0x17, 0x23, 0xFF, 0x1F, 0x2B, 0xFF, 0x1F, 0x24, 0xFF, 0xF8,
    0x22, 0xFF, 0x10, 0x23, 0xFF, 0xA0, 0x2B, 0xFF, 0xA0, 0x24, 0xFF, 0x00, 0x34, 0xFF, 0x00,
    0x0F, 0x07, 0x03, 0xAA, 0xFF, 0xEC, 0xAC, 0xFF, 0x40, 0x0F, 0x07, 0x00,
    0x3A, 0xFF, 0x89, 0x49, 0xFF, 0xE1, 0x43, 0xFF, 0x01,
    0x0F, 0x07, 0x04, 0x43, 0xFF, 0x01, 0x0F, 0x07, 0x00,
    0x4F, 0xFF, 0x84, 0x44, 0xFF, 0x19, 0x46, 0xFF, 0x15, 0x47, 0xFF, 0x88,
    0x0F, 0x07, 0x01, 0xC0, 0xFF, 0x42, 0xC4, 0xFF, 0x00, 0xC5, 0xFF, 0xFF, 0xC6, 0xFF, 0xFF, 0xC7, 0xFF, 0x7F,
    0xC8, 0xFF, 0x00, 0xC9, 0xFF, 0x00, 0xCA, 0xFF, 0x00,
    0x0F, 0x07, 0x03, 0xE3, 0xFF, 0x07, 0x27, 0xFF, 0x9F, 0x28, 0xFF, 0x9F, 0x29, 0xFF, 0x9F,
    0x0F, 0x07, 0x07, 0xE3, 0xFF, 0x07, 0x27, 0xFF, 0x9F, 0x28, 0xFF, 0x9F, 0x29, 0xFF, 0x9F,
    0x0F, 0x07, 0x00, 0xF8, 0xFF, 0xC3, 0xF8, 0xFF, 0xA5,
    0x0F, 0x07, 0x01, 0x5F, 0xFF, 0x04, 0x58, 0xFF, 0x12, 0x58, 0xFF, 0x02, 0x5F, 0xFF, 0x00,
    0x0F, 0x07, 0x00, 0xF8, 0xFF, 0xFF,
    0x0F, 0x07, 0x05, 0x20, 0x03, 0x01, 0xC7, 0xFF, 0x49, 0x0F, 0x07, 0x00,
    0x59, 0xFF, 0x00, 0x2C, 0x04, 0x00, 0x2D, 0x40, 0x40, 0x39, 0x80, 0x80, 0x67, 0x01, 0x00, 0x68, 0x01, 0x00,
    0xD8, 0x80, 0x80,
    0x0F, 0x07, 0x05, 0xCB, 0x06, 0x00, 0x0F, 0x07, 0x00,
    0xFF, 0xFF, 0xFF,
};

// ---- identification and initialisation --------------------------------------------------------

int ite6805_drv::iTE6805_Identify_Chip(int dev)
{
    ite6805_i2c_rdwr& io = *ite6805()->rdwr;
    io.chgbank(0, dev);
    uint8_t id[4];
    for (uint8_t r = 0; r < 4; ++r)
        id[r] = io.hdmirxrd(r, dev);
    const bool ok = id[0] == 0x54 && id[1] == 0x49 && (id[2] & 0xFD) == 0x05 && id[3] == 0x68;
    keltosource_status::set(keltosource_status::ChipPresence, PresenceBit[dev & 1], ok);
    return ok ? 1 : 0;
}

void ite6805_drv::iTE6805_Init_fsm(int dev)
{
    ite6805_sys& s = *ite6805();
    ite6805_i2c_rdwr& io = *s.rdwr;
    iTE6805_DATA& d = s.data[dev];
    io.chgbank(0, dev);
    d.ChipRevision = io.hdmirxrd(0x04, dev);
    d.STATEV = STATEV_Unplug;
    d.STATEA = STATEA_AudioOff;
    d.STATEEQ = STATEEQ_EQReset;
    d.PrevLaneMode = 7;

    io.hdimrx_write_init(iTE6805_INIT_HDMI_TABLE, dev);
    io.chgbank(0, dev);
    const bool revClass = d.ChipRevision == 0x10 || d.ChipRevision == 0xE0;
    io.hdmirxset(0x3E, 0x20, revClass ? 0x00 : 0x20, dev);
    io.hdmirxset(0x3D, 0x02, 0x02, dev);
    io.hdmirxwr(0x3F, 0x57, dev);
    io.hdmirxset(0x41, 0xC0, 0x40, dev);

    iTE6805_Init_CAOF(dev);

    io.hdmirxwr(0x28, 0x88, dev);
    iTE6805_Set_Video_Tristate(1, dev);

    iTE6805_OCLK_Cal(dev);

    d.PortSelectPending = 0;
    d.PortResetPending = 0;
    io.hdmirxset(0xC5, 0x01, 0x01, dev);
    io.chgbank(4, dev);
    io.hdmirxset(0xC5, 0x01, 0x01, dev);
    io.chgbank(0, dev);

    d.OutputColorMode = 0;
    d.VideoPath = 0;
    io.hdmirxset(0x6B, 0x0C, uint8_t(d.OutputColorMode << 2), dev);

    s.cec_sys->iTE6805_CEC_INIT(dev);

    d.CurrentPort = 0;
    d.PortSelect = 0;
    d.PortSelectPending = 1;
    s.iTE6805_INT_5VPWR_Chg(d.CurrentPort, dev);
}

namespace {
// Waits for the front-end calibration of one port: poll its done bit every 10 ms, pulse the
// calibration start after every five misses, give up when the sixth pulse would be due.
void waitCalibration(ite6805_i2c_rdwr& io, uint8_t doneReg, uint8_t pulseReg, uint8_t frontBank, int dev)
{
    int misses = 0, pulses = 0;
    for (;;) {
        io.chgbank(0, dev);
        if (io.hdmirxrd(doneReg, dev) & 0x10)
            return;
        Delay::ms(10);
        if (++misses % 5 != 0)
            continue;
        if (++pulses == 6) {
            io.chgbank(frontBank, dev);
            io.hdmirxset(0x3A, 0x80, 0x00, dev);
            io.chgbank(0, dev);
        }
        io.hdmirxset(pulseReg, 0x40, 0x40, dev);
        Delay::ms(10);
        io.hdmirxset(pulseReg, 0x40, 0x00, dev);
        if (pulses == 6)
            return;
    }
}

void frontEndList(ite6805_i2c_rdwr& io, uint8_t bank, int dev)
{
    io.chgbank(bank, dev);
    io.hdmirxset(0x3A, 0x80, 0x00, dev);
    for (uint8_t r : {0xA0, 0xA1, 0xA2})
        io.hdmirxset(r, 0x80, 0x80, dev);
    io.hdmirxset(0xA4, 0x08, 0x08, dev);
    io.hdmirxset(0x3B, 0xC0, 0x00, dev);
    io.hdmirxset(0xA7, 0x10, 0x10, dev);
    io.hdmirxset(0x48, 0x80, 0x80, dev);
}
}

void ite6805_drv::iTE6805_Init_CAOF(int dev)
{
    ite6805_i2c_rdwr& io = *ite6805()->rdwr;
    frontEndList(io, 3, dev);
    io.chgbank(0, dev);
    io.hdmirxset(0x29, 0x01, 0x01, dev);
    io.hdmirxset(0x2A, 0x41, 0x41, dev);
    Delay::ms(10);
    io.hdmirxset(0x2A, 0x40, 0x00, dev);
    io.hdmirxset(0x24, 0x04, 0x04, dev);
    for (uint8_t r = 0x25; r <= 0x28; ++r)
        io.hdmirxwr(r, 0x00, dev);
    io.hdmirxset(0x3C, 0x10, 0x00, dev);
    frontEndList(io, 7, dev);
    io.chgbank(0, dev);
    io.hdmirxset(0x32, 0x41, 0x41, dev);
    Delay::ms(10);
    io.hdmirxset(0x32, 0x40, 0x00, dev);
    io.hdmirxset(0x2C, 0x04, 0x04, dev);
    io.hdmirxset(0x2D, 0x6F, 0x00, dev);
    for (uint8_t r = 0x2E; r <= 0x30; ++r)
        io.hdmirxwr(r, 0x00, dev);
    io.chgbank(4, dev);
    io.hdmirxset(0x3C, 0x10, 0x00, dev);
    io.chgbank(3, dev);
    io.hdmirxset(0x3A, 0x80, 0x80, dev);

    waitCalibration(io, 0x08, 0x2A, 3, dev);
    io.chgbank(7, dev);
    io.hdmirxset(0x3A, 0x80, 0x80, dev);
    waitCalibration(io, 0x0D, 0x32, 7, dev);

    for (uint8_t bank : {3, 7}) {
        io.chgbank(bank, dev);
        io.hdmirxrd(0x5A, dev);
        io.hdmirxrd(0x59, dev);
        io.hdmirxrd(0x59, dev);
    }
    io.chgbank(0, dev);
    io.hdmirxset(0x08, 0x30, 0x30, dev);
    io.hdmirxset(0x0D, 0x30, 0x30, dev);
    io.hdmirxset(0x29, 0x01, 0x00, dev);
    io.hdmirxset(0x24, 0x04, 0x00, dev);
    io.hdmirxset(0x3C, 0x10, 0x10, dev);
    io.hdmirxset(0x2C, 0x04, 0x00, dev);
    io.chgbank(4, dev);
    io.hdmirxset(0x3C, 0x10, 0x10, dev);
    for (uint8_t bank : {3, 7}) {
        io.chgbank(bank, dev);
        for (uint8_t r : {0x3A, 0xA0, 0xA1, 0xA2})
            io.hdmirxset(r, 0x80, 0x00, dev);
    }
    io.chgbank(0, dev);
}

uint32_t ite6805_drv::iTE6805_OCLK_Load(int dev)
{
    ite6805_i2c_rdwr& io = *ite6805()->rdwr;
    auto unlockAndStart = [&] {
        io.chgbank(0, dev);
        io.hdmirxwr(0xF8, 0xC3, dev);
        io.hdmirxwr(0xF8, 0xA5, dev);
        io.hdmirxwr(0x34, 0x00, dev);
        io.chgbank(1, dev);
        io.hdmirxwr(0x5F, 0x04, dev);
        io.hdmirxwr(0x5F, 0x05, dev);
        io.hdmirxwr(0x58, 0x12, dev);
        io.hdmirxwr(0x58, 0x02, dev);
    };
    unlockAndStart();
    if (io.hdmirxrd(0x60, dev) != 0x19) {
        io.chgbank(0, dev);
        io.hdmirxwr(0xF8, 0xC3, dev);
        io.hdmirxwr(0xF8, 0xA5, dev);
        io.chgbank(1, dev);
        io.hdmirxwr(0x5F, 0x04, dev);
        io.hdmirxwr(0x58, 0x12, dev);
        io.hdmirxwr(0x58, 0x02, dev);
        for (int i = 0; i < 5000 && io.hdmirxrd(0x60, dev) != 0x19; ++i)
            Delay::ms(1);
        Delay::ms(10);
        io.chgbank(0, dev);
        io.hdmirxset(0xCF, 0x01, 0x01, dev);
        io.chgbank(1, dev);
    }
    io.hdmirxwr(0x57, 0x01, dev);
    auto indirect = [&](uint8_t page, uint8_t address, uint8_t* first, uint8_t* second) {
        io.hdmirxwr(0x50, page, dev);
        io.hdmirxwr(0x51, address, dev);
        io.hdmirxwr(0x54, 0x04, dev);
        *first = io.hdmirxrd(0x61, dev);
        *second = io.hdmirxrd(0x62, dev);
    };
    uint8_t a0, a1, b0, b1;
    indirect(0, 0x00, &a0, &a1);
    indirect(0, 0x01, &b0, &b1);
    const uint8_t page = (b0 == 0 && b1 == 0 && (a0 & a1) == 0xFF) ? 4 : 0;
    uint8_t low, mid, high, flags;
    indirect(page, 0xB0, &low, &mid);
    indirect(page, 0xB1, &high, &flags);
    uint32_t count = uint32_t(high) << 16 | uint32_t(mid) << 8 | low;
    if ((flags & 0xC0) == 0xC0)
        count /= 100;
    io.hdmirxwr(0x5F, 0x00, dev);
    io.chgbank(0, dev);
    io.hdmirxwr(0xF8, 0x00, dev);
    if (count < 13000 || count > 27000)
        count = DefaultRclk;
    return count;
}

void ite6805_drv::iTE6805_OCLK_Cal(int dev)
{
    ite6805_i2c_rdwr& io = *ite6805()->rdwr;
    const uint32_t rclk = iTE6805_OCLK_Load(dev);
    RCLK[dev] = rclk;
    RCLK160[dev] = uint8_t(rclk / 160);
    io.chgbank(3, dev);
    io.hdmirxset(0xAA, 0x1F, 0x0C, dev);
    io.chgbank(0, dev);
    io.hdmirxset(0x91, 0x3F, uint8_t((rclk / 1000) & 0x3F), dev);
    io.hdmirxwr(0x92, uint8_t(((rclk % 1000) * 256) / 1000), dev);
    io.chgbank(3, dev);
    io.hdmirxwr(0xE1, uint8_t(rclk / 100), dev);
    io.chgbank(0, dev);
    const uint64_t t = 2ull * rclk;
    io.hdmirxwr(0x45, uint8_t(t / 312), dev);
    io.hdmirxwr(0x44, uint8_t(t / 1560), dev);
    io.hdmirxwr(0x46, uint8_t(t / 2320), dev);
    io.hdmirxwr(0x47, uint8_t(t / 5312), dev);
    const uint64_t k = 2560ull * (t / 4) / 1000000;
    io.chgbank(5, dev);
    io.hdmirxwr(0xD3, uint8_t((2 * k) & 0xFE), dev);
    io.hdmirxwr(0xD4, uint8_t(k), dev);
    io.chgbank(0, dev);
}

// ---- hot plug, ports, reset --------------------------------------------------------------------

uint8_t ite6805_drv::iTE6805_Check_5V_State(uint8_t port, int dev)
{
    ite6805_i2c_rdwr& io = *ite6805()->rdwr;
    io.chgbank(0, dev);
    return io.hdmirxrd(port == 0 ? 0x13 : 0x16, dev) & 0x01;
}

void ite6805_drv::iTE6805_Set_HPD_Ctrl(uint8_t port, uint8_t on, int dev)
{
    ite6805_sys& s = *ite6805();
    ite6805_i2c_rdwr& io = *s.rdwr;
    iTE6805_DATA& d = s.data[dev];
    if (port != 0) {
        d.InputType = 0;
        return;
    }
    io.chgbank(0, dev);
    const uint8_t status = io.hdmirxrd(0x13, dev);
    if (!(status & 0x01)) {
        io.chgbank(3, dev);
        io.hdmirxset(0xAB, 0xC0, 0x00, dev);
        io.chgbank(0, dev);
        if (!on)
            s.publishNoSignal(dev);
        return;
    }
    if (status & 0x40) // MHL: the chip drives the line itself
        return;
    d.InputType = 0;
    io.chgbank(3, dev);
    io.hdmirxset(0xAB, 0xC0, on ? 0xC0 : 0x40, dev);
    io.hdmirxset(0xAC, 0x7C, 0x40, dev);
    io.chgbank(0, dev);
}

void ite6805_drv::iTE6805_Port_Select_Body(uint8_t port, int dev)
{
    ite6805_sys& s = *ite6805();
    ite6805_i2c_rdwr& io = *s.rdwr;
    iTE6805_DATA& d = s.data[dev];
    if (!d.PortSelectPending)
        return;
    d.PortSelectPending = 0;
    if (port == d.CurrentPort)
        return;
    io.chgbank(0, dev);
    io.hdmirxset(0x35, 0x01, port & 1, dev);
    iTE6805_Set_HPD_Ctrl(uint8_t(port ^ 1), 0, dev);
    d.CurrentPort = port & 1;
    for (uint8_t bank : {3, 7}) {
        io.chgbank(bank, dev);
        io.hdmirxset(0xE5, 0x1C, 0x00, dev);
    }
    io.chgbank(0, dev);
    io.hdmirxwr(0x25, 0x00, dev);
    const bool one = d.CurrentPort == 1;
    io.hdmirxwr(0x26, one ? 0xFF : 0x00, dev);
    io.hdmirxwr(0x27, one ? 0xFF : 0x00, dev);
    io.hdmirxwr(0x2A, one ? 0x3A : 0x01, dev);
    io.hdmirxset(0x2D, 0x6F, one ? 0x00 : 0x6F, dev);
    io.hdmirxwr(0x2E, one ? 0x00 : 0xFF, dev);
    io.hdmirxwr(0x2F, one ? 0x00 : 0xFF, dev);
    io.hdmirxwr(0x32, one ? 0x01 : 0x3E, dev);
    io.chgbank(3, dev);
    io.hdmirxset(0xA8, 0x08, one ? 0x00 : 0x08, dev);
    io.chgbank(7, dev);
    io.hdmirxset(0xA8, 0x08, one ? 0x08 : 0x00, dev);
    io.chgbank(one ? 4 : 0, dev);
    io.hdmirxset(0xC5, 0x10, 0x10, dev);
    Delay::ms(1);
    io.hdmirxset(0xC5, 0x10, 0x00, dev);
    io.chgbank(0, dev);
    d.STATEEQ = STATEEQ_EQReset;
    s.eq->iTE6805_EQ_chg(STATEEQ_EQReset, dev);
    s.iTE6805_INT_5VPWR_Chg(d.CurrentPort, dev);
}

void ite6805_drv::iTE6805_Port_Reset_Body(uint8_t port, int dev)
{
    ite6805_sys& s = *ite6805();
    iTE6805_DATA& d = s.data[dev];
    if (!d.PortResetPending || port != d.CurrentPort)
        return;
    d.PortResetPending = 0;
    iTE6805_Set_HPD_Ctrl(port, 0, dev);
    s.iTE6805_vid_chg(STATEV_Unplug, dev);
    d.STATEEQ = STATEEQ_EQReset;
    s.eq->iTE6805_EQ_chg(STATEEQ_EQReset, dev);
    Delay::ms(300);
    s.iTE6805_INT_5VPWR_Chg(port, dev);
}

void ite6805_drv::iTE6805_Reset_ALL_Logic(uint8_t port, int dev)
{
    ite6805_sys& s = *ite6805();
    ite6805_i2c_rdwr& io = *s.rdwr;
    iTE6805_Set_HPD_Ctrl(port, 0, dev);
    io.chgbank(0, dev);
    io.hdmirxwr(port == 0 ? 0x08 : 0x0D, 0x04, dev);
    io.hdmirxwr(0x22, 0x12, dev);
    io.hdmirxwr(0x22, 0x10, dev);
    const uint8_t reg = port == 0 ? 0x23 : 0x2B;
    io.hdmirxset(reg, 0xFD, 0xAC, dev);
    io.hdmirxset(reg, 0xFD, 0xA0, dev);
    s.iTE6805_INT_5VPWR_Chg(port, dev);
}

void ite6805_drv::iTE6805_Set_47_By_TMDS(int dev)
{
    ite6805_sys& s = *ite6805();
    ite6805_i2c_rdwr& io = *s.rdwr;
    const uint8_t port = s.data[dev].CurrentPort;
    io.chgbank(0, dev);
    if (io.hdmirxrd(port == 0 ? 0x14 : 0x17, dev) & 0x02)
        return;
    const uint8_t ratio = io.hdmirxrd(0x43, dev);
    uint32_t count = io.hdmirxrd(0x48, dev);
    if (ratio & 0x80)
        count /= 8;
    else if (ratio & 0x40)
        count /= 4;
    else if (ratio & 0x20)
        count /= 2;
    if (count < uint8_t(RCLK[dev] / 1000))
        io.hdmirxwr(0x47, io.hdmirxrd(0x47, dev), dev);
}

// ---- measurement -------------------------------------------------------------------------------

uint32_t ite6805_drv::iTE6805_Get_PCLK(int dev)
{
    ite6805_i2c_rdwr& io = *ite6805()->rdwr;
    io.chgbank(0, dev);
    uint32_t sum = 0;
    for (uint32_t k = 1; k <= 20; ++k) {
        Delay::ms(10 * k);
        io.hdmirxset(0x9A, 0x80, 0x00, dev);
        const uint8_t high = io.hdmirxrd(0x9A, dev);
        const uint8_t low = io.hdmirxrd(0x99, dev);
        io.hdmirxset(0x9A, 0x80, 0x80, dev);
        sum += ((uint32_t(high) << 8) & 0x300) + low;
    }
    // No samples while the clock settles: report no clock rather than divide by zero.
    return sum ? uint32_t(uint64_t(10240) * RCLK[dev] / sum) : 0;
}

uint32_t ite6805_drv::iTE6805_Get_TMDS(int n, int dev)
{
    ite6805_i2c_rdwr& io = *ite6805()->rdwr;
    const uint8_t port = ite6805()->data[dev].CurrentPort;
    io.chgbank(port == 1 ? 4 : 0, dev);
    uint32_t sum = 0;
    for (int i = 0; i < n; ++i) {
        if (i)
            Delay::ms(3);
        sum += (io.hdmirxrd(0x48, dev) + 1u) & 0xFF;
    }
    const uint8_t ratio = io.hdmirxrd(0x43, dev);
    io.chgbank(0, dev);
    const int k = ratio & 0x80 ? 10 : ratio & 0x40 ? 9 : ratio & 0x20 ? 8 : 7;
    // A counter at 0xFF (no clock) samples as 0.
    return sum ? uint32_t((uint64_t(RCLK[dev]) * uint32_t(n) << k) / sum) : 0;
}

void ite6805_drv::iTE6805_Get_VID_Info(int dev)
{
    ite6805_sys& s = *ite6805();
    ite6805_i2c_rdwr& io = *s.rdwr;
    iTE6805_VidInfo& v = s.vid[dev];
    const uint8_t rev = s.data[dev].ChipRevision;
    v.TMDS = iTE6805_Get_TMDS(1, dev);
    v.PCLK = iTE6805_Get_PCLK(dev);
    io.chgbank(s.data[dev].CurrentPort == 1 ? 4 : 0, dev);
    auto rd = [&](uint8_t r) -> uint32_t { return io.hdmirxrd(r, dev); };
    auto pair = [&](uint8_t low, uint8_t high) { return uint16_t(((rd(high) & 0x3F) << 8) + rd(low)); };
    v.HTotal = pair(0x9B, 0x9C);
    v.HActive = pair(0x9D, 0x9E);
    if (rev != 0x10 && rev != 0xE0) {
        const uint32_t a1 = rd(0xA1), a8 = rd(0xA8);
        v.HFrontPorch = uint16_t(((a1 << 4) & 0xF00) + rd(0xA0));
        v.HSyncWidth = uint16_t(((a1 << 8) & 0x100) + rd(0x9F));
        v.VTotal = pair(0xA2, 0xA3);
        v.VActive = pair(0xA4, 0xA5);
        v.VFrontPorch = uint16_t(((a8 << 4) & 0xF00) + rd(0xA7));
        v.VSyncWidth = uint16_t(((a8 << 8) & 0x100) + rd(0xA6));
    } else {
        v.HFrontPorch = pair(0xA1, 0xA2);
        v.HSyncWidth = pair(0x9F, 0xA0);
        v.VTotal = pair(0xA3, 0xA4);
        v.VActive = pair(0xA5, 0xA6);
        v.VFrontPorch = pair(0xA9, 0xAB);
        v.VSyncWidth = pair(0xA7, 0xA8);
    }
    v.HBackPorch = uint16_t(v.HTotal - v.HActive - v.HFrontPorch - v.HSyncWidth);
    v.VBackPorch = uint16_t(v.VTotal - v.VActive - v.VFrontPorch - v.VSyncWidth);
    const uint32_t format = rd(0x98);
    v.Interlaced = (format >> 1) & 1;
    v.Format = uint16_t(format & 0xF0);
    const uint32_t pol = rd(0xAA);
    v.VPolarity = (pol >> 6) & 1;
    v.HPolarity = (pol >> 5) & 1;
    io.chgbank(0, dev);
    // A settling source can measure zero totals: no rate then, instead of a division by zero.
    v.FrameRate = frameRateHz(v.PCLK, v.HTotal, v.VTotal);
}
