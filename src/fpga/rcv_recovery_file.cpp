#include "fpga/rcv_recovery_file.h"
#include "fpga/fpga_manage.h"

#include "base/bytes.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr uint8_t kScreenPart = 10, kXyPart = 11, kDebugPart = 12;
constexpr uint32_t kScreenHeadSize = 32, kScreenRecordSize = 52, kNetRecordSize = 12, kOperationSize = 18;

QString local(const QString& path)
{
    return QString::fromStdString(platform::Paths::resolve(path.toStdString()));
}

void trace(const char* format, unsigned a = 0, unsigned b = 0, unsigned c = 0)
{
    if (traceOn())
        printf(format, a, b, c);
}

rcvRecovery::Operation operationOf(const uint8_t* b)
{
    rcvRecovery::Operation op;
    op.offset = getU32(b);
    op.dataLen = getU32(b + 4);
    op.targetAddr = getU32(b + 8);
    op.timeticks = getU32(b + 12);
    op.type = b[16];
    op.target = b[17];
    return op;
}

}

int rcvRecovery::check_file_dir(const QString& path)
{
    const QString dir = local(path);
    if (QFileInfo(dir).isDir()) {
        if (traceOn())
            printf("\n %s exists !/n", path.toLocal8Bit().constData());
        return 0;
    }
    // One level only: a missing "/data" is a broken root, not something to paper over here.
    if (QDir().mkdir(dir))
        return 1;
    writeLogMsg(LOG_ERROR, "receiving-card folder cannot be created: " + path.toStdString());
    return 0;
}

void rcvRecovery::init_para()
{
    screen.rcv_para_offset = screen.rcv_para_len = 0;
    screen.rcv_xy_offset = screen.rcv_xy_len = 0;
}

int rcvRecovery::get_dir_file(const QString& path)
{
    const QFileInfo info(local(path));
    if (!info.isDir())
        return 1;
    const bool recovery = path == QLatin1String("/data/rcvrecovery");
    const bool scan = path == QLatin1String("/data/smartmapping") || path == QLatin1String("/mnt/usb1/");
    if (!recovery && !scan)
        return 0;
    QStringList names;
    // Regular files only: QDir::Files alone would count symbolic links too.
    for (const QFileInfo& f : QDir(info.filePath()).entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted))
        names << f.fileName();
    std::lock_guard<std::mutex> lock(listMutex_);
    (recovery ? recoveryList_ : scanList_) = names;
    return 0;
}

QStringList rcvRecovery::recovery_files() const
{
    std::lock_guard<std::mutex> lock(listMutex_);
    return recoveryList_;
}

QStringList rcvRecovery::scan_files() const
{
    std::lock_guard<std::mutex> lock(listMutex_);
    return scanList_;
}

int rcvRecovery::readAt(const QString& file, uint64_t position, void* out, uint32_t n)
{
    const QString name = local(file);
    if (file.isEmpty() || !QFileInfo(name).isFile())
        return 1;
    QMutexLocker lock(&Utils::_file_deal_mutex);
    QFile f(name);
    // Read-only: a stick mounted read-only must work, and nothing here writes.
    if (!f.open(QIODevice::ReadOnly))
        return 1;
    if (position + n > uint64_t(f.size()) || !f.seek(qint64(position)))
        return 1;
    return f.read(static_cast<char*>(out), n) == qint64(n) ? 0 : 1;
}

uint8_t rcvRecovery::part_count() const
{
    return packed_head[3];
}

uint8_t rcvRecovery::kept_parts() const
{
    return std::min<uint8_t>(packed_head[3], kEntries);
}

uint32_t rcvRecovery::part_offset(uint8_t type) const
{
    uint32_t at = 0;
    for (int k = 0; k < kept_parts(); ++k)
        if (part[k].file_type == type)
            at = part[k].offset;
    return at;
}

bool rcvRecovery::has_part(uint8_t type) const
{
    for (int k = 0; k < kept_parts(); ++k)
        if (part[k].file_type == type)
            return true;
    return false;
}

