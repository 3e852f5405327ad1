#include "params/vyrrampara.h"

#include "base/posix_lock.h"
#include "base/bytes.h"
#include "params/scaler_hand_over.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

VyrRamPara* VyrRamPara::p_vyrrampara_config = nullptr;
uint8_t g_cut_source_state[30];

namespace {
std::atomic<VyrRamPara*> published{nullptr};
constexpr uint32_t kSources = 6;
constexpr uint32_t kCropsPerSource = 40;

using blk::crop::used;
uint8_t cropSource(uint16_t id) { return blk::crop::source(id); }
uint32_t cropNumber(uint16_t id) { return blk::crop::number(id); }
uint32_t cropId(uint32_t k) { return blk::cropField(k, blk::crop::kId); }
}

VyrRamPara::VyrRamPara()
{
    pthread_mutex_init(&mutex, nullptr);
    memset(block, 0, sizeof block);
    memset(shadow, 0, sizeof shadow);
    memset(mode, 0, sizeof mode);
    memset(image, 0, sizeof image);
}

VyrRamPara* VyrRamPara::pInstance()
{
    VyrRamPara* store = published.load(std::memory_order_acquire);
    if (store)
        return store;
    store = new VyrRamPara();
    p_vyrrampara_config = store;
    store->para_file_load();
    Delay::ms(100);
    g_language = store->block[blk::kLanguage];
    store->setU16(blk::kBlackScreen, 0);
    store->block[blk::kSaveModeRequest + 1] = 0;
    memset(store->block + blk::kTestPattern, 0, blk::kStartClearEnd - blk::kTestPattern);
    // The splice mode and fade times are kept as stored; only a fade the scaler cannot run starts
    // at the factory length.
    for (uint32_t w = 0; w < blk::kWindows; ++w)
        for (uint32_t f : {blk::fadeIn(w), blk::fadeOut(w)})
            if (store->u16(f) > blk::kFadeMaxSteps)
                store->setU16(f, blk::kFadeStartSteps);
    store->VyrCropSourceInit();
    memcpy(store->shadow, store->block, kBlockSize);
    for (uint32_t m = 0; m < kModeCount; ++m) {
        store->mode_file_deal(m, 0);
        Delay::us(100);
    }
    memset(store->image + regimage::kChipPresence, 0, regimage::kStatusEnd - regimage::kChipPresence);
    store->image[regimage::kChipPresence] = 0x80;
    store->image[regimage::kEdidStatus] = 0x1F;
    store->image[regimage::kClockStatus] = 0x07;
    published.store(store, std::memory_order_release);
    return store;
}

uint16_t VyrRamPara::u16(uint32_t offset) const
{
    if (offset > kBlockSize - 2) // a sum with the offset could wrap past the bound
        return 0;
    // The receiver drivers write their records at the head of the block under the store mutex.
    if (offset < blk::kInputResolutionEnd) {
        PosixLock records(const_cast<pthread_mutex_t&>(mutex));
        return getU16(block + offset);
    }
    return getU16(block + offset);
}

void VyrRamPara::copyBlock(uint8_t* out, uint32_t offset, uint32_t n)
{
    if (n == 0 || offset > kBlockSize || n > kBlockSize - offset)
        return; // a read that only passes the block takes no lock of it
    ScalerHandOver handOver;
    PosixLock records(mutex);
    memcpy(out, block + offset, n);
}

