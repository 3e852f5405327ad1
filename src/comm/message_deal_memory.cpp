// Parameter memory: writes and reads of the address space (groups 0x60, 0x61), single picture
// parameters (0xB0) and storing the FPGA parameters in flash (0x81).
#include "comm/message_deal.h"
#include "fpga/fpga_flash_layout.h"

#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "base/utils.h"
#include "params/vyrrampara.h"

#include <QMutexLocker>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

uint8_t g_4G_RAM[k4GRamSize];
std::mutex g_4G_RAM_mutex;

void copy4GRam(uint8_t* out)
{
    std::lock_guard<std::mutex> lock(g_4G_RAM_mutex);
    memcpy(out, g_4G_RAM, k4GRamSize);
}
std::function<QDateTime()> message_deal::clock = [] { return QDateTime::currentDateTime(); };

namespace {

constexpr uint32_t kDataStart = 18;       // address, length, two spare bytes
constexpr uint32_t kModeSpaceEnd = 0x11000;
constexpr uint64_t k4GWindow = 0xA1000000, k4GWindowEnd = 0xA1000100;
constexpr uint32_t kFpgaRam = fpga_manage::kRamSize;
constexpr uint32_t kParaFlashAddress = FpgaFlash::kSavedImageMarker;
constexpr uint32_t kParaFlashSector = kParaFlashAddress / fpga_drv::kSectorSize; // 1735
// FPGA parameter RAM: border and LCD size of the LED screen (u16 each), and the word a halving
// scaler reports halved.
constexpr uint32_t kParaBorderWidth = 56, kParaBorderHeight = 58, kParaLcdWidth = 60, kParaLcdHeight = 62;
constexpr uint32_t kParaHalvedWord = 0x74;

// Parameter-RAM offsets whose values the output-port backup also holds; -1 when not listed.
int backupOffset(uint32_t p)
{
    struct Run {
        uint32_t para, back;
    };
    static const Run kRuns[] = {{8, 4}, {19, 12}, {32, 20}, {43, 28}, {56, 132}, {60, 0},
                                {520, 36}, {528, 44}, {536, 52}, {544, 60}, {576, 68}, {584, 76},
                                {592, 84}, {600, 92}, {608, 100}, {616, 108}, {624, 116}, {632, 124}};
    for (const Run& r : kRuns)
        if (p >= r.para && p < r.para + 4)
            return int(r.back + (p - r.para));
    return -1;
}

// Extension writes reload the multicast settings the FPGA worker sends with.
void extensionWritten()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    fpga->multicast_flag = 0;
    fpga->multicast_port_mask = getU32(fpga_manage::MCU_RAM_EXTEND + 257);
    fpga_manage::MCU_RAM_EXTEND[49] &= uint8_t(~0x40);
}

uint8_t bcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

}

uint32_t message_deal::write_ram(MessageFrame& f)
{
    const uint32_t a = f.u32At(10);
    const uint32_t n = f.u16At(14);
    // The announced length must lie inside the frame.
    if (f.length < kDataStart || n > f.length - kDataStart)
        return f.status(1);
    if (!f.toController())
        return writeRamFpga(f, a, n);
    const uint8_t* data = f.body + kDataStart;
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (a < kBlockSize)
        return f.status(store ? uint8_t(store->VyrRamParaDeal(data, uint16_t(n), a)) : 1);
    if (a < kModeSpaceEnd)
        return f.status(store ? uint8_t(store->VyrModeUserRamParaDeal(data, uint16_t(n), a)) : 1);
    if (a >= k4GWindow && uint64_t(a) + n <= k4GWindowEnd) {
        std::lock_guard<std::mutex> lock(g_4G_RAM_mutex);
        memcpy(g_4G_RAM, data, n); // from the window's first byte, whatever the address
        return f.status(0);
    }
    return f.status(1);
}

