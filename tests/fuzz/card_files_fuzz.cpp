// The receiving-card file reader on a recovery file "QZFX" and on a scan file: every part, screen,
// net, card and operation walked as the replay walks them, the operations' data read as it sends it.
#include "fuzz_board.h"

#include "fpga/rcv_recovery_file.h"

#include <QString>
#include <algorithm>
#include <cstdlib>

namespace {
// At most this many of each count a file names: enough to reach every branch, not to sit in one.
constexpr uint16_t kWalk = 8;
constexpr uint16_t kCards = 4; // cards on the port the lists are checked for
uint8_t data[2048];

void operations(rcvRecovery& rd, const QString& path, bool debug, bool standalone, uint64_t base)
{
    for (uint16_t i = 0; i < std::min(rd.operate_times, kWalk); ++i) {
        if ((debug ? rd.update_smartDebugingOperatepara(path, i, standalone) : rd.update_rcvXYrcvOperatepara(path, i, standalone)) != 0)
            return;
        const uint64_t at = base + rd.operation.offset;
        if (at <= UINT32_MAX)
            rd.update_rcvOperatedata(path, uint32_t(at), data, uint16_t(std::min<uint32_t>(rd.operation.dataLen, sizeof data)));
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
            rd.check_operation_list(path, rd.debug_list_position(false), kCards) == 0)
            operations(rd, path, true, false, rd.part_offset(12));
        if (rd.update_rcvXYscreenNetnum(path) != 0)
            continue;
        for (uint16_t n = 0; n < std::min(rd.net_count, kWalk); ++n) {
            if (rd.update_rcvXYscreenNetpara(path, n) != 0)
                break;
            for (uint16_t c = 0; c < std::min(rd.net.net_rcv_num, kWalk); ++c) {
                if (rd.update_rcvXYrcvOperateTimes(path, c, false) != 0)
                    break;
                if (rd.check_operation_list(path, rd.card_list_position(), kCards) != 0)
                    continue;
                operations(rd, path, false, false,
                           uint64_t(rd.part_offset(11)) + rd.screen.rcv_xy_offset + rd.net.net_para_offset);
            }
        }
    }
}

void scan(const QString& path)
{
    rcvRecovery rd;
    if (rd.update_smartDebugingHead(path) != 0 || rd.update_smartDebugingOperateTimes(path, true) != 0)
        return;
    if (rd.check_operation_list(path, rd.debug_list_position(true), kCards) == 0)
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