void VyrRamPara::setBytes(uint32_t offset, const uint8_t* data, uint32_t n)
{
    if (n == 0 || offset > kBlockSize || n > kBlockSize - offset)
        return;
    // A tool's recall or store this write takes away with another value: its apply is told.
    const bool requests = offset < blk::kSaveModeRequest + 2 && offset + n > blk::kCurrentMode;
    const uint16_t recall = requests && toolAsks(blk::kCurrentMode) ? u16(blk::kCurrentMode) : 0;
    const uint16_t store = requests && toolAsks(blk::kSaveModeRequest) ? u16(blk::kSaveModeRequest) : 0;
    bool bodyChanged = false;
    for (uint32_t i = std::max(offset, kModeBodyStart); i < offset + n && !bodyChanged; ++i)
        bodyChanged = unapplied_.boxByte(block, i) != data[i - offset];
    {
        std::optional<PosixLock> records;
        if (offset < blk::kInputResolutionEnd)
            records.emplace(mutex);
        memcpy(block + offset, data, n);
    }
    unapplied_.take(offset, n);
    if ((recall && !toolAsks(blk::kCurrentMode) && u16(blk::kCurrentMode) != recall)
        || (store && !toolAsks(blk::kSaveModeRequest) && u16(blk::kSaveModeRequest) != store))
        requestDropped_ = true;
    // The block no longer holds the mode in use, so a recall of that mode loads it again.
    if (bodyChanged)
        setBoxWord(blk::kCurrentMode, 0);
}

void VyrRamPara::setU16(uint32_t offset, uint16_t value)
{
    const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    setBytes(offset, bytes, 2);
}

uint16_t VyrRamPara::boxWord(uint32_t offset) const
{
    if (offset > kBlockSize - 2)
        return 0;
    if (offset < blk::kInputResolutionEnd) // the receiver drivers' records, no tool's to hold
        return u16(offset);
    return uint16_t(unapplied_.boxByte(block, offset) | unapplied_.boxByte(block, offset + 1) << 8);
}

uint16_t VyrRamPara::appliedWord(uint32_t offset)
{
    ScalerHandOver handOver;
    return boxWord(offset);
}

void VyrRamPara::setBoxWord(uint32_t offset, uint16_t value)
{
    const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    setBoxBytes(offset, bytes, 2);
}

void VyrRamPara::setBoxBytes(uint32_t offset, const uint8_t* data, uint32_t n)
{
    if (offset < kPersistStart || offset > kBlockSize || n > kBlockSize - offset)
        return;
    for (uint32_t i = offset; i < offset + n; ++i) {
        if (!unapplied_.setUnder(block, i, data[i - offset])) {
            block[i] = data[i - offset];
            unapplied_.take(i, 1);
        }
    }
}

void VyrRamPara::rawBytes(uint32_t offset, const uint8_t* data, uint32_t n)
{
    if (n == 0 || offset > kBlockSize || n > kBlockSize - offset)
        return;
    memcpy(block + offset, data, n);
}

void VyrRamPara::setInputRecord(uint32_t offset, const uint8_t* data, uint32_t n)
{
    if (offset < blk::kInputResolutionEnd && n <= blk::kInputResolutionEnd - offset)
        rawBytes(offset, data, n);
}

void VyrRamPara::applyBytes(uint32_t offset, const uint8_t* data, uint32_t n)
{
    rawBytes(offset, data, n);
}

void VyrRamPara::applyU16(uint32_t offset, uint16_t value)
{
    const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    rawBytes(offset, bytes, 2);
}

void VyrRamPara::scalerBytes(uint32_t offset, const uint8_t* data, uint32_t n)
{
    rawBytes(offset, data, n);
}

void VyrRamPara::scalerU16(uint32_t offset, uint16_t value)
{
    const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    rawBytes(offset, bytes, 2);
}

void VyrRamPara::appliedCopy(uint8_t* out)
{
    PosixLock records(mutex); // the input drivers write their records under it
    memcpy(out, block, kBlockSize);
    unapplied_.putBack(out);
}

void VyrRamPara::appliedBlock(uint8_t* out)
{
    ScalerHandOver handOver;
    appliedCopy(out);
}

bool VyrRamPara::toolBytesApplied()
{
    unapplied_.clear();
    return !std::exchange(requestDropped_, false);
}

