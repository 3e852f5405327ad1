// The receiving-card link of FPGA 0: packets out through the pairs' TX buffers, replies in from
// their RX buffers, and the periodic card search that counts the cards of each port.
#include "fpga/fpga_manage.h"
#include "fpga/fpga_jobs_block.h"

#include "base/bytes.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "params/protocol_layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kTxLow[8] = {26, 134, 136, 138, 154, 155, 156, 157};
constexpr int kRxLow[8] = {24, 133, 135, 137, 149, 150, 151, 152};
constexpr uint32_t kTxWaitTicks = 300;
constexpr int kTxWaitPolls = 3000;       // about 3 s at 1 ms a poll, when nobody drives the tick
constexpr uint32_t kSearchReplyMin = 15; // count and status bytes
constexpr uint32_t kErrorSearchMin = 25; // echoed config id and the result at 22-23
constexpr uint8_t kGroupSearch = 0x10, kGroupReadRam = 0x61, kGroupWriteReg = 0xA0;

int txHigh(int pair) { return pair < 4 ? 27 : 158; }
int rxHigh(int pair) { return pair < 4 ? 25 : 153; }
int selectReg(int pair) { return pair < 4 ? 132 : 148; }
int strobeReg(int pair) { return pair < 4 ? 130 : 146; }
int ackReg(int pair) { return pair < 4 ? 131 : 147; }

uint8_t xorOf(const uint8_t* p, uint32_t n)
{
    return uint8_t(Utils::BCC(p, n));
}

}

void fpga_manage::card_fields(int port, uint32_t* count, uint32_t* status)
{
    static const uint16_t kCount[4] = {100, 102, 108, 110};
    static const uint16_t kStatus[4] = {104, 106, 112, 114};
    if (port < 0 || port >= kPorts)
        port = 0;
    if (port < 4) {
        *count = kCount[port];
        *status = kStatus[port];
    } else if (port < 8) {
        *count = 560 + 4 * uint32_t(port - 4);
        *status = *count + 2;
    } else {
        *count = 640 + 4 * uint32_t(port - 8);
        *status = *count + 2;
    }
}

void fpga_manage::set_port_card_num(int port, uint16_t count, uint8_t status)
{
    if (port < 0 || port >= kPorts)
        return;
    uint32_t atCount, atStatus;
    card_fields(port, &atCount, &atStatus);
    bool changed;
    {
        std::lock_guard<std::mutex> lock(image_mutex);
        uint8_t* para = MCU_RAM_PARA_func[0];
        changed = getU16(para + atCount) != count || para[atStatus] != status;
        putU16(para + atCount, count);
        para[atStatus] = status;
    }
    if (!changed)
        return;
    uint8_t bytes[2];
    putU16(bytes, count);
    write_fpga_ram(bytes, atCount, 2, 1, 0);
    write_fpga_ram(&status, atStatus, 1, 1, 0);
}

uint16_t fpga_manage::port_link_word()
{
    if (reg_cached(0, FpgaReg::State) != FpgaReg::StateUp)
        return 0;
    read_from_register(FpgaReg::PortLinksLow, 0);
    read_from_register(FpgaReg::PortLinksHigh, 0);
    return uint16_t(reg_cached(0, FpgaReg::PortLinksHigh) << 8 | reg_cached(0, FpgaReg::PortLinksLow));
}

uint16_t fpga_manage::check_netport_card(int fpga)
{
    if (fpga != 0)
        return 0;
    uint32_t sum = 0;
    for (int p = 0; p < kPorts; ++p)
        sum += get_port_card_num(p);
    return uint16_t(sum);
}