uint32_t message_deal::writeRamFpga(MessageFrame& f, uint32_t a, uint32_t n)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return f.status(1);
    const int which = f.ramFpga();
    const uint32_t area = (a >> 24) & 0x0F, port = (a >> 12) & 0x0F;
    const uint8_t* data = f.body + kDataStart;
    // Bank writes the FPGA would lose are not taken: held in reset it drops them, and until it is
    // up again its start rewrites banks 1 and 50 (and reads of it answer zeros).
    const bool takesBanks = fpga->fpgaUp(which) && !fpga->heldInReset(which);
    auto toBank = [&](uint32_t at, int bank) { return takesBanks && fpga->write_fpga_ram(data, at, n, bank, which) == 0; };
    // An image takes the bytes only once its bank did: it holds what the FPGA holds.
    auto stage = [&](uint8_t* image, int bank) {
        if (bank >= 0 && !toBank(a, bank))
            return false;
        memcpy(image, data, n);
        return true;
    };

    // The extension and the command area are FPGA 0's alone (its mailbox runs the command area):
    // nothing sent to FPGA 1 may land there.
    const bool extension = area == 0 && (a & 0xFFF800);
    if (which != 0 && (extension || area == 5 || area == 6))
        return f.status(1);
    if (extension) {
        const uint32_t off = (a & 0xFFFFFF) - 0x800;
        if (uint64_t(off) + n > kFpgaRam)
            return f.status(1);
        memcpy(fpga_manage::MCU_RAM_EXTEND + off, data, n);
        extensionWritten();
        return f.status(0);
    }
    if (area == 1 || area == 2) {
        if (uint64_t(a & 0xFF0FFF) + n > kFpgaRam)
            return f.status(1);
        bool taken = false; // port 0 of area 1 is no RAM
        if (area == 1 && port != 0)
            taken = stage(port % 2 ? fpga->MCU_RAM_RX_func[which] : fpga->MCU_RAM_TX_func[which], int(port + 1));
        else if (area == 2)
            taken = stage(port == 0 ? fpga_manage::MCU_RAM_DEFAULT : fpga_manage::MCU_RAM_ZOOM, int(33 + port));
        return f.status(taken ? 0 : 1);
    }
    const uint32_t off = a & 0xFFFFFF; // bits 28-31 never move the write
    if (uint64_t(off) + n > kFpgaRam)
        return f.status(1);
    bool taken = true;
    switch (area) {
    case 0: {
        if (!toBank(off, 1)) {
            taken = false;
            break;
        }
        uint8_t* para = fpga->MCU_RAM_PARA_func[which];
        uint8_t* back = fpga->MCU_RAM_ETH_BACK_PARA_func[which];
        std::lock_guard<std::mutex> image(fpga->image_mutex);
        memcpy(para + off, data, n);
        for (uint32_t p = off; p < off + n; ++p) {
            const int b = backupOffset(p);
            if (b >= 0)
                back[b] = para[p];
        }
        break;
    }
    case 4:
        taken = stage(fpga->MCU_RAM_TX_func[which], 50);
        break;
    case 5:
        stage(fpga_manage::MCU_RAM_CMD, -1); // served when register 2 rings the mailbox
        break;
    case 6:
        memcpy(fpga_manage::MCU_RAM_EXTEND + off, data, n);
        extensionWritten();
        break;
    default: // areas 3 and 7-15 hold no RAM
        taken = false;
        break;
    }
    return f.status(taken ? 0 : 1);
}

uint32_t message_deal::read_ram(MessageFrame& f)
{
    if (!f.fits(2))
        return 0;
    if (f.length < 16)
        return f.status(1, 2);
    const uint32_t a = f.u32At(10);
    const uint32_t n = f.u16At(14);
    // A reply the transport cannot carry is refused like a bad range.
    if (!f.fits(n + 1))
        return f.status(1, 2);
    if (!f.toController())
        return readRamFpga(f, a, n);
    f.body[10] = 0;
    if (!readRamController(f.body + 11, a, n))
        return f.status(1, 2);
    return n + 1;
}