uint32_t VyrRamPara::VyrRamParaDeal(const uint8_t* data, uint16_t length, uint32_t offset)
{
    if (offset > kBlockSize || length > kBlockSize - offset)
        return 1;
    if (length == 0)
        return 0;
    // The scaler worker compares the block under the hand-over; a raw copy must not tear its view,
    // nor cross an input driver's write of its record.
    ScalerHandOver lock;
    PosixLock records(mutex);
    unapplied_.note(block, offset, data, length); // until the tool's apply, the bytes are its own
    memcpy(block + offset, data, length);
    // A new recall or store: its apply serves it, whatever another writer dropped before.
    if (toolAsks(blk::kCurrentMode) || toolAsks(blk::kSaveModeRequest))
        requestDropped_ = false;
    return 0;
}

uint32_t VyrRamPara::VyrModeUserRamParaDeal(const uint8_t* data, uint16_t length, uint32_t address)
{
    const uint32_t m = (address >> 12) & 0xFF;
    if (m < 1 || m > kModeCount)
        return 1;
    const uint32_t offset = address & 0xFFF;
    // Same window as the block writer: nothing may run into the next record.
    if (length > kModeFileSize - offset)
        return 1;
    if (traceOn())
        printf("\n write ram_user_mode = %#x \n", m);
    if (length == 0)
        return 0;
    ScalerHandOver lock;
    std::lock_guard<std::recursive_mutex> records(records_mutex);
    tool_records_.write(m - 1, offset, data, length);
    return 0;
}

uint8_t VyrRamPara::recordByte(uint32_t m, uint32_t i)
{
    if (m >= kModeCount || i >= kModeRecordSize)
        return 0;
    std::lock_guard<std::recursive_mutex> records(records_mutex);
    return tool_records_.byte(m, i, mode[m][i]);
}

int32_t VyrRamPara::VyrGetImageSource(const uint8_t* buffer, uint8_t window, int16_t* isCrop, int8_t* cropIndex,
                                      uint8_t userMode)
{
    *isCrop = 0;
    if (window > 5)
        return 0;
    const uint32_t base = userMode ? kModeBodyStart : 0;
    const uint16_t word = getU16(buffer + blk::window(window, blk::win::kSource) - base);
    if (!(word & blk::win::kSourceCrop))
        return word & 0xFF;
    const uint8_t index = word & 0xFF;
    if (index >= kCropCount) // a damaged crop reference shows as no crop
        return 0;
    *isCrop = 1;
    *cropIndex = int8_t(index);
    return cropSource(getU16(buffer + cropId(index) - base));
}

uint32_t VyrRamPara::VyrGetSourceNum(uint8_t source, int count)
{
    if (count < 1)
        return 0;
    if (count > int(kCropCount))
        count = kCropCount;
    uint32_t n = 0;
    ScalerHandOver lock; // the protocol writes the crop table under the scaler mutex
    for (int k = 0; k < count; ++k) {
        const uint16_t id = u16(cropId(k));
        if (used(id) && cropSource(id) == source)
            ++n;
    }
    return n;
}

void VyrRamPara::VyrCropSourceInit()
{
    ScalerHandOver lock;
    rebuildCropBitmap();
}

void VyrRamPara::rebuildCropBitmap()
{
    memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    for (uint32_t k = 0; k < kCropCount; ++k) {
        const uint16_t id = u16(cropId(k));
        if (!used(id))
            continue;
        // Entries written by the protocol may name any source or number; those are not ours to mark.
        if (cropSource(id) >= kSources || cropNumber(id) > kCropsPerSource)
            continue;
        const uint32_t bit = cropSource(id) * kCropsPerSource + cropNumber(id) - 1;
        g_cut_source_state[bit / 8] |= uint8_t(1u << (bit % 8));
    }
}

uint32_t VyrRamPara::VyrGetCropID(uint8_t source, uint32_t n)
{
    if (source >= kSources || n == 0)
        return 0;
    uint32_t seen = 0;
    for (uint32_t c = 0; c < kCropsPerSource; ++c) {
        const uint32_t bit = source * kCropsPerSource + c;
        if (g_cut_source_state[bit / 8] & (1u << (bit % 8))) {
            if (++seen == n)
                return c + 1;
        }
    }
    return 0;
}