// Polls the pair's TX-busy bit, sleeping between polls; a tick counter that nobody drives (tests
// without the GUI timer) cannot hold it for ever.
int fpga_manage::wait_fpga_send_ready(int port, int fpga)
{
    if (fpga != 0 || port < 0 || port >= kPorts)
        return 0;
    const int pair = port / 2, g = pair % 4;
    const int busyReg = pair < 4 ? FpgaReg::RxReadyLow : FpgaReg::RxReadyHigh;
    const uint32_t stamp = G_timeTicks.load();
    for (int poll = 0; poll < kTxWaitPolls && Utils::getTimeSpace(stamp) < kTxWaitTicks; ++poll) {
        uint8_t bits = 0;
        if (read_fpga_register(uint8_t(busyReg), &bits, 0) == 0 && !(bits >> (2 * g + 1) & 1))
            return 1;
        Delay::ms(1);
    }
    return 0;
}

int fpga_manage::Send_to_port(const uint8_t* packet, uint32_t length, int port, int fpga)
{
    if (fpga != 0 || port < 0 || port >= kPorts || !packet || length < 2 || length > kPacketMax)
        return 0;
    if (!wait_fpga_send_ready(port, fpga)) {
        // A packet in flight is never overwritten: this one is lost, and said so.
        writeLogMsg(LOG_WARNING, "card link: TX buffer of port " + std::to_string(port) + " still busy, packet dropped");
        return 0;
    }
    const int pair = port / 2, g = pair % 4;
    const uint32_t last = length - 1;
    write_to_register(selectReg(pair), 0xFF, uint8_t(1u << (port % 8)), 0);
    if (write_fpga_ram(packet, 0, length, 3 + 2 * pair, 0) != 0)
        return 0;
    write_to_register(kTxLow[pair], 0xFF, uint8_t(last), 0);
    write_to_register(txHigh(pair), uint8_t(3u << (2 * g)), uint8_t((last >> 8 & 3) << (2 * g)), 0);
    write_to_register(strobeReg(pair), 0xF0, uint8_t(16u << g), 0);
    return 1;
}

int fpga_manage::send_packet(const uint8_t* packet, uint32_t length, int port)
{
    PosixLock lock(pass_mutex);
    return Send_to_port(packet, length, port, 0);
}

int fpga_manage::multi_port_send(uint8_t* packet, uint32_t length)
{
    if (!packet || length < proto::kMinFrame || length > kPacketMax)
        return 0;
    const uint16_t links = port_link_word();
    uint16_t sent = 0;
    for (int port = 0; port < kPorts; ++port) {
        if (!(links >> port & 1) || get_port_card_num(port) == 0)
            continue;
        packet[1] = uint8_t((packet[1] & 0xCF) | (port % 4) << 4);
        packet[length - 1] = xorOf(packet, length - 1);
        if (Send_to_port(packet, length, port, 0))
            sent = uint16_t(sent | 1u << port);
    }
    multi_expected = sent;
    if (sent) {
        pass_pending = 1;
        pass_stamp = G_timeTicks.load();
    }
    int n = 0;
    for (int port = 0; port < kPorts; ++port)
        n += sent >> port & 1;
    return n;
}

int fpga_manage::check_error_rcv_search_card_cmd(int port, int fpga, uint32_t a, uint32_t b, uint8_t flag)
{
    if (fpga != 0 || port < 0 || port >= kPorts)
        return 0;
    uint8_t p[30] = {};
    putU16(p, uint16_t(((port % 4) << 12) + proto::kSearchCards));
    putU16(p + 2, proto::kBox);
    p[4] = 0x10;
    p[5] = 0xAA;
    p[6] = 0xFF;
    p[7] = uint8_t(port + 1);
    p[9] = kGroupSearch;
    p[16] = flag & 1;
    putU32(p + 17, a);
    p[21] = 0xFF;
    putU32(p + 23, b);
    p[29] = xorOf(p, 29);
    const int pair = port / 2;
    write_to_register(ackReg(pair), uint8_t(1u << (pair % 4)), 0, 0);
    return Send_to_port(p, sizeof p, port, 0);
}

// ---- card search ----

