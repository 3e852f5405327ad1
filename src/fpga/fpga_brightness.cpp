// Brightness and the relay path of the multifunction card: the manual, half-hour and sensor passes,
// the level applied to the wall, and the relay commands.
#include "fpga/fpga_manage.h"
#include "fpga/fpga_flash_layout.h"

#include "base/bytes.h"
#include "params/scaler_hand_over.h"
#include "fpga/fpga_drv.h"
#include "base/global.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "base/delay.h"
#include "base/logMsg.h"
#include "params/block_layout.h"
#include "params/protocol_layout.h"
#include "params/vyrrampara.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kBrightnessRecordSize = 57;
constexpr uint32_t kOnOffRecordSize = 50;

bool rawMode(uint32_t mode)
{
    return mode == 16 || mode == 17;
}

// The block holds a percentage, the FPGA a level 0-255: 255 x P / 100 one way (what the wall has
// always been given for a percentage), rounded to nearest the other, so that the level of every
// percentage comes back as that percentage.
uint8_t levelOf(uint32_t percent)
{
    return uint8_t(percent * 255 / 100);
}

uint16_t percentOf(uint8_t level)
{
    return uint16_t((level * 100u + 127) / 255);
}

// The percentage the box applied: a tool's write waiting for its apply reaches neither the wall
// nor the flash record.
uint16_t blockPercent(VyrRamPara& store)
{
    return store.appliedWord(blk::kBrightness);
}

// The level the block's percentage was applied as: its own, or the floor of 15 outside the raw
// modes.
bool blockGives(uint32_t percent, uint8_t level)
{
    const uint8_t own = levelOf(std::min<uint32_t>(percent, 100));
    return level == own || (level == 15 && own < 15);
}

uint8_t reg(fpga_manage& m, int fpga, int r)
{
    return m.reg_cached(fpga, r);
}

void setReg(fpga_manage& m, int fpga, int r, uint8_t v)
{
    PosixLock lock(m.reg_mutex);
    m.MCU_REG_func[fpga][r] = v;
}

// Register 64 and the scale it is applied on change together: a level 1-16, or a raw value. The
// caller holds bri_mutex.
void setLevel(fpga_manage& m, uint8_t level, bool raw)
{
    setReg(m, 0, FpgaReg::ManualBrightness, level);
    m.bri_level = level;
    m.bri_level_raw = raw;
}

void keepLevel(fpga_manage& m, uint8_t level, bool raw)
{
    std::lock_guard<std::mutex> lock(m.bri_mutex);
    setLevel(m, level, raw);
}

}

void fpga_manage::Power_ctrl_init()
{
    relay_counter = 1;
    relay_stop_armed = relay_stop_enable = relay_power = 0;
}

void fpga_manage::Power_ctrl_reset()
{
    relay_counter = 1;
    relay_stop_armed = 0;
    relay_stop_enable = 1;
    relay_power = 0;
}

// Level (or raw value) to register 6; with the block's percentage changed, the percentage wins
// and is kept as a raw record, so the loaded mode becomes 16 as a reload would make it. The block
// follows the level only when the level changed by other means (a schedule, the sensor, a
// record or a PC level): a resend must not replace a percentage a user or PC tool set.
int fpga_manage::Brightness_hand_dealwith(uint8_t)
{
    return serve_brightness(bri_request.load() != 0);
}

int fpga_manage::serve_brightness(bool fromBlock)
{
    std::lock_guard<std::mutex> lock(bri_mutex);
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    // The block changed back to what this code wrote there: the level stands, and so does the
    // mode (a schedule would stop if its level were stored as a manual one).
    if (fromBlock && store && int(blockPercent(*store)) == bri_echo_percent.exchange(-1))
        return 1;
    apply_brightness(fromBlock);
    return 1;
}

// A PC's manual level is a level of its own record, whatever a panel change left loaded, and is
// applied as one even while a block change waits: the block then follows it, and that change
// comes back as the echo above.
void fpga_manage::Brightness_manual_level(uint8_t level, bool raw)
{
    std::lock_guard<std::mutex> lock(bri_mutex);
    setLevel(*this, level, raw);
    apply_brightness(false);
}