uint32_t message_deal::readRamFpga(MessageFrame& f, uint32_t a, uint32_t n)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    const int which = f.ramFpga();
    const uint32_t area = (a >> 24) & 0x0F, port = (a >> 12) & 0x0F;
    const bool extension = (area == 0 && (a & 0x800)) || area == 6;
    const uint32_t off = (a & 0xFFF) - (area == 0 && extension ? 0x800 : 0);
    if (uint64_t(off) + n > kFpgaRam)
        return f.status(1, 2);
    f.status(0, n + 1); // areas without data answer zeros, never stale bytes
    if (!fpga || !fpga->fpgaUp(which))
        return n + 1;
    uint8_t* out = f.body + 11;
    // A bank the FPGA did not answer is no reading: its image may hold what it no longer does.
    bool answered = true;
    auto fromBank = [&](uint8_t* image, int bank) {
        answered = fpga->read_fpga_ram(image, a, n, bank, which) == 0;
        memcpy(out, image, n);
    };
    if (extension) {
        FPGA_Ex_ram_update();
        Time_to_RAM();
        memcpy(out, fpga_manage::MCU_RAM_EXTEND + off, n);
    } else if (area == 2) {
        fromBank(port == 0 ? fpga_manage::MCU_RAM_DEFAULT : fpga_manage::MCU_RAM_ZOOM, int(33 + port));
    } else if (area == 0) {
        uint8_t* para = fpga->MCU_RAM_PARA_func[which];
        const uint8_t* back = fpga->MCU_RAM_ETH_BACK_PARA_func[which];
        uint8_t got[kFpgaRam];
        memcpy(got, para + off, n);
        answered = fpga->read_fpga_ram(got, off, n, 1, which) == 0; // no SPI under the image lock
        if (!answered)
            return f.status(1, 2);
        std::lock_guard<std::mutex> image(fpga->image_mutex);
        memcpy(para + off, got, n);
        for (uint32_t p = off; p < off + n; ++p) {
            const int b = backupOffset(p);
            if (b >= 0)
                para[p] = back[b];
        }
        const c331_manage* scaler = c331_manage::p_c331_manage;
        if (scaler && scaler->half_flag && off <= kParaHalvedWord && off + n >= kParaHalvedWord + 2)
            putU16(para + kParaHalvedWord, uint16_t(getU16(para + kParaHalvedWord) / 2));
        memcpy(out, para + off, n);
    } else if (area == 1 && port != 0) {
        fromBank(port % 2 ? fpga->MCU_RAM_RX_func[which] : fpga->MCU_RAM_TX_func[which], int(port + 1));
    } else if (area == 4) {
        fromBank(fpga->MCU_RAM_TX_func[which], 50);
    } else if (area == 5) {
        memcpy(out, fpga_manage::MCU_RAM_CMD, n);
    }
    return answered ? n + 1 : f.status(1, 2);
}

void message_deal::FPGA_Ex_ram_update()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return;
    fpga_manage::MCU_RAM_EXTEND[49] = 0x9F;
    fpga_manage::MCU_RAM_EXTEND[28] = fpga->MCU_REG_func[0][64];
}

void message_deal::Time_to_RAM()
{
    QString text;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        text = clock().toString(QStringLiteral("yyyy/MM/dd/hh/mm/ss/ddd"));
    }
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() < 7)
        return;
    uint8_t* ext = fpga_manage::MCU_RAM_EXTEND;
    const int year = parts[0].toInt();
    ext[16] = bcd(year % 100);
    ext[17] = bcd(year / 100);
    for (int i = 1; i <= 5; ++i)
        ext[17 + i] = bcd(parts[i].toInt());
    ext[23] = bcd(parts[6].toInt()); // the day name reads as 0
}

