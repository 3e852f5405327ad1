// The parameter file "/data/ram_device_info" and the user-mode files under "/data/modes".
#include "params/vyrrampara.h"

#include "base/atomic_file.h"
#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <cstdio>
#include <cstring>

const char* const VyrRamPara::kParaFilePath = "/data/ram_device_info";

namespace {

constexpr uint32_t kParaFileSize = 4096;
constexpr uint32_t kMenuFlagInBody = 0x84C - kModeBodyStart; // the record's copy of block 0x84C

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

bool VyrRamPara::para_file_create()
{
    const QByteArray image(reinterpret_cast<const char*>(default_para_ramlist), kParaFileSize);
    const bool written = writeFileAtomically(kParaFilePath, image);
    if (!written)
        log(LOG_ERROR, QStringLiteral("cannot create %1").arg(kParaFilePath));
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    return written;
}

void VyrRamPara::para_file_load()
{
    // Nobody else creates the data folders; without them every save fails.
    for (const char* dir : {"/data", "/data/modes", "/data/configs"})
        QDir().mkpath(resolved(dir));

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

    if (opened && contents.size() >= 2 && uint8_t(contents[0]) == 0xAA && uint8_t(contents[1]) == 0xAA) {
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

bool VyrRamPara::para_file_save()
{
    QMutexLocker locker(&Utils::_file_deal_mutex);
    const bool written = writeFileAtomically(kParaFilePath, paraFileImage(block));
    if (!written)
        log(LOG_ERROR, QStringLiteral("cannot save %1").arg(kParaFilePath));
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    return written;
}

void VyrRamPara::ram_para_reset()
{
    {
        QMutexLocker locker(&Utils::_file_deal_mutex);
        if (traceOn())
            printf("\n ready to write default para ramlist ");
        const QByteArray image(reinterpret_cast<const char*>(default_para_ramlist), kParaFileSize);
        if (!writeFileAtomically(kParaFilePath, image))
            log(LOG_ERROR, QStringLiteral("cannot reset %1").arg(kParaFilePath));
        Utils::system_plain(QStringLiteral("sync"));
        Delay::ms(100);
    }
    ScalerHandOver lock;
    memcpy(block + kPersistStart, default_para_ramlist + 2, kPersistSize);
    memcpy(shadow, block, kBlockSize);
}

uint32_t VyrRamPara::mode_file_write(uint32_t m, uint32_t kind)
{
    if (m >= kModeCount)
        return 0;
    std::lock_guard<std::recursive_mutex> records(records_mutex);
    QMutexLocker locker(&Utils::_file_deal_mutex);
    uint8_t record[kModeRecordSize];
    memcpy(record, mode[m], kModeRecordSize);
    if (kind == 1)
        memcpy(record + 2, block + kModeBodyStart, kModeDataSize);
    record[0] = 0xAA;
    record[1] = 0xAA;
    const QByteArray contents(reinterpret_cast<const char*>(record), kModeFileSize);
    if (!writeFileAtomically(modeFilePath(m), contents)) {
        log(LOG_ERROR, QStringLiteral("cannot write %1").arg(modeFilePath(m)));
        return 0;
    }
    memcpy(mode[m], record, kModeRecordSize);
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    if (kind == 0) {
        // Under the file mutex, so a menu upload in progress is never copied half-written.
        const QString command = QStringLiteral("cp  /data/configs/omenu.json ") + modeMenuFilePath(m);
        if (traceOn())
            printf("\n %s \n", command.toLatin1().constData());
        if (u16(0x84C) == 1)
            Utils::system_plain(command);
    }
    locker.unlock();
    Utils::system_plain(QStringLiteral("sync"));
    Delay::us(100);
    return 1;
}

uint32_t VyrRamPara::mode_file_deal(uint32_t m, uint32_t operation)
{
    if (m >= kModeCount)
        return 0;
    std::lock_guard<std::recursive_mutex> records(records_mutex);
    if (operation == 1) {
        Utils::system_plain(QStringLiteral("rm  -rf  ") + modeFilePath(m));
        Delay::us(100);
        if (getU16(mode[m] + 2 + kMenuFlagInBody) == 1) {
            Utils::system_plain(QStringLiteral("rm  -rf  ") + modeMenuFilePath(m));
            putU16(mode[m] + 2 + kMenuFlagInBody, 0);
        }
        Delay::us(100);
        Utils::system_plain(QStringLiteral("sync"));
        Delay::us(100);
    }

    QMutexLocker locker(&Utils::_file_deal_mutex);
    bool opened = false;
    const QByteArray contents = readWhole(modeFilePath(m), &opened);
    if (opened) {
        Utils::system_plain(QStringLiteral("sync"));
        Delay::ms(100);
        // Only a whole record with its markers counts as a saved mode.
        if (contents.size() == int(kModeFileSize) && uint8_t(contents[0]) == 0xAA && uint8_t(contents[1]) == 0xAA) {
            memcpy(mode[m], contents.constData(), kModeFileSize);
            return 1;
        }
        log(LOG_ERROR, QStringLiteral("%1 is damaged (%2 bytes), mode marked empty").arg(modeFilePath(m)).arg(contents.size()));
    }
    mode[m][0] = 0xFF;
    mode[m][1] = 0xFF;
    return 0;
}