uint32_t VyrRamPara::VyrAddCropID(uint8_t source)
{
    if (source >= kSources)
        return 0;
    for (uint32_t c = 0; c < kCropsPerSource; ++c) {
        const uint32_t bit = source * kCropsPerSource + c;
        if (!(g_cut_source_state[bit / 8] & (1u << (bit % 8))))
            return c + 1;
    }
    return 0;
}

int VyrRamPara::findCropEntry(uint8_t source, uint32_t n)
{
    const uint32_t c = VyrGetCropID(source, n);
    if (c == 0)
        return -1;
    for (uint32_t k = 0; k < kCropCount; ++k) {
        const uint16_t id = u16(cropId(k));
        if (used(id) && cropSource(id) == source && cropNumber(id) == c)
            return int(k);
    }
    return -1;
}

void VyrRamPara::VyrSetImageSource(uint32_t entry, uint8_t source, uint8_t window)
{
    if (window > 5 || source >= kSources)
        return;
    ScalerHandOver handOver;
    uint16_t word = source;
    if (entry > 0) {
        const int k = findCropEntry(source, entry);
        word = k < 0 ? 0 : uint16_t(blk::win::kSourceCrop | k);
    }
    setU16(blk::window(window, blk::win::kSource), word);
    handOver.commit(1);
}

bool VyrRamPara::recallMode(uint32_t m)
{
    if (m >= kModeCount)
        return false;
    ScalerHandOver handOver;
    std::lock_guard<std::recursive_mutex> records(records_mutex);
    if (mode[m][0] != blk::kMarkerSaved || mode[m][1] != blk::kMarkerSaved)
        return false;
    setBytes(kModeBodyStart, mode[m] + 2, kModeDataSize);
    setBoxWord(blk::kCurrentMode, uint16_t(m + 1));
    setBoxWord(blk::kSaveModeRequest, 0);
    handOver.commit(1);
    return true;
}

void VyrRamPara::VyrGetCropPara(uint8_t source, uint32_t n, CROP_PARA* out, int* index)
{
    ScalerHandOver lock;
    const int k = findCropEntry(source, n);
    if (k < 0) {
        *index = int(kCropCount);
        return;
    }
    *index = k;
    out->id = u16(blk::cropField(k, blk::crop::kId));
    out->x = u16(blk::cropField(k, blk::crop::kX));
    out->y = u16(blk::cropField(k, blk::crop::kY));
    out->width = u16(blk::cropField(k, blk::crop::kWidth));
    out->height = u16(blk::cropField(k, blk::crop::kHeight));
}

void VyrRamPara::writeCropRect(uint32_t k, const CROP_PARA* in)
{
    setU16(blk::cropField(k, blk::crop::kX), uint16_t(in->x));
    setU16(blk::cropField(k, blk::crop::kY), uint16_t(in->y));
    setU16(blk::cropField(k, blk::crop::kWidth), uint16_t(in->width));
    setU16(blk::cropField(k, blk::crop::kHeight), uint16_t(in->height));
}

void VyrRamPara::VyrSetCropPara(uint8_t source, uint32_t n, const CROP_PARA* in)
{
    // Handed over like adding and deleting, so the edited rectangle reaches the chip at once.
    ScalerHandOver handOver;
    const int k = findCropEntry(source, n);
    if (k < 0)
        return;
    writeCropRect(k, in);
    handOver.commit(1);
}

int32_t VyrRamPara::VyrAddNewCrop(uint8_t source, const CROP_PARA* in)
{
    if (source >= kSources)
        return -1;
    // One hold of the scaler mutex: the table may have been rewritten by the protocol since the
    // bitmap was built, and must not change between the search and the write.
    ScalerHandOver handOver;
    rebuildCropBitmap();
    const uint32_t c = VyrAddCropID(source);
    int free = -1;
    for (uint32_t k = 0; k < kCropCount && free < 0; ++k) {
        if (!used(u16(cropId(k))))
            free = int(k);
    }
    if (free < 0 || c == 0)
        return int32_t(c);
    setU16(cropId(free), blk::crop::idWord(source, c));
    writeCropRect(free, in);
    handOver.commit(1);
    rebuildCropBitmap();
    return 0;
}

