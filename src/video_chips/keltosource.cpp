#include "video_chips/keltosource.h"
#include "base/named_thread.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/scaler_hand_over.h"
#include "params/vyrrampara.h"
#include "video_chips/clock_synth_table.h"
#include "video_chips/drv_i2c.h"
#include "video_chips/iTE6805_SYS.h"
#include "video_chips/keltosource_status.h"
#include "video_chips/sdi_it66121.h"

#include <QMutexLocker>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

keltosource* keltosource::p_kelto_source = nullptr;

namespace {
constexpr uint32_t PathHoldTicks = 100;
// Channel bit of an input on both switches (inputs 4 and 5 are swapped on the board).
constexpr uint8_t kChannel[6] = {0x01, 0x02, 0x04, 0x08, 0x20, 0x10};
uint8_t channelOf(int input) { return input >= 0 && input < 6 ? kChannel[input] : 0; }
constexpr uint32_t PathSettleTicks = 500;
}

keltosource* keltosource::pInstance()
{
    if (!p_kelto_source)
        p_kelto_source = new keltosource();
    return p_kelto_source;
}

keltosource::keltosource()
{
    writeLogMsg(LOG_INFO, "====keltosource::keltosource()=====");
    it6602 = new kelto_it6602();
    ite6805 = new ite6805_sys();
    it66121 = new it66121_sys();
    i2c = new Drv_I2C0();
    for (int i = 0; i < Inputs; ++i)
        held_[i] = tables_[i] = edid::defaultFor(i);
    // FPGA 0 runs on synthesiser 0's clock: the FPGA worker brings it up only once that runs.
    fpga_manage::set_clock_ready([] {
        const keltosource* source = p_kelto_source;
        return source && source->clock_state[0].load() == 2;
    });
}

int keltosource::openBus()
{
    fd_ = i2c->initialize();
    if (fd_ < 0)
        writeLogMsg(LOG_ERROR, "keltosource: /dev/i2c-0 cannot be opened; the inputs stay dark");
    it6602->fd = fd_;
    it6602->attach(i2c, hdminfo);
    ite6805->fd = fd_;
    input_mask = uint8_t(g_check_source.load() & 0xFF);
    return fd_;
}

int keltosource::initializeWithoutThread()
{
    openBus();
    return 0;
}

int keltosource::initialize()
{
    openBus();
    if (threadStarted_)
        return 0;
    if (!startNamedThread(&thread_, &keltosource::checksourceThread, this, "checksource")) {
        if (traceOn())
            printf("create manage thread failed\n");
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    threadStarted_ = true;
    return 0;
}

void keltosource::stopThread()
{
    if (!threadStarted_)
        return;
    stopping_ = true;
    pthread_join(thread_, nullptr);
    threadStarted_ = false;
    stopping_ = false;
}

void* keltosource::checksourceThread(void* self)
{
    auto* k = static_cast<keltosource*>(self);
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!k->stopping_.load()) {
        k->runOnce();
        // Start-up states pace at 1 ms. The running pass starts every 50 ms: it polls every
        // receiver (they have no interrupt line to us), and on the box its bus traffic alone takes
        // some 20 ms at 100 kHz, so the receivers' pass counters keep their time base, a cable
        // change is seen within a pass or two and an idle box stays well under 1 % of a core.
        bool running;
        {
            QMutexLocker lock(&Utils::_source_init_mutex);
            running = k->path_state == PathRunning;
        }
        const long periodNs = running ? RunningPeriodNs : StartPeriodNs;
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        next.tv_nsec += periodNs;
        next.tv_sec += next.tv_nsec / 1000000000L;
        next.tv_nsec %= 1000000000L;
        // A pass that overran its period (or a clock jump) restarts the schedule from now.
        if (next.tv_sec < now.tv_sec || (next.tv_sec == now.tv_sec && next.tv_nsec < now.tv_nsec))
            next = now;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
    }
    return nullptr;
}

void keltosource::runOnce()
{
    uint8_t state;
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        state = path_state;
    }
    if (state < PathEdidCheck) {
        pathStep();
        return;
    }
    if (state == PathEdidCheck) {
        edidCheck();
        return;
    }
    runningPass();
}

// States 0-3: hold the flagged paths low for 100 ticks, release them, let them settle 500 ticks.
void keltosource::pathStep()
{
    bool resetIte = false;
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        switch (path_state) {
        case PathHold:
            if (path_flags[0] || path_flags[1] || path_flags[2] || path_flags[3])
                fpga_manage::gpio_write(fpga_manage::it6602_path, 0);
            if (path_flags[4] || path_flags[5]) {
                fpga_manage::gpio_write(fpga_manage::ite6805_path, 0);
                resetIte = true;
            }
            path_state = PathHeld;
            path_timer = G_timeTicks;
            break;
        case PathHeld:
            if (Utils::getTimeSpace(path_timer) > PathHoldTicks) {
                path_state = PathRelease;
                path_timer = G_timeTicks;
            }
            break;
        case PathRelease:
            if (path_flags[0] || path_flags[1] || path_flags[2] || path_flags[3])
                fpga_manage::gpio_write(fpga_manage::it6602_path, 16);
            if (path_flags[4] || path_flags[5])
                fpga_manage::gpio_write(fpga_manage::ite6805_path, 16);
            memset(path_flags, 0, sizeof path_flags);
            path_state = PathSettle;
            path_timer = G_timeTicks;
            break;
        case PathSettle:
            if (Utils::getTimeSpace(path_timer) > PathSettleTicks) {
                path_state = PathEdidCheck;
                path_timer = G_timeTicks;
            }
            break;
        default:
            break;
        }
    }
    if (resetIte)
        ite6805->ite6805_sys_reset_init();
}