void fpga_manage::apply_brightness(bool fromBlock)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    // The block's percentage is the level from now on whether a port is linked or not: the record
    // and the resends then carry it, not the level before it, to a wall that comes back.
    uint8_t blockLevel = 0;
    if (fromBlock) {
        blockLevel = levelOf(std::min<uint32_t>(store ? blockPercent(*store) : 100, 100));
        if (!rawMode(bri_mode))
            blockLevel = std::max<uint8_t>(blockLevel, 15);
        setReg(*this, 0, FpgaReg::ManualBrightness, blockLevel);
        bri_block_level = blockLevel;
    }
    read_from_register(FpgaReg::PortLinksLow, 0);
    read_from_register(FpgaReg::PortLinksHigh, 0);
    if (reg(*this, 0, FpgaReg::PortLinksLow) != 0 || reg(*this, 0, FpgaReg::PortLinksHigh) != 0) {
        {
            std::lock_guard<std::mutex> lock(image_mutex);
            MCU_RAM_PARA_func[0][256] = 1;
        }
        uint8_t v = blockLevel;
        if (!fromBlock) {
            v = reg(*this, 0, FpgaReg::ManualBrightness);
            if (!bri_level_raw.load())
                v = uint8_t(std::min<uint8_t>(v, 16) * 16 - 1); // a level above 16 would wrap to a dim value
            bool shown = false;
            if (int(v) != bri_block_level.exchange(v) && store) {
                ScalerHandOver scaler;
                if (!blockGives(store->boxWord(blk::kBrightness), v)) {
                    const uint16_t percent = percentOf(v);
                    store->setU16(blk::kBrightness, percent);
                    bri_echo_percent = percent;
                    shown = true;
                }
            }
            if (shown)
                store->test_signal(1);
        }
        write_to_register(FpgaReg::Brightness, 0xFF, v, 0);
        write_to_register(FpgaReg::Control, 0x04, 0x04, 0);
    }
    if (fromBlock) {
        uint8_t record[kBrightnessRecordSize] = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
        memset(record + 9, reg(*this, 0, FpgaReg::ManualBrightness), kBrightnessRecordSize - 9);
        store_flash_record(FpgaFlash::kBrightnessRecord, record, kBrightnessRecordSize);
        bri_mode = 16;
        bri_level_raw = 1;
        bri_resend = 0;
    }
}

void fpga_manage::Brightness_init(const uint8_t* record)
{
    bri_mode = record[8];
    bri_level_raw = rawMode(bri_mode); // the scale register 64 is read on, until a level comes
    bri_last_slot = 255;
    bri_task_enable = 0;
    switch (bri_mode) {
    case 0:
    case 16: {
        keepLevel(*this, bri_mode == 0 ? std::min<uint8_t>(record[9], 16) : record[9], bri_mode == 16);
        bri_resend = 0;
        bri_task_enable = 1;
        break;
    }
    case 1:
    case 17:
        memcpy(HalfHourValue, record + 9, sizeof HalfHourValue);
        bri_task_enable = 1;
        break;
    case 2: {
        // The sensor steps on levels 1-16 from the one the wall has: register 64 may still hold a
        // raw value, which the apply shows as a level (0 and above 16 at full brightness).
        const uint8_t held = reg(*this, 0, FpgaReg::ManualBrightness);
        keepLevel(*this, held == 0 || held > 16 ? 16 : held, false);
        bri_task_enable = 1;
        break;
    }
    default:
        break;
    }
}

// FPGA 0 came up with register 6 at 0, a dark wall: what the block shows goes out at once, not
// at the next ten-second pass.
void fpga_manage::record_bright_change()
{
    if (reg(*this, 0, FpgaReg::State) != FpgaReg::StateUp)
        return;
    uint8_t marker = 0;
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, FpgaFlash::kBrightnessRecord, 1, &marker) != 1 || marker != 0xAA) {
        bri_task_enable = 0;
        bri_level = 16;
        QMutexLocker lock(&Utils::_bri_set_mutex);
        bri_request = 1; // no level of its own: the block's percentage
        return;
    }
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, FpgaFlash::kBrightnessRecord, kBrightnessRecordSize, MCU_RAM_CMD) == 1) {
        Brightness_init(MCU_RAM_CMD);
        bri_stamp = G_timeTicks.load() - kBrightnessTaskTicks; // the first pass is due now
    }
}

