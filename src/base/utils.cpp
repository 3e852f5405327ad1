#include "base/utils.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "platform/mtd.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <sys/stat.h>

QMutex Utils::_system_mutex;
QMutex Utils::_spi_mutex;
QMutex Utils::_c331_bnk_mutex;
QMutex Utils::_file_deal_mutex;
QMutex Utils::_led_para_init_mutex;
QMutex Utils::_bri_set_mutex;
QMutex Utils::_fpga_multicast_mutex;
QMutex Utils::_test_signal_mutex;
QMutex Utils::_source_init_mutex;
QMutex Utils::_check_nosig_mutex;
QMutex Utils::_source_hdminfo_mutex;
QMutex Utils::_usleep_mutex;

namespace {

struct Crc32Table {
    uint32_t v[256];
    Crc32Table()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            v[i] = c;
        }
    }
};

struct Crc16ArcTable {
    uint16_t v[256];
    Crc16ArcTable()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001u) : uint16_t(c >> 1);
            v[i] = c;
        }
    }
};

std::string localPath(const QString& path)
{
    return platform::Paths::resolve(QFile::encodeName(path).toStdString());
}

// Single-quoted for /bin/sh, so blanks and metacharacters in a name stay one argument.
QString shellQuote(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// One iconv pass; *produced is the number of output bytes written (UCS-2 output holds zeros,
// so the length cannot be found afterwards).
int iconvInto(const char* from, const char* to, const char* input, size_t inputLength,
              char* output, size_t outputLength, size_t* produced)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (traceOn())
            printf("iconv_open ======failed ");
        if (produced)
            *produced = 0;
        return -1;
    }
    memset(output, 0, outputLength);
    char* in = const_cast<char*>(input);
    size_t inLeft = inputLength;
    char* out = output;
    size_t outLeft = outputLength;
    // Invalid or incomplete input stops the conversion; what was converted is kept.
    iconv(cd, &in, &inLeft, &out, &outLeft);
    iconv_close(cd);
    if (produced)
        *produced = outputLength - outLeft;
    return 0;
}

// Every converter's output fits in three times its input (GB2312 2->3 bytes, ASCII to UCS-2 1->2).
std::string convert(const char* from, const char* to, const std::string& in)
{
    std::string out(in.size() * 3 + 4, '\0');
    size_t produced = 0;
    if (iconvInto(from, to, in.data(), in.size(), &out[0], out.size(), &produced) != 0)
        return std::string();
    out.resize(produced);
    return out;
}

} // namespace

uint32_t Utils::BCC(const uint8_t* data, uint32_t length)
{
    // A machine word a step (every reply is checked): the bytes of the words' XOR XOR to the same.
    uintptr_t words = 0;
    uint32_t i = 0;
    for (; length - i >= sizeof words; i += sizeof words) {
        uintptr_t w;
        memcpy(&w, data + i, sizeof w);
        words ^= w;
    }
    for (unsigned shift = 4 * sizeof words; shift >= 8; shift /= 2)
        words ^= words >> shift;
    uint8_t x = uint8_t(words);
    for (; i < length; ++i)
        x ^= data[i];
    return x;
}

