// Device, network and flash commands: network address and port, search and device information,
// barcode, clock, version words, the flash id and the serial flashes behind the controller.
#include "comm/message_deal.h"
#include "comm/wifi_config.h"

#include "base/bytes.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/ipv4_settings.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"

#include <QStringList>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kSector = 0x1000;
constexpr uint32_t kFpgaFlashSize = 0x800000;
constexpr uint32_t kScalerFlashSize = 0x2000000;
constexpr uint32_t kNoDeviceSize = 0x10000;
// Region 0 is a window of FPGA 0's flash, kept further up in the same chip.
constexpr uint32_t kWindowStart = 0x480000;
constexpr uint32_t kWindowEnd = 0x4C0000;
constexpr uint32_t kWindowShift = 0x273000;

std::string dotted(const uint8_t* p)
{
    char text[20];
    snprintf(text, sizeof text, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    return text;
}

// Decimal parts of a dotted text; parts that are missing or not numbers give 0.
void putDotted(uint8_t* out, const QString& text)
{
    const QStringList parts = text.split('.');
    for (int i = 0; i < 4; ++i)
        out[i] = i < parts.size() ? uint8_t(parts[i].trimmed().toUInt()) : 0;
}

// MAC text "00:1A:2B:3C:4D:5E"; twelve digits without separators are read as six pairs.
void putMac(uint8_t* out, const QString& text)
{
    QStringList parts = text.split(':');
    if (parts.size() == 1 && text.size() == 12) {
        parts.clear();
        for (int i = 0; i < 6; ++i)
            parts << text.mid(2 * i, 2);
    }
    for (int i = 0; i < 6; ++i)
        out[i] = i < parts.size() ? uint8_t(parts[i].trimmed().toUInt(nullptr, 16)) : 0;
}

bool bcd(uint8_t b, int* value)
{
    if ((b >> 4) > 9 || (b & 0x0F) > 9)
        return false;
    *value = (b >> 4) * 10 + (b & 0x0F);
    return true;
}

enum class Device { None, FpgaFlash, Scaler };

struct Region {
    Device device = Device::None;
    int selector = 2;
    uint32_t size = kFpgaFlashSize;
    uint32_t address = 0; // inside the region
    bool window = false;  // region 0
};

Region findRegion(const MessageFrame& f)
{
    Region r;
    const uint32_t a = f.u32At(10);
    r.address = a & 0xFFFFFF;
    r.device = Device::FpgaFlash;
    if (!f.toController()) {
        r.selector = (f.at(6) == 0 && f.at(7) == 2) ? 3 : 2;
        return r;
    }
    switch (a >> 24) {
    case 0:
        r.window = true;
        break;
    case 3:
        r.selector = 3;
        break;
    case 4:
        r.device = Device::Scaler;
        r.size = kScalerFlashSize;
        break;
    case 8:
        r.device = Device::None;
        r.size = kNoDeviceSize;
        break;
    default:
        break;
    }
    return r;
}

// Flash address of n bytes at the region's address: region 0 is a window moved by its shift and
// may not be left. False when the bytes do not fit.
bool flashAddress(const Region& region, uint32_t n, uint32_t* address)
{
    *address = region.address;
    if (!region.window)
        return true;
    if (region.address < kWindowStart || uint64_t(region.address) + n > kWindowEnd)
        return false;
    *address += kWindowShift;
    return true;
}

fpga_drv* flashDriver()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    return fpga ? fpga->fpgadrv : nullptr;
}

}

// ---- network ----

