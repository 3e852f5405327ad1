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

// ---- the replay's steps, one function each ----

namespace {

// What every step of one pass works with.
struct Pass {
    fpga_manage& m;
    rcvRecovery& rd;
    int mode;
    uint32_t now;     // the pass's tick
    uint32_t elapsed; // ticks since the job stamp
    // Files from a PC or a stick are refused at the first field that does not fit; every refusal
    // ends the job as a failure the page is told of.
    void fail(const char* text) const
    {
        trace(text);
        writeLogMsg(LOG_WARNING, std::string("card data job refused:") + text);
        ++m.job_errors;
        set(Step, Fail);
    }
    void progress(int percent) const { m.replay_progress(mode, percent); }
};

void stepStart(const Pass& p)
{
    fpga_manage& m = p.m;
    m.job_errors = 0;
    m.replay_failed = 0;
    m.job_progress = 0;
    m.recovery_search_on = 0;
    if (!m.get_fpga_status()) {
        p.fail("\n there is a error about fpga!!! ");
        return;
    }
    trace("\n check rcv.... ");
    m.job_stamp = p.now;
    p.progress(0);
    set(Step, StartWait);
}

void stepStartWait(const Pass& p)
{
    if (p.elapsed > kStartTicks)
        set(Step, Files);
    else if (p.elapsed >= kStartShowTicks)
        p.progress(int(p.elapsed * 100 / 500));
}

void stepFiles(const Pass& p)
{
    rcvRecovery& rd = p.rd;
    set16(Result, ResultNone);
    if (p.mode != 2) {
        if (rd.get_dir_file(QStringLiteral("/data/rcvrecovery")) != 0) {
            p.fail("\n check file error ");
            return;
        }
        // The file is read by its own name: any other single file would be read as stale data.
        const QStringList files = rd.recovery_files();
        if (files.size() != 1 || files.front() != QLatin1String("QZFX")) {
            p.fail("\n more file error ");
            return;
        }
        rd.path = QStringLiteral("/data/rcvrecovery/QZFX");
        if (traceOn())
            printf("\n recovery_files_nmae  %s  !/n", qPrintable(files.front()));
        if (rd.get_rcvPackedFileNum(rd.path) != 0) {
            p.fail("\n check file error ");
            return;
        }
        set(Step, Parts);
    } else {
        int missing = rd.get_dir_file(QStringLiteral("/data/smartmapping"));
        if (missing || rd.scan_files().isEmpty())
            missing = rd.get_dir_file(QStringLiteral("/mnt/usb1/"));
        if (missing) {
            p.fail("\n check file error ");
            return;
        }
        const QString chosen = g_qzfile_name.get();
        if (rd.scan_files().isEmpty() || !scanFileAllowed(chosen)) {
            p.fail("\n more file error ");
            return;
        }
        rd.init_para();
        rd.path = chosen;
        if (traceOn())
            printf("\n smart_files_nmae  %s  !/n", qPrintable(chosen));
        set(Step, DebugOps);
    }
    p.m.job_stamp = p.now;
    p.progress(int(p.elapsed * 100 / 500));
}

void stepParts(const Pass& p)
{
    rcvRecovery& rd = p.rd;
    for (uint8_t k = 0; k < rd.kept_parts(); ++k) {
        if (rd.get_rcvPackedFileInfo(rd.path, k) != 0) {
            p.fail("\n check file error ");
            return;
        }
    }
    p.m.job_stamp = p.now;
    set(Step, PartCheck);
}

void stepPartCheck(const Pass& p)
{
    // Without parts every field would be read from the file's head.
    if (p.rd.kept_parts() == 0 || !p.rd.has_part(kScreenPart)) {
        p.fail("\n no file type error ");
        return;
    }
    p.progress(60);
    set(Step, ScreenHead);
}

void stepScreenHead(const Pass& p)
{
    const fpga_manage::QueryResult& query = p.m.query_result;
    trace("\n now in RECOVERY_RCV_GET_SCREEN_NUM ");
    if (p.rd.update_rcvScreenHead(p.rd.path) != 0) {
        p.fail("\n check screen net error ");
        return;
    }
    if (p.mode == 0) {
        set(Screen, 0);
    } else {
        if (!query.valid) {
            p.fail("\n no query result to recover ");
            return;
        }
        set(Screen, query.screen);
        trace("\n now start to  recovery screen%d ,net%d \n", query.screen + 1u, query.port + 1u);
    }
    p.progress(5 * 100 / 35);
    set(Step, ScreenRecord);
}

void stepScreenRecord(const Pass& p)
{
    if (p.rd.update_rcvScreenIDinfo(p.rd.path, get(Screen)) != 0) {
        p.fail("\n screen record error ");
        return;
    }
    if (p.mode == 0) {
        p.progress((get(Screen) * 100 + 100) / (p.rd.screen_head.screen_num + 1));
        set(Step, NetCount);
    } else {
        trace("\n now start to check file ....");
        set(Step, Lengths);
    }
}

void stepLengths(const Pass& p)
{
    const rcvRecovery& rd = p.rd;
    if (rd.screen.rcv_para_len == 0 && rd.screen.rcv_xy_len == 0) {
        p.fail("\n screen file all len  error ");
    } else if (rd.screen.rcv_para_len == 0) {
        if (rd.has_part(kXyPart))
            set(Step, NetCount);
        else
            p.fail("\n no xy part ");
    } else if (rd.has_part(kDebugPart)) {
        set(Step, DebugOps);
    } else {
        p.fail("\n no screen parameter part ");
    }
}

void stepNetCount(const Pass& p)
{
    fpga_manage& m = p.m;
    if (p.rd.update_rcvXYscreenNetnum(p.rd.path) != 0) {
        p.fail("\n rcv xy file screen_net num error ");
        return;
    }
    m.replay_net = p.mode == 0 ? 0 : m.query_result.net;
    p.progress(8 * 100 / 35);
    trace("\n now start to recovery net_index = %#x \n", m.replay_net);
    set(Step, NetRecord);
}

void stepNetRecord(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    if (rd.update_rcvXYscreenNetpara(rd.path, m.replay_net) != 0) {
        p.fail("\n rcv xy file screen_net para error ");
        return;
    }
    // Ports from 16 on belong to FPGA 1, which this box does not drive.
    if (rd.net.net_ledx >= fpga_manage::kPorts) {
        p.fail("\n net port beyond FPGA 0 ");
        return;
    }
    set16(Result, ResultNone);
    if (p.mode == 0) {
        p.progress((m.replay_net * 100 + 100) / (rd.net.net_rcv_num + 1));
        set(Step, Search);
    } else if (m.query_result.card < rd.net.net_rcv_num && rd.net.net_ledx == m.query_result.port) {
        m.replay_card = m.query_result.card;
        p.progress(28);
        set(Step, CardOps);
    } else {
        p.fail("\n card to recover not in the net ");
    }
}

void stepCardOps(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    if (rd.update_rcvXYrcvOperateTimes(rd.path, m.query_result.card, p.mode == 2) != 0) {
        p.fail("\n rcv xy file rcv operate times error ");
        return;
    }
    // Every record of the list is looked at before the first packet: a wait beyond what a
    // card needs would hold the worker (and the panel's jobs, brightness and upgrades) for
    // days, data longer than its packets would run over them.
    if (rd.check_operation_list(rd.path, rd.card_list_position(), m.get_port_card_num(rd.net.net_ledx)) != 0) {
        p.fail("\n operation list damaged ");
        return;
    }
    m.replay_operation = 0;
    set(Step, rd.operate_times ? CardOp : End);
}

void stepCardOp(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    const uint16_t i = m.replay_operation;
    if (rd.update_rcvXYrcvOperatepara(rd.path, i, p.mode == 2) != 0) {
        p.fail("\n rcv xy file rcv operate times error ");
        return;
    }
    const uint64_t at = uint64_t(rd.part_offset(kXyPart)) + rd.screen.rcv_xy_offset + rd.net.net_para_offset + rd.operation.offset;
    if (at > UINT32_MAX) {
        p.fail("\n operation data beyond the file ");
        return;
    }
    set(SubStep, OpStart);
    rd.data_position = uint32_t(at);
    p.progress((i * 100 + 100) / (rd.operate_times + 1));
    m.job_progress = 0;
    m.job_stamp = p.now;
    trace("\n now in operate_data_offset = %#x\n", rd.data_position);
    set(Step, CardOpRun);
}

void stepCardOpRun(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    if (!m.load_rcv_xy_operate(rd.path, rd.data_position, false)) {
        m.replay_counter_progress(p.mode);
        return;
    }
    if (m.replay_failed) {
        set(Step, Fail);
        return;
    }
    const uint16_t next = ++m.replay_operation;
    set(SubStep, OpStart);
    set(Step, next < rd.operate_times ? CardOp : End);
}

void stepSearch(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    const int port = rd.net.net_ledx;
    m.recovery_config_id = rd.screen.config_id;
    set16(Result, ResultNone);
    m.recovery_search_on = 1;
    trace("\n fpga%d_sel, net%d ,config_id_enalbe = %#x\n", 0, unsigned(port));
    trace("\n check screen_index = %#x , net_index = %#x \n", get(Screen), m.replay_net);
    int sent;
    {
        PosixLock lock(m.pass_mutex);
        sent = m.check_error_rcv_search_card_cmd(port, 0, rd.screen.config_id, 0, 1);
    }
    if (!sent)
        writeLogMsg(LOG_WARNING, "card query: search of port " + std::to_string(port) + " not sent");
    p.progress(13 * 100 / 35);
    set32(Stamp, p.now);
    m.job_stamp = p.now;
    m.job_progress = 0;
    set(Step, SearchWait);
}

void stepSearchWait(const Pass& p)
{
    fpga_manage& m = p.m;
    const uint16_t result = get16(Result);
    if (result != ResultNone) {
        trace("\n rcv back info ...%#x\n", result);
        m.recovery_search_on = 0;
        set(Step, result == ResultAllGood ? NextNet : End);
        return;
    }
    // No answer is not "all cards in order": the net is logged and the query ends as failed.
    if (Utils::getTimeSpace(get32(Stamp)) > kSearchWaitTicks) {
        trace("\n timeout!!! ");
        m.recovery_search_on = 0;
        ++m.job_errors;
        writeLogMsg(LOG_WARNING, "card query: no answer from port " + std::to_string(p.rd.net.net_ledx));
        set(Step, NextNet);
        return;
    }
    m.replay_counter_progress(p.mode);
}

void stepNextNet(const Pass& p)
{
    fpga_manage& m = p.m;
    if (m.replay_net + 1u < p.rd.net_count) {
        ++m.replay_net;
        set(Step, NetRecord);
        return;
    }
    m.replay_net = 0;
    const uint8_t screen = uint8_t(get(Screen) + 1);
    set(Screen, screen);
    trace("\n current_screen_index = %#x , screen_num = %#x \n", screen, p.rd.screen_head.screen_num);
    set(Step, screen >= p.rd.screen_head.screen_num ? End : ScreenRecord);
}

// After the screen's parameters: the scan file is done, a recovery goes on to the card's own
// data unless the screen has none.
ReplayStep afterDebugList(const Pass& p)
{
    return p.mode == 2 || p.rd.screen.rcv_xy_len == 0 ? End : NetCount;
}

void stepDebugOps(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    if (rd.update_smartDebugingOperateTimes(rd.path, p.mode == 2) != 0) {
        p.fail("\n rcv xy file rcv operate times error ");
        return;
    }
    if (p.mode == 2) {
        const uint8_t port = line_type[8].load();
        if (port >= fpga_manage::kPorts || m.get_port_card_num(port) == 0) {
            p.fail("\n no card on the scan port ");
            return;
        }
        rd.net.net_ledx = port;
    } else {
        rd.net.net_ledx = m.query_result.port;
        m.replay_card = m.query_result.card;
        if (m.get_port_card_num(m.query_result.port) <= m.query_result.card) {
            p.fail("\n card to recover not on the port ");
            return;
        }
    }
    if (rd.check_operation_list(rd.path, rd.debug_list_position(p.mode == 2), m.get_port_card_num(rd.net.net_ledx)) != 0) {
        p.fail("\n operation list damaged ");
        return;
    }
    m.replay_operation = 0;
    set(Step, rd.operate_times == 0 ? afterDebugList(p) : DebugOp);
}

void stepDebugOp(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    const uint16_t i = m.replay_operation;
    if (rd.update_smartDebugingOperatepara(rd.path, i, p.mode == 2) != 0) {
        p.fail("\n rcv xy file rcv operate times error ");
        return;
    }
    const uint64_t base = p.mode == 2 ? 16 : uint64_t(rd.part_offset(kDebugPart));
    const uint64_t at = base + rd.screen.rcv_para_offset + rd.operation.offset;
    if (at > UINT32_MAX) {
        p.fail("\n operation data beyond the file ");
        return;
    }
    set(SubStep, OpStart);
    rd.data_position = uint32_t(at);
    p.progress((i * 100 + 100) / (rd.operate_times + 1));
    m.job_progress = 0;
    m.job_stamp = p.now;
    trace("\n in operate_para_data_offset=%#x ,net_index = %#x \n", rd.data_position, m.replay_net);
    set(Step, DebugOpRun);
}

void stepDebugOpRun(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    if (!m.load_rcv_xy_operate(rd.path, rd.data_position, p.mode == 2)) {
        m.replay_counter_progress(p.mode);
        return;
    }
    if (m.replay_failed) {
        set(Step, Fail);
        return;
    }
    const uint16_t next = ++m.replay_operation;
    set(SubStep, OpStart);
    if (next < rd.operate_times) {
        set(Step, DebugOp);
        trace("\n start to set net para operate ");
        return;
    }
    m.replay_operation = 0;
    set(Step, afterDebugList(p));
    if (p.mode == 1)
        trace("\n start to set point xy ");
}

void stepEnd(const Pass& p)
{
    fpga_manage& m = p.m;
    const uint16_t result = get16(Result);
    trace("\n the number of rcv need to recovery is %#x \n", result);
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (result == ResultNone || result == ResultAllGood) {
        if (p.mode == 1 && m.result_shown) {
            m.result_shown = 0;
            emit CardJobReport::instance()->recoveryResultCleared();
            if (store)
                store->test_signal(99);
        }
    } else {
        fpga_manage::QueryResult& q = m.query_result;
        q.valid = 1;
        q.screen = get(Screen);
        q.net = m.replay_net;
        q.port = uint8_t(p.rd.net.net_ledx);
        q.card = result;
        q.cards = p.rd.net.net_rcv_num;
        const QString line = twoDigits(q.screen + 1u) + '/' + twoDigits(q.port + 1u) + '/' + twoDigits(q.card + 1u) + '/' +
                             twoDigits(q.cards);
        m.result_shown = 1;
        emit CardJobReport::instance()->recoveryResult(line);
        if (store)
            store->test_signal(1);
    }
    trace("\n over!!! ");
    p.progress(100);
    m.job_end(jobOf(p.mode), m.job_errors == 0 && !m.replay_failed);
}

void stepFail(const Pass& p)
{
    p.progress(100);
    p.m.job_stamp = p.now;
    set(Step, FailWait);
}

void stepFailWait(const Pass& p)
{
    if (p.elapsed <= kEndTicks)
        return;
    p.m.job_stamp = p.now;
    p.m.job_end(jobOf(p.mode), false);
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config)
        store->test_signal(1);
}

