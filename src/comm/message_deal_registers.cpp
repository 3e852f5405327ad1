// Register commands (groups 0xA0, 0xA1) and the actions of controller register writes.
// The control port has no authentication: anyone who reaches it can reboot the box (161 bit 0)
// or restore the factory defaults (16); the PC tools rely on that.
#include "comm/message_deal.h"

#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "base/posix_lock.h"
#include "video_chips/keltosource.h"
#include "base/utils.h"
#include "params/vyrrampara.h"
#include "base/logMsg.h"

#include <QMutexLocker>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

constexpr uint32_t kRegisters = 170;
constexpr uint32_t kWindows = blk::kScalerWindows;

// User-mode stores an apply took, from its hand-over until their files are written: an apply is
// answered only once none is left, so a tool whose store another tool's apply served hears of it
// once the file is there.
struct StoresInFlight {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};
StoresInFlight& storesInFlight()
{
    static auto* s = new StoresInFlight;
    return *s;
}

void storeTaken()
{
    std::lock_guard<std::mutex> lock(storesInFlight().mutex);
    ++storesInFlight().count;
}

void storeFiled()
{
    {
        std::lock_guard<std::mutex> lock(storesInFlight().mutex);
        --storesInFlight().count;
    }
    storesInFlight().ended.notify_all();
}

bool storesServed(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(storesInFlight().mutex);
    return storesInFlight().ended.wait_until(lock, deadline, [] { return storesInFlight().count == 0; });
}

}

uint32_t message_deal::write_register(MessageFrame& f)
{
    if (f.length < 14) // register, mask, spare, value
        return f.status(1);
    const uint8_t g = f.at(10), m = f.at(11), v = f.at(13);
    if (g >= kRegisters)
        return f.status(1);
    if (!f.toController()) {
        fpga_manage* fpga = fpga_manage::p_fpga_manage;
        if (!fpga)
            return f.status(1);
        // Held in reset the FPGA drops the write and comes back with its own values; the
        // program's registers 64-96 are still taken.
        const int which = f.registerFpga();
        if (fpga->heldInReset(which) && !(g >= 64 && g <= 96))
            return f.status(1);
        return f.status(fpga->write_to_register(g, m, v, which) == 0 ? 0 : 1);
    }
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return f.status(1);
    switch (g) {
    case 12:
    case 13:
        return f.status(0);
    case 160: // special registers live in the image bytes of registers 32-36
        __atomic_store_n(&store->image[regimage::kInputReinit], uint8_t(m & v), __ATOMIC_RELAXED);
        return f.status(0);
    case 161:
        return f.status(blockWriteStatus(true, RegAction161(m & v)));
    case 162:
    case 163:
    case 164:
    case 165: {
        ScalerHandOver handOver;
        if (g == 162)
            store->image[regimage::kScalerDiag] = m & v;
        else if (g == 163)
            store->image[regimage::kDumpParam] = uint8_t(v + 1);
        else if (g == 164)
            store->image[regimage::kDumpGroup] = m & v;
        else
            store->image[regimage::kSyncTest] = m & v;
        handOver.commit(1);
        return f.status(0);
    }
    default:
        break;
    }
    // One atomic exchange: the input thread takes request bytes (register 0) atomically, and a
    // plain read-modify-write could put back a request it has just taken.
    uint8_t old = __atomic_load_n(&store->image[g], __ATOMIC_RELAXED);
    while (!__atomic_compare_exchange_n(&store->image[g], &old, uint8_t((v & m) | (old & ~m)), false,
                                        __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
    }
    // Register 14's check start may take its whole time limit, and an apply waits for the scaler's
    // pass: off the transport's thread, so that the other tools are served meanwhile.
    if (g == 14 && (m & 0x01) && f.slow) {
        *f.slow = [m] { return uint8_t(message_deal().reg_cmd_run(14, m)); };
        return kSlow;
    }
    if (g == 11 && (m & 0x02) && f.slow) {
        *f.slow = register11(m);
        return kSlow;
    }
    return f.status(uint8_t(reg_cmd_run(g, m)));
}

uint32_t message_deal::read_register(MessageFrame& f)
{
    if (!f.fits(2))
        return 0;
    if (f.length < 11)
        return f.status(1, 2);
    const uint8_t g = f.at(10);
    const uint8_t echoed = f.at(11);
    if (g >= kRegisters) {
        f.body[11] = 1; // byte 10 keeps the register number
        return 2;
    }
    f.status(0, 2);
    if (!f.toController()) {
        fpga_manage* fpga = fpga_manage::p_fpga_manage;
        const int which = f.registerFpga();
        // An FPGA that is not fitted, or a register it did not answer, reads back nothing.
        const bool programOnly = g >= 64 && g <= 127;
        if (!fpga || !fpga->fitted(which) || (!programOnly && fpga->read_from_register(g, which) != 0))
            return f.status(1, 2);
        PosixLock cache(fpga->reg_mutex);
        f.body[11] = fpga->MCU_REG_func[which][g];
    } else if (g == 4 || g == 6) {
        f.body[11] = echoed;
    }
    return 2;
}

int message_deal::reg_cmd_run(uint8_t reg, uint8_t bits)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    switch (reg) {
    case 4:
    case 5:
        return 0;
    case 9:
        upgradeFlagFromRegister(store && store->image[9] > 15);
        return 0;
    case 10:
        upgradeFlagFromRegister(store && (store->image[10] & 0x7F) != 0);
        return 0;
    case 11:
        return register11(bits)();
    case 14:
        return RegUpdate0E(bits);
    case 16:
        return blockWriteStatus(true, RegUpdate10(bits));
    case 17:
        RegUpdate11(bits);
        return 0;
    default:
        return 1;
    }
}

