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
#include <vector>

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
constexpr uint32_t kTries = 3;               // of each packet, each with its full wait
constexpr uint8_t kScreenPart = 10, kXyPart = 11, kDebugPart = 12;

// ---- how long a job may hold the worker ----

// Longest time an operation of a file may ask for, its reply wait or its pause, in ms. Files give
// cards a few seconds after a reconfiguration or a firmware activation, and a save its own time
// on top of the second a card the worker adds by itself; a minute is more than any card needs. A
// file asking for more is damaged or made to hold the worker (0xFFFFFFFF ms is some 50 days).
constexpr uint32_t kMaxOperationMs = rcvRecovery::kMaxStepMs;
constexpr uint64_t kSaveMsPerCard = kPerCardFlashTicks * 10;
// A job runs one step a worker pass, a pass a tick of 10 ms: an operation takes three passes
// besides its packets (its record, its start, its port), each try of a packet two besides its
// wait (the pass that sends it and the one that finds the wait over), a pause two besides its
// time, an operation that sends nothing one.
constexpr uint64_t kPassMs = 10, kOperationPasses = 3, kTryPasses = 2, kPausePasses = 2;
// Longest time everything one job sends may hold the worker when its cards answer: the sum over
// its lists (a recovery's screen list and card list together) of the reply waits, one try each,
// and the pauses, each save with its second for every card of the port. The largest wall the box
// drives is 10,485,760 pixels on 16 ports, 655,360 a port: 160 cards of 64 x 64 pixels, where one
// save takes 160 s. A job that sets a port up (a save in each list, a few hundred replies) stays
// inside 10 minutes; one asking for more would hold the panel's jobs, the brightness and USB
// upgrades for nothing.
constexpr uint64_t kMaxJobMs = rcvRecovery::kMaxJobMs;
// The job's own limit on its running time (PC traffic pauses it and stops its clock): what its
// lists may ask for with every packet tried three times on cards that do not answer, and two
// minutes for the steps between them, its start and end, and the searches of a query (5 s a net
// that does not answer). Past it the job ends as failed.
constexpr uint32_t kJobLimitTicks = uint32_t((kTries * kMaxJobMs + 2 * 60 * 1000) / kPassMs);

