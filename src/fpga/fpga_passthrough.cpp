// Pass-through of PC frames to the receiving cards and of their answers back to the transport
// that brought the frame.
#include "fpga/fpga_manage.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"

#include <QMutexLocker>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

namespace {

constexpr uint32_t kFrameMin = 11; // head, group, status and check byte

std::mutex sinkMutex;
std::function<bool(const uint8_t*, uint32_t)> sinks[4]; // by transport number 1-3

void setPortBits(uint8_t* packet, uint32_t length, int port)
{
    packet[1] = uint8_t((packet[1] & 0xCF) | (port % 4) << 4);
    packet[length - 1] = uint8_t(Utils::BCC(packet, length - 1));
}

}

void fpga_manage::set_reply_sink(int transport, std::function<bool(const uint8_t*, uint32_t)> sink)
{
    if (transport < 1 || transport > 3)
        return;
    std::lock_guard<std::mutex> lock(sinkMutex);
    sinks[transport] = std::move(sink);
}

// The transports hold pass_mutex and set g_passby_trans_port first. 1 when the frame went out
// to at least one port, 0 when nothing was sent, so the transport can stop waiting.
int fpga_manage::Dealwith1_PC_to_eth(uint32_t length, const uint8_t* packet)
{
    if (!packet || length < kFrameMin || length >= kPacketMax || Utils::BCC(packet, length - 1) != packet[length - 1])
        return 0;
    uint8_t p[kPacketMax];
    memcpy(p, packet, length);
    // A merge still waiting is over: what came back for it is not this frame's answer.
    multi_flag = 0;
    multi_answers = 0;
    multi_reply.clear();
    {
        QMutexLocker lock(&Utils::_system_mutex);
        pass_pending = 0;
    }
    write_to_register(147, 0x0F, 0x00, 0);
    write_to_register(131, 0x0F, 0x00, 0);

    const uint8_t selector = p[6], portByte = p[7];
    int port = -1;
    if (selector == 0) {
        if (portByte == 0)
            port = 0;
        else if (portByte <= kPorts)
            port = portByte - 1;
    } else if (selector == 1 || selector == 3 || selector == 255) {
        if (portByte == 255) {
            multi_flag = 1;
            multi_to_search = (p[0] | p[1] << 8) == 0x0FFE;
            multi_serial = p[5];
            const int sent = multi_port_send(p, length);
            if (!sent)
                multi_flag = 0;
            wake(); // the worker ends the merge if an answer stays out
            return sent ? 1 : 0;
        }
        if (portByte >= 1 && portByte <= kPorts) {
            port = portByte - 1;
        } else if (portByte == 0) {
            port = p[1] >> 4 & 3;
            if (traceOn())
                printf("FRAME_NETPORT : %d   port_num : %d\n", portByte, port);
        }
        // 17-32 name the ports of FPGA 1, which is not driven.
    }
    if (port < 0)
        return 0;
    if (!(selector == 0 && portByte == 0))
        setPortBits(p, length, port);
    return Send_to_port(p, length, port, 0);
}

// An answer set that stays incomplete (a silent port, a count changed meanwhile) still ends:
// what came back goes out, and the next request is not mistaken for part of this one.
void fpga_manage::pass_merge_timeout()
{
    if (!pass_pending.load() || Utils::getTimeSpace(pass_stamp) <= kMergeTicks)
        return;
    if (!multi_reply.empty())
        forward_card_reply(multi_reply.data(), uint32_t(multi_reply.size()));
    else
        writeLogMsg(LOG_WARNING, "card link: no port answered the frame sent to all ports");
    multi_reply.clear();
    multi_answers = 0;
    multi_flag = 0;
    QMutexLocker lock(&Utils::_system_mutex);
    pass_pending = 0;
}

void fpga_manage::forward_card_reply(const uint8_t* reply, uint32_t length)
{
    const uint8_t transport = g_passby_trans_port.exchange(255);
    if (transport < 1 || transport > 3)
        return; // nobody waits for it
    std::function<bool(const uint8_t*, uint32_t)> sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        sink = sinks[transport];
    }
    if (!sink || !sink(reply, length))
        return;
    reply_ready = 1;
}

bool fpga_manage::card_reply_ready()
{
    PosixLock pass(pass_mutex);
    reg_IRQ_Dealwith(0, 0);
    return reply_ready.load() != 0;
}