bool fpga_manage::levelFromElsewhere(uint16_t percent) const
{
    const int echo = bri_echo_percent.load();
    return echo >= 0 && echo != percent;
}

// The schedule is always FPGA 0's, whichever FPGA is being initialised.
void fpga_manage::record_onoff_time(int selector)
{
    if (reg(*this, 0, FpgaReg::State) != FpgaReg::StateUp && selector != 2)
        return;
    uint8_t marker = 0;
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, FpgaFlash::kOnOffRecord, 1, &marker) != 1 || marker != 0xAA)
        return;
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, FpgaFlash::kOnOffRecord, kOnOffRecordSize, MCU_RAM_CMD) != 1)
        return;
    OnOff_time(MCU_RAM_CMD);
    setReg(*this, 0, FpgaReg::ScheduleEnabled, 1);
    schedule_recheck();
}

void fpga_manage::Brightness_task()
{
    if (Utils::getTimeSpace(bri_stamp) < kBrightnessTaskTicks)
        return;
    switch (bri_mode) {
    case 0:
    case 16: Brightness_hand_change(); break;
    case 1:
    case 17: Brightness_time_change(); break;
    case 2: Brightness_auto_change(); break;
    default: break;
    }
    bri_stamp = G_timeTicks.load();
}

// A loaded level goes out five times, in case the wall was not listening.
void fpga_manage::Brightness_hand_change()
{
    if (bri_resend > 4)
        return;
    Brightness_hand_dealwith(1);
    ++bri_resend;
}

void fpga_manage::Brightness_time_change()
{
    TimeRealType now;
    {
        std::lock_guard<std::mutex> lock(onoff_mutex);
        now = time_now;
    }
    uint32_t minute = uint32_t(now.hour) * 60 + now.minute;
    uint32_t slot = minute / 30;
    if (minute >= 1440)
        slot = std::min<uint32_t>(slot - 1, 47);
    if (slot == bri_last_slot) {
        if (bri_resend <= 1) {
            Brightness_hand_dealwith(1);
            ++bri_resend;
        }
        return;
    }
    const uint8_t value = HalfHourValue[slot];
    keepLevel(*this, rawMode(bri_mode) ? value : std::min<uint8_t>(value, 16), rawMode(bri_mode));
    Brightness_hand_dealwith(1);
    bri_last_slot = slot;
    bri_resend = 0;
    Brightness_hand_dealwith(1);
    bri_resend = 1;
}

void fpga_manage::Brightness_auto_change()
{
    Brightness_check_VMF();
    Brightness_read_VMF_value();
    Brightness_auto_filter();
    Brightness_hand_dealwith(1);
}

// The first port whose search reply flagged a multifunction card.
void fpga_manage::Brightness_check_VMF()
{
    mf_address = 0;
    mf_group = 0;
    std::lock_guard<std::mutex> lock(image_mutex);
    for (int port = 0; port < kPorts; ++port) {
        uint32_t count, status;
        card_fields(port, &count, &status);
        if (MCU_RAM_PARA_func[0][status] != 0) {
            mf_group = uint32_t(port / 4 + 1);
            mf_address = proto::kMultifunction + proto::kMultifunctionPortStep * uint32_t(port % 4);
            return;
        }
    }
}

namespace {

constexpr uint32_t kReplyTicks = 35;
constexpr int kReplyPolls = 350; // about 350 ms at 1 ms a poll, when nobody drives the tick

int cardPort(const fpga_manage& m)
{
    return int(4 * (m.mf_group - 1) + (m.mf_address - proto::kMultifunction) / proto::kMultifunctionPortStep);
}

// Read of n bytes at address from the multifunction card (19 bytes).
uint32_t readPacket(uint8_t* p, uint32_t cardAddress, uint32_t address, uint16_t n)
{
    const uint8_t head[9] = {uint8_t(cardAddress), uint8_t(cardAddress >> 8), 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00};
    memcpy(p, head, sizeof head);
    p[9] = 0x61;
    putU32(p + 10, address);
    putU16(p + 14, n);
    p[16] = p[17] = 0;
    p[18] = uint8_t(Utils::BCC(p, 18));
    return 19;
}

}