enum ReplayStep : uint8_t {
    Start = 0, StartWait = 1, Files = 2, Parts = 3, PartCheck = 4, ScreenHead = 5, ScreenRecord = 6, Lengths = 7,
    NetCount = 8, NetRecord = 9, CardOps = 10, CardOp = 11, CardOpRun = 12, Search = 13, SearchWait = 14,
    NextNet = 15, ListCheck = 16, DebugOps = 17, DebugOp = 18, DebugOpRun = 19, End = 33, Fail = 34, FailWait = 35,
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

// ---- what an operation sends ----

using Operation = rcvRecovery::Operation;

bool ramWrite(const Operation& op) { return op.type == 1 && op.target == 1; }

// Packets an operation sends: a RAM write one for every 1000 bytes, a register write, save,
// firmware activation, reconfiguration, card search and user-defined command one; a pause, an
// upgrade, an unknown code and a write to any other memory none.
uint32_t packetsOf(const Operation& op)
{
    if (ramWrite(op))
        return uint32_t((uint64_t(op.dataLen) + rcvRecovery::kRamPacket - 1) / rcvRecovery::kRamPacket);
    return (op.type == 1 && op.target == 2) || op.type == 2 || op.type == 3 || op.type == 5 || op.type == 7 ||
                   op.type == 16
               ? 1
               : 0;
}

// Where the data packet k carries starts in the operation's data, and how many bytes it is.
uint32_t packetDataOffset(const Operation& op, uint32_t k) { return ramWrite(op) ? k * rcvRecovery::kRamPacket : 0; }
uint32_t packetDataLength(const Operation& op, uint32_t k)
{
    if (ramWrite(op))
        return std::min(rcvRecovery::kRamPacket, op.dataLen - packetDataOffset(op, k));
    return op.type == 2 ? 0 : op.dataLen;
}

// Packet k of an operation that fits its packets, for the port and card, around its data; 0 when
// the builders cannot make it.
uint32_t packetOf(const Operation& op, uint32_t k, const uint8_t* data, int port, int card, bool all, uint8_t* out)
{
    const uint32_t n = packetDataLength(op, k);
    switch (op.type) {
    case 1:
        if (ramWrite(op))
            return fpga_manage::load_write_ram_cmd_create(port, card, op.targetAddr + packetDataOffset(op, k), data, n, out, all);
        return fpga_manage::load_write_reg_cmd_create(port, card, data, n, out, all);
    case 2: return fpga_manage::save_para2flash_cmd_create(port, card, out, all);
    case 3: return fpga_manage::rcv_active_firmware_cmd_create(port, card, data, n, out, all);
    case 5: return fpga_manage::rcv_reconfig_cmd_create(port, card, data, n, out, all);
    case 7: return fpga_manage::load_search_rxc_cmd_create(port, data, n, out);
    case 16: return fpga_manage::load_write_user_defined_cmd_create(port, card, data, n, out, all);
    default: return 0;
    }
}

// How long an operation holds the worker when its cards answer, in ms: one try of each packet.
// Retries on cards that do not answer are left to the job's running-time limit.
uint64_t operationMs(const Operation& op, uint16_t portCards)
{
    const uint64_t ms = kOperationPasses * kPassMs;
    if (op.type == 6)
        return ms + op.timeticks + kPausePasses * kPassMs;
    const uint32_t packets = packetsOf(op);
    if (packets == 0)
        return ms + kPassMs;
    const uint64_t wait = op.timeticks + (op.type == 2 ? kSaveMsPerCard * portCards : 0);
    return ms + uint64_t(packets) * (wait + kTryPasses * kPassMs);
}

// Where a list goes: the port, the card (or all cards of the port) and the port's card count.
struct Target {
    int port, card;
    bool all;
    uint16_t cards;
};

// One list of a job looked at whole before anything of the job is sent: every operation's time,
// its data (fitting its packets, inside the file counted from dataBase), a packet the builders
// can make of it for the target; its time is added to ms, which must stay within kMaxJobMs. A
// file cut short, a length or an offset beyond it, a payload no packet can carry would otherwise
// stop the job half-way, with the cards half set up.
bool listSound(rcvRecovery& rd, uint64_t list, uint64_t dataBase, const Target& to, uint64_t& ms)
{
    std::vector<Operation> ops;
    if (rd.read_operation_list(rd.path, list, ops) != 0) {
        writeLogMsg(LOG_WARNING, "card file operation list not in the file");
        return false;
    }
    static const uint8_t zeros[fpga_manage::kPacketMax] = {};
    uint8_t packet[fpga_manage::kPacketMax];
    for (size_t i = 0; i < ops.size(); ++i) {
        const Operation& op = ops[i];
        const std::string what = "card file operation " + std::to_string(i) + " (type " + std::to_string(op.type) +
                                 ", record at byte " + std::to_string(rcvRecovery::operation_position(list, uint32_t(i))) + ")";
        if (op.timeticks > kMaxOperationMs) {
            writeLogMsg(LOG_WARNING, what + " asks for " + std::to_string(op.timeticks) + " ms, more than the " +
                                         std::to_string(kMaxOperationMs) + " a step may take");
            return false;
        }
        if (!rcvRecovery::operation_fits(op)) {
            writeLogMsg(LOG_WARNING, what + " carries " + std::to_string(op.dataLen) + " bytes, more than its packets hold");
            return false;
        }
        const uint32_t packets = packetsOf(op);
        const uint32_t bytes = packets && op.type != 2 ? op.dataLen : 0; // what the sender reads of the file
        if (bytes && !rd.holds(rd.path, dataBase + op.offset, bytes)) {
            writeLogMsg(LOG_WARNING, what + ": its data lies beyond the end of the file");
            return false;
        }
        if (packets && packetOf(op, 0, zeros, to.port, to.card, to.all, packet) == 0) {
            writeLogMsg(LOG_WARNING, what + " cannot be sent as a card packet");
            return false;
        }
        ms += operationMs(op, to.cards);
    }
    if (ms > kMaxJobMs) {
        writeLogMsg(LOG_WARNING, "card job asks for " + std::to_string(ms) + " ms in all, more than any wall needs");
        return false;
    }
    return true;
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
    if (rd.screen.rcv_para_len == 0 && rd.screen.rcv_xy_len == 0)
        p.fail("\n screen file all len  error ");
    else if (rd.screen.rcv_para_len == 0 && !rd.has_part(kXyPart))
        p.fail("\n no xy part ");
    else if (rd.screen.rcv_para_len != 0 && !rd.has_part(kDebugPart))
        p.fail("\n no screen parameter part ");
    else
        set(Step, ListCheck);
}

// A recovery sends the screen's parameter list, then the card's own list: both are looked at
// whole, and their time together, before the first packet of either.
void stepListCheck(const Pass& p)
{
    fpga_manage& m = p.m;
    rcvRecovery& rd = p.rd;
    const fpga_manage::QueryResult& q = m.query_result;
    const Target to{q.port, q.card, false, m.get_port_card_num(q.port)};
    uint64_t ms = 0;
    if (rd.screen.rcv_para_len != 0) {
        const uint64_t list = rd.debug_list_position(false);
        if (!listSound(rd, list, list, to, ms)) {
            p.fail("\n operation list damaged ");
            return;
        }
    }
    if (rd.screen.rcv_xy_len != 0) {
        if (rd.update_rcvXYscreenNetnum(rd.path) != 0 || rd.update_rcvXYscreenNetpara(rd.path, q.net) != 0) {
            p.fail("\n rcv xy file screen_net para error ");
            return;
        }
        if (rd.net.net_ledx != q.port || q.card >= rd.net.net_rcv_num) {
            p.fail("\n card to recover not in the net ");
            return;
        }
        if (rd.update_rcvXYrcvOperateTimes(rd.path, q.card, false) != 0) {
            p.fail("\n rcv xy file rcv operate times error ");
            return;
        }
        if (!listSound(rd, rd.card_list_position(), rd.card_block_position(), to, ms)) {
            p.fail("\n operation list damaged ");
            return;
        }
    }
    set(Step, rd.screen.rcv_para_len != 0 ? DebugOps : NetCount);
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
    // Looked at again: the file may have been replaced since the job began.
    const Target to{rd.net.net_ledx, m.replay_card, false, m.get_port_card_num(rd.net.net_ledx)};
    uint64_t ms = 0;
    if (!listSound(rd, rd.card_list_position(), rd.card_block_position(), to, ms)) {
        p.fail("\n operation list damaged ");
        return;
    }
    m.replay_operation = 0;
    set(Step, rd.operate_times ? CardOp : End);
}

// The operation just read goes out from the next pass on, its data at `at`; false when that
// lies beyond what the reader can address (the job has failed).
bool startOperation(const Pass& p, uint64_t at, ReplayStep run)
{
    if (at > UINT32_MAX) {
        p.fail("\n operation data beyond the file ");
        return false;
    }
    set(SubStep, OpStart);
    p.rd.data_position = uint32_t(at);
    p.progress((p.m.replay_operation * 100 + 100) / (p.rd.operate_times + 1));
    p.m.job_progress = 0;
    p.m.job_stamp = p.now;
    set(Step, run);
    return true;
}

// One pass of the current operation; true when it is over and went well, the next one due.
bool runOperation(const Pass& p, bool all)
{
    fpga_manage& m = p.m;
    if (!m.load_rcv_xy_operate(p.rd.path, p.rd.data_position, all)) {
        m.replay_counter_progress(p.mode);
        return false;
    }
    if (m.replay_failed) {
        set(Step, Fail);
        return false;
    }
    ++m.replay_operation;
    set(SubStep, OpStart);
    return true;
}

void stepCardOp(const Pass& p)
{
    rcvRecovery& rd = p.rd;
    if (rd.update_rcvXYrcvOperatepara(rd.path, p.m.replay_operation, p.mode == 2) != 0) {
        p.fail("\n rcv xy file rcv operate times error ");
        return;
    }
    if (startOperation(p, rd.card_block_position() + rd.operation.offset, CardOpRun))
        trace("\n now in operate_data_offset = %#x\n", rd.data_position);
}

void stepCardOpRun(const Pass& p)
{
    if (runOperation(p, false))
        set(Step, p.m.replay_operation < p.rd.operate_times ? CardOp : End);
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
    // A scan file's one list is looked at whole here, before its first packet; a recovery's
    // again, as the file may have been replaced since the job began.
    const uint64_t list = rd.debug_list_position(p.mode == 2);
    const Target to{rd.net.net_ledx, m.replay_card, p.mode == 2, m.get_port_card_num(rd.net.net_ledx)};
    uint64_t ms = 0;
    if (!listSound(rd, list, list, to, ms)) {
        p.fail("\n operation list damaged ");
        return;
    }
    m.replay_operation = 0;
    set(Step, rd.operate_times == 0 ? afterDebugList(p) : DebugOp);
}

void stepDebugOp(const Pass& p)
{
    rcvRecovery& rd = p.rd;
    if (rd.update_smartDebugingOperatepara(rd.path, p.m.replay_operation, p.mode == 2) != 0) {
        p.fail("\n rcv xy file rcv operate times error ");
        return;
    }
    // A scan file's data counts from its operation count at 16 (its screen fields are cleared).
    const uint64_t base = p.mode == 2 ? 16 : uint64_t(rd.part_offset(kDebugPart));
    if (startOperation(p, base + rd.screen.rcv_para_offset + rd.operation.offset, DebugOpRun))
        trace("\n in operate_para_data_offset=%#x ,net_index = %#x \n", rd.data_position, p.m.replay_net);
}

void stepDebugOpRun(const Pass& p)
{
    fpga_manage& m = p.m;
    if (!runOperation(p, p.mode == 2))
        return;
    if (m.replay_operation < p.rd.operate_times) {
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
    {NextNet, stepNextNet},       {ListCheck, stepListCheck},   {DebugOps, stepDebugOps},
    {DebugOp, stepDebugOp},       {DebugOpRun, stepDebugOpRun}, {End, stepEnd},
    {Fail, stepFail},             {FailWait, stepFailWait},
};

}

// One pass of a replay job: the step the job block names.
void fpga_manage::rcv_recovery_check_deal(int mode)
{
    if (mode < 0 || mode > 2 || !rcvrecovery)
        return;
    const uint32_t now = G_timeTicks.load();
    if (job_paused()) {
        replay_clock = now; // the job's clock stands still while the PC pauses it
        return;
    }
    const uint8_t step = get(Step);
    const uint64_t run = step == Start ? 0 : uint64_t(replay_run) + Utils::getTimeSpace(replay_clock);
    replay_run = uint32_t(std::min<uint64_t>(run, kJobLimitTicks + 1ull));
    replay_clock = now;
    const Pass pass{*this, *rcvrecovery, mode, now, Utils::getTimeSpace(job_stamp)};
    if (replay_run > kJobLimitTicks && step != End && step != Fail && step != FailWait) {
        recovery_search_on = 0;
        pass.fail("\n job ran past its time ");
        return;
    }
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
        if (op.type == 6) {
            replay_stamp = G_timeTicks.load();
            set(SubStep, OpSleep);
            return 0;
        }
        const uint32_t count = packetsOf(op);
        if (count == 0) {
            if (op.type == 1 && !ramWrite(op))
                trace("\n target_error %u \n", op.target);
            else if (op.type != 1)
                trace("\n operation %u skipped \n", op.type); // upgrade and unknown codes: nothing to send
            set(SubStep, OpDone);
            return 1;
        }
        if (!rcvRecovery::operation_fits(op))
            return failed("data longer than its packets");
        set(PacketCount, uint8_t(count)); // at most 255: operation_fits
        const uint32_t index = get(PacketIndex);
        const uint32_t offset = packetDataOffset(op, index), length = packetDataLength(op, index);
        uint8_t data[kPacketMax];
        uint8_t packet[kPacketMax];
        if (length && (uint64_t(position) + offset + length > UINT32_MAX ||
                       rcvrecovery->update_rcvOperatedata(path, position + offset, data, uint16_t(length)) != 0))
            return failed("data beyond the file");
        const uint32_t n = packetOf(op, index, data, port, card, all, packet);
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