namespace {

// Single parameters (group 0xB0) that set one block word within a range.
struct SingleWord {
    uint8_t id;
    uint32_t offset;
    uint16_t max;
};
constexpr SingleWord kSingleWords[] = {
    {6, blk::kBrightness, 100},  {10, blk::kColourTemp, 3},   {11, blk::kColourRed, 100},
    {12, blk::kColourGreen, 100}, {13, blk::kColourBlue, 100},
    {21, blk::window(0, blk::win::kSource), 5}, {29, blk::window(1, blk::win::kSource), 5},
    {37, blk::window(2, blk::win::kSource), 5}, {45, blk::window(3, blk::win::kSource), 5},
    {50, blk::window(4, blk::win::kSource), 5}, {51, blk::window(5, blk::win::kSource), 5},
};
constexpr uint8_t kItemUserMode = 54, kItemBlackScreen = 60, kItemAudio = 93;
constexpr uint32_t kItemsStart = 12, kItemSize = 3;

// User-mode item value: record 0-7 from 0-7 or 16-23; -1 for any other value.
int userModeRecord(uint16_t value)
{
    return value <= 7 ? value : (value >= 16 && value <= 23) ? value - 8 : -1;
}

// An item other than a user mode that names a row, with a value the row takes.
bool itemTakes(uint8_t id, uint16_t value)
{
    if (id == kItemBlackScreen)
        return value <= 1;
    if (id == kItemAudio)
        return true;
    for (const SingleWord& item : kSingleWords)
        if (item.id == id)
            return value <= item.max;
    return false;
}

}

uint32_t message_deal::vedio_write_single_para(MessageFrame& f)
{
    if (f.length < 14 || f.at(10) != '1')
        return f.status(1);
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return f.status(1);
    // Whole items only: the last one must end inside the frame.
    const uint32_t end = f.length - kItemsStart;

    // A user mode replaces all of block 0x380-0xFFF, where every other item writes, so the last
    // item that loads a saved record overrides the items before it. Its record is copied here,
    // before the scaler's lock is taken; the lock is held only while the block is written.
    static_assert(kModeBodyStart <= blk::kBrightness && kModeBodyStart <= blk::kBlackScreen, "items lie in the mode body");
    int record = -1;
    uint32_t first = 0;
    uint8_t body[kModeDataSize];
    // An item that lands nowhere (no such row, a value its row refuses, an empty user mode, an
    // item cut short by the frame's end) is skipped and the tool told: the others still apply.
    bool refused = end % kItemSize != 0;
    for (uint32_t o = 0; o + kItemSize <= end; o += kItemSize) {
        const uint8_t id = f.at(kItemsStart + o);
        const uint16_t value = f.u16At(kItemsStart + o + 1);
        if (id != kItemUserMode) {
            refused = refused || !itemTakes(id, value);
            continue;
        }
        const int m = userModeRecord(value);
        std::lock_guard<std::recursive_mutex> records(store->records_mutex);
        const uint8_t* saved = m < 0 ? nullptr : store->mode[m];
        if (!saved || saved[0] != blk::kMarkerSaved || saved[1] != blk::kMarkerSaved) {
            refused = true;
            continue;
        }
        memcpy(body, saved + 2, kModeDataSize);
        record = m;
        first = o + kItemSize;
    }

    bool applied = record >= 0;
    {
        ScalerHandOver handOver;
        if (record >= 0) {
            // Whatever recall or store a tool wrote and did not apply: this recall is the later.
            store->setBytes(kModeBodyStart, body, kModeDataSize);
            store->setU16(blk::kCurrentMode, uint16_t(record + 1));
            store->setU16(blk::kSaveModeRequest, 0);
        }
        for (uint32_t o = first; o + kItemSize <= end; o += kItemSize) {
            const uint8_t id = f.at(kItemsStart + o);
            const uint16_t value = f.u16At(kItemsStart + o + 1);
            if (id == kItemUserMode || !itemTakes(id, value))
                continue;
            applied = true;
            if (id == kItemBlackScreen) {
                store->setU16(blk::kBlackScreen, uint16_t(1 - value));
            } else if (id == kItemAudio) {
                // The box's audio window, not one a tool wrote and did not apply; values of 6
                // and up stand for window 0.
                const uint8_t named = uint8_t(store->boxWord(blk::kAudioWindow));
                const uint8_t w = named < blk::kScalerWindows ? named : 0;
                store->setU16(blk::window(w, blk::win::kAudio), value ? 0x8064 : 0); // 100, 0x80
            } else {
                for (const SingleWord& item : kSingleWords)
                    if (item.id == id)
                        store->setU16(item.offset, value);
            }
        }
        if (applied)
            handOver.commit(1);
    }
    f.body[11] = '1';
    f.body[10] = blockWriteStatus(!refused, applied);
    return 2;
}