void fpga_manage::Check_search_card()
{
    if (pc_cmd_valid.load() == 0 && get_fpga_status()) {
        check_vbo_status(0);
        Search_Card_Cmd();
        Extension_function();
        check_wlanonline_state();
    } else if (Utils::getTimeSpace(pc_cmd_time.load()) > kSearchTicks) {
        pc_cmd_valid = 0;
        search_ports = 0;
    }
}

void fpga_manage::Search_Card_Cmd()
{
    const uint32_t now = G_timeTicks.load();
    if (reg_cached(0, FpgaReg::ScreenControl) & 0x08) {
        search_stamp = now;
        return;
    }
    uint16_t links = uint16_t(reg_cached(0, FpgaReg::PortLinksHigh) << 8 | reg_cached(0, FpgaReg::PortLinksLow));
    if (Utils::getTimeSpace(search_stamp) < kSearchTicks) {
        if (!search_go)
            return;
    } else {
        links = port_link_word();
        if (reg_cached(0, FpgaReg::State) != FpgaReg::StateUp || links == 0) {
            search_stamp = now; // nothing linked: look again a cycle later
            return;
        }
    }
    const bool odd = search_cycle & 1;
    ++search_cycle;
    // The answers are recorded by whichever thread serves the interrupt, under the same mutex.
    PosixLock lock(pass_mutex);
    CHECK_search_cmd_status();
    for (int k = 0; k < 8; ++k) {
        const int first = odd ? 2 * k + 1 : 2 * k, second = odd ? 2 * k : 2 * k + 1;
        const int port = (links >> first & 1) ? first : second;
        if (k < 4)
            write_to_register(131, uint8_t(1u << k), 0, 0);
        check_error_rcv_search_card_cmd(port, 0, 0, 0, 0);
        search_ports = uint16_t(search_ports | 1u << port);
    }
    search_answers = (search_answers & 0xFFFF) | 0x80000000u | (odd ? 0x40000000u : 0);
    search_go = 0;
    search_stamp = now;
}

// A pair that did not answer the last cycle has no cards on the port searched there. The caller
// holds pass_mutex.
void fpga_manage::CHECK_search_cmd_status()
{
    if (search_answers & 0x80000000u) {
        for (int k = 0; k < 8; ++k) {
            if (search_answers >> k & 1)
                continue;
            for (int port = 2 * k; port <= 2 * k + 1; ++port)
                if (search_ports >> port & 1)
                    set_port_card_num(port, 0, 0);
        }
    }
    search_answers = 0;
    search_ports = 0;
    total_cards = check_netport_card(0);
}

// ---- replies ----

void fpga_manage::Rcv_data_from_eth(int fpga)
{
    if (fpga != 0)
        return;
    uint8_t reply[kPacketMax];
    // Each pair holds one reply at a time; a few rounds drain what is queued behind it.
    for (int round = 0; round < 4; ++round) {
        read_from_register(FpgaReg::RxReadyLow, 0);
        read_from_register(FpgaReg::RxReadyHigh, 0);
        const uint16_t ready = uint16_t(reg_cached(0, FpgaReg::RxReadyHigh) << 8 | reg_cached(0, FpgaReg::RxReadyLow));
        if (!(ready & 0x5555))
            return;
        for (int pair = 0; pair < 8; ++pair) {
            const int g = pair % 4;
            const int bit = (pair < 4 ? 0 : 8) + 2 * g;
            if (!(ready >> bit & 1))
                continue;
            read_from_register(kRxLow[pair], 0);
            read_from_register(rxHigh(pair), 0);
            const uint32_t n = (uint32_t(reg_cached(0, rxHigh(pair)) >> (2 * g) & 3) << 8 | reg_cached(0, kRxLow[pair])) + 1;
            const bool read = read_fpga_ram(reply, 0, n, 2 + 2 * pair, 0) == 0;
            // Acknowledged first: the next reply of the pair may load while this one is handled.
            write_to_register(strobeReg(pair), uint8_t(1u << g), uint8_t(1u << g), 0);
            write_to_register(ackReg(pair), uint8_t(1u << g), 0, 0);
            if (read && n >= proto::kMinFrame && xorOf(reply, n - 1) == reply[n - 1])
                deal_with_reply(reply, n, pair);
            else
                refused_reply(pair, n);
        }
    }
}

