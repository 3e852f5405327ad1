// The mailbox in the command area (clock, on/off schedule, brightness), the schedule itself and
// the flash records behind both.
#include "fpga/fpga_manage.h"
#include "fpga/fpga_flash_layout.h"

#include "base/bytes.h"
#include "fpga/fpga_drv.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"

#include <QDate>
#include <QMutexLocker>
#include <QDateTime>
#include <QString>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

std::function<QDateTime()> fpga_manage::clock = [] { return QDateTime::currentDateTime(); };

namespace {

constexpr uint32_t kHeader = 8; // marker, command, store flag, 3 spare, u16 payload length
constexpr uint8_t kNoTime = 0xFF; // hour of an entry that was not a valid time

// A packed BCD byte as a number, or -1 when a nibble is above 9.
int fromBcd(uint8_t b)
{
    const int hi = b >> 4, lo = b & 0x0F;
    return hi > 9 || lo > 9 ? -1 : hi * 10 + lo;
}

// Register-cache byte 66 of FPGA 0: the schedule runs while it is 1.
void setScheduleEnabled(fpga_manage& m, uint8_t on)
{
    PosixLock lock(m.reg_mutex);
    m.MCU_REG_func[0][FpgaReg::ScheduleEnabled] = on;
}

bool validTime(int hour, int minute)
{
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

// An on/off entry: BCD hour and minute of the show time, then of the blank time.
bool entryIsTime(const uint8_t* t)
{
    return validTime(fromBcd(t[0]), fromBcd(t[1])) && validTime(fromBcd(t[2]), fromBcd(t[3]));
}

// The payload length a record needs for what it claims: the clock's seven fields, the on/off
// count with the entries taken, the brightness mode with its level or its 48 half-hour levels.
uint32_t payloadNeeded(const uint8_t* cmd)
{
    switch (cmd[1]) {
    case 1: return 7;
    case 2: return 1 + 4 * std::min<uint32_t>(cmd[8], 4);
    case 3: {
        const uint8_t mode = cmd[8] & 0xEF;
        return mode == 0 ? 2 : mode == 1 ? 49 : 1;
    }
    default: return 0;
    }
}

// An event's place in the day: its minute, a blank after a show of the same minute (a pass shows
// before it blanks). Odd for a blank.
int eventKey(int hour, int minute, bool blank)
{
    return (hour * 60 + minute) * 2 + (blank ? 1 : 0);
}

}

bool fpga_manage::Dealwith_mcu_ram()
{
    // The PC may write the area while we serve it: work on one copy.
    uint8_t cmd[kRamSize];
    memcpy(cmd, MCU_RAM_CMD, sizeof cmd);
    if (cmd[0] != 0xAA)
        return true;
    // A record is the header plus its payload; one that does not fit the area, or whose payload
    // does not hold what it claims, is not a command: the missing bytes would be a former one's.
    const uint32_t length = getU16(cmd + 6), total = kHeader + length;
    if (cmd[1] >= 1 && cmd[1] <= 3 && (total > kRamSize || length < payloadNeeded(cmd))) {
        writeLogMsg(LOG_WARNING, "mailbox: command " + std::to_string(cmd[1]) + " with a length of " +
                                     std::to_string(length) + " that does not fit what it holds, ignored");
        return false;
    }
    const uint8_t store = cmd[2];
    bool done = true; // a clock not set or a record not stored is not answered as done
    switch (cmd[1]) {
    case 1:
        done = Checktime(cmd) == 0;
        break;
    case 2:
        // An entry that is no time of day would be kept disarmed and never fire: the schedule
        // is not what the tool set, so it is refused and the one in force stays.
        for (int i = 0; i < std::min<int>(cmd[8], 4); ++i) {
            if (!entryIsTime(cmd + 9 + 4 * i)) {
                writeLogMsg(LOG_WARNING, "mailbox: on/off entry " + std::to_string(i + 1) + " is no time of day, ignored");
                return false;
            }
        }
        OnOff_time(cmd);
        schedule_recheck();
        if (store == 0xAA) {
            done = store_flash_record(FpgaFlash::kOnOffRecord, cmd, total);
            setScheduleEnabled(*this, 1);
        } else if (store == 0x55) {
            done = erase_flash_record(FpgaFlash::kOnOffRecord);
            setScheduleEnabled(*this, 0);
        }
        break;
    case 3: {
        const uint8_t mode = cmd[8] & 0xEF;
        if (mode != 0) {
            if (store == 0xAA || store == 0x55) {
                if (store == 0xAA)
                    done = store_flash_record(FpgaFlash::kBrightnessRecord, cmd, total);
                else
                    done = erase_flash_record(FpgaFlash::kBrightnessRecord);
                bri_reload = 1;
                wake();
                bri_fail_count = 0;
            }
            break;
        }
        // Manual level on its record's scale: mode 0 a level 1-16 (anything above is full
        // brightness), mode 16 a raw value, as the record reads once stored.
        const bool raw = cmd[8] == 16;
        Brightness_manual_level(raw || cmd[9] <= 16 ? cmd[9] : 16, raw);
        if (store == 0xAA) {
            done = store_flash_record(FpgaFlash::kBrightnessRecord, cmd, total);
            bri_reload = 1;
            wake();
        }
        break;
    }
    default:
        break;
    }
    return done;
}

// Bytes 8-14 in BCD: year low, year high, month, day, hour, minute, second.
int fpga_manage::Checktime(const uint8_t* cmd)
{
    int v[7];
    for (int i = 0; i < 7; ++i)
        v[i] = fromBcd(cmd[8 + i]);
    // A nibble above 9 makes its field -1, which no date or time takes.
    const bool valid = v[0] >= 0 && v[1] >= 0 && Utils::setClock(v[1] * 100 + v[0], v[2], v[3], v[4], v[5], v[6]);
    if (valid)
        schedule_recheck();
    else
        writeLogMsg(LOG_WARNING, "mailbox: clock command with a date or time the board does not take, ignored");
    return valid ? 0 : 1;
}

// Count at byte 8 (at most 4), then per entry BCD hour and minute of the show time and of the
// blank time. Entries that are not times stay disarmed.
void fpga_manage::OnOff_time(const uint8_t* cmd)
{
    std::lock_guard<std::mutex> lock(onoff_mutex);
    onoff.count = cmd[8] > 4 ? 4 : cmd[8];
    for (OnOffEntry& e : onoff.entry)
        e.on_armed = e.off_armed = 0;
    for (int i = 0; i < onoff.count; ++i) {
        const uint8_t* t = cmd + 9 + 4 * i;
        if (entryIsTime(t))
            onoff.entry[i] = OnOffEntry{uint8_t(fromBcd(t[0])), uint8_t(fromBcd(t[1])), uint8_t(fromBcd(t[2])),
                                        uint8_t(fromBcd(t[3])), 1, 1};
        else
            onoff.entry[i] = OnOffEntry{kNoTime, kNoTime, kNoTime, kNoTime, 0, 0};
    }
}

void fpga_manage::schedule_recheck()
{
    if (fpga_manage* m = p_fpga_manage) {
        m->onoff_recheck = 1;
        wake();
    }
}

// Events after now are armed for today, the others wait for tomorrow.
int fpga_manage::onoff_catch_up(const TimeRealType& now)
{
    const int nowKey = eventKey(now.hour, now.minute, true);
    int lastToday = -1, lastOfDay = -1;
    for (int i = 0; i < onoff.count; ++i) {
        OnOffEntry& e = onoff.entry[i];
        if (e.on_hour == kNoTime)
            continue;
        const int show = eventKey(e.on_hour, e.on_minute, false), blank = eventKey(e.off_hour, e.off_minute, true);
        for (int key : {show, blank}) {
            if (key <= nowKey)
                lastToday = std::max(lastToday, key);
            lastOfDay = std::max(lastOfDay, key);
        }
        e.on_armed = show > nowKey;
        e.off_armed = blank > nowKey;
    }
    onoff.day = now.day;
    const int last = lastToday >= 0 ? lastToday : lastOfDay; // none yet today: yesterday's last
    if (last < 0)
        return -1;
    onoff.state = uint8_t(last & 1);
    return onoff.state;
}

// An event is missed for the day when no pass falls into its minute (e.g. during an upgrade). At
// a start, a clock set or a load the wall takes the state of the last event before now; the write
// waits while an LED step holds the block's black-screen word apart from the wall.
void fpga_manage::dealwith_onoff()
{
    int show = 0, blank = 0;
    const bool recheck = g_set_led_para.load() == 0 && onoff_recheck.exchange(0);
    const TimeRealType fresh = recheck ? refresh_time() : TimeRealType{};
    {
        std::lock_guard<std::mutex> lock(onoff_mutex);
        const TimeRealType now = recheck ? fresh : time_now;
        const int state = recheck ? onoff_catch_up(now) : -1;
        show += state == 0;
        blank += state == 1;
        for (int i = 0; i < onoff.count; ++i) {
            OnOffEntry& e = onoff.entry[i];
            if (e.on_armed && e.on_hour == now.hour && e.on_minute == now.minute) {
                e.on_armed = 0;
                onoff.state = 0;
                ++show;
            }
            if (e.off_armed && e.off_hour == now.hour && e.off_minute == now.minute) {
                e.off_armed = 0;
                onoff.state = 1;
                ++blank;
            }
        }
        if (now.day != onoff.day) {
            for (int i = 0; i < onoff.count; ++i) {
                OnOffEntry& e = onoff.entry[i];
                e.on_armed = e.off_armed = e.on_hour != kNoTime ? 1 : 0;
            }
            onoff.day = now.day;
        }
    }
    // Register writes only after the schedule is released: they take the SPI bus.
    for (int i = 0; i < show; ++i) {
        SCREEN_fpgactrl_status(1);
        Power_ctrl_reset();
    }
    for (int i = 0; i < blank; ++i) {
        SCREEN_fpgactrl_status(0);
        Power_ctrl_reset();
    }
}

// The fields straight from the date and time: the same numbers as the "yyyy/MM/dd/hh/mm/ss" text
// split at its slashes, without building the text about four times a second.
int fpga_manage::IT8563WE_Get(TimeRealType* time)
{
    QDateTime now;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        now = clock();
    }
    if (!time || !now.isValid())
        return 0;
    const QDate date = now.date();
    const QTime daytime = now.time();
    time->year = uint16_t(date.year());
    time->month = uint8_t(date.month());
    time->day = uint8_t(date.day());
    time->hour = uint8_t(daytime.hour());
    time->minute = uint8_t(daytime.minute());
    time->second = uint8_t(daytime.second());
    return 0;
}

bool fpga_manage::erase_flash_record(uint32_t address)
{
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_ERASE(FpgaFlash::kSelector0, address / fpga_drv::kSectorSize, 0, 1) == 1)
        return true;
    writeLogMsg(LOG_ERROR, "fpga flash: record sector cannot be erased");
    return false;
}

bool fpga_manage::store_flash_record(uint32_t address, const uint8_t* data, uint32_t n)
{
    if (n == 0 || address % fpga_drv::kSectorSize + uint64_t(n) > fpga_drv::kSectorSize)
        return false;
    std::vector<uint8_t> back(n);
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, address, n, back.data()) == 1 && memcmp(back.data(), data, n) == 0)
        return true; // already there: spare the sector an erase
    std::vector<uint8_t> out(4 + n);
    memcpy(out.data() + 4, data, n);
    const bool stored = erase_flash_record(address) &&
                        fpgadrv->FPGA_SPI_FLASH_VBYONE_WRITE(FpgaFlash::kSelector0, address, out.data(), n) == 1 &&
                        fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, address, n, back.data()) == 1 &&
                        memcmp(back.data(), data, n) == 0;
    if (!stored)
        writeLogMsg(LOG_ERROR, "fpga flash: record does not read back as written");
    return stored;
}
