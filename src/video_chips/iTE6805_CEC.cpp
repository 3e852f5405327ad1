// CEC engine of the iTE6805 receivers: frames are moved from the chip's receive FIFO into a
// 64-byte queue, checked against the message table and answered so that a source sees a
// well-behaved display. Frame layout in the chip, as this driver reads it: 0x4D frame length
// (header, opcode and operands), 0x4E header, 0x4F opcode, then each read of 0x50 gives the next
// operand; reading 0x4D takes the next frame off the FIFO.
#include "video_chips/iTE6805_SYS.h"

namespace {
constexpr uint8_t Directed = 0x80, Broadcast = 0x60, LengthMask = 0x1F;
constexpr int MaxOperands = 18;
constexpr int MaxFramesPerInterrupt = 15; // the FIFO count is four bits
constexpr uint8_t BroadcastAddress = 15;

ite6805_i2c_rdwr& io() { return *ite6805()->rdwr; }

constexpr uint8_t D(uint8_t len) { return uint8_t(Directed | len); }
constexpr uint8_t B(uint8_t len) { return uint8_t(0x60 | len); }
constexpr uint8_t DB(uint8_t len) { return uint8_t(0xE0 | len); }

struct Row {
    uint8_t opcode, entry;
};
// Minimum length and direction of each message (HDMI-CEC); other opcodes are 0.
constexpr Row kRows[] = {
    {0x00, 0x84}, {0x04, 0x82}, {0x05, D(2)},  {0x06, D(2)},  {0x07, D(7)},  {0x08, D(3)},  {0x09, D(3)},
    {0x0A, D(3)}, {0x0B, D(2)}, {0x0D, D(2)},  {0x0F, D(2)},  {0x1A, D(3)},  {0x1B, D(3)},  {0x32, 0x65},
    {0x33, D(13)}, {0x34, D(13)}, {0x35, D(3)}, {0x36, 0xE2}, {0x41, D(3)},  {0x42, D(3)},  {0x43, D(3)},
    {0x44, D(3)}, {0x45, D(2)}, {0x46, 0x82},  {0x47, 0x82},  {0x64, D(3)},  {0x67, D(3)},  {0x70, D(2)},
    {0x71, D(2)}, {0x72, DB(3)}, {0x7A, D(3)}, {0x7D, D(2)},  {0x7E, D(3)},  {0x80, 0x66},  {0x81, B(4)},
    {0x82, 0x64}, {0x83, 0x82}, {0x84, 0x65},  {0x85, 0x62},  {0x86, B(4)},  {0x87, 0x65},  {0x89, D(2)},
    {0x8A, DB(2)}, {0x8B, DB(2)}, {0x8C, 0x82}, {0x8D, D(3)}, {0x8E, D(3)},  {0x8F, 0x82},  {0x90, 0xA3},
    {0x91, D(2)}, {0x92, D(6)}, {0x93, D(9)},  {0x97, D(16)}, {0x99, D(16)}, {0x9A, D(3)},  {0x9D, D(4)},
    {0x9E, 0x83}, {0x9F, 0x82}, {0xA0, 0xE5},  {0xA1, D(11)}, {0xA2, D(11)}, {0xA3, D(5)},  {0xA4, D(3)},
    {0xA5, D(2)}, {0xA6, B(6)}, {0xA7, B(4)},  {0xA8, B(7)},  {0xC0, D(2)},  {0xC1, D(2)},  {0xC2, D(2)},
    {0xC3, D(2)}, {0xC4, D(2)}, {0xC5, D(2)},  {0xF8, 0x62},  {0xFF, 0x82},
};

struct Table {
    uint8_t v[256] = {};
    constexpr Table()
    {
        for (const Row& r : kRows)
            v[r.opcode] = r.entry;
    }
};
constexpr Table kTable;
}

const uint8_t ite6805_cec_sys::cec_msg_size[256] = {
#define ROW16(b)                                                                                                      \
    kTable.v[b + 0], kTable.v[b + 1], kTable.v[b + 2], kTable.v[b + 3], kTable.v[b + 4], kTable.v[b + 5],            \
        kTable.v[b + 6], kTable.v[b + 7], kTable.v[b + 8], kTable.v[b + 9], kTable.v[b + 10], kTable.v[b + 11],      \
        kTable.v[b + 12], kTable.v[b + 13], kTable.v[b + 14], kTable.v[b + 15]
    ROW16(0x00), ROW16(0x10), ROW16(0x20), ROW16(0x30), ROW16(0x40), ROW16(0x50), ROW16(0x60), ROW16(0x70),
    ROW16(0x80), ROW16(0x90), ROW16(0xA0), ROW16(0xB0), ROW16(0xC0), ROW16(0xD0), ROW16(0xE0), ROW16(0xF0),
#undef ROW16
};