uint32_t message_deal::net_ip_set(MessageFrame& f)
{
    if (f.length < 28)
        return f.status(1);
    const uint8_t* b = f.body;
    const uint16_t port = f.u16At(26);
    const QString ip = QString::fromStdString(dotted(b + 14));
    const QString mask = QString::fromStdString(dotted(b + 18));
    const QString gateway = QString::fromStdString(dotted(b + 22));
    // Everything below reaches the INI file, the interface commands and a reboot: refuse, before
    // any of them, a set the next start would refuse too, which leaves the box unreachable.
    // A wired subnet over the access point's /24 would send the phones' replies out of eth0.
    const Ipv4::Verdict verdict = Ipv4::check(ip, mask, gateway);
    const bool clash = verdict == Ipv4::Verdict::Ok && Ipv4::wiredSetClashes(ip, mask);
    if (verdict != Ipv4::Verdict::Ok || port == 0 || clash) {
        writeLogMsg(LOG_WARNING, "net_ip_set: refused " + dotted(b + 14) + "/" + dotted(b + 18) + " gateway " +
                                     dotted(b + 22) + " port " + std::to_string(port) + ": " +
                                     (port == 0 ? "port 0" : clash ? "the Wi-Fi access point's subnet" : Ipv4::verdictName(verdict)));
        return f.status(1);
    }
    if (traceOn())
        printf("net_ip_set ip=%s mask=%s gateway=%s port=%u\n", ip.toUtf8().constData(),
               mask.toUtf8().constData(), gateway.toUtf8().constData(), port);
    // All or nothing: one write of all four to the INI file (a new address with the old mask
    // would be what the next start applies), then the interface; when eth0 does not take the set,
    // the INI file gets its old values back and eth0 the addresses in force.
    ConfigEngine* config = ConfigEngine::p_config;
    if (!config)
        return f.status(1);
    auto stored = [config](ConfigItem::ConfigName id) { return config->read_config_variant(id); };
    const QVariant oldIp = stored(ConfigItem::IPAddress), oldGateway = stored(ConfigItem::GateWay),
                   oldMask = stored(ConfigItem::SubNetMask), oldPort = stored(ConfigItem::TcpPort);
    if (!config->write_config_variants({{ConfigItem::IPAddress, ip},
                                        {ConfigItem::GateWay, gateway},
                                        {ConfigItem::SubNetMask, mask},
                                        {ConfigItem::TcpPort, QString::number(port)}})) {
        writeLogMsg(LOG_ERROR, "net_ip_set: the configuration could not be written");
        return f.status(1);
    }
    if (Utils::applyIPAddress(ip, mask, gateway) != 0) {
        writeLogMsg(LOG_ERROR, "net_ip_set: eth0 did not take " + dotted(b + 14) + ", the settings in force stay");
        Utils::applyIPAddress(g_str_ip, g_srt_mask, g_str_gateway);
        if (!config->write_config_variants({{ConfigItem::IPAddress, oldIp},
                                            {ConfigItem::GateWay, oldGateway},
                                            {ConfigItem::SubNetMask, oldMask},
                                            {ConfigItem::TcpPort, oldPort}}))
            writeLogMsg(LOG_ERROR, "net_ip_set: the old network settings could not be written back");
        return f.status(1);
    }
    g_str_ip = ip;
    g_srt_mask = mask;
    g_str_gateway = gateway;
    g_int_tcp_port = port;

    if (port == g_port.load()) {
        if (VyrRamPara::p_vyrrampara_config)
            VyrRamPara::p_vyrrampara_config->test_signal(1);
    } else {
        // The server comes back on the new port after the reboot, 300 ticks from now, so the
        // reply leaves first.
        g_port = port;
        G_reboot_tickTicks = G_timeTicks.load();
        g_app_reset_flag = 1;
    }
    return f.status(0);
}

uint32_t message_deal::net_eth_search(MessageFrame& f)
{
    uint8_t* b = f.body;
    f.status(0, 25);
    b[11] = 3;
    b[12] = 22;
    putMac(b + 15, g_str_mac);
    putDotted(b + 21, g_str_ip);
    putDotted(b + 25, g_srt_mask);
    putDotted(b + 29, g_str_gateway);
    putU16(b + 33, uint16_t(g_port.load()));
    return 25;
}

uint32_t message_deal::get_device_info(MessageFrame& f)
{
    // The Wi-Fi part (bytes 217-378) follows with the access-point manager.
    R58_WIFI_CONFIG* wifi = R58_WIFI_CONFIG::p_wifi;
    const uint32_t r = wifi ? 369 : 208;
    if (!f.fits(r))
        return f.status(1, 1);
    uint8_t* b = f.body;
    f.status(0, r);
    static const uint8_t kIdent[10] = {16, 0x74, 1, 1, 0x52, 0x8B, 0x0F, 0x0B, 1, 2};
    memcpy(b + 11, kIdent, sizeof kIdent);
    const QByteArray barcode = g_str_barcode.get().toUtf8();
    memcpy(b + 21, barcode.constData(), size_t(std::min(barcode.size(), 16)));
    memcpy(b + 37, g_pid, sizeof g_pid);
    putMac(b + 197, g_str_mac);
    putU16(b + 203, uint16_t(g_port.load()));
    putDotted(b + 205, g_str_ip);
    putDotted(b + 209, g_srt_mask);
    putDotted(b + 213, g_str_gateway);
    if (wifi)
        wifi->putDeviceInfo(b);
    return r;
}

// ---- barcode ----

