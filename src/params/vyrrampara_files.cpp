// The parameter file "/data/ram_device_info" and the user-mode files under "/data/modes".
#include "params/vyrrampara.h"

#include "base/atomic_file.h"
#include "base/bytes.h"
#include "params/scaler_hand_over.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/race_pause.h"
#include "base/utils.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

const char* const VyrRamPara::kParaFilePath = "/data/ram_device_info";
const char* const VyrRamPara::kMenuFilePath = "/data/configs/omenu.json";

namespace {

constexpr uint32_t kParaFileSize = 4096;
constexpr uint32_t kMenuFlagInRecord = blk::inRecord(blk::kOsdMenu); // the record's copy of the menu flag

QString resolved(const QString& path)
{
    return QString::fromStdString(platform::Paths::resolve(path.toStdString()));
}

QByteArray readWhole(const QString& path, bool* opened)
{
    QFile f(resolved(path));
    *opened = f.open(QIODevice::ReadOnly);
    return *opened ? f.read(kParaFileSize) : QByteArray();
}

QByteArray paraFileImage(const uint8_t* block)
{
    QByteArray image(reinterpret_cast<const char*>(default_para_ramlist), kParaFileSize);
    memcpy(image.data() + 2, block + kPersistStart, kPersistSize);
    return image;
}

void log(int level, const QString& text)
{
    writeLogMsg(level, text.toStdString());
}

}

QString VyrRamPara::modeFilePath(uint32_t m)
{
    return QStringLiteral("/data/modes/custom_mode%1").arg(m + 1);
}

QString VyrRamPara::modeMenuFilePath(uint32_t m)
{
    return QStringLiteral("/data/modes/MO%1.json").arg(m + 1, 2, 16, QLatin1Char('0'));
}

bool VyrRamPara::writeParaFile(const QByteArray& image)
{
    const bool written = writeFileAtomically(kParaFilePath, image);
    save_failing_ = !written;
    return written;
}

bool VyrRamPara::settingsSavable() const
{
    if (save_failing_.load())
        return false;
    const std::string file = platform::Paths::resolve(kParaFilePath);
    const std::string folder = file.substr(0, file.rfind('/'));
    struct stat st;
    if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return false;
    struct statvfs fs;
    if (::access(folder.c_str(), W_OK) != 0 || ::statvfs(folder.c_str(), &fs) != 0)
        return false;
    // The box runs as root, which may use the blocks kept back from other users.
    const uint64_t room = uint64_t(::geteuid() == 0 ? fs.f_bfree : fs.f_bavail) * fs.f_frsize;
    return room >= kParaFileSize;
}

bool VyrRamPara::para_file_create()
{
    const QByteArray image(reinterpret_cast<const char*>(default_para_ramlist), kParaFileSize);
    const bool written = writeParaFile(image);
    if (!written)
        log(LOG_ERROR, QStringLiteral("cannot create %1").arg(kParaFilePath));
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    return written;
}

void VyrRamPara::para_file_load()
{
    // Nobody else creates the data folders; without them every save fails.
    for (const char* dir : {"/data", "/data/modes", "/data/configs"}) {
        QDir().mkpath(resolved(dir));
        // A writer killed before its rename leaves its temporary file; the target itself is whole.
        if (const int removed = removeAtomicLeftovers(dir))
            log(LOG_WARNING, QStringLiteral("removed %1 unfinished file(s) in %2").arg(removed).arg(dir));
    }

    const char* path = kParaFilePath;
    bool opened = false;
    QByteArray contents;
    if (!QFile::exists(resolved(path))) {
        if (traceOn())
            printf("\n %s file un exist \n", path);
    } else {
        if (traceOn())
            printf("\n %s file exist \n", path);
        contents = readWhole(path, &opened);
        if (!opened)
            Delay::ms(100);
    }

    if (opened && contents.size() >= 2 && uint8_t(contents[0]) == blk::kMarkerSaved && uint8_t(contents[1]) == blk::kMarkerSaved) {
        // A short file keeps its bytes; the rest come from the defaults, never zeros.
        memcpy(block + kPersistStart, default_para_ramlist + 2, kPersistSize);
        const uint32_t have = std::min<uint32_t>(uint32_t(contents.size()) - 2, kPersistSize);
        memcpy(block + kPersistStart, contents.constData() + 2, have);
        if (have < kPersistSize)
            log(LOG_WARNING, QStringLiteral("%1 is short (%2 bytes), the rest are defaults").arg(path).arg(contents.size()));
        return;
    }
    if (opened) {
        const uint8_t b0 = contents.size() > 0 ? uint8_t(contents[0]) : 0;
        const uint8_t b1 = contents.size() > 1 ? uint8_t(contents[1]) : 0;
        if (traceOn())
            printf("\n ram_valid = %#x,%#x \n", b0, b1);
        log(LOG_ERROR, QStringLiteral("%1 has wrong markers, the defaults replace it").arg(path));
        QFile::remove(resolved(path));
        if (traceOn())
            printf("\n delete %s ,use the default para\n", path);
        Delay::ms(100);
    }
    para_file_create();
    // Loaded from the program's own defaults, so a file that cannot be written still gives them.
    memcpy(block + kPersistStart, default_para_ramlist + 2, kPersistSize);
}

