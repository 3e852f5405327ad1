// Pass-through of PC frames to the receiving cards and of their answers back to the card link,
// which hands each to the asker whose frame it answers (card_link.cpp).
#include "fpga/fpga_manage.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/protocol_layout.h"

#include <QMutexLocker>
#include <cstdio>
#include <cstring>

namespace {

void setPortBits(uint8_t* packet, uint32_t length, int port)
{
    packet[1] = uint8_t((packet[1] & 0xCF) | (port % 4) << 4);
    packet[length - 1] = uint8_t(Utils::BCC(packet, length - 1));
}

}

int fpga_manage::pass_port(const uint8_t* packet, uint32_t length)
{
    if (!packet || length < proto::kMinFrame || length >= kPacketMax || Utils::BCC(packet, length - 1) != packet[length - 1])
        return -1;
    const uint8_t selector = packet[6], portByte = packet[7];
    if (selector == 0) {
        if (portByte == 0)
            return 0;
        return portByte <= kPorts ? portByte - 1 : -1;
    }
    if (selector != 1 && selector != 3 && selector != 255)
        return -1;
    if (portByte == 255)
        return kAllPorts;
    if (portByte >= 1 && portByte <= kPorts)
        return portByte - 1;
    // 17-32 name the ports of FPGA 1, which is not driven.
    return portByte == 0 ? packet[1] >> 4 & 3 : -1;
}

// The caller holds pass_mutex. 1 when the frame went out to at least one port, 0 when nothing
// was sent, so its asker can stop waiting.
int fpga_manage::Dealwith1_PC_to_eth(uint32_t length, const uint8_t* packet)
{
    const int port = pass_port(packet, length);
    if (port < 0)
        return 0;
    uint8_t p[kPacketMax];
    memcpy(p, packet, length);
    write_to_register(147, 0x0F, 0x00, 0);
    write_to_register(131, 0x0F, 0x00, 0);
    if (port == kAllPorts) {
        // A merge still waiting is over: what came back for it is not this frame's answer. Frames
        // for one port leave it alone: they are on the link beside it.
        pass_merge_end();
        multi_flag = 1;
        multi_to_search = (p[0] | p[1] << 8) == proto::kSearchCards;
        multi_serial = p[5];
        const int sent = multi_port_send(p, length);
        if (!sent)
            multi_flag = 0;
        wake(); // the worker ends the merge if an answer stays out
        return sent ? 1 : 0;
    }
    if (traceOn() && p[6] != 0 && p[7] == 0)
        printf("FRAME_NETPORT : %d   port_num : %d\n", p[7], port);
    if (!(p[6] == 0 && p[7] == 0))
        setPortBits(p, length, port);
    return Send_to_port(p, length, port, 0);
}

void fpga_manage::pass_merge_end()
{
    multi_flag = 0;
    multi_answers = 0;
    multi_reply.clear();
    QMutexLocker lock(&Utils::_system_mutex);
    pass_pending = 0;
}

// An answer set that stays incomplete (a silent port, a count changed meanwhile) still ends:
// what came back goes out, and the next request is not mistaken for part of this one.
void fpga_manage::pass_merge_timeout()
{
    if (!pass_pending.load() || Utils::getTimeSpace(pass_stamp) <= kMergeTicks)
        return;
    const std::vector<uint8_t> merged = std::move(multi_reply);
    pass_merge_end();
    if (!merged.empty())
        forward_card_reply(merged.data(), uint32_t(merged.size()), kAllPorts);
    else
        writeLogMsg(LOG_WARNING, "card link: no port answered the frame sent to all ports");
}

void fpga_manage::forward_card_reply(const uint8_t* reply, uint32_t length, int port)
{
    card_link.take(reply, length, port);
}
