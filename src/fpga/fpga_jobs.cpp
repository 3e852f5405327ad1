// Card jobs posted by the smart mapping page: positions for the cards of one port (job 1), save
// parameters in every card (job 3), mapping on or off (job 4); and the packet builders they and
// the replay share.
#include "fpga/fpga_manage.h"
#include "fpga/fpga_jobs_block.h"

#include "base/bytes.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/protocol_layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

std::atomic<uint8_t> line_type[12];
SharedText g_qzfile_name("");

using namespace JobBlock;

namespace {

constexpr uint32_t kReplyTicks = 1200;
constexpr uint32_t kPerCardTicks = 100;
constexpr uint32_t kEndTicks = 201;
constexpr uint32_t kPcTicks = 80;
constexpr uint32_t kProgressTicks = 100;

void trace(const char* text)
{
    if (traceOn())
        printf("%s", text);
}

uint16_t cardDest(int port, int card, bool all)
{
    return all ? proto::kAllCards : uint16_t((port % 4) << 12 | (card & proto::kCardBits));
}

// Bytes 0-9 of a job packet.
void head(uint8_t* out, uint16_t dest, uint8_t portByte, uint8_t group)
{
    putU16(out, dest);
    putU16(out + 2, proto::kBox);
    out[4] = 0x10;
    out[5] = proto::kSerialJob;
    out[6] = 1;
    out[7] = portByte;
    out[8] = 0;
    out[9] = group;
}

uint32_t seal(uint8_t* out, uint32_t n)
{
    out[n - 1] = uint8_t(Utils::BCC(out, n - 1));
    set16(PacketLength, uint16_t(n));
    return n;
}

// A card index that reads as "all cards" or "search" cannot name one card.
bool cardOk(int port, int card, bool all)
{
    return port >= 0 && port < fpga_manage::kPorts && (all || (card >= 0 && card < proto::kSearchCards));
}

uint32_t withData(int port, int card, bool all, uint8_t portByte, uint8_t group, const uint8_t* data, uint32_t n, uint8_t* out)
{
    if (!out || !cardOk(port, card, all) || n > fpga_manage::kPacketDataMax || (n && !data))
        return 0;
    head(out, cardDest(port, card, all), portByte, group);
    if (n)
        memcpy(out + 10, data, n);
    return seal(out, n + 11);
}

}

// ---- the pages' side ----

CardJobReport* CardJobReport::instance()
{
    static CardJobReport report;
    return &report;
}

// ---- packet builders ----

uint32_t fpga_manage::load_write_ram_cmd_create(int port, int card, uint32_t address, const uint8_t* data, uint32_t n, uint8_t* out, bool all)
{
    if (!out || !cardOk(port, card, all) || n > kPacketMax - 19 || (n && !data))
        return 0;
    head(out, cardDest(port, card, all), uint8_t(port + 1), 0x60);
    putU32(out + 10, address);
    putU16(out + 14, uint16_t(n));
    out[16] = out[17] = 0;
    if (n)
        memcpy(out + 18, data, n);
    return seal(out, n + 19);
}

uint32_t fpga_manage::load_write_reg_cmd_create(int port, int card, const uint8_t* data, uint32_t n, uint8_t* out, bool all)
{
    return withData(port, card, all, 0, 0xA0, data, n, out);
}

uint32_t fpga_manage::load_write_user_defined_cmd_create(int port, int card, const uint8_t* data, uint32_t n, uint8_t* out, bool all)
{
    if (!out || !cardOk(port, card, all) || n == 0 || !data || n > kPacketMax - 10)
        return 0;
    head(out, cardDest(port, card, all), 0, 0);
    memcpy(out + 9, data, n);
    return seal(out, n + 10);
}

uint32_t fpga_manage::rcv_active_firmware_cmd_create(int port, int card, const uint8_t* data, uint32_t n, uint8_t* out, bool all)
{
    return withData(port, card, all, uint8_t(port + 1), 0xB4, data, n, out);
}

uint32_t fpga_manage::rcv_reconfig_cmd_create(int port, int card, const uint8_t* data, uint32_t n, uint8_t* out, bool all)
{
    return withData(port, card, all, uint8_t(port + 1), 0x84, data, n, out);
}

uint32_t fpga_manage::load_search_rxc_cmd_create(int port, const uint8_t* data, uint32_t n, uint8_t* out)
{
    if (!withData(port, 0, true, uint8_t(port + 1), 0x10, data, n, out))
        return 0;
    putU16(out, uint16_t(((port % 4) << 12) + proto::kSearchCards));
    return seal(out, n + 11);
}