// Waits for the card's answer to the packet just sent, serving the interrupt under the
// pass-through mutex as the transports do. Bad or unexpected answers count in register 85.
int fpga_manage::wait_VMF_reply(uint8_t expected, uint32_t keep)
{
    const uint32_t stamp = G_timeTicks.load();
    for (int poll = 0; poll < kReplyPolls && Utils::getTimeSpace(stamp) <= kReplyTicks; ++poll) {
        {
            PosixLock lock(pass_mutex);
            reg_IRQ_Dealwith(0, 0);
            if (mf_reply_flag) {
                mf_reply_flag = 0;
                if (mf_reply_cmd == expected && mf_reply[0] == 0) {
                    if (keep == sizeof mf_card_data) {
                        memcpy(mf_card_data, mf_reply + 1, sizeof mf_card_data);
                    } else if (keep == sizeof mf_ram0) {
                        memset(mf_ram0, 0, sizeof mf_ram0);
                        if (mf_raw_reply.size() > 12)
                            memcpy(mf_ram0, mf_raw_reply.data() + 11, std::min<size_t>(mf_raw_reply.size() - 12, sizeof mf_ram0));
                    }
                    mf_data_valid = 1;
                    return 1;
                }
                PosixLock regs(reg_mutex);
                ++MCU_REG_func[0][85];
            }
        }
        Delay::ms(1);
    }
    return 0;
}

// A read of n bytes at address from the multifunction card, its answer kept as n bytes (the
// sensor data or RAM0). 1 with a good answer.
int fpga_manage::read_VMF(uint32_t address, uint16_t n)
{
    if (mf_address == 0)
        return 0;
    uint8_t p[19];
    const uint32_t length = readPacket(p, mf_address, address, n);
    mf_data_valid = 0;
    {
        PosixLock lock(pass_mutex);
        mf_reply_flag = 0;
    }
    return send_packet(p, length, cardPort(*this)) == 1 && wait_VMF_reply(0x61, n) ? 1 : 0;
}

int fpga_manage::Brightness_read_VMF_value()
{
    if (mf_address == 0)
        return 0;
    if (read_VMF(0x02000000, sizeof mf_card_data))
        return 1;
    ++bri_fail_count;
    return 0;
}

void fpga_manage::Brightness_auto_filter()
{
    if (mf_data_valid && mf_card_data[49] == 0xFF) {
        uint32_t level = bri_level.load();
        const uint8_t target = mf_card_data[52];
        if (level < target)
            ++level;
        else if (level > target)
            --level;
        level = std::max<uint32_t>(1, std::min<uint32_t>(level, 16));
        keepLevel(*this, uint8_t(level), false);
    }
    mf_data_valid = 0;
    if (bri_fail_count.load() == 10) {
        keepLevel(*this, 16, false);
        setReg(*this, 1, FpgaReg::ManualBrightness, 16);
        bri_fail_count = 0;
    }
}

// ---- relays ----

namespace {
constexpr uint32_t kRelaySignalTicks = 100, kRelayTaskTicks = 1000, kRelayOffTicks = 1000;

// Window 0's source has a timing in the input records (width, height and rate all set).
uint8_t windowZeroSignal(VyrRamPara& store)
{
    int16_t isCrop = 0;
    int8_t crop = 0;
    const int32_t input = store.VyrGetImageSource(store.view(), 0, &isCrop, &crop, 0);
    if (input < 0 || input >= 6)
        return 0;
    const uint32_t at = blk::inputResolution(uint32_t(input)); // u16 takes the records' mutex
    return store.u16(at + blk::kInputWidth) && store.u16(at + blk::kInputHeight) && uint8_t(store.u16(at + blk::kInputRate)) ? 1 : 0;
}
}