void message_deal::set_para_sync()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!fpga || !store)
        return;
    const uint8_t* para = fpga->MCU_RAM_PARA_func[0];
    const uint32_t W = std::max<uint32_t>(getU16(para + kParaLcdWidth) + getU16(para + kParaBorderWidth), 64);
    const uint32_t H = std::max<uint32_t>(getU16(para + kParaLcdHeight) + getU16(para + kParaBorderHeight), 64);
    if (traceOn())
        printf("\n set_para_sync in ..... border %u x %u, lcd %u x %u\n", getU16(para + kParaBorderWidth),
               getU16(para + kParaBorderHeight), getU16(para + kParaLcdWidth), getU16(para + kParaLcdHeight));
    ScalerHandOver handOver;
    if (store->u16(blk::kLedWidth) == W && store->u16(blk::kLedHeight) == H)
        return;
    for (uint32_t off : {blk::kSpliceMode, blk::kOutput1X, blk::kOutput1Y, blk::kOutput2X, blk::kOutput2Y})
        store->setU16(off, 0);
    for (uint32_t off : {blk::kLedWidth, blk::kOutput1Width, blk::kOutput2Width})
        store->setU16(off, uint16_t(W));
    for (uint32_t off : {blk::kLedHeight, blk::kOutput1Height, blk::kOutput2Height})
        store->setU16(off, uint16_t(H));
    store->setU16(blk::window(0, blk::win::kX), 0);
    store->setU16(blk::window(0, blk::win::kY), 0);
    store->setU16(blk::window(0, blk::win::kWidth), uint16_t(W));
    store->setU16(blk::window(0, blk::win::kHeight), uint16_t(H));
    for (uint32_t w = 1; w < blk::kScalerWindows; ++w)
        store->setU16(blk::window(w, blk::win::kState), 0);
    handOver.commit(1);
}

uint32_t message_deal::param_save(MessageFrame& f)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return f.status(1);
    const int which = f.at(7) == 2 ? 1 : 0;
    const int selector = which + 2;
    uint8_t* para = fpga->MCU_RAM_PARA_func[which];
    // The flash write consumes 4 bytes of head room ahead of the data.
    std::vector<uint8_t> out(4 + kFpgaRam);
    memcpy(out.data() + 4, para, kFpgaRam);
    uint8_t marker[5] = {0, 0, 0, 0, 0xAA};
    std::vector<uint8_t> back(kFpgaRam);
    fpga_drv* drv = fpga->fpgadrv;
    const bool stored = drv->FPGA_SPI_FLASH_VBYONE_ERASE(selector, kParaFlashSector, 0, 1) == 1 &&
                        drv->FPGA_SPI_FLASH_VBYONE_WRITE(selector, kParaFlashAddress + 1, out.data(), kFpgaRam) == 1 &&
                        drv->FPGA_SPI_FLASH_VBYONE_WRITE(selector, kParaFlashAddress, marker, 1) == 1 &&
                        drv->FPGA_SPI_FLASH_VBYONE_READ(selector, kParaFlashAddress + 1, kFpgaRam, back.data()) == 1 &&
                        memcmp(back.data(), para, kFpgaRam) == 0;
    // A failed store leaves the image as it was rather than taking what the flash returned, and
    // the screen as it was: window 0 is fitted (the others closed) only for a store that held.
    if (!stored)
        return f.status(1);
    set_para_sync();
    fpga->R58_back_mcu_set_net_para(which);
    return f.status(0);
}