void keltosource::setExpander(uint8_t value)
{
    i2c->i2c_write(fd_, 0x40, value, nullptr, 0);
}

bool keltosource::selectEdidChannel(uint8_t channel)
{
    return i2c->i2c_write(fd_, 0xE0, channel, nullptr, 0) == 1;
}

bool keltosource::edidGood(int input) const
{
    if (input == 0)
        return keltosource_status::test(keltosource_status::ChipPresence, 0x80);
    return keltosource_status::test(keltosource_status::EdidStatus, uint8_t(1u << (input - 1)));
}

void keltosource::setEdidGood(int input, bool good)
{
    if (input == 0)
        keltosource_status::set(keltosource_status::ChipPresence, 0x80, good);
    else
        keltosource_status::set(keltosource_status::EdidStatus, uint8_t(1u << (input - 1)), good);
}

bool keltosource::readEeprom(uint8_t* out)
{
    memset(out, 0, edid::TableSize);
    Delay::ms(10);
    return i2c->eeprom_read(fd_, out) == 1;
}

namespace {
// Header right and both blocks summing to 0: the repair rewrites all 256 bytes, so a damaged
// extension block counts as damage too.
bool edidValid(const uint8_t* t)
{
    static const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (memcmp(t, header, 8) != 0)
        return false;
    return edid::CalcSum4LCD(0, t, edid::BlockSize) == 0 &&
           edid::CalcSum4LCD(0, t + edid::BlockSize, edid::BlockSize) == 0;
}
}

keltosource::EdidRecord keltosource::recordAt(const uint8_t* record)
{
    return {blk::get16(record, 0), blk::get16(record, 2), blk::get16(record, 4)};
}

keltosource::EdidRecord keltosource::recordOf(int input)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return {};
    // A tool's recall or write replaces the record under the hand-over: read whole, under its lock.
    uint8_t record[blk::kEdidTimingSize];
    store->copyBlock(record, blk::edidWidth(input), sizeof record);
    return recordAt(record);
}

// The table a record stands for: the default table for the record a fresh parameter file holds,
// else the record's custom timing (the default table when the receiver refuses that timing).
const edid::Table& keltosource::tableFor(int input, const EdidRecord& record)
{
    const uint8_t* fresh = default_para_ramlist + 2 + (blk::edidWidth(input) - kPersistStart);
    const EdidRecord factory{blk::get16(fresh, 0), blk::get16(fresh, 2), blk::get16(fresh, 4)};
    tables_[input] = edid::defaultFor(input);
    if (!(record == factory))
        Set_Custom_HDMI_EDID(record.width, record.height, record.rate, input);
    return tables_[input];
}

// State 4, at every start and path restart: each EEPROM is read, and one whose header or sums fail
// is rewritten from its record, whatever "config/EDIDCheck" holds: an EDID write cut short (power
// lost during a save, a factory reset or a user-mode recall) must not stay on the input while its
// bit says good. The bits say what was read. "Once" still becomes "Never", as stored files have it.
void keltosource::edidCheck()
{
    const QString mode = g_check_edid.get();
    const bool once = mode == QLatin1String("Once");
    if (!once && mode != QLatin1String("Never") && !unknownCheckLogged_) {
        writeLogMsg(LOG_WARNING, "keltosource: EDIDCheck \"" + mode.toStdString() +
                                     "\" is neither Once nor Never; checked as Never");
        unknownCheckLogged_ = true;
    }
    // With no custom write pending, the record is the one the EEPROM's table should stand for.
    for (int input = 0; input < Inputs; ++input)
        if (custom_edid_req[input] == 0)
            heldRecord_[input] = recordOf(input);
    heldRecordsTaken_ = true;

    uint8_t buffer[edid::TableSize];
    for (int input = 0; input < Inputs; ++input) {
        setExpander(0x01);
        write_protect = 1;
        fpga_manage::gpio_write(fpga_manage::edid_wp, 16);
        if (!edidGood(input))
            continue;
        const bool acked = selectEdidChannel(channelOf(input));
        keltosource_status::set(keltosource_status::EdidStatus, 0x40, acked);
        const bool read = readEeprom(buffer);
        setEdidGood(input, read);
        if (read && edidValid(buffer)) {
            memcpy(held_[input].data(), buffer, edid::TableSize);
            continue;
        }

        writeLogMsg(LOG_WARNING, "keltosource: EDID EEPROM of input " + std::to_string(input) + " damaged, rewriting");
        const edid::Table& table = tableFor(input, heldRecord_[input]);
        fpga_manage::gpio_write(fpga_manage::edid_wp, 0);
        setExpander(0x00);
        const bool written = i2c->eeprom_write(fd_, table.data()) == 1;
        const bool ok = written && readEeprom(buffer) && edidValid(buffer);
        fpga_manage::gpio_write(fpga_manage::edid_wp, 16);
        if (ok) {
            held_[input] = table;
            setEdidGood(input, true);
            continue;
        }
        writeLogMsg(LOG_ERROR, "keltosource: EDID EEPROM of input " + std::to_string(input) + " could not be repaired");
        setEdidGood(input, false);
        setExpander(0x01);
        // Cycle both paths and check again; this input is skipped from now on.
        QMutexLocker lock(&Utils::_source_init_mutex);
        path_state = PathHold;
        path_flags[0] = 1;
        path_flags[4] = 1;
        return;
    }
    setExpander(0x01);
    write_protect = 1;
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        path_state = PathRunning;
    }
    if (!once)
        return;
    g_check_edid = "Never";
    if (ConfigEngine* config = ConfigEngine::p_config)
        config->write_config_variant(ConfigItem::EDIDCheck, QStringLiteral("Never"));
    Delay::ms(1);
    Utils::system_plain(QStringLiteral("sync"));
}