bool VyrRamPara::para_file_save(const uint8_t* snapshot)
{
    QMutexLocker locker(&Utils::_file_deal_mutex);
    const bool written = writeParaFile(paraFileImage(snapshot));
    if (!written)
        log(LOG_ERROR, QStringLiteral("cannot save %1").arg(kParaFilePath));
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    return written;
}

bool VyrRamPara::saveApplied(uint8_t* snapshot)
{
    std::lock_guard<std::mutex> saving(save_mutex_);
    // The copy is taken under the hand-over lock: a change handed over after it is not in it, and
    // a copy taken while a change is still pending never becomes the shadow, so the shadow never
    // claims more than was applied and saved.
    uint8_t copy[kBlockSize];
    bool pending = false;
    {
        ScalerHandOver handOver;
        pending = handOver.pending();
        // A tool's bytes wait for its own apply: saving them would make them the box's (a recall
        // written and not applied would be dropped).
        appliedCopy(copy);
    }
    if (snapshot)
        memcpy(snapshot, copy, kBlockSize);
    // While the file cannot be written, whatever the block holds is unsaved.
    if (!saveFailing() && memcmp(copy + kPersistStart, shadow + kPersistStart, kPersistSize) == 0)
        return true;
    if (traceOn())
        printf("\n ram_para diffrent !");
    if (!para_file_save(copy))
        return false; // the shadow stays behind, so the next save writes again
    if (pending)
        return true;
    ScalerHandOver handOver;
    memcpy(shadow, copy, kBlockSize);
    return true;
}

bool VyrRamPara::writeModeRecord(uint32_t m, const uint8_t* from, uint32_t n, bool copyMenu)
{
    // The record is copied under the file mutex, so two writers of one mode (a store and the
    // rewrite after a bulk replacement) leave the file and the record alike; it is copied under
    // its own lock and written outside it, so a protocol write into the records never waits for
    // the file, the sync and the pause.
    QMutexLocker locker(&Utils::_file_deal_mutex);
    uint8_t record[kModeRecordSize];
    {
        std::lock_guard<std::recursive_mutex> records(records_mutex);
        memcpy(record, mode[m], kModeRecordSize);
    }
    if (n != 0)
        memcpy(record + 2, from, n);
    record[0] = blk::kMarkerSaved;
    record[1] = blk::kMarkerSaved;

    const QByteArray contents(reinterpret_cast<const char*>(record), kModeFileSize);
    if (!writeFileAtomically(modeFilePath(m), contents)) {
        log(LOG_ERROR, QStringLiteral("cannot write %1").arg(modeFilePath(m)));
        return false;
    }
    {
        std::lock_guard<std::recursive_mutex> records(records_mutex);
        if (n != 0)
            memcpy(mode[m] + 2, from, n);
        mode[m][0] = blk::kMarkerSaved;
        mode[m][1] = blk::kMarkerSaved;
    }
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    if (copyMenu && traceOn())
        printf("\n cp  /data/configs/omenu.json %s \n", modeMenuFilePath(m).toLatin1().constData());
    if (copyMenu)
        copyMenuFile(m);
    locker.unlock();
    Utils::system_plain(QStringLiteral("sync"));
    Delay::us(100);
    return true;
}

bool VyrRamPara::storeMode(uint32_t m, const uint8_t* body, bool copyMenu, uint16_t current,
                           const std::function<void()>& filed)
{
    const bool written = m < kModeCount && writeModeRecord(m, body, kModeDataSize, copyMenu);
    if (filed)
        filed();
    if (!written)
        return false;
    RacePause::at(RacePause::StoreModeWord);
    {
        ScalerHandOver handOver;
        // Another writer's recall or change since the copy is what the wall shows: it is not this
        // mode. A recall a tool has written meanwhile is the tool's: its apply serves it.
        uint8_t now[kBlockSize];
        appliedCopy(now);
        if (blk::get16(now, blk::kCurrentMode) == current &&
            memcmp(now + kModeBodyStart, body, kModeDataSize) == 0) {
            setBoxWord(blk::kCurrentMode, uint16_t(m + 1));
            handOver.commit(1);
        }
    }
    if (traceOn())
        printf("\n user mode save change ,%#x \n", blk::kMarkerSaved);
    return true;
}