// Bad or unexpected replies count in register 85, which the PC tools read.
void fpga_manage::refused_reply(int pair, uint32_t n)
{
    if (traceOn())
        printf("\n card reply on pair %d refused (%u bytes)\n", pair, unsigned(n));
    PosixLock lock(reg_mutex);
    ++MCU_REG_func[0][85];
}

// The port a reply came from: its port byte when that names a port of the pair, else the
// source's port bits (the pair's two ports differ in bit 0).
static int replyPort(const uint8_t* r, int pair)
{
    const int named = int(r[7]) - 1;
    if (named >= 0 && named < fpga_manage::kPorts && named / 2 == pair)
        return named;
    return 2 * pair + (getU16(r + 2) >> 12 & 1);
}

void fpga_manage::deal_with_reply(uint8_t* r, uint32_t n, int pair)
{
    const uint16_t dest = getU16(r), source = getU16(r + 2);
    const uint8_t serial = r[5], group = r[9], status = r[10];
    const int port = replyPort(r, pair);

    if (dest == proto::kBox && group == kGroupSearch && serial != proto::kSerialJob) {
        if (n < kSearchReplyMin)
            return;
        search_answers |= 1u << pair;
        if (status == 0) {
            set_port_card_num(port, getU16(r + 11), r[13]);
            if (recovery_search_on.load() && n >= kErrorSearchMin && (r[17] & 1) &&
                getU32(r + 18) == recovery_config_id.load()) {
                JobBlock::set16(JobBlock::Result, getU16(r + 22));
                recovery_search_on = 0;
            }
        }
        return;
    }
    if (dest >= proto::kBox && dest < proto::kPcTool) {
        // Job answers first: a mapping or RAM-reset answer also looks like a multifunction one.
        if (source < proto::kBox && serial == proto::kSerialJob) {
            JobBlock::set(JobBlock::Reply, status == 0 ? JobBlock::ReplyGood : JobBlock::ReplyBad);
        } else if (dest == proto::kBox && (group == kGroupReadRam || group == kGroupWriteReg)) {
            const uint32_t present = n - 1 > 10 ? std::min<uint32_t>(n - 1 - 10, sizeof mf_reply) : 0;
            memset(mf_reply, 0, sizeof mf_reply);
            memcpy(mf_reply, r + 10, present);
            mf_raw_reply.assign(r, r + n);
            mf_reply_cmd = group;
            mf_reply_flag = 1;
        }
        return;
    }
    if (serial == proto::kSerialTemplate)
        return;
    // PC tools read a forwarded answer in this form: a single-port one with bits 4-5 of byte 1
    // cleared, a merged one addressed to all cards (or all cards of a port, as the request was)
    // with port byte 255. The card's own address in bytes 2-3 is left alone.
    if (dest == proto::kPcTool && status == 0 && group == kGroupSearch && n >= kSearchReplyMin)
        set_port_card_num(port, getU16(r + 11), r[13]);
    if (multi_flag && serial == multi_serial) {
        multi_answers = uint16_t(multi_answers | 1u << port);
        putU16(r, multi_to_search ? proto::kSearchCards : proto::kAllCards);
        r[7] = 255;
        r[n - 1] = xorOf(r, n - 1);
        multi_reply.assign(r, r + n);
        if ((multi_answers & multi_expected) == multi_expected) {
            const std::vector<uint8_t> merged = std::move(multi_reply);
            pass_merge_end();
            forward_card_reply(merged.data(), uint32_t(merged.size()), kAllPorts);
        }
        return;
    }
    r[1] &= 0xCF;
    if (r[7] == 0)
        r[7] = uint8_t(port + 1);
    r[n - 1] = xorOf(r, n - 1);
    forward_card_reply(r, n, port);
}