// The wall's power relays follow window 0's signal while it is the only window shown: on one by
// one while there is a picture, off once it has been gone for ten seconds. Nothing starts this
// path on the box; it is kept ready for a multifunction card with relays.
void fpga_manage::Power_ctrl_deal()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store || !get_fpga_status())
        return;
    for (uint32_t w = 1; w < blk::kScalerWindows; ++w)
        if (store->u16(blk::window(w, blk::win::kState)) != 0)
            return;
    const uint32_t now = G_timeTicks.load();
    if (Utils::getTimeSpace(relay_stamp) > kRelaySignalTicks) {
        relay_stamp = now;
        const uint8_t had = relay_signal;
        relay_signal = windowZeroSignal(*store);
        if (relay_signal && !had)
            Power_ctrl_reset();
    }
    if (Utils::getTimeSpace(relay_task_stamp) > kRelayTaskTicks) {
        relay_task_stamp = now;
        Power_ctrl_task();
    }
    if (mf_address == 0) // no card found yet: a relay step now would be spent on nothing
        return;
    if (relay_signal || relay_power != 1) {
        relay_off_stamp = now;
        if (relay_signal)
            eth_data_send_start();
    } else if (relay_stop_enable && Utils::getTimeSpace(relay_off_stamp) > kRelayOffTicks) {
        if (!relay_stop_armed) { // the switching-off walks the relays from the first again
            relay_stop_armed = 1;
            relay_counter = 1;
        }
        eth_data_send_stop();
    }
}

void fpga_manage::Power_ctrl_task()
{
    Power_check_VMF();
    Power_read_VMF_value();
    Power_ctrl_filter();
}

void fpga_manage::Power_check_VMF()
{
    Brightness_check_VMF();
    relay_port = mf_address ? uint8_t(cardPort(*this)) : 252;
    relay_fpga = 0;
}

int fpga_manage::Power_read_VMF_value()
{
    return read_VMF(0, sizeof mf_ram0);
}

void fpga_manage::Power_ctrl_filter()
{
    if (!mf_data_valid)
        return;
    relay_power = mf_ram0[44] == 1 ? 1 : 0;
    setReg(*this, 0, 67, relay_power);
    mf_data_valid = 0;
}

// Relay k of its register (two bits each): 1 stopped, 3 running.
int fpga_manage::Send_write_VMF_reg_cmd(int stop, int relay)
{
    if (relay < 1 || relay > 8 || mf_address == 0)
        return 0;
    const int k = (relay - 1) % 4;
    uint8_t p[15] = {uint8_t(mf_address), uint8_t(mf_address >> 8), 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0xA0};
    p[10] = relay <= 4 ? 2 : 3;
    p[11] = uint8_t(3 << (2 * k));
    p[12] = 0;
    p[13] = uint8_t((stop ? 1 : 3) << (2 * k));
    p[14] = uint8_t(Utils::BCC(p, 14));
    {
        PosixLock lock(pass_mutex);
        mf_reply_flag = 0;
    }
    return send_packet(p, sizeof p, cardPort(*this)) == 1 && wait_VMF_reply(0xA0, 0) ? 1 : 0;
}

namespace {
constexpr uint32_t kRelayStepTicks = 51;
}

// One relay per call, at least 51 ticks apart, relays 1 to 8.
void fpga_manage::eth_data_send_start()
{
    if (relay_counter > 8 || Utils::getTimeSpace(relay_step_stamp) < kRelayStepTicks)
        return;
    if (!Send_write_VMF_reg_cmd(0, relay_counter))
        writeLogMsg(LOG_WARNING, "relay " + std::to_string(relay_counter) + " did not confirm switching on");
    ++relay_counter;
    relay_step_stamp = G_timeTicks.load();
}

void fpga_manage::eth_data_send_stop()
{
    if (relay_counter > 8 || Utils::getTimeSpace(relay_step_stamp) < kRelayStepTicks)
        return;
    if (!Send_write_VMF_reg_cmd(1, relay_counter))
        writeLogMsg(LOG_WARNING, "relay " + std::to_string(relay_counter) + " did not confirm switching off");
    ++relay_counter;
    relay_step_stamp = G_timeTicks.load();
}
