// The receiving-card file reader on a recovery file "QZFX" and on a scan file: every part, screen,
// net, card and operation walked as the replay walks them, the operations' data read as it sends it.
#include "fuzz_board.h"

#include "fpga/rcv_recovery_file.h"

#include <QString>
#include <algorithm>
#include <vector>

namespace {
// At most this many of each count a file names: enough to reach every branch, not to sit in one.
constexpr uint16_t kWalk = 8;
uint8_t data[2048];
std::vector<rcvRecovery::Operation> list;

void operations(rcvRecovery& rd, const QString& path, bool debug, bool standalone, uint64_t base)
{
    // The list read whole holds the records the count before it names.
    if (list.size() != rd.operate_times)
        FuzzBoard::fail("the list read whole holds %zu records, its count says %u", list.size(), rd.operate_times);
    for (uint16_t i = 0; i < std::min(rd.operate_times, kWalk); ++i) {
        if ((debug ? rd.update_smartDebugingOperatepara(path, i, standalone) : rd.update_rcvXYrcvOperatepara(path, i, standalone)) != 0)
            return;
        const uint64_t at = base + rd.operation.offset;
        const uint16_t n = uint16_t(std::min<uint32_t>(rd.operation.dataLen, sizeof data));
        // The replay's look before sending and its read while sending agree on what the file holds.
        if (at <= UINT32_MAX && (rd.update_rcvOperatedata(path, uint32_t(at), data, n) == 0) != rd.holds(path, at, n))
            FuzzBoard::fail("the look before sending and the read while sending disagree on %u bytes at %llu", n,
                            static_cast<unsigned long long>(at));
    }
}

void recovery(const QString& path)
{
    rcvRecovery rd;
    if (rd.get_rcvPackedFileNum(path) != 0)
        return;
    for (uint8_t k = 0; k < rd.kept_parts(); ++k)
        if (rd.get_rcvPackedFileInfo(path, k) != 0)
            return;
    if (rd.update_rcvScreenHead(path) != 0)
        return;
    for (uint8_t s = 0; s < std::min<uint8_t>(rd.screen_head.screen_num, kWalk); ++s) {
        if (rd.update_rcvScreenIDinfo(path, s) != 0)
            return;
        if (rd.update_smartDebugingOperateTimes(path, false) == 0 &&
            rd.read_operation_list(path, rd.debug_list_position(false), list) == 0)
            operations(rd, path, true, false, rd.debug_list_position(false));
        if (rd.update_rcvXYscreenNetnum(path) != 0)
            continue;
        for (uint16_t n = 0; n < std::min(rd.net_count, kWalk); ++n) {
            if (rd.update_rcvXYscreenNetpara(path, n) != 0)
                break;
            for (uint16_t c = 0; c < std::min(rd.net.net_rcv_num, kWalk); ++c) {
                if (rd.update_rcvXYrcvOperateTimes(path, c, false) != 0)
                    break;
                if (rd.read_operation_list(path, rd.card_list_position(), list) != 0)
                    continue;
                operations(rd, path, false, false, rd.card_block_position());
            }
        }
    }
}

void scan(const QString& path)
{
    rcvRecovery rd;
    if (rd.update_smartDebugingHead(path) != 0 || rd.update_smartDebugingOperateTimes(path, true) != 0)
        return;
    if (rd.read_operation_list(path, rd.debug_list_position(true), list) == 0)
        operations(rd, path, true, true, 16);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzBoard::start();
    FuzzBoard::writeFile("/data/rcvrecovery/QZFX", bytes, size);
    recovery(QStringLiteral("/data/rcvrecovery/QZFX"));
    FuzzBoard::writeFile("/data/smartmapping/wall.qzfile", bytes, size);
    scan(QStringLiteral("/data/smartmapping/wall.qzfile"));
    return 0;
}
