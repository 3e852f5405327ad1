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

// The waits in the order their frames came, Queued and Sent ones. Changed only under both
// fpga_manage::pass_mutex and this mutex, taken in that order; nothing is locked inside it.
std::mutex lineMutex;
std::deque<CardWait*> line;

constexpr uint16_t kCardBits = 0x0FFF;
constexpr uint16_t kAllCardsOfPort = 0x0FFE; // and 0xFFF all cards: any card may answer
constexpr uint16_t kMultifunction = 0x4000;  // the multifunction card answers with its own address
// The serial number of the box's own multifunction packets: answers carrying it are never
// forwarded (tools send such frames without waiting for one), so a frame with it is done once out.
constexpr uint8_t kSerialTemplate = 0x66;
constexpr int kAll = fpga_manage::kAllPorts;

}

CardWait::CardWait(std::function<void()> wake, uint32_t wireMax) : m_wake(std::move(wake)), m_wireMax(wireMax) {}

CardWait::~CardWait()
{
    end();
}

bool CardWait::pass(const uint8_t* frame, uint32_t length, const Destination& to)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return false;
    const int port = fpga_manage::pass_port(frame, length);
    PosixLock pass(fpga->pass_mutex);
    bool taken = false, endMerge;
    {
        std::lock_guard<std::mutex> lock(lineMutex);
        endMerge = leave();
        if (port >= 0 && line.size() < kMaxWaiting) {
            m_state = State::Queued;
            m_frame.assign(frame, frame + length);
            m_port = port;
            m_to = to;
            m_stamp = G_timeTicks.load();
            line.push_back(this);
            taken = true;
        }
    }
    if (endMerge)
        fpga->pass_merge_end();
    advance(fpga); // this frame may go at once, and others may, its earlier one given up
    return taken;
}

// Who answers a frame: its one card (bits 0-11 of its address), the multifunction card (which
// answers with its own address, bit 14 set), or kAnyCard for a frame to all cards or every port.
int CardWait::answerer() const
{
    const uint16_t dest = getU16(m_frame.data());
    if (m_port == kAll || (dest & kCardBits) >= kAllCardsOfPort)
        return kAnyCard;
    return answererOf(dest);
}

int CardWait::answererOf(uint16_t address)
{
    return address & kMultifunction ? kMultifunctionCard : address & kCardBits;
}

// Both on the link, an answer could be taken by either: the later one waits.
bool CardWait::clashes(const CardWait& other) const
{
    if (m_port == kAll && other.m_port == kAll)
        return true; // the manager merges the answers of one such frame at a time
    if (m_frame[5] == kSerialTemplate || other.m_frame[5] == kSerialTemplate || m_frame[5] != other.m_frame[5])
        return false;
    if (m_port == kAll || other.m_port == kAll)
        return true; // the merge takes every answer with its serial number
    // A card answers with the request's group, its status behind it. The two ports of a pair
    // share its RX buffer: an answer is placed by its pair for sure.
    const int a = answerer(), b = other.answerer();
    return m_frame[9] == other.m_frame[9] && m_port / 2 == other.m_port / 2 &&
           (a == kAnyCard || b == kAnyCard || a == b);
}

bool CardWait::answers(const uint8_t* body, uint32_t length, int port) const
{
    if (!body || length < protocol_phy::kMinFrame || body[5] != m_frame[5] || body[9] != m_frame[9])
        return false;
    if ((port == kAll) != (m_port == kAll) || (port != kAll && port / 2 != m_port / 2))
        return false;
    const int a = answerer();
    return a == kAnyCard || a == answererOf(getU16(body + 2));
}

void CardWait::advance(fpga_manage* fpga)
{
    for (;;) {
        CardWait* next = nullptr;
        {
            std::lock_guard<std::mutex> lock(lineMutex);
            for (size_t i = 0; i < line.size() && !next;) {
                CardWait* w = line[i];
                if (w->m_state != State::Queued) {
                    ++i;
                    continue;
                }
                if (Utils::getTimeSpace(w->m_stamp) > kWaitTicks) {
                    // Its asker has given up by now and would not take the answer: not sent.
                    w->m_state = State::Failed;
                    line.erase(line.begin() + long(i));
                    if (w->m_wake)
                        w->m_wake();
                    continue;
                }
                bool blocked = false;
                for (size_t j = 0; j < i && !blocked; ++j)
                    blocked = line[j]->clashes(*w);
                if (!blocked)
                    next = w;
                ++i;
            }
            if (!next)
                return;
        }
        // An answer already in the FPGA is served first: it reaches the frame it answers, or
        // nobody, before this frame is on the link to be taken for it.
        fpga->reg_IRQ_Dealwith(0, 0);
        {
            std::lock_guard<std::mutex> lock(lineMutex);
            next->m_state = State::Sent;
            next->m_stamp = G_timeTicks.load(); // its wait counts from here
        }
        const int sent = fpga->Dealwith1_PC_to_eth(uint32_t(next->m_frame.size()), next->m_frame.data());
        bool endMerge = false;
        {
            std::lock_guard<std::mutex> lock(lineMutex);
            // Nothing went out, so nothing will answer; nor is an answer to the box's own serial
            // forwarded: either way the link has nothing more to wait for.
            if (!sent || next->m_frame[5] == kSerialTemplate) {
                endMerge = sent && next->m_port == kAll;
                line.erase(std::remove(line.begin(), line.end(), next), line.end());
                next->m_state = State::Failed;
            }
            if (next->m_wake)
                next->m_wake();
        }
        if (endMerge)
            fpga->pass_merge_end();
    }
}

bool CardWait::leave()
{
    const bool endMerge = m_state == State::Sent && m_port == kAll;
    line.erase(std::remove(line.begin(), line.end(), this), line.end());
    m_state = State::Idle;
    m_wire.clear();
    return endMerge;
}

bool CardWait::take(const uint8_t* body, uint32_t length, int port)
{
    std::lock_guard<std::mutex> lock(lineMutex);
    for (CardWait* w : line)
        if (w->m_state == State::Sent && w->answers(body, length, port))
            return w->queue(body, length);
    return false; // another frame's answer (one given up, or the box's own): dropped
}

bool CardWait::queue(const uint8_t* body, uint32_t length)
{
    std::vector<uint8_t> wire(protocol_phy::encoded_max(length));
    protocol_phy phy; // the codec keeps no state between calls
    wire.resize(phy.data_re_transf_meaning(0, wire.data(), body, length, nullptr));
    line.erase(std::remove(line.begin(), line.end(), this), line.end());
    if (wire.size() > m_wireMax) {
        m_state = State::Failed; // the answer came but cannot be sent on this transport
    } else {
        m_wire = std::move(wire);
        m_state = State::Answered;
    }
    if (m_wake)
        m_wake();
    return m_state == State::Answered;
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
    bool endMerge = false;
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
            endMerge = leave();
            result = Result::GivenUp;
            break;
        case State::Idle:
        case State::Failed:
            m_state = State::Idle;
            result = Result::GivenUp;
            break;
        }
    }
    if (endMerge)
        fpga->pass_merge_end();
    advance(fpga); // a frame that waited for this one may go now
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
    bool endMerge;
    {
        std::lock_guard<std::mutex> lock(lineMutex);
        endMerge = leave();
    }
    if (endMerge)
        fpga->pass_merge_end();
    advance(fpga);
}