uint32_t fpga_manage::save_para2flash_cmd_create(int port, int card, uint8_t* out, bool all)
{
    const uint8_t data[2] = {0xFF, 0x00};
    return withData(port, card, all, 0, 0x81, data, 2, out);
}

uint32_t fpga_manage::save_para_cmd_create(uint8_t* out, int port)
{
    const uint8_t data[2] = {0xFF, 0x00};
    return withData(port, 0, true, uint8_t(port + 1), 0x81, data, 2, out);
}

uint32_t fpga_manage::mapping_enable_cmd_create(int port, uint8_t value, uint8_t* out)
{
    const uint8_t data[4] = {3, 0x0F, 1, value};
    return withData(port, 0, true, uint8_t(port + 1), 0xA0, data, 4, out);
}

uint32_t fpga_manage::ram_reset_cmd_create(uint8_t* out, int port)
{
    const uint8_t data[4] = {1, 0xFF, 1, 0xFF};
    if (!withData(port, 0, true, uint8_t(port + 1), 0xA0, data, 4, out))
        return 0;
    putU16(out, uint16_t(((port % 4) << 12) + proto::kSearchCards));
    return seal(out, 15);
}

uint32_t fpga_manage::rcv_card_cmd_create(uint8_t* out, int port, int card, uint16_t x, uint16_t y)
{
    uint8_t data[4];
    putU16(data, x);
    putU16(data + 2, y);
    return load_write_ram_cmd_create(port, card, 0x180, data, sizeof data, out, false);
}

// ---- card positions ----

// Walks: rows (types 1-4, 9-11) or columns (5-8, 12-16). Type 12 walks the columns from the left,
// each from the bottom up, as type 15 does; its row term counts rows, so every cell of the wall
// gets a position of its own.
int fpga_manage::get_rcvcard_x_y(uint32_t index, uint8_t type, uint8_t rows, uint8_t columns, uint16_t width,
                                 uint16_t height, uint16_t* x, uint16_t* y)
{
    if (rows == 0 || columns == 0 || type == 0 || type > 16)
        return 1;
    const uint32_t cells = uint32_t(rows) * columns;
    if (index >= cells)
        index = cells - 1; // past the last cell: the last cell's position
    int c, r;
    if (type <= 4 || (type >= 9 && type <= 11)) {
        const bool bottomUp = type == 1 || type == 2 || type == 9 || type == 11;
        const bool leftFirst = type == 2 || type == 4 || type == 10 || type == 11;
        const bool snake = type <= 4;
        const int rr = int(index / columns), cc = int(index % columns);
        r = bottomUp ? rows - 1 - rr : rr;
        const bool left = snake && (rr & 1) ? !leftFirst : leftFirst;
        c = left ? cc : columns - 1 - cc;
    } else {
        const bool fromRight = type == 5 || type == 6 || type == 13 || type == 16;
        const bool upFirst = type == 5 || type == 8 || type == 12 || type == 13 || type == 15;
        const bool snake = type <= 8;
        const int cc = int(index / rows), rr = int(index % rows);
        c = fromRight ? columns - 1 - cc : cc;
        const bool up = snake && (cc & 1) ? !upFirst : upFirst;
        r = up ? rows - 1 - rr : rr;
    }
    *x = uint16_t(c * width);
    *y = uint16_t(r * height);
    return 0;
}

// ---- common frame of the jobs ----

bool fpga_manage::job_paused()
{
    if (!pc_cmd_valid.load())
        return false;
    const uint32_t now = G_timeTicks.load();
    set32(Stamp, now);
    job_stamp = now;
    replay_stamp = now;
    if (Utils::getTimeSpace(pc_cmd_time.load()) > kPcTicks) {
        pc_cmd_valid = 0;
        search_ports = 0;
    }
    return true;
}

void fpga_manage::job_end(int job, bool ok)
{
    const uint32_t detail = std::exchange(job_detail, 0);
    if (detail & kNoCardFound) {
        writeLogMsg(LOG_WARNING, "card job " + std::to_string(job) + ": no receiving card found");
    } else if (!ok) {
        std::string ports;
        for (int p = 0; p < kPorts; ++p)
            if (detail & 1u << p)
                ports += (ports.empty() ? " on LED" : ", LED") + std::to_string(p + 1);
        writeLogMsg(LOG_WARNING, "card job " + std::to_string(job) + " ended with " + std::to_string(job_errors) +
                                     " unanswered or refused packets" + ports);
    }
    set(Step, 0);
    set(Job, 0);
    emit CardJobReport::instance()->jobFinished(job, ok, detail);
}