uint32_t message_deal::set_barcode(MessageFrame& f)
{
    const uint16_t c = f.u16At(11);
    uint32_t r;
    if (c <= 2) {
        r = f.status(5, 2);
    } else if (13u + (c - 2u) > f.length) {
        r = f.status(1, 2); // the count runs past the frame
    } else {
        const char* text = reinterpret_cast<const char*>(f.body + 13);
        const int n = int(strnlen(text, c - 2u));
        const QString barcode = QString::fromUtf8(text, n);
        // Bytes that are not UTF-8 would be kept as replacement characters, which the read-back
        // would then match: that is not the barcode sent, so nothing is written.
        if (barcode.toUtf8() != QByteArray(text, n)) {
            r = f.status(2, 2);
        } else {
            ConfigEngine* config = ConfigEngine::p_config;
            const bool written = config && config->write_config_variant(ConfigItem::Barcode, barcode);
            Utils::system_plain(QStringLiteral("sync"));
            Delay::ms(100);
            // A barcode that did not reach the file is not shown either.
            if (written)
                g_str_barcode = config->read_config_variant(ConfigItem::Barcode).toString();
            r = f.status(written && g_str_barcode == barcode ? 0 : 2, 2);
        }
    }
    f.body[11] = 30;
    return r;
}

uint32_t message_deal::read_barcode(MessageFrame& f)
{
    const QByteArray text = g_str_barcode.get().toUtf8();
    const uint32_t r = uint32_t(text.size()) + 4;
    if (!f.fits(r))
        return f.status(1, 1);
    f.status(0, r);
    f.body[11] = 31;
    putU16(f.body + 12, uint16_t(text.size() + 2));
    memcpy(f.body + 14, text.constData(), size_t(text.size()));
    return r;
}

// ---- clock and versions ----

uint32_t message_deal::write_rtc_time(MessageFrame& f)
{
    if (f.length < 17)
        return f.status(1);
    int v[7];
    for (int i = 0; i < 7; ++i)
        if (!bcd(f.body[10 + i], &v[i]))
            return f.status(1);
    if (!Utils::setClock(v[0] + 100 * v[1], v[2], v[3], v[4], v[5], v[6]))
        return f.status(1);
    fpga_manage::schedule_recheck();
    return f.status(0);
}

uint32_t message_deal::get_card_version(MessageFrame& f)
{
    constexpr uint32_t r = 17;
    uint8_t* b = f.body;
    f.status(0, r);
    const uint32_t ticks = G_timeTicks.load() / 20;
    if (f.toController()) {
        static const uint8_t kWords[11] = {8, 0x52, 0x8B, 0x0B, 1, 0x20, 0x10, 0x24, 2, 0, 0};
        b[11] = g_update_status.load();
        memcpy(b + 12, kWords, sizeof kWords);
    } else {
        fpga_manage* fpga = fpga_manage::p_fpga_manage;
        const int which = f.ramFpga();
        static const uint8_t kWords[4] = {0, 0x0F, 0x0B, 0x0B};
        memcpy(b + 12, kWords, sizeof kWords);
        if (fpga) {
            const uint8_t* cache = fpga->MCU_REG_func[which];
            b[11] = cache[21];
            memcpy(b + 16, cache + 28, 4);
            b[22] = fpga->fpga_status.load();
        }
    }
    putU32(b + 23, ticks);
    return r;
}

uint32_t message_deal::get_card_uid(MessageFrame& f)
{
    fpga_drv* drv = flashDriver();
    if (f.toController() || !drv)
        return f.status(1);
    uint8_t id[8];
    if (drv->FPGA_SPI_FLASH_SSTF016B_RD_UID(2, id) != 1)
        return f.status(1); // no id rather than stale bytes
    f.status(0, 9);
    memcpy(f.body + 11, id, sizeof id);
    return 9;
}

// ---- serial flashes ----