// The steps by their number in the job block; any other step does nothing.
constexpr struct {
    ReplayStep step;
    void (*run)(const Pass&);
} kSteps[] = {
    {Start, stepStart},           {StartWait, stepStartWait},   {Files, stepFiles},
    {Parts, stepParts},           {PartCheck, stepPartCheck},   {ScreenHead, stepScreenHead},
    {ScreenRecord, stepScreenRecord}, {Lengths, stepLengths},   {NetCount, stepNetCount},
    {NetRecord, stepNetRecord},   {CardOps, stepCardOps},       {CardOp, stepCardOp},
    {CardOpRun, stepCardOpRun},   {Search, stepSearch},         {SearchWait, stepSearchWait},
    {NextNet, stepNextNet},       {DebugOps, stepDebugOps},     {DebugOp, stepDebugOp},
    {DebugOpRun, stepDebugOpRun}, {End, stepEnd},               {Fail, stepFail},
    {FailWait, stepFailWait},
};

}

// One pass of a replay job: the step the job block names.
void fpga_manage::rcv_recovery_check_deal(int mode)
{
    if (mode < 0 || mode > 2 || !rcvrecovery || job_paused())
        return;
    const uint32_t now = G_timeTicks.load();
    const Pass pass{*this, *rcvrecovery, mode, now, Utils::getTimeSpace(job_stamp)};
    const uint8_t step = get(Step);
    for (const auto& s : kSteps)
        if (s.step == step) {
            s.run(pass);
            return;
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