uint32_t Utils::calcCRC32(const uint8_t* data, uint32_t length)
{
    static const Crc32Table table;
    uint32_t crc = 0;
    for (uint32_t i = 0; i < length; ++i)
        crc = table.v[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t Utils::calcCRC16(const uint8_t* data, uint32_t length)
{
    static const Crc16ArcTable table;
    uint16_t crc = 0;
    for (uint32_t i = 0; i < length; ++i)
        crc = uint16_t(table.v[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

uint32_t Utils::peloCalcCRC16(const uint8_t* data, uint32_t length)
{
    uint16_t crc = 0xFFFF;
    for (uint32_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0x8408u) : uint16_t(crc >> 1);
    }
    return crc;
}

uint32_t Utils::jtc1CRC16Code(const uint8_t* data, uint32_t length)
{
    uint16_t crc = 0;
    for (uint32_t i = 0; i < length; ++i) {
        crc ^= uint16_t(data[i] << 8);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021u) : uint16_t(crc << 1);
    }
    return crc;
}

uint32_t Utils::getTimeSpace(uint32_t t)
{
    const uint32_t now = G_timeTicks.load();
    if (now >= t)
        return now - t;
    return 0xFFFFFFFFu - t + now;
}

int Utils::system_mutex(const QString& command, int* status)
{
    QMutexLocker locker(&_system_mutex);
    const int rc = platform::shell().system(command.toLatin1().toStdString());
    if (status)
        *status = rc;
    return rc == 0 ? 0 : 255;
}

bool Utils::setClock(int year, int month, int day, int hour, int minute, int second)
{
    if (!QDate::isValid(year, month, day) || year < 1970 || year > 2037 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return false;
    const QString date = QStringLiteral("date \"%1-%2-%3 %4:%5:%6\"")
                             .arg(year).arg(month).arg(day).arg(hour).arg(minute).arg(second);
    return system_mutex(date) == 0 && system_mutex(QStringLiteral("hwclock -wu")) == 0;
}

int Utils::system_plain(const QString& command)
{
    const int rc = platform::shell().system(command.toLatin1().toStdString());
    return rc == 0 ? 0 : 255;
}

bool Utils::isDottedIPv4(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        // ifconfig reads a leading zero as octal, so "010" would not mean ten.
        if (part.size() > 1 && part.at(0) == QLatin1Char('0'))
            return false;
        int value = 0;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            value = value * 10 + (c.unicode() - '0');
        }
        if (value > 255)
            return false;
    }
    return true;
}

uint32_t Utils::non_region_erase(int fd, uint32_t offset, uint32_t length, int unlock)
{
    platform::MtdInfo info;
    if (platform::mtd().getInfo(fd, &info) < 0) {
        writeLogMsg(LOG_ERROR, std::string("non_region_erase: MEMGETINFO failed: ") + strerror(errno));
        return 1;
    }
    if (info.erasesize == 0 || offset % info.erasesize != 0) {
        writeLogMsg(LOG_ERROR, "non_region_erase: offset not on an erase block");
        return 1;
    }
    const uint32_t count = length / info.erasesize + (length % info.erasesize ? 1 : 0);
    // The whole range, rounded up to blocks, must lie inside the partition before anything is erased.
    if (uint64_t(offset) + uint64_t(count) * info.erasesize > info.size) {
        writeLogMsg(LOG_ERROR, "non_region_erase: range beyond the partition");
        return 1;
    }
    if (traceOn())
        printf("\r\nPerforming Flash Erase of length %u at offset 0x%x\n", info.erasesize, offset);

    for (uint32_t i = 0; i < count; ++i) {
        platform::EraseInfo block;
        block.start = offset + i * info.erasesize;
        block.length = info.erasesize;
        if (unlock && platform::mtd().unlock(fd, block) < 0) {
            writeLogMsg(LOG_ERROR, "non_region_erase: MEMUNLOCK failed at " + std::to_string(block.start));
            return 8;
        }
        if (platform::mtd().erase(fd, block) < 0) {
            writeLogMsg(LOG_ERROR, "non_region_erase: MEMERASE failed at " + std::to_string(block.start));
            return 8;
        }
    }
    return 0;
}

uint32_t Utils::non_region_write(int fd, const uint8_t* data, uint32_t length, uint32_t offset)
{
    platform::MtdInfo info;
    if (platform::mtd().getInfo(fd, &info) < 0 || info.writesize == 0) {
        writeLogMsg(LOG_ERROR, "non_region_write: no partition geometry");
        return 1;
    }
    if (uint64_t(offset) + length > info.size) {
        writeLogMsg(LOG_ERROR, "non_region_write: range beyond the partition");
        return 1;
    }
    const uint32_t pages = length / info.writesize;
    for (uint32_t i = 0; i < pages; ++i) {
        const uint32_t at = i * info.writesize;
        if (platform::mtd().pwrite(fd, data + at, info.writesize, off_t(offset) + at) != ssize_t(info.writesize)) {
            if (traceOn())
                printf("\n nand non_region_write error %#x ,writesize=%#x,offset=%#x,size=%#x\n", pages,
                       info.writesize, offset, length);
            return 1;
        }
    }
    const uint32_t rest = length % info.writesize;
    if (rest) {
        const uint32_t at = pages * info.writesize;
        if (platform::mtd().pwrite(fd, data + at, rest, off_t(offset) + at) != ssize_t(rest)) {
            if (traceOn())
                printf("\n nand non_region_write error %#x,size=%#x \n", rest, length);
            return 1;
        }
    }
    return 0;
}

int Utils::usleep_mutex(uint32_t microseconds)
{
    QMutexLocker locker(&_usleep_mutex);
    struct timespec want;
    want.tv_sec = microseconds / 1000000u;
    want.tv_nsec = long(microseconds % 1000000u) * 1000;
    struct timespec left;
    while (nanosleep(&want, &left) != 0) {
        if (errno != EINTR)
            return 255;
        want = left;
    }
    return 0;
}

int Utils::msleep_mutex(uint32_t milliseconds)
{
    // Milliseconds above 4294967 do not fit in one microsecond count.
    uint64_t us = uint64_t(milliseconds) * 1000u;
    while (us > 0) {
        const uint32_t step = us > 1000000000u ? 1000000000u : uint32_t(us);
        if (usleep_mutex(step) != 0)
            return 255;
        us -= step;
    }
    return 0;
}

int Utils::stringToInt(const QString& text)
{
    const QByteArray s = text.toLatin1();
    uint32_t value = 0;
    if (s.startsWith("0x")) {
        if (s.size() < 3)
            return 0;
        for (int i = 2; i < s.size(); ++i) {
            const char c = s.at(i);
            uint32_t d = 0;
            if (c >= '0' && c <= '9')
                d = uint32_t(c - '0');
            else if (c >= 'a' && c <= 'z')
                d = uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'Z')
                d = uint32_t(c - 'A' + 10);
            value = value * 16u + d;
        }
    } else {
        for (char c : s)
            value = value * 10u + ((c >= '0' && c <= '9') ? uint32_t(c - '0') : 0u);
    }
    return int(value);
}

int Utils::hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QString Utils::intToString(int value)
{
    return QString::asprintf("%d", value);
}

int Utils::ChangeCode(const char* from, const char* to, const char* input, size_t inputLength,
                      char* output, size_t outputLength)
{
    return iconvInto(from, to, input, inputLength, output, outputLength, nullptr);
}

std::string Utils::GB2312ToUTF8(const std::string& in) { return convert("gb2312", "UTF-8", in); }
std::string Utils::GB2312ToUnicode(const std::string& in) { return convert("gb2312", "UCS-2LE", in); }
std::string Utils::UTF8ToUnicode(const std::string& in) { return convert("UTF-8", "UCS-2LE", in); }
std::string Utils::UnicodeToUTF8(const std::string& in) { return convert("UCS-2LE", "UTF-8", in); }
std::string Utils::UTF8ToGB2312(const std::string& in) { return convert("UTF-8", "GB2312", in); }
std::string Utils::UnicodeToGB2312(const std::string& in) { return convert("UCS-2LE", "GB2312", in); }

bool Utils::isFileExists(const QString& path, bool regularFile)
{
    struct stat st;
    if (stat(localPath(path).c_str(), &st) != 0)
        return false;
    return !regularFile || S_ISREG(st.st_mode);
}

bool Utils::isDirExists(const QString& path)
{
    struct stat st;
    return stat(localPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int Utils::change_file_formt(const QString& path)
{
    if (!isFileExists(path, false))
        return -1;
    const QString quoted = shellQuote(path);
    system_plain(QStringLiteral("dos2unix ") + quoted);
    system_plain(QStringLiteral("sync"));
    system_plain(QStringLiteral("sed -i '1s/^\\xEF\\xBB\\xBF//' ") + quoted);
    system_plain(QStringLiteral("sync"));
    return 0;
}

void Utils::get_file_list_smartpath(QStringList& list, const QString& folder, const QString& suffix)
{
    QDir dir(QFile::decodeName(QByteArray::fromStdString(localPath(folder))));
    if (!dir.exists())
        return;
    QString wanted = suffix;
    if (wanted.startsWith(QLatin1Char('.')))
        wanted.remove(0, 1);
    QString base = QDir::cleanPath(folder);
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    // Regular files only: no links followed, no fifos, sockets or device nodes.
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.suffix() == wanted)
            list.append(base + entry.fileName());
    }
}
