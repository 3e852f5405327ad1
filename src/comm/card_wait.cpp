#include "comm/card_wait.h"

#include "base/bytes.h"
#include "base/global.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "comm/protocol_phy.h"
#include "fpga/fpga_manage.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>

namespace {

// The waits in the order their frames came: the first is on the link once Sent, the others are
// Queued behind it. Changed only under both fpga_manage::pass_mutex and this mutex, taken in
// that order.
std::mutex lineMutex;
std::deque<CardWait*> line;

constexpr uint16_t kCardBits = 0x0FFF;
constexpr uint16_t kAllCardsOfPort = 0x0FFE; // and 0xFFF all cards: any card may answer
constexpr uint16_t kMultifunction = 0x4000;  // the multifunction card answers with its own address

}

CardWait::CardWait(std::function<void()> wake) : m_wake(std::move(wake)) {}

CardWait::~CardWait()
{
    end();
}

bool CardWait::pass(uint8_t transport, const uint8_t* frame, uint32_t length, const Destination& to)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return false;
    PosixLock pass(fpga->pass_mutex);
    bool taken = false;
    {
        std::lock_guard<std::mutex> lock(lineMutex);
        leave();
        // A frame longer than a card packet never goes out; a full line takes no more.
        if (frame && length >= protocol_phy::kMinFrame && length < fpga_manage::kPacketMax && line.size() < kMaxWaiting) {
            m_state = State::Queued;
            m_transport = transport;
            m_frame.assign(frame, frame + length);
            m_to = to;
            m_stamp = G_timeTicks.load();
            line.push_back(this);
            taken = true;
        }
    }
    advance(fpga); // the link may have come free too, as this wait gave its earlier frame up
    return taken;
}

void CardWait::advance(fpga_manage* fpga)
{
    for (;;) {
        CardWait* next;
        std::vector<uint8_t> frame;
        {
            std::lock_guard<std::mutex> lock(lineMutex);
            // An asker that has given up by now would not take the answer: its frame stays here.
            while (!line.empty() && line.front()->m_state == State::Queued &&
                   Utils::getTimeSpace(line.front()->m_stamp) > kWaitTicks) {
                CardWait* late = line.front();
                late->m_state = State::Failed;
                line.pop_front();
                if (late->m_wake)
                    late->m_wake();
            }
            if (line.empty() || line.front()->m_state != State::Queued)
                return;
            next = line.front();
            next->m_state = State::Sent;
            frame = next->m_frame;
        }
        // An answer already in the FPGA belongs to a frame whose wait has ended: it is served with
        // no transport marked, and so dropped, before this frame can be taken for its asker.
        g_passby_trans_port = 255;
        fpga->reg_IRQ_Dealwith(0, 0);
        g_passby_trans_port = next->m_transport;
        fpga->reply_ready = 0;
        const int sent = fpga->Dealwith1_PC_to_eth(uint32_t(frame.size()), frame.data());
        std::lock_guard<std::mutex> lock(lineMutex);
        if (!sent) {
            // Nothing went out, so nothing will answer: the link goes to the next frame.
            g_passby_trans_port = 255;
            next->m_state = State::Failed;
            line.pop_front();
        }
        if (next->m_wake)
            next->m_wake();
        if (sent)
            return;
    }
}

void CardWait::leave()
{
    if (m_state == State::Sent)
        g_passby_trans_port = 255; // its answer, should it still come, goes nowhere
    line.erase(std::remove(line.begin(), line.end(), this), line.end());
    m_state = State::Idle;
    m_wire.clear();
}

bool CardWait::answers(const uint8_t* body, uint32_t length) const
{
    if (!body || length < protocol_phy::kMinFrame || body[5] != m_frame[5])
        return false;
    const uint16_t dest = getU16(m_frame.data());
    const uint16_t card = dest & kCardBits;
    if (card >= kAllCardsOfPort || (dest & kMultifunction))
        return true;
    return (getU16(body + 2) & kCardBits) == card;
}

bool CardWait::queue(protocol_phy& phy, const uint8_t* body, uint32_t length, uint32_t wireMax)
{
    std::lock_guard<std::mutex> lock(lineMutex);
    if (m_state != State::Sent)
        return false;
    if (!answers(body, length)) {
        // Another frame's answer (one given up, or sent before this one went out): dropped, and
        // the link stays marked for this frame, which the manager unmarked before handing it over.
        g_passby_trans_port = m_transport;
        return false;
    }
    std::vector<uint8_t> wire(protocol_phy::encoded_max(length));
    wire.resize(phy.data_re_transf_meaning(0, wire.data(), body, length, nullptr));
    line.erase(std::remove(line.begin(), line.end(), this), line.end());
    if (wire.size() > wireMax) {
        m_state = State::Failed; // the answer came but cannot be sent on this transport
    } else {
        m_wire = std::move(wire);
        m_state = State::Answered;
    }
    if (m_wake)
        m_wake();
    return m_state == State::Answered;
}

CardWait* CardWait::onLink(uint8_t transport)
{
    std::lock_guard<std::mutex> lock(lineMutex);
    if (line.empty() || line.front()->m_state != State::Sent || line.front()->m_transport != transport)
        return nullptr;
    return line.front();
}

CardWait::Result CardWait::poll(Destination* to, std::vector<uint8_t>* wire)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga) {
        end();
        return Result::GivenUp;
    }
    bool sent;
    {
        std::lock_guard<std::mutex> lock(lineMutex);
        sent = m_state == State::Sent;
    }
    if (sent)
        fpga->card_reply_ready(); // the interrupt service: the answer may wait in the FPGA
    PosixLock pass(fpga->pass_mutex);
    Result result = Result::Waiting;
    {
        std::lock_guard<std::mutex> lock(lineMutex);
        switch (m_state) {
        case State::Answered:
            *to = m_to;
            wire->swap(m_wire);
            m_wire.clear();
            m_state = State::Idle;
            fpga->reply_ready = 0;
            result = Result::Answered;
            break;
        case State::Queued:
        case State::Sent:
            if (Utils::getTimeSpace(m_stamp) <= kWaitTicks)
                break;
            if (traceOn())
                puts("card answer time-out");
            leave();
            result = Result::GivenUp;
            break;
        case State::Idle:
        case State::Failed:
            m_state = State::Idle;
            result = Result::GivenUp;
            break;
        }
    }
    advance(fpga); // the link may have come free
    return result;
}

void CardWait::end()
{
    {
        // Only this wait's own thread moves it out of Idle: an idle wait needs no lock beyond this.
        std::lock_guard<std::mutex> lock(lineMutex);
        if (m_state == State::Idle)
            return;
    }
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga) {
        std::lock_guard<std::mutex> lock(lineMutex);
        leave();
        return;
    }
    PosixLock pass(fpga->pass_mutex);
    {
        std::lock_guard<std::mutex> lock(lineMutex);
        leave();
    }
    advance(fpga);
}