void ite6805_cec_sys::iTE6805_CEC_INIT(int dev)
{
    ite6805_sys* s = ite6805();
    Device& d = dev_[dev & 1];
    d.logical = 0;
    d.physical[0] = d.physical[1] = 0;
    d.rd = d.wr = 0;
    d.haveInHand = 0;
    ite6805_i2c_rdwr& r = io();
    r.cecwr_6805(0x08, 0x4C, dev);
    r.cecwr_6805(0x08, 0x48, dev);
    r.cecwr_6805(0x09, 0x60, dev);
    r.cecwr_6805(0x0B, 0x14, dev);
    r.cecwr_6805(0x0C, s->drv->RCLK160[dev & 1], dev);
    r.cecset_6805(0x08, 0x04, 0x00, dev);
    r.cecset_6805(0x09, 0x02, 0x00, dev);
    r.cecwr_6805(0x06, 0x00, dev);
    r.cecset_6805(0x08, 0x01, 0x01, dev);
    iTE6805_CEC_RX_Reset(dev);
    r.cecwr_6805(0x22, 0x00, dev);
    r.cecwr_6805(0x0A, 0x03, dev);
    r.cecset_6805(0x0A, 0x40, 0x40, dev);
}

void ite6805_cec_sys::iTE6805_CEC_RX_Reset(int dev)
{
    ite6805_i2c_rdwr& r = io();
    r.cecwr_6805(0x52, 0x60, dev);
    r.cecwr_6805(0x52, 0xE0, dev);
    r.cecwr_6805(0x52, 0x80, dev);
}

void ite6805_cec_sys::iTE6805_hdmirx_CEC_irq(int dev)
{
    ite6805_i2c_rdwr& r = io();
    const uint8_t status = r.cecrd_6805(0x4C, dev);
    if (!status)
        return;
    r.cecwr_6805(0x4C, status, dev);
    if (status & 0x14)
        iTE6805_CEC_Receive(dev);
    if (status & 0xC0)
        iTE6805_CEC_RX_Reset(dev);
    // bits 3 and 5 (transmission done or failed): a failed frame is not sent again
}

int ite6805_cec_sys::queued(int dev) const
{
    const Device& d = dev_[dev & 1];
    return (d.wr - d.rd) & (QueueSize - 1);
}

bool ite6805_cec_sys::push(const CEC_FRAME& f, int dev)
{
    Device& d = dev_[dev & 1];
    const int need = 1 + f.size;
    if (QueueSize - 1 - queued(dev) < need)
        return false;
    auto put = [&](uint8_t b) {
        d.queue[d.wr] = b;
        d.wr = uint8_t((d.wr + 1) & (QueueSize - 1));
    };
    put(f.size);
    put(f.header);
    if (f.size >= 2)
        put(f.opcode);
    for (int i = 0; i + 2 < f.size; ++i)
        put(f.operand[i]);
    return true;
}

void ite6805_cec_sys::iTE6805_CEC_Receive(int dev)
{
    ite6805_i2c_rdwr& r = io();
    Device& d = dev_[dev & 1];
    uint8_t st[3] = {};
    if (r.cecbrd_it6805(0x51, 3, st, dev) != 0)
        return; // nothing known about the FIFO: try again at the next interrupt
    // The chip's FIFO holds at most MaxFramesPerInterrupt frames: a count that does not drop while
    // frames are taken (a stuck or misread status) must not keep the polling thread here, since
    // every input, EDID write and reset request waits for it.
    int taken = 0;
    bool full = false, overlong = false;
    while ((st[0] & 0xCC) == 0 && !full && !overlong && taken < MaxFramesPerInterrupt) {
        if (d.haveInHand) {
            if (!push(d.inHand, dev))
                break;
            d.haveInHand = 0;
        }
        const int frames = st[1] & 0x0F;
        if (frames == 0)
            break;
        for (int i = 0; i < frames && taken < MaxFramesPerInterrupt; ++i, ++taken) {
            CEC_FRAME f;
            const uint8_t length = r.cecrd_6805(0x4D, dev);
            if (length > 2 + MaxOperands) {
                // No frame carries more than 18 operands: the FIFO is out of step (or the line
                // noisy). Reading up to 253 operands one transfer each would hold the polling pass;
                // the FIFO is reset instead, the frames in it lost.
                ++d.dropped;
                overlong = true;
                break;
            }
            f.header = r.cecrd_6805(0x4E, dev);
            f.opcode = r.cecrd_6805(0x4F, dev);
            const int operands = length > 2 ? length - 2 : 0;
            for (int k = 0; k < operands; ++k)
                f.operand[k] = r.cecrd_6805(0x50, dev);
            if (length == 0) {
                ++d.dropped;
                continue;
            }
            f.size = length;
            if (!push(f, dev)) {
                d.inHand = f; // queued first at the next receive interrupt
                d.haveInHand = 1;
                full = true;
                break;
            }
        }
        if (overlong)
            break;
        if (r.cecbrd_it6805(0x51, 2, st, dev) != 0)
            return; // the old status would send the loop round again on nothing
    }
    if ((st[0] & 0xCC) || overlong)
        iTE6805_CEC_RX_Reset(dev);

    CEC_FRAME f;
    while (iTE6805_CEC_Pull(&f, dev))
        if (iTE6805_CEC_Accept(f, dev))
            iTE6805_CEC_CMD_Feature_decode(f, dev);
}