namespace {

// While a job waits for a card, the bar keeps moving: 1-99, one step a second.
void waitingProgress(fpga_manage& m)
{
    if (Utils::getTimeSpace(m.job_stamp) <= kProgressTicks)
        return;
    m.job_progress = m.job_progress % 99 + 1;
    m.job_stamp = G_timeTicks.load();
    emit CardJobReport::instance()->smartMappingProgress(int(m.job_progress));
}

void progress(int percent)
{
    emit CardJobReport::instance()->smartMappingProgress(percent);
}

// A reply, or the end of the wait; 1 go on, 0 keep waiting.
int replyOrTimeout(fpga_manage& m, uint32_t ticks)
{
    const uint8_t reply = get(Reply);
    if (reply != 0) {
        set(Reply, 0);
        if (reply != ReplyGood) {
            ++m.job_errors;
            trace("\n bad answer!!! ");
        } else {
            trace("\n rcv message back!!! ");
        }
        return 1;
    }
    if (Utils::getTimeSpace(get32(Stamp)) > ticks) {
        ++m.job_errors;
        trace("\n timeout!!! ");
        return 1;
    }
    waitingProgress(m);
    return 0;
}

// Sends one packet and starts its wait; a packet that cannot leave counts as unanswered.
bool sendAndWait(fpga_manage& m, const uint8_t* packet, uint32_t n, int port)
{
    set(Reply, 0);
    const bool sent = n != 0 && m.send_packet(packet, n, port) == 1;
    if (!sent)
        ++m.job_errors;
    m.job_progress = 0;
    m.job_stamp = G_timeTicks.load();
    set32(Stamp, G_timeTicks.load());
    return sent;
}

}

// Jobs 3 and 4: one packet to every port that has cards, each awaited before the next. A port whose
// cards do not answer is named in the outcome; with no card on any port the job reached nothing,
// which is not done.
static void portJob(fpga_manage& m, int job)
{
    if (m.job_paused())
        return;
    const bool save = job == 3;
    const uint8_t step = get(Step);
    int port = get(Port);
    switch (step) {
    case 0:
        m.job_errors = 0;
        m.job_detail = kNoCardFound; // until a port has cards
        set(Port, 0);
        set(Step, 1);
        trace(save ? "\n start send save para!!! " : "\n start send mapping para!!! ");
        break;
    case 1:
        if (port >= fpga_manage::kPorts) {
            set(Step, 4);
        } else if (m.get_port_card_num(port) != 0) {
            m.job_detail &= ~kNoCardFound;
            set(Step, 2);
            if (traceOn())
                printf(save ? "\n send rcv card port : %d,%d!!! \n" : "\n send rcv card port : %d,card_num =%d!!! \n", port,
                       m.get_port_card_num(port));
        } else {
            set(Port, uint8_t(port + 1));
            trace(save ? "\n no card to send save para!!! " : "\n no card to send mapping enable para!!! ");
        }
        break;
    case 2: {
        uint8_t packet[16];
        const uint32_t n = save ? fpga_manage::save_para_cmd_create(packet, port)
                                : fpga_manage::mapping_enable_cmd_create(port, get(Mapping), packet);
        m.job_wait_cards = m.get_port_card_num(port);
        const bool sent = sendAndWait(m, packet, n, port);
        if (!sent)
            m.job_detail |= 1u << port;
        progress(5 + port * 85 / fpga_manage::kPorts);
        set(Port, uint8_t(port + 1));
        set(Step, sent ? 3 : 1);
        break;
    }
    case 3: {
        const uint32_t errors = m.job_errors;
        if (replyOrTimeout(m, save ? kReplyTicks + kPerCardTicks * m.job_wait_cards : kReplyTicks)) {
            if (m.job_errors != errors)
                m.job_detail |= 1u << (port - 1); // the port awaited is the one before the next
            set(Step, 1);
        }
        break;
    }
    case 4:
        progress(95);
        set(Step, 9);
        set32(Stamp, G_timeTicks.load());
        trace(save ? "\n send save para over!!! " : "\n send mapping over!!! ");
        break;
    case 9:
        if (Utils::getTimeSpace(get32(Stamp)) > kEndTicks) {
            progress(100);
            if (!save)
                trace("\n send mapping para over!!! ");
            m.job_end(job, m.job_errors == 0 && !(m.job_detail & kNoCardFound));
        }
        break;
    default:
        progress(100);
        m.job_end(job, false);
        break;
    }
}