bool VyrRamPara::storeMode(uint32_t m)
{
    uint8_t copy[kBlockSize];
    appliedBlock(copy); // bytes a tool has written wait for its own apply, as for the file
    return storeMode(m, copy + kModeBodyStart, blk::get16(copy, blk::kOsdMenu) == 1, blk::get16(copy, blk::kCurrentMode));
}

bool VyrRamPara::saveReplacedModes()
{
    ToolRecords written;
    {
        std::lock_guard<std::recursive_mutex> records(records_mutex);
        std::swap(written, tool_records_);
    }
    bool done = true;
    for (uint32_t m = 0; m < kModeCount; ++m) {
        if (!written.written(m))
            continue;
        uint8_t record[kModeRecordSize];
        {
            std::lock_guard<std::recursive_mutex> records(records_mutex);
            memcpy(record, mode[m], kModeRecordSize);
        }
        written.overlay(m, record);
        const uint8_t a = record[0], b = record[1];
        if (a == blk::kMarkerEmpty || b == blk::kMarkerEmpty) {
            // A file the deletion left is loaded back: the mode is still there.
            if (mode_file_deal(m, 1) != 0)
                done = false;
        } else if ((a == blk::kMarkerSaved || b == blk::kMarkerSaved) &&
                   !writeModeRecord(m, record + 2, kModeRecordSize - 2, false)) {
            done = false; // the box keeps the record its file holds
        }
    }
    return done;
}

void VyrRamPara::copyMenuFile(uint32_t m)
{
    // Under the file mutex (held by the caller), so a menu upload in progress is never copied
    // half-written, and through the atomic writer, so a kill leaves the old copy or the new one.
    QFile menu(resolved(kMenuFilePath));
    if (!menu.open(QIODevice::ReadOnly)) {
        log(LOG_WARNING, QStringLiteral("no %1 to keep with user mode %2").arg(kMenuFilePath).arg(m + 1));
        return;
    }
    const QByteArray contents = menu.readAll();
    if (!writeFileAtomically(modeMenuFilePath(m), contents))
        log(LOG_ERROR, QStringLiteral("cannot write %1").arg(modeMenuFilePath(m)));
}

uint32_t VyrRamPara::mode_file_deal(uint32_t m, uint32_t operation)
{
    if (m >= kModeCount)
        return 0;
    if (operation == 1) {
        bool menuCopy = false;
        {
            std::lock_guard<std::recursive_mutex> records(records_mutex);
            menuCopy = getU16(mode[m] + kMenuFlagInRecord) == 1;
            if (menuCopy)
                putU16(mode[m] + kMenuFlagInRecord, 0);
        }
        Utils::system_plain(QStringLiteral("rm  -rf  ") + modeFilePath(m));
        Delay::us(100);
        if (menuCopy)
            Utils::system_plain(QStringLiteral("rm  -rf  ") + modeMenuFilePath(m));
        Delay::us(100);
        Utils::system_plain(QStringLiteral("sync"));
        Delay::us(100);
    }

    bool opened = false;
    QByteArray contents;
    {
        QMutexLocker locker(&Utils::_file_deal_mutex);
        contents = readWhole(modeFilePath(m), &opened);
        if (opened) {
            Utils::system_plain(QStringLiteral("sync"));
            Delay::ms(100);
        }
    }
    std::lock_guard<std::recursive_mutex> records(records_mutex);
    if (opened) {
        // Only a whole record with its markers counts as a saved mode.
        if (contents.size() == int(kModeFileSize) && uint8_t(contents[0]) == blk::kMarkerSaved
            && uint8_t(contents[1]) == blk::kMarkerSaved) {
            memcpy(mode[m], contents.constData(), kModeFileSize);
            return 1;
        }
        log(LOG_ERROR, QStringLiteral("%1 is damaged (%2 bytes), mode marked empty").arg(modeFilePath(m)).arg(contents.size()));
    }
    mode[m][0] = blk::kMarkerEmpty;
    mode[m][1] = blk::kMarkerEmpty;
    return 0;
}