// The table the EEPROM held before a failed custom write, written back; true when a read of the
// part then finds a valid EDID.
bool keltosource::putHeldEdidBack(int input)
{
    i2c->eeprom_write(fd_, held_[input].data());
    uint8_t buffer[edid::TableSize];
    return readEeprom(buffer) && edidValid(buffer);
}

// The record of a failed custom write goes back to the timing the EEPROM's table stands for, so the
// pages and the saved file show what the input offers; a timing written since is left alone. It is
// the box's own change (setU16): the body no longer holds the mode in use.
void keltosource::putRecordBack(int input, const EdidRecord& failed)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    const EdidRecord& held = heldRecord_[input];
    if (!store || !heldRecordsTaken_ || held == failed)
        return;
    ScalerHandOver handOver;
    if (!(recordAt(store->view() + blk::edidWidth(input)) == failed))
        return;
    store->setU16(blk::edidWidth(input), held.width);
    store->setU16(blk::edidHeight(input), held.height);
    store->setU16(blk::edidRate(input), held.rate);
    handOver.commit(1);
}

void keltosource::logClockFailure(const char* what)
{
    // The set-up is retried on every pass; say so the first time and then now and again.
    if (clockFailures_++ % 1000 == 0)
        writeLogMsg(LOG_ERROR, std::string("keltosource: clock synthesiser ") + what + ", retrying (" +
                                   std::to_string(clockFailures_) + " failures)");
}

int keltosource::s5p210_setup(int n)
{
    if (n < 0 || n > 1)
        return -1;
    switch (clock_state[n].load()) {
    case 0:
        clock_state[n] = 1;
        if (clock_synth::program(*i2c, fd_) != 1) {
            clock_state[n] = 0;
            logClockFailure("refused a register write");
        }
        break;
    case 1:
        clock_done[n] = 1;
        if (n == 0) {
            keltosource_status::set(keltosource_status::EdidStatus, 0x80, true);
            fpga_manage::gpio_write(fpga_manage::rst_fpga0, 16);
        } else {
            keltosource_status::set(keltosource_status::ClockStatus, 0x01, true);
            fpga_manage::gpio_write(fpga_manage::rst_fpga1, 16);
        }
        clock_state[n] = 2;
        break;
    default:
        break;
    }
    return clock_state[n];
}

bool keltosource::Set_Custom_HDMI_EDID(uint32_t width, uint32_t height, uint32_t rate, int input)
{
    if (input < 0 || input >= Inputs)
        return false;
    return edid::Set_Custom_HDMI_EDID(tables_[input], width, height, rate, input);
}

// Under the lock the thread holds while it writes an EDID and while it clears a served request:
// two plain stores could land on either side of that clearing and lose this request.
void keltosource::requestCustomEdid(int input)
{
    if (input < 0 || input >= Inputs)
        return;
    QMutexLocker lock(&Utils::_system_mutex);
    custom_edid_written[input] = 0;
    custom_edid_req[input] = 1;
}

void keltosource::setInputResolution(int input, uint16_t width, uint16_t height, uint8_t rate)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store || input < 0 || input >= Inputs)
        return;
    uint8_t record[blk::kInputResolutionSize] = {};
    blk::put16(record, blk::kInputWidth, width);
    blk::put16(record, blk::kInputHeight, height);
    record[blk::kInputRate] = rate;
    PosixLock lock(store->mutex);
    store->setInputRecord(blk::inputResolution(uint32_t(input)), record, sizeof record);
}