void VyrRamPara::VyrDeleteCrop(uint8_t source, uint32_t n)
{
    ScalerHandOver handOver;
    const int k = findCropEntry(source, n);
    if (k < 0)
        return;
    setU16(cropId(k), 0);
    // A window showing the crop goes back to the crop's whole input in the same hand-over.
    for (uint32_t w = 0; w < blk::kWindows; ++w)
        if (u16(blk::window(w, blk::win::kSource)) == (blk::win::kSourceCrop | uint32_t(k)))
            setU16(blk::window(w, blk::win::kSource), source);
    handOver.commit(1);
    rebuildCropBitmap();
}

void VyrRamPara::VyrSetEDIDPara(uint8_t input, int16_t width, int16_t height, int16_t rate)
{
    if (input >= kSources)
        return;
    ScalerHandOver handOver;
    setU16(blk::edidWidth(input), uint16_t(width));
    setU16(blk::edidHeight(input), uint16_t(height));
    setU16(blk::edidRate(input), uint16_t(rate));
    handOver.commit(1);
}

uint32_t VyrRamPara::VyrLanguageChanged()
{
    ScalerHandOver lock; // the protocol writes the block and the save slot the shadow under it
    if (u16(blk::kLanguage) == blk::get16(shadow, blk::kLanguage))
        return 0;
    g_language = block[blk::kLanguage];
    return 1;
}

int32_t VyrRamPara::VyrUserModeSaved(uint32_t m)
{
    if (m >= kModeCount)
        return 0;
    std::lock_guard<std::recursive_mutex> records(records_mutex);
    return mode[m][0] == blk::kMarkerSaved && mode[m][1] == blk::kMarkerSaved;
}

int32_t VyrRamPara::VyrUserModeIndex(uint32_t current, uint32_t direction)
{
    auto firstUp = [this](uint32_t from, uint32_t to) -> int32_t { // from..to inclusive, ascending
        for (uint32_t m = from; m <= to && m < kModeCount; ++m)
            if (VyrUserModeSaved(m))
                return int32_t(m);
        return -1;
    };
    auto firstDown = [this](int32_t from, int32_t to) -> int32_t { // from..to inclusive, descending
        for (int32_t m = from; m >= to; --m)
            if (m < int32_t(kModeCount) && VyrUserModeSaved(uint32_t(m)))
                return m;
        return -1;
    };
    int32_t found = -1;
    switch (direction) {
    case 2: // this or next
        if (current > 16)
            return 256;
        if (current == 16)
            found = firstUp(0, 15);
        else if (VyrUserModeSaved(current))
            found = int32_t(current);
        else if ((found = firstUp(current + 1, 15)) < 0)
            found = firstUp(0, current);
        break;
    case 1: // next
        if (current > 15)
            return 256;
        if ((found = firstUp(current + 1, 15)) < 0)
            found = firstUp(0, current);
        break;
    case 0: // previous
        if (current == 0) {
            found = firstDown(15, 0);
        } else {
            found = firstDown(int32_t(current) - 1, 0);
            if (found < 0 && current <= 15)
                found = firstDown(15, int32_t(current));
        }
        break;
    default:
        return 256;
    }
    return found < 0 ? 256 : found;
}

uint32_t VyrRamPara::VyrGetCurrentModeIndex()
{
    ScalerHandOver lock;
    // Not a recall a tool wrote and did not apply: the block does not hold that mode yet.
    const uint8_t current = uint8_t(boxWord(blk::kCurrentMode));
    return current <= kModeCount ? current : 0;
}

int VyrRamPara::test_signal(int code)
{
    // On the GUI thread the slot runs directly: holding the mutex across it would block every worker
    // (and deadlock a second call from a nested pop-up loop). Elsewhere the emission only queues.
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        Q_EMIT sig_update_para(code);
    } else {
        QMutexLocker locker(&Utils::_test_signal_mutex);
        Q_EMIT sig_update_para(code);
    }
    return 1;
}

void VyrRamPara::ram_para_save()
{
    test_signal(1);
}