int rcvRecovery::get_rcvPackedFileNum(const QString& file)
{
    uint8_t b[4];
    if (readAt(file, 0, b, sizeof b))
        return 1;
    std::copy(b, b + 4, packed_head);
    if (packed_head[3] > kEntries)
        writeLogMsg(LOG_WARNING, "recovery file names " + std::to_string(packed_head[3]) + " parts; the first " +
                                     std::to_string(kEntries) + " are used");
    trace("\n part num = %u \n", packed_head[3]);
    return 0;
}

int rcvRecovery::get_rcvPackedFileInfo(const QString& file, uint8_t k)
{
    if (k >= kept_parts())
        return 1;
    uint8_t b[12];
    if (readAt(file, 4 + 12u * k, b, sizeof b))
        return 1;
    part[k].file_type = b[0];
    part[k].length = getU32(b + 4);
    part[k].offset = getU32(b + 8);
    trace("\n part %u: type %u, offset %#x \n", k, b[0], part[k].offset);
    return 0;
}

int rcvRecovery::update_rcvScreenHead(const QString& file)
{
    uint8_t b[kScreenHeadSize];
    if (readAt(file, part_offset(kScreenPart), b, sizeof b))
        return 1;
    screen_head.type = b[2];
    screen_head.rcv_para_len = getU32(b + 4);
    screen_head.rcv_para_crc32 = getU32(b + 8);
    screen_head.rcv_xy_len = getU32(b + 12);
    screen_head.rcv_xy_crc32 = getU32(b + 16);
    screen_head.screen_num = b[20];
    trace("\n screen_num = %u, para len %#x, xy len %#x \n", b[20], screen_head.rcv_para_len, screen_head.rcv_xy_len);
    return 0;
}

int rcvRecovery::update_rcvScreenIDinfo(const QString& file, uint8_t s)
{
    if (screen_head.screen_num == 0 || s >= screen_head.screen_num)
        return 1;
    uint8_t b[kScreenRecordSize];
    if (readAt(file, uint64_t(part_offset(kScreenPart)) + kScreenHeadSize + uint64_t(kScreenRecordSize) * s, b, sizeof b))
        return 1;
    screen.config_id = getU32(b);
    screen.net_use = getU32(b + 4);
    screen.rcv_para_offset = getU32(b + 36);
    screen.rcv_para_len = getU32(b + 40);
    screen.rcv_xy_offset = getU32(b + 44);
    screen.rcv_xy_len = getU32(b + 48);
    trace("\n config id %#x, para offset %#x, xy offset %#x \n", screen.config_id, screen.rcv_para_offset, screen.rcv_xy_offset);
    return 0;
}

int rcvRecovery::update_rcvXYHead(const QString& file)
{
    return readAt(file, part_offset(kXyPart), xy_head, sizeof xy_head);
}

int rcvRecovery::update_rcvXYscreenNetnum(const QString& file)
{
    uint8_t b[2];
    if (readAt(file, uint64_t(part_offset(kXyPart)) + screen.rcv_xy_offset, b, sizeof b))
        return 1;
    net_count = getU16(b);
    trace("\n net num = %u \n", net_count);
    return 0;
}

int rcvRecovery::update_rcvXYscreenNetpara(const QString& file, uint16_t n)
{
    if (n >= net_count)
        return 1;
    uint8_t b[kNetRecordSize];
    if (readAt(file, uint64_t(part_offset(kXyPart)) + screen.rcv_xy_offset + 4 + uint64_t(kNetRecordSize) * n, b, sizeof b))
        return 1;
    net.net_ledx = getU16(b);
    net.net_rcv_num = getU16(b + 2);
    net.net_para_offset = getU32(b + 4);
    net.net_para_len = getU32(b + 8);
    trace("\n net_ledx %u, cards %u, para offset %#x \n", net.net_ledx, net.net_rcv_num, net.net_para_offset);
    return 0;
}

// Card records stand back to back from the net's card block; each read is checked, so a count
// that runs past the end of the file stops the walk.
int rcvRecovery::update_rcvXYrcvOperateTimes(const QString& file, uint16_t c, bool)
{
    if (c >= net.net_rcv_num)
        return 1;
    const uint64_t block = uint64_t(part_offset(kXyPart)) + screen.rcv_xy_offset + net.net_para_offset;
    uint64_t offset = 0;
    uint8_t b[2];
    for (uint16_t k = 0;; ++k) {
        if (readAt(file, block + offset, b, sizeof b))
            return 1;
        if (k == c)
            break;
        offset += 4 + uint64_t(kOperationSize) * getU16(b);
        if (offset > UINT32_MAX)
            return 1;
    }
    card_offset = uint32_t(offset);
    operate_times = getU16(b);
    trace("\n card %u: %u operations at %#x \n", c, operate_times, card_offset);
    return 0;
}