message_deal::SlowWork message_deal::register11(uint8_t bits)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    // The replaced records are the box's, and in their files, before the answer (the tool hears of
    // one the next start would not load as it wrote it) and before a recall of the same write.
    bool done = !(bits & 0x04) || !store || store->saveReplacedModes();
    std::shared_ptr<ScalerHandOver::Verdict> verdict;
    // Before the scaler's bring-up has set the chip up from the stored block, the apply waits for
    // it in its work: handed over now, its bytes would be taken as stored ones, judged by no pass.
    const bool waitsForScaler = (bits & 0x02) && !ScalerHandOver::awaitRunning(std::chrono::steady_clock::now());
    if ((bits & 0x02) && !waitsForScaler && !applyParameterBlock(&verdict))
        done = false;
    if (bits & 0x04) {
        ScalerHandOver handOver;
        handOver.commit(2);
    }
    if ((bits & 0x08) && store) {
        ScalerHandOver handOver;
        if (store->u16(blk::kOsdMenu) == 1) {
            g_osd_update = 1;
            handOver.commit(1);
        }
    }
    if (!(bits & 0x02))
        return [done] { return blockWriteStatus(done, false); };
    // Answered once the scaler's pass has judged the tool's bytes and the block it left is on file:
    // 0 only for what the wall shows and the next start loads.
    return [done, verdict, store, waitsForScaler]() mutable {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kApplyLimitMs);
        if (waitsForScaler) {
            if (!ScalerHandOver::awaitRunning(deadline)) {
                writeLogMsg(LOG_WARNING, "apply: the scaler was not up in time, nothing applied");
                return uint8_t(1);
            }
            if (!message_deal().applyParameterBlock(&verdict))
                done = false;
        }
        bool refused = false;
        if (verdict && !ScalerHandOver::awaitVerdict(*verdict, deadline, &refused)) {
            writeLogMsg(LOG_WARNING, "apply: the scaler's pass did not judge it in time");
            return uint8_t(1);
        }
        if (!storesServed(deadline))
            return uint8_t(1);
        const bool saved = !store || store->saveApplied();
        return uint8_t(done && !refused && saved ? 0 : 1);
    };
}