void fpga_manage::save_para_deal()
{
    portJob(*this, 3);
}

void fpga_manage::mapping_enable_deal()
{
    portJob(*this, 4);
}

void fpga_manage::SmartMapping_deal()
{
    if (job_paused())
        return;
    const int port = get(Port);
    const uint16_t index = get16(Card);
    switch (get(Step)) {
    case 0: {
        job_errors = 0;
        job_detail = 0;
        set16(Card, 0);
        set(Port, line_type[8].load());
        uint16_t x, y;
        const uint8_t rows = line_type[9], columns = line_type[10], type = line_type[11];
        const uint16_t width = uint16_t(line_type[0] | line_type[1] << 8), height = uint16_t(line_type[2] | line_type[3] << 8);
        // Nonsense positions would be programmed into the cards: refuse the job instead.
        if (line_type[8].load() >= kPorts || width == 0 || height == 0 ||
            get_rcvcard_x_y(0, type, rows, columns, width, height, &x, &y) != 0) {
            writeLogMsg(LOG_WARNING, "smart mapping refused: port " + std::to_string(line_type[8].load()) + ", wiring " +
                                         std::to_string(type) + ", " + std::to_string(rows) + " x " + std::to_string(columns));
            ++job_errors;
            progress(100);
            job_end(1, false);
            return;
        }
        set(Step, 1);
        trace("\n start send rcv card smartmapping!!! ");
        break;
    }
    case 1: {
        const uint16_t count = get_port_card_num(port);
        const uint32_t cells = uint32_t(line_type[9].load()) * line_type[10].load();
        set16(Cards, count);
        if (count == 0) {
            ++job_errors; // nothing to map on that port
            job_detail = kNoCardFound;
            set(Step, 4);
        } else if (index == 0 && count > cells) {
            // Cards past the last cell would all take its place: refused before any is placed.
            writeLogMsg(LOG_WARNING, "smart mapping refused: " + std::to_string(count) + " cards on LED" +
                                         std::to_string(port + 1) + ", " + std::to_string(cells) + " cells on the wall");
            ++job_errors;
            job_detail = kMoreCardsThanCells;
            progress(100);
            job_end(1, false);
        } else if (index >= count) {
            set(Step, 5);
            set(Port, line_type[8].load());
            trace("\n no card to send rcv card smartmapping!!! write reg  ");
        } else {
            set(Step, 2);
            if (traceOn())
                printf("\n send rcv card port : %d, index : %d!!! \n", port, index);
        }
        break;
    }
    case 2: {
        const uint16_t width = uint16_t(line_type[0] | line_type[1] << 8), height = uint16_t(line_type[2] | line_type[3] << 8);
        const uint16_t dx = uint16_t(line_type[4] | line_type[5] << 8), dy = uint16_t(line_type[6] | line_type[7] << 8);
        uint16_t x = 0, y = 0;
        get_rcvcard_x_y(index, line_type[11], line_type[9], line_type[10], width, height, &x, &y);
        uint8_t packet[23];
        const uint32_t n = rcv_card_cmd_create(packet, port, index, uint16_t(x + dx), uint16_t(y + dy));
        const bool sent = sendAndWait(*this, packet, n, port);
        const uint16_t count = std::max<uint16_t>(get16(Cards), 1);
        progress(int(5 + uint32_t(index) * 80 / count));
        set16(Card, uint16_t(index + 1));
        set(Step, sent ? 3 : 1);
        break;
    }
    case 3:
        if (replyOrTimeout(*this, kReplyTicks))
            set(Step, 1);
        break;
    case 5:
        if (index == get16(Cards)) {
            uint8_t packet[15];
            const uint32_t n = ram_reset_cmd_create(packet, port);
            const bool sent = sendAndWait(*this, packet, n, port);
            set16(Card, uint16_t(index + 1));
            set(Step, sent ? 6 : 5);
        } else {
            set(Step, 4);
        }
        break;
    case 6:
        if (replyOrTimeout(*this, kReplyTicks))
            set(Step, 5);
        break;
    case 4:
        progress(90);
        set(Step, 9);
        set32(Stamp, G_timeTicks.load());
        trace("\n send rcv card smartmapping over!!! ");
        break;
    case 9:
        if (Utils::getTimeSpace(get32(Stamp)) > kEndTicks) {
            progress(100);
            trace("\n send rcv card smartmapping ending !!! ");
            job_end(1, job_errors == 0);
        }
        break;
    default:
        progress(100);
        job_end(1, false);
        break;
    }
}