uint64_t rcvRecovery::card_block_position() const
{
    return uint64_t(part_offset(kXyPart)) + screen.rcv_xy_offset + net.net_para_offset;
}

uint64_t rcvRecovery::card_list_position() const
{
    return card_block_position() + card_offset;
}

uint64_t rcvRecovery::debug_list_position(bool standalone) const
{
    return standalone ? 16 : uint64_t(part_offset(kDebugPart)) + screen.rcv_para_offset;
}

bool rcvRecovery::operation_fits(const Operation& op)
{
    // A RAM write's packets address the card from targetAddr on: they must not run past the
    // card's 32-bit addresses and wrap round to its start.
    if (op.type == 1 && op.target == 1)
        return uint64_t(op.dataLen) <= uint64_t(kRamPacket) * kRamPackets &&
               uint64_t(op.targetAddr) + op.dataLen <= uint64_t(UINT32_MAX) + 1;
    // A register write, firmware activation, reconfiguration, card search or user-defined
    // command sends its data as one card command.
    const bool oneCommand = (op.type == 1 && op.target == 2) || op.type == 3 || op.type == 5 || op.type == 7 || op.type == 16;
    return !oneCommand || op.dataLen <= fpga_manage::kPacketDataMax;
}

uint64_t rcvRecovery::operation_position(uint64_t list, uint32_t i)
{
    return list + 4 + uint64_t(kOperationSize) * i;
}

int rcvRecovery::read_operation_list(const QString& file, uint64_t list, std::vector<Operation>& out)
{
    uint8_t head[2];
    if (readAt(file, list, head, sizeof head))
        return 1;
    const uint32_t count = getU16(head);
    std::vector<uint8_t> records(size_t(count) * kOperationSize);
    if (count && readAt(file, operation_position(list, 0), records.data(), uint32_t(records.size())))
        return 1;
    out.clear();
    for (uint32_t i = 0; i < count; ++i)
        out.push_back(operationOf(records.data() + size_t(i) * kOperationSize));
    return 0;
}

bool rcvRecovery::holds(const QString& file, uint64_t position, uint64_t length)
{
    const QString name = local(file);
    if (file.isEmpty())
        return false;
    QMutexLocker lock(&Utils::_file_deal_mutex);
    const QFileInfo info(name);
    return info.isFile() && position <= uint64_t(info.size()) && length <= uint64_t(info.size()) - position;
}

int rcvRecovery::update_rcvXYrcvOperatepara(const QString& file, uint16_t i, bool)
{
    if (i >= operate_times)
        return 1;
    const uint64_t at = operation_position(card_list_position(), i);
    uint8_t b[kOperationSize];
    if (readAt(file, at, b, sizeof b))
        return 1;
    operation = operationOf(b);
    return 0;
}

int rcvRecovery::update_rcvOperatedata(const QString& file, uint32_t position, uint8_t* out, uint16_t length)
{
    if (!out)
        return 1;
    return readAt(file, position, out, length);
}

int rcvRecovery::update_smartDebugingHead(const QString& file)
{
    return readAt(file, 0, scan_head, sizeof scan_head);
}

int rcvRecovery::update_smartDebugingOperateTimes(const QString& file, bool standalone)
{
    const uint64_t at = debug_list_position(standalone);
    uint8_t b[2];
    if (readAt(file, at, b, sizeof b)) {
        trace("\n can not open the file ");
        return 1;
    }
    operate_times = getU16(b);
    return 0;
}

int rcvRecovery::update_smartDebugingOperatepara(const QString& file, uint16_t i, bool standalone)
{
    if (i >= operate_times)
        return 1;
    const uint64_t list = debug_list_position(standalone);
    uint8_t b[kOperationSize];
    if (readAt(file, operation_position(list, i), b, sizeof b))
        return 1;
    operation = operationOf(b);
    return 0;
}