bool message_deal::applyParameterBlock(std::shared_ptr<ScalerHandOver::Verdict>* verdict)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return true;
    bool done = true;
    int storeAsked = -1;
    uint8_t body[kModeDataSize];
    bool copyMenu = false;
    uint16_t current = 0; // the mode in use as this apply leaves it
    {
        ScalerHandOver handOver;
        // The apply takes the tool's bytes as they are: it writes the block raw. The mode in use
        // stays while the mode body does not change, and is the tool's recall once it loads.
        const uint8_t* b = store->view();
        uint8_t before[kBlockSize]; // the screen the box runs, before the tool's bytes or recall
        store->appliedCopy(before);
        // The tool's recall or store is its own write of the two words, whatever value the box held
        // there: a store that set the current mode, or another writer's refresh, is no recall.
        const uint16_t L = store->u16(blk::kCurrentMode);
        const bool recall = store->toolWrote(blk::kCurrentMode);
        const uint16_t request = store->u16(blk::kSaveModeRequest);
        const bool storing = store->toolAsks(blk::kSaveModeRequest);
        current = recall ? 0 : store->boxWord(blk::kCurrentMode);
        if (recall && L != 0) {
            bool loaded = false;
            // The word is anybody's to write; only 1-16 name a record.
            if (L <= kModeCount) {
                std::lock_guard<std::recursive_mutex> records(store->records_mutex);
                const uint8_t* record = store->mode[L - 1];
                loaded = record[0] == blk::kMarkerSaved && record[1] == blk::kMarkerSaved;
                if (loaded)
                    store->applyBytes(kModeBodyStart, record + 2, kModeDataSize);
            }
            // Nothing recalled: no mode is in use, and the tool is told.
            current = loaded ? L : 0;
            done = loaded;
        }

        const uint16_t audio = store->u16(blk::kAudioWindow);
        if (audio >= kWindows || store->u16(blk::window(audio, blk::win::kState)) == 0)
            store->applyU16(blk::kAudioWindow, 0);

        if (c331_manage::takesNewScreen(b, store->shadow, before)) {
            if (L >= 2 && !recall) {
                store->applyU16(blk::window(0, blk::win::kX), 0);
                store->applyU16(blk::window(0, blk::win::kY), 0);
                store->applyU16(blk::window(0, blk::win::kWidth), store->u16(blk::kLedWidth));
                store->applyU16(blk::window(0, blk::win::kHeight), store->u16(blk::kLedHeight));
                for (uint32_t w = 1; w < kWindows; ++w)
                    store->applyU16(blk::window(w, blk::win::kState), 0);
            }
            for (uint32_t w = 0; w < kWindows; ++w) {
                const uint32_t src = blk::window(w, blk::win::kSource);
                const uint16_t word = store->u16(src);
                if (!(word & blk::win::kSourceCrop))
                    continue;
                // Any low byte stays inside the block: 0x5C0 + 10 * 255 < 4096.
                const uint8_t input = b[blk::cropEntry(word & 0xFF)] & 0x0F;
                store->applyU16(src, input);
            }
            fpga_manage::requestLedParameterStep();
            store->applyU16(blk::kAudioWindow, 0);
        }

        const uint8_t effect = uint8_t(store->u16(blk::kSwitchEffect) << 2);
        for (uint32_t w = 0; w < kWindows; ++w) {
            const uint32_t output = blk::window(w, blk::win::kOutput);
            const uint8_t flags = uint8_t((b[output] & ~0x0C) | effect);
            store->applyBytes(output, &flags, 1);
        }

        if (!recall && memcmp(b + kModeBodyStart, before + kModeBodyStart, kModeDataSize) != 0)
            current = 0;
        // A store is of the block as this apply leaves it; it is served before the answer, so the
        // tool's next request cannot overwrite it.
        if (storing && request <= kModeCount) {
            storeAsked = request - 1;
            storeTaken();
            memcpy(body, b + kModeBodyStart, kModeDataSize);
            copyMenu = store->u16(blk::kOsdMenu) == 1;
        } else if (storing) {
            done = false;
        }
        store->applyU16(blk::kCurrentMode, current);
        store->applyU16(blk::kSaveModeRequest, 0);
        // A recall or store another writer overwrote before this apply is answered as not served.
        if (!store->toolBytesApplied())
            done = false;
        *verdict = handOver.commitWatched(before, b);
    }
    if (storeAsked >= 0 && !store->storeMode(uint32_t(storeAsked), body, copyMenu, current, storeFiled))
        done = false;
    return done;
}

bool message_deal::RegUpdate10(uint8_t bits)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return false;
    // Default image byte 2 + i holds block byte 0x300 + i.
    auto restore = [store](uint32_t from, uint32_t to) {
        store->setBytes(from, default_para_ramlist + 2 + (from - kPersistStart), to - from);
    };
    if (bits & 0x01) {
        ScalerHandOver handOver;
        uint8_t before[kBlockSize];
        store->appliedCopy(before);
        restore(kPersistStart, blk::kEdidTiming);
        restore(blk::kEdidAreaEnd, kBlockSize);
        if (c331_manage::takesNewScreen(store->view(), store->shadow, before)) {
            fpga_manage::requestLedParameterStep();
            store->setU16(blk::kAudioWindow, 0);
        }
        handOver.commit(1);
    }
    if (bits & 0x02) {
        ScalerHandOver handOver;
        restore(blk::kEdidTiming, blk::kEdidAreaEnd);
        handOver.commit(1);
    }
    if (bits & 0x10) {
        ScalerHandOver handOver;
        restore(blk::kBrightness, blk::kPictureEnd);
        handOver.commit(1);
    }
    return bits & 0x13;
}

void message_deal::RegUpdate11(uint8_t bits)
{
    if ((bits & 0x01) && keltosource::p_kelto_source)
        keltosource::p_kelto_source->sdi_reset_req = 1;
}

bool message_deal::RegAction161(uint8_t bits)
{
    if (bits & 0x01) {
        // The 10 ms tick reboots 300 ticks after the stamp.
        G_reboot_tickTicks = G_timeTicks.load();
        g_app_reset_flag = 1;
    }
    if ((bits & 0x02) && c331_manage::p_c331_manage)
        c331_manage::p_c331_manage->c331_print();

    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return false;
    ScalerHandOver handOver;
    const uint32_t fOff = blk::window(0, blk::win::kOutput), pOff = blk::window(0, blk::win::kDotByDot);
    // From what the box applied: a tool's unapplied write there neither steers this nor is taken.
    const uint16_t F = store->boxWord(fOff), P = store->boxWord(pOff);
    uint16_t newF = F & ~blk::win::kOutDotByDot, newP = P;
    if (!(bits & 0x04)) {
        const int stitching = (bits & 0x08) ? 0 : (bits & 0x10) ? 8 : (bits & 0x20) ? 9 : -1;
        if (stitching >= 0) {
            newP = uint16_t(stitching);
            newF = F | blk::win::kOutDotByDot;
        }
    }
    if (newF == F && newP == P)
        return false;
    store->setU16(fOff, newF);
    store->setU16(pOff, newP);
    handOver.commit(1);
    return true;
}