bool ite6805_cec_sys::iTE6805_CEC_Pull(CEC_FRAME* f, int dev)
{
    Device& d = dev_[dev & 1];
    if (queued(dev) < 3)
        return false;
    auto get = [&] {
        const uint8_t b = d.queue[d.rd];
        d.rd = uint8_t((d.rd + 1) & (QueueSize - 1));
        return b;
    };
    *f = CEC_FRAME{};
    f->size = get();
    f->header = get();
    if (f->size >= 2)
        f->opcode = get();
    for (int i = 0; i + 2 < f->size && i < MaxOperands; ++i)
        f->operand[i] = get();
    return true;
}

bool ite6805_cec_sys::iTE6805_CEC_Accept(const CEC_FRAME& f, int dev) const
{
    const Device& d = dev_[dev & 1];
    if (f.size < 2 || f.size > 16)
        return false;
    const uint8_t entry = cec_msg_size[f.opcode];
    if (f.size < (entry & LengthMask))
        return false;
    const uint8_t initiator = f.header >> 4, destination = f.header & 0x0F;
    if (initiator != BroadcastAddress && initiator == d.logical)
        return false;
    if (destination == BroadcastAddress)
        return entry == 0 || (entry & Broadcast);
    return destination == d.logical && (entry == 0 || (entry & Directed));
}

void ite6805_cec_sys::iTE6805_CEC_CMD_Feature_decode(const CEC_FRAME& rx, int dev)
{
    const Device& d = dev_[dev & 1];
    const uint8_t initiator = rx.header >> 4;
    CEC_FRAME tx;
    auto to = [&](uint8_t destination) { tx.header = uint8_t(d.logical << 4 | (destination & 0x0F)); };
    switch (rx.opcode) {
    case 0x0F:
    case 0x42:
    case 0xFF:
        to(initiator);
        tx.opcode = 0x00;
        tx.operand[0] = rx.opcode;
        tx.operand[1] = 4;
        tx.size = 4;
        break;
    case 0x46:
        to(initiator);
        tx.opcode = 0x47;
        tx.operand[0] = 0x68;
        tx.operand[1] = 0x05;
        tx.size = 4;
        break;
    case 0x83:
        to(BroadcastAddress);
        tx.opcode = 0x84;
        tx.operand[0] = d.physical[0];
        tx.operand[1] = d.physical[1];
        tx.operand[2] = 0; // device type: TV
        tx.size = 5;
        break;
    case 0x85:
        to(BroadcastAddress);
        tx.opcode = 0x82;
        tx.operand[0] = d.physical[0];
        tx.operand[1] = d.physical[1];
        tx.size = 4;
        break;
    case 0x8C:
        to(BroadcastAddress);
        tx.opcode = 0x87;
        tx.size = 5; // vendor id 00 00 00
        break;
    case 0x8F:
        to(initiator);
        tx.opcode = 0x90;
        tx.operand[0] = 0; // on
        tx.size = 3;
        break;
    case 0x9F:
        to(initiator);
        tx.opcode = 0x9E;
        tx.operand[0] = 6;
        tx.size = 3;
        break;
    default:
        return;
    }
    iTE6805_CEC_Send(tx, dev);
}

void ite6805_cec_sys::iTE6805_CEC_Send(const CEC_FRAME& f, int dev)
{
    ite6805_i2c_rdwr& r = io();
    uint8_t bytes[2 + MaxOperands];
    bytes[0] = f.header;
    bytes[1] = f.opcode;
    const int n = f.size < 2 ? 2 : (f.size > 16 ? 16 : f.size);
    for (int i = 2; i < n; ++i)
        bytes[i] = f.operand[i - 2];
    r.cecwr_6805(0x23, uint8_t(n), dev);
    r.cecbwr_it6805(0x10, n, bytes, dev);
    r.cecset_6805(0x08, 0x88, 0x08, dev);
    r.cecset_6805(0x08, 0x88, 0x88, dev);
}