uint32_t message_deal::cmd_erase_flash(MessageFrame& f)
{
    if (f.length < 16)
        return f.status(1);
    const Region region = findRegion(f);
    if (region.address % kSector != 0)
        return f.status(1);
    const uint8_t mode = f.at(14);
    uint32_t unit;
    int sizeCode;
    switch (mode) {
    case 1: unit = 1; sizeCode = 0; break;
    case 2: unit = 8; sizeCode = 1; break;
    case 4: unit = 16; sizeCode = 2; break;
    default: return f.status(1);
    }
    const uint32_t start = region.address / kSector;
    if (start % unit != 0)
        return f.status(1);
    const uint32_t count = f.at(15) == 0 ? 1 : f.at(15);
    const uint64_t last = uint64_t(start) + uint64_t(count) * unit - 1;
    if (last >= region.size / kSector)
        return f.status(1);

    bool done = false;
    switch (region.device) {
    case Device::None:
        if (traceOn())
            printf("\n got the source chip earse  start_block=%#x erase_mode=%#x erase_times=%#x\n", start, mode, count);
        break; // no flash behind this region: nothing erased
    case Device::Scaler: {
        c331_manage* scaler = c331_manage::p_c331_manage;
        done = scaler && scaler->erase_flash(scaler->c331_fd, start, count, sizeCode) == 0;
        break;
    }
    case Device::FpgaFlash: {
        fpga_drv* drv = flashDriver();
        uint32_t sector = start, units = count;
        if (region.window) {
            if (start < kWindowStart / kSector || last >= kWindowEnd / kSector)
                return f.status(1);
            sector += kWindowShift / kSector;
            // The shift is not a whole block: a block erase there would take sectors outside the
            // window with it, so the window is erased sector by sector.
            units = count * unit;
            sizeCode = 0;
        }
        done = drv && drv->FPGA_SPI_FLASH_VBYONE_ERASE(region.selector, sector, sizeCode, units) == 1;
        break;
    }
    }
    return f.status(done ? 0 : 1);
}

uint32_t message_deal::cmd_write_flash(MessageFrame& f)
{
    const uint32_t n = f.u16At(14);
    // The data start at byte 18 and must all have arrived.
    if (f.length < 18 || 18u + n > f.length)
        return f.status(1);
    const Region region = findRegion(f);
    const int64_t last = int64_t(region.address) - 1 + n;
    if (last < 0 || last >= int64_t(region.size))
        return f.status(1);
    if (n == 0)
        return f.status(0);

    bool done = false;
    switch (region.device) {
    case Device::None:
        if (traceOn())
            printf("\n got the source chip write falsh  addr=%#x data_len=%#x \n", region.address, n);
        break; // no flash behind this region: nothing stored
    case Device::Scaler: {
        c331_manage* scaler = c331_manage::p_c331_manage;
        std::vector<uint8_t> back(n);
        done = scaler && scaler->write_flash(scaler->c331_fd, region.address, n, f.body + 18) == 0 &&
               scaler->read_flash(scaler->c331_fd, region.address, n, back.data()) == 0 &&
               memcmp(back.data(), f.body + 18, n) == 0;
        break;
    }
    case Device::FpgaFlash: {
        fpga_drv* drv = flashDriver();
        uint32_t address = 0;
        if (!flashAddress(region, n, &address))
            return f.status(1);
        std::vector<uint8_t> back(n);
        // The driver takes the data 4 bytes into the buffer: request bytes 14-17 are that room.
        done = drv && drv->FPGA_SPI_FLASH_VBYONE_WRITE(region.selector, address, f.body + 14, n) == 1 &&
               drv->FPGA_SPI_FLASH_VBYONE_READ(region.selector, address, n, back.data()) == 1 &&
               memcmp(back.data(), f.body + 18, n) == 0;
        break;
    }
    }
    return f.status(done ? 0 : 1);
}

uint32_t message_deal::cmd_read_flash(MessageFrame& f)
{
    if (f.length < 16)
        return f.status(1);
    const uint32_t n = f.u16At(14);
    const Region region = findRegion(f);
    const int64_t last = int64_t(region.address) - 1 + n;
    if (last < 0 || last >= int64_t(region.size) || !f.fits(n + 1))
        return f.status(1);

    std::vector<uint8_t> data(n, 0); // no device: zeros, never what the request held
    bool done = false;
    switch (region.device) {
    case Device::None:
        if (traceOn())
            printf("\n got the source chip read falsh  addr=%#x data_len=%#x \n", region.address, n);
        done = true;
        break;
    case Device::Scaler: {
        c331_manage* scaler = c331_manage::p_c331_manage;
        done = n == 0 || (scaler && scaler->read_flash(scaler->c331_fd, region.address, n, data.data()) == 0);
        break;
    }
    case Device::FpgaFlash: {
        fpga_drv* drv = flashDriver();
        uint32_t address = 0;
        if (!flashAddress(region, n, &address))
            return f.status(1);
        done = n == 0 || (drv && drv->FPGA_SPI_FLASH_VBYONE_READ(region.selector, address, n, data.data()) == 1);
        break;
    }
    }
    if (!done)
        return f.status(1);
    f.body[10] = 0;
    if (n != 0) // an empty vector may hold no buffer at all
        memcpy(f.body + 11, data.data(), n);
    return n + 1;
}
