#include "comm/card_wait.h"

#include "base/global.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "comm/protocol_phy.h"
#include "fpga/fpga_manage.h"

#include <cstdio>

bool CardWait::pass(uint8_t transport, const uint8_t* frame, uint32_t length, const Destination& to)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting = true;
        m_answered = false;
        m_to = to;
        m_stamp = G_timeTicks.load();
    }
    PosixLock pass(fpga->pass_mutex);
    // An answer already in the FPGA belongs to an earlier frame whose wait has ended: it is served
    // with no transport marked, and so dropped, before this frame can be taken for its sender.
    g_passby_trans_port = 255;
    fpga->reg_IRQ_Dealwith(0, 0);
    g_passby_trans_port = transport;
    fpga->reply_ready = 0;
    fpga->Dealwith1_PC_to_eth(length, frame); // a frame that went nowhere ends by time-out
    return true;
}

bool CardWait::queue(protocol_phy& phy, const uint8_t* body, uint32_t length, uint32_t wireMax)
{
    std::vector<uint8_t> wire(protocol_phy::encoded_max(length));
    wire.resize(phy.data_re_transf_meaning(0, wire.data(), body, length, nullptr));
    if (wire.size() > wireMax)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_waiting)
        return false;
    m_wire = std::move(wire);
    m_answered = true;
    return true;
}

CardWait::Result CardWait::poll(Destination* to, std::vector<uint8_t>* wire)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga) {
        end();
        return Result::GivenUp;
    }
    const bool ready = fpga->card_reply_ready();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (ready && m_answered) {
            *to = m_to;
            wire->swap(m_wire);
            m_wire.clear();
            m_answered = m_waiting = false;
        } else if (Utils::getTimeSpace(m_stamp) > kWaitTicks) {
            if (traceOn())
                puts("card answer time-out");
            m_answered = m_waiting = false;
            return Result::GivenUp;
        } else {
            return Result::Waiting;
        }
    }
    PosixLock pass(fpga->pass_mutex);
    fpga->reply_ready = 0;
    return Result::Answered;
}

void CardWait::end()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiting = m_answered = false;
}

bool CardWait::endFor(int fd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_waiting || m_to.fd != fd)
        return false;
    m_waiting = m_answered = false;
    return true;
}

