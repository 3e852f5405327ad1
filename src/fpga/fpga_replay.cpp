// Replay of receiving-card data files: the recovery query (job 5), the recovery (job 6) and the
// scan-file load (job 2), one small step per worker pass; and the sender of one operation.
#include "fpga/fpga_manage.h"
#include "fpga/fpga_jobs_block.h"
#include "fpga/rcv_recovery_file.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <cstdio>
#include <string>

using namespace JobBlock;

namespace {

// The chosen name comes from the panel's thread: only a scan file straight inside one of the two
// scan folders may be read, never a path that leads elsewhere.
bool scanFileAllowed(const QString& path)
{
    for (const QLatin1String folder : {QLatin1String("/data/smartmapping/"), QLatin1String("/mnt/usb1/")}) {
        if (!path.startsWith(folder))
            continue;
        const QString name = path.mid(folder.size());
        return name.endsWith(QLatin1String(".qzfile")) && !name.contains(QLatin1Char('/')) &&
               !name.startsWith(QLatin1String(".."));
    }
    return false;
}

constexpr uint32_t kStartTicks = 239, kStartShowTicks = 80, kProgressTicks = 100;
constexpr uint32_t kSearchWaitTicks = 500, kEndTicks = 100;
constexpr uint32_t kPerCardFlashTicks = 100; // 1000 ms a card to store its parameters
constexpr int kTries = 3;
constexpr uint8_t kScreenPart = 10, kXyPart = 11, kDebugPart = 12;

enum ReplayStep : uint8_t {
    Start = 0, StartWait = 1, Files = 2, Parts = 3, PartCheck = 4, ScreenHead = 5, ScreenRecord = 6, Lengths = 7,
    NetCount = 8, NetRecord = 9, CardOps = 10, CardOp = 11, CardOpRun = 12, Search = 13, SearchWait = 14,
    NextNet = 15, DebugOps = 17, DebugOp = 18, DebugOpRun = 19, End = 33, Fail = 34, FailWait = 35,
};
enum OperationStep : uint8_t { OpStart = 20, OpPort = 21, OpSend = 22, OpSleep = 30, OpWait = 31, OpDone = 32 };

void trace(const char* format, unsigned a = 0, unsigned b = 0)
{
    if (traceOn())
        printf(format, a, b);
}

int jobOf(int mode)
{
    return mode == 0 ? 5 : mode == 1 ? 6 : 2;
}

QString twoDigits(unsigned v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

}

void fpga_manage::replay_progress(int mode, int percent)
{
    if (mode == 2)
        emit CardJobReport::instance()->smartMappingProgress(percent);
    else
        emit CardJobReport::instance()->recoveryProgress(percent);
}

void fpga_manage::replay_counter_progress(int mode)
{
    if (Utils::getTimeSpace(job_stamp) <= kProgressTicks)
        return;
    job_progress = job_progress % 99 + 1;
    job_stamp = G_timeTicks.load();
    replay_progress(mode, int(job_progress));
}

// One pass of a replay job. Files from a PC or a stick are refused at the first field that does
// not fit; every refusal and every unanswered card ends the job as a failure the page is told of.
void fpga_manage::rcv_recovery_check_deal(int mode)
{
    if (mode < 0 || mode > 2 || !rcvrecovery || job_paused())
        return;
    rcvRecovery& rd = *rcvrecovery;
    const uint32_t now = G_timeTicks.load();
    const uint8_t step = get(Step);
    auto fail = [&](const char* text) {
        trace(text);
        writeLogMsg(LOG_WARNING, std::string("card data job refused:") + text);
        ++job_errors;
        set(Step, Fail);
    };
    auto progress = [&](int percent) { replay_progress(mode, percent); };
    const uint32_t elapsed = Utils::getTimeSpace(job_stamp);

    switch (step) {
    case Start:
        job_errors = 0;
        replay_failed = 0;
        job_progress = 0;
        recovery_search_on = 0;
        if (!get_fpga_status()) {
            fail("\n there is a error about fpga!!! ");
            break;
        }
        trace("\n check rcv.... ");
        job_stamp = now;
        progress(0);
        set(Step, StartWait);
        break;
    case StartWait:
        if (elapsed > kStartTicks)
            set(Step, Files);
        else if (elapsed >= kStartShowTicks)
            progress(int(elapsed * 100 / 500));
        break;
    case Files:
        set16(Result, ResultNone);
        if (mode != 2) {
            if (rd.get_dir_file(QStringLiteral("/data/rcvrecovery")) != 0) {
                fail("\n check file error ");
                break;
            }
            // The file is read by its own name: any other single file would be read as stale data.
            const QStringList files = rd.recovery_files();
            if (files.size() != 1 || files.front() != QLatin1String("QZFX")) {
                fail("\n more file error ");
                break;
            }
            rd.path = QStringLiteral("/data/rcvrecovery/QZFX");
            if (traceOn())
                printf("\n recovery_files_nmae  %s  !/n", qPrintable(files.front()));
            if (rd.get_rcvPackedFileNum(rd.path) != 0) {
                fail("\n check file error ");
                break;
            }
            set(Step, Parts);
        } else {
            int missing = rd.get_dir_file(QStringLiteral("/data/smartmapping"));
            if (missing || rd.scan_files().isEmpty())
                missing = rd.get_dir_file(QStringLiteral("/mnt/usb1/"));
            if (missing) {
                fail("\n check file error ");
                break;
            }
            const QString chosen = g_qzfile_name.get();
            if (rd.scan_files().isEmpty() || !scanFileAllowed(chosen)) {
                fail("\n more file error ");
                break;
            }
            rd.init_para();
            rd.path = chosen;
            if (traceOn())
                printf("\n smart_files_nmae  %s  !/n", qPrintable(chosen));
            set(Step, DebugOps);
        }
        job_stamp = now;
        progress(int(elapsed * 100 / 500));
        break;
    case Parts:
        for (uint8_t k = 0; k < rd.kept_parts(); ++k) {
            if (rd.get_rcvPackedFileInfo(rd.path, k) != 0) {
                fail("\n check file error ");
                return;
            }
        }
        job_stamp = now;
        set(Step, PartCheck);
        break;
    case PartCheck:
        // Without parts every field would be read from the file's head.
        if (rd.kept_parts() == 0 || !rd.has_part(kScreenPart)) {
            fail("\n no file type error ");
            break;
        }
        progress(60);
        set(Step, ScreenHead);
        break;
    case ScreenHead:
        trace("\n now in RECOVERY_RCV_GET_SCREEN_NUM ");
        if (rd.update_rcvScreenHead(rd.path) != 0) {
            fail("\n check screen net error ");
            break;
        }
        if (mode == 0) {
            set(Screen, 0);
        } else {
            if (!query_result.valid) {
                fail("\n no query result to recover ");
                break;
            }
            set(Screen, query_result.screen);
            trace("\n now start to  recovery screen%d ,net%d \n", query_result.screen + 1u, query_result.port + 1u);
        }
        progress(5 * 100 / 35);
        set(Step, ScreenRecord);
        break;
    case ScreenRecord:
        if (rd.update_rcvScreenIDinfo(rd.path, get(Screen)) != 0) {
            fail("\n screen record error ");
            break;
        }
        if (mode == 0) {
            progress((get(Screen) * 100 + 100) / (rd.screen_head.screen_num + 1));
            set(Step, NetCount);
        } else {
            trace("\n now start to check file ....");
            set(Step, Lengths);
        }
        break;
    case Lengths:
        if (rd.screen.rcv_para_len == 0 && rd.screen.rcv_xy_len == 0) {
            fail("\n screen file all len  error ");
        } else if (rd.screen.rcv_para_len == 0) {
            if (rd.has_part(kXyPart))
                set(Step, NetCount);
            else
                fail("\n no xy part ");
        } else if (rd.has_part(kDebugPart)) {
            set(Step, DebugOps);
        } else {
            fail("\n no screen parameter part ");
        }
        break;
    case NetCount:
        if (rd.update_rcvXYscreenNetnum(rd.path) != 0) {
            fail("\n rcv xy file screen_net num error ");
            break;
        }
        replay_net = mode == 0 ? 0 : query_result.net;
        progress(8 * 100 / 35);
        trace("\n now start to recovery net_index = %#x \n", replay_net);
        set(Step, NetRecord);
        break;
    case NetRecord:
        if (rd.update_rcvXYscreenNetpara(rd.path, replay_net) != 0) {
            fail("\n rcv xy file screen_net para error ");
            break;
        }
        // Ports from 16 on belong to FPGA 1, which this box does not drive.
        if (rd.net.net_ledx >= kPorts) {
            fail("\n net port beyond FPGA 0 ");
            break;
        }
        set16(Result, ResultNone);
        if (mode == 0) {
            progress((replay_net * 100 + 100) / (rd.net.net_rcv_num + 1));
            set(Step, Search);
        } else if (query_result.card < rd.net.net_rcv_num && rd.net.net_ledx == query_result.port) {
            replay_card = query_result.card;
            progress(28);
            set(Step, CardOps);
        } else {
            fail("\n card to recover not in the net ");
        }
        break;
    case CardOps:
        if (rd.update_rcvXYrcvOperateTimes(rd.path, query_result.card, mode == 2) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        // Every record of the list is looked at before the first packet: a wait beyond what a
        // card needs would hold the worker (and the panel's jobs, brightness and upgrades) for
        // days, data longer than its packets would run over them.
        if (rd.check_operation_list(rd.path, rd.card_list_position(), get_port_card_num(rd.net.net_ledx)) != 0) {
            fail("\n operation list damaged ");
            break;
        }
        replay_operation = 0;
        set(Step, rd.operate_times ? CardOp : End);
        break;
    case CardOp: {
        const uint16_t i = replay_operation;
        if (rd.update_rcvXYrcvOperatepara(rd.path, i, mode == 2) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        const uint64_t at = uint64_t(rd.part_offset(kXyPart)) + rd.screen.rcv_xy_offset + rd.net.net_para_offset + rd.operation.offset;
        if (at > UINT32_MAX) {
            fail("\n operation data beyond the file ");
            break;
        }
        set(SubStep, OpStart);
        rd.data_position = uint32_t(at);
        progress((i * 100 + 100) / (rd.operate_times + 1));
        job_progress = 0;
        job_stamp = now;
        trace("\n now in operate_data_offset = %#x\n", rd.data_position);
        set(Step, CardOpRun);
        break;
    }
    case CardOpRun:
        if (load_rcv_xy_operate(rd.path, rd.data_position, false)) {
            if (replay_failed) {
                set(Step, Fail);
                break;
            }
            const uint16_t next = ++replay_operation;
            set(SubStep, OpStart);
            set(Step, next < rd.operate_times ? CardOp : End);
        } else {
            replay_counter_progress(mode);
        }
        break;
    case Search: {
        const int port = rd.net.net_ledx;
        recovery_config_id = rd.screen.config_id;
        set16(Result, ResultNone);
        recovery_search_on = 1;
        trace("\n fpga%d_sel, net%d ,config_id_enalbe = %#x\n", 0, unsigned(port));
        trace("\n check screen_index = %#x , net_index = %#x \n", get(Screen), replay_net);
        int sent;
        {
            PosixLock lock(pass_mutex);
            sent = check_error_rcv_search_card_cmd(port, 0, rd.screen.config_id, 0, 1);
        }
        if (!sent)
            writeLogMsg(LOG_WARNING, "card query: search of port " + std::to_string(port) + " not sent");
        progress(13 * 100 / 35);
        set32(Stamp, now);
        job_stamp = now;
        job_progress = 0;
        set(Step, SearchWait);
        break;
    }
    case SearchWait: {
        const uint16_t result = get16(Result);
        if (result != ResultNone) {
            trace("\n rcv back info ...%#x\n", result);
            recovery_search_on = 0;
            set(Step, result == ResultAllGood ? NextNet : End);
            break;
        }
        // No answer is not "all cards in order": the net is logged and the query ends as failed.
        if (Utils::getTimeSpace(get32(Stamp)) > kSearchWaitTicks) {
            trace("\n timeout!!! ");
            recovery_search_on = 0;
            ++job_errors;
            writeLogMsg(LOG_WARNING, "card query: no answer from port " + std::to_string(rd.net.net_ledx));
            set(Step, NextNet);
            break;
        }
        replay_counter_progress(mode);
        break;
    }
    case NextNet: {
        if (replay_net + 1u < rd.net_count) {
            ++replay_net;
            set(Step, NetRecord);
            break;
        }
        replay_net = 0;
        const uint8_t screen = uint8_t(get(Screen) + 1);
        set(Screen, screen);
        trace("\n current_screen_index = %#x , screen_num = %#x \n", screen, rd.screen_head.screen_num);
        set(Step, screen >= rd.screen_head.screen_num ? End : ScreenRecord);
        break;
    }
    case DebugOps:
        if (rd.update_smartDebugingOperateTimes(rd.path, mode == 2) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        if (mode == 2) {
            const uint8_t port = line_type[8].load();
            if (port >= kPorts || get_port_card_num(port) == 0) {
                fail("\n no card on the scan port ");
                break;
            }
            rd.net.net_ledx = port;
        } else {
            rd.net.net_ledx = query_result.port;
            replay_card = query_result.card;
            if (get_port_card_num(query_result.port) <= query_result.card) {
                fail("\n card to recover not on the port ");
                break;
            }
        }
        if (rd.check_operation_list(rd.path, rd.debug_list_position(mode == 2), get_port_card_num(rd.net.net_ledx)) != 0) {
            fail("\n operation list damaged ");
            break;
        }
        replay_operation = 0;
        if (rd.operate_times == 0)
            set(Step, mode == 2 || rd.screen.rcv_xy_len == 0 ? End : NetCount);
        else
            set(Step, DebugOp);
        break;
    case DebugOp: {
        const uint16_t i = replay_operation;
        if (rd.update_smartDebugingOperatepara(rd.path, i, mode == 2) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        const uint64_t base = mode == 2 ? 16 : uint64_t(rd.part_offset(kDebugPart));
        const uint64_t at = base + rd.screen.rcv_para_offset + rd.operation.offset;
        if (at > UINT32_MAX) {
            fail("\n operation data beyond the file ");
            break;
        }
        set(SubStep, OpStart);
        rd.data_position = uint32_t(at);
        progress((i * 100 + 100) / (rd.operate_times + 1));
        job_progress = 0;
        job_stamp = now;
        trace("\n in operate_para_data_offset=%#x ,net_index = %#x \n", rd.data_position, replay_net);
        set(Step, DebugOpRun);
        break;
    }
    case DebugOpRun:
        if (load_rcv_xy_operate(rd.path, rd.data_position, mode == 2)) {
            if (replay_failed) {
                set(Step, Fail);
                break;
            }
            const uint16_t next = ++replay_operation;
            set(SubStep, OpStart);
            if (next < rd.operate_times) {
                set(Step, DebugOp);
                trace("\n start to set net para operate ");
            } else {
                replay_operation = 0;
                // A screen without XY data has nothing more to restore.
                set(Step, mode == 2 || rd.screen.rcv_xy_len == 0 ? End : NetCount);
                if (mode == 1)
                    trace("\n start to set point xy ");
            }
        } else {
            replay_counter_progress(mode);
        }
        break;
    case End: {
        const uint16_t result = get16(Result);
        trace("\n the number of rcv need to recovery is %#x \n", result);
        VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
        if (result == ResultNone || result == ResultAllGood) {
            if (mode == 1 && result_shown) {
                result_shown = 0;
                emit CardJobReport::instance()->recoveryResultCleared();
                if (store)
                    store->test_signal(99);
            }
        } else {
            query_result.valid = 1;
            query_result.screen = get(Screen);
            query_result.net = replay_net;
            query_result.port = uint8_t(rd.net.net_ledx);
            query_result.card = result;
            query_result.cards = rd.net.net_rcv_num;
            const QString line = twoDigits(query_result.screen + 1u) + '/' + twoDigits(query_result.port + 1u) + '/' +
                                 twoDigits(query_result.card + 1u) + '/' + twoDigits(query_result.cards);
            result_shown = 1;
            emit CardJobReport::instance()->recoveryResult(line);
            if (store)
                store->test_signal(1);
        }
        trace("\n over!!! ");
        progress(100);
        job_end(jobOf(mode), job_errors == 0 && !replay_failed);
        break;
    }
    case Fail:
        progress(100);
        job_stamp = now;
        set(Step, FailWait);
        break;
    case FailWait:
        if (elapsed > kEndTicks) {
            job_stamp = now;
            job_end(jobOf(mode), false);
            if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config)
                store->test_signal(1);
        }
        break;
    default:
        break;
    }
}

// ---- one operation ----

// Sends the current operation of the reader to the cards of its port, packet by packet, each
// awaited (up to three tries). 1 when the operation is over; replay_failed tells whether a card
// missed it.
int fpga_manage::load_rcv_xy_operate(const QString& path, uint32_t position, bool all)
{
    if (!rcvrecovery)
        return 1;
    const rcvRecovery::Operation op = rcvrecovery->operation;
    const int port = rcvrecovery->net.net_ledx;
    const int card = replay_card;
    auto failed = [&](const std::string& why) {
        replay_failed = 1;
        writeLogMsg(LOG_WARNING, "card data operation " + std::to_string(op.type) + " on port " + std::to_string(port) + ": " + why);
        set(SubStep, OpDone);
        return 1;
    };
    switch (get(SubStep)) {
    case OpStart:
        replay_retry = 0;
        set(PacketIndex, 0);
        set(PacketCount, 1);
        set(SubStep, OpPort);
        return 0;
    case OpPort:
        if (port < 0 || port >= kPorts)
            return failed("port beyond FPGA 0");
        replay_cards = get_port_card_num(port);
        set(SubStep, OpSend);
        return 0;
    case OpSend: {
        uint8_t data[kPacketMax];
        uint8_t packet[kPacketMax];
        uint32_t n = 0;
        const uint32_t index = get(PacketIndex);
        if (op.type == 6) {
            replay_stamp = G_timeTicks.load();
            set(SubStep, OpSleep);
            return 0;
        }
        if (op.type == 1 && op.target == 1) {
            // ceil(size / 1000) packets; their count is kept in one byte.
            if (!rcvRecovery::operation_fits(op))
                return failed("too much data for one RAM write");
            const uint32_t count = uint32_t((uint64_t(op.dataLen) + rcvRecovery::kRamPacket - 1) / rcvRecovery::kRamPacket);
            if (count == 0) {
                set(SubStep, OpDone);
                return 1;
            }
            set(PacketCount, uint8_t(count));
            const uint32_t offset = index * rcvRecovery::kRamPacket, length = std::min(rcvRecovery::kRamPacket, op.dataLen - offset);
            if (uint64_t(position) + offset + length > UINT32_MAX ||
                rcvrecovery->update_rcvOperatedata(path, position + offset, data, uint16_t(length)) != 0)
                return failed("data beyond the file");
            n = load_write_ram_cmd_create(port, card, op.targetAddr + offset, data, length, packet, all);
        } else if (op.type == 2) {
            n = save_para2flash_cmd_create(port, card, packet, all);
        } else if (op.type == 1 || op.type == 3 || op.type == 5 || op.type == 7 || op.type == 16) {
            if (op.type == 1 && op.target != 2) {
                trace("\n target_error %u \n", op.target);
                set(SubStep, OpDone);
                return 1;
            }
            if (!rcvRecovery::operation_fits(op))
                return failed("data longer than one packet");
            if (op.dataLen && rcvrecovery->update_rcvOperatedata(path, position, data, uint16_t(op.dataLen)) != 0)
                return failed("data beyond the file");
            switch (op.type) {
            case 1: n = load_write_reg_cmd_create(port, card, data, op.dataLen, packet, all); break;
            case 3: n = rcv_active_firmware_cmd_create(port, card, data, op.dataLen, packet, all); break;
            case 5: n = rcv_reconfig_cmd_create(port, card, data, op.dataLen, packet, all); break;
            case 7: n = load_search_rxc_cmd_create(port, data, op.dataLen, packet); break;
            default: n = load_write_user_defined_cmd_create(port, card, data, op.dataLen, packet, all); break;
            }
        } else {
            trace("\n operation %u skipped \n", op.type); // upgrade and unknown codes: nothing to send
            set(SubStep, OpDone);
            return 1;
        }
        if (n == 0)
            return failed("packet cannot be built");
        set(Reply, 0);
        send_packet(packet, n, port); // a packet that did not leave is tried again after the wait
        replay_stamp = G_timeTicks.load();
        set(SubStep, OpWait);
        return 0;
    }
    case OpSleep:
        if (Utils::getTimeSpace(replay_stamp) < op.timeticks / 10)
            return 0;
        set(SubStep, OpDone);
        return 1;
    case OpWait: {
        const uint8_t reply = get(Reply);
        uint32_t wait = op.timeticks / 10;
        if (op.type == 2)
            wait += kPerCardFlashTicks * replay_cards;
        if (reply == ReplyGood) {
            set(Reply, 0);
            replay_retry = 0;
            const uint8_t next = uint8_t(get(PacketIndex) + 1);
            if (next < get(PacketCount)) {
                set(PacketIndex, next);
                set(SubStep, OpSend);
                return 0;
            }
            set(SubStep, OpDone);
            return 1;
        }
        if (reply == 0 && Utils::getTimeSpace(replay_stamp) <= wait)
            return 0;
        set(Reply, 0);
        if (++replay_retry < kTries) {
            set(SubStep, OpSend);
            return 0;
        }
        return failed(reply ? "bad answer" : "no answer");
    }
    default:
        set(SubStep, OpDone);
        return 1;
    }
}
