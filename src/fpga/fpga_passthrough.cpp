// Pass-through of PC frames to the receiving cards. The LED network is not driven yet: frames
// for the cards go nowhere, so no answer comes back and the waiting transport gives up after its
// time-out.
#include "fpga/fpga_manage.h"

#include "base/global.h"
#include "comm/networkmanage.h"

int fpga_manage::Dealwith1_PC_to_eth(uint32_t length, const uint8_t* packet)
{
    wake(); // the worker watches for the answers
    return 1;
}

void fpga_manage::forward_card_reply(const uint8_t* reply, uint32_t length)
{
    switch (g_passby_trans_port.exchange(255)) {
    case 2:
        if (!networkManage::p_network || !networkManage::p_network->queue_card_answer(reply, length))
            return;
        break;
    default:
        return; // nobody waits for it (the serial and UDP transports join here when they exist)
    }
    reply_ready = 1;
}
