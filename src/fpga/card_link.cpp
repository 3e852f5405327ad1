#include "fpga/card_link.h"

#include "base/bytes.h"
#include "base/global.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/protocol_layout.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kAll = fpga_manage::kAllPorts;
constexpr int kAnyCard = -1, kMultifunctionCard = 0x1000; // besides card indexes 0-0xFFD

int answererOf(uint16_t address)
{
    return address & proto::kMultifunction ? kMultifunctionCard : address & proto::kCardBits;
}

}

bool CardLink::Asker::pass(const uint8_t* frame, uint32_t length)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return false;
    m_link = &fpga->card_link;
    return m_link->pass(*this, frame, length);
}

CardLink::Result CardLink::Asker::poll(std::vector<uint8_t>* answer)
{
    return m_link ? m_link->poll(*this, answer) : Result::GivenUp;
}

void CardLink::Asker::end()
{
    if (m_link)
        m_link->end(*this);
}

bool CardLink::pass(Asker& a, const uint8_t* frame, uint32_t length)
{
    const int port = fpga_manage::pass_port(frame, length);
    PosixLock pass(m_fpga.pass_mutex);
    bool taken = false, endMerge;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        endMerge = leave(a);
        if (port >= 0 && m_line.size() < kMaxWaiting) {
            a.m_state = Asker::State::Queued;
            a.m_frame.assign(frame, frame + length);
            a.m_port = port;
            a.m_stamp = G_timeTicks.load();
            m_line.push_back(&a);
            taken = true;
        }
    }
    if (endMerge)
        m_fpga.pass_merge_end();
    advance(); // this frame may go at once, and others may, its earlier one given up
    return taken;
}

// Who answers a frame: its one card (bits 0-11 of its address), the multifunction card (which
// answers with its own address, bit 14 set), or kAnyCard for a frame to all cards or every port.
int CardLink::answerer(const Asker& a)
{
    const uint16_t dest = getU16(a.m_frame.data());
    if (a.m_port == kAll || (dest & proto::kCardBits) >= proto::kSearchCards)
        return kAnyCard;
    return answererOf(dest);
}

// Both on the link, an answer could be taken by either: the later one waits. The pass-through
// merges the answers of a frame to every port by serial number alone (fpga_manage::deal_with_reply).
bool CardLink::clashes(const Asker& a, const Asker& b)
{
    if (a.m_port == kAll && b.m_port == kAll)
        return true; // the manager merges the answers of one such frame at a time
    const uint8_t serial = a.m_frame[5];
    if (serial == proto::kSerialTemplate || b.m_frame[5] == proto::kSerialTemplate || serial != b.m_frame[5])
        return false;
    if (a.m_port == kAll || b.m_port == kAll)
        return true; // the merge takes every answer with its serial number
    // A card answers with the request's group, its status behind it. The two ports of a pair
    // share its RX buffer: an answer is placed by its pair for sure.
    const int x = answerer(a), y = answerer(b);
    return a.m_frame[9] == b.m_frame[9] && a.m_port / 2 == b.m_port / 2 && (x == kAnyCard || y == kAnyCard || x == y);
}

bool CardLink::answers(const Asker& a, const uint8_t* body, uint32_t length, int port)
{
    if (!body || length < proto::kMinFrame || body[5] != a.m_frame[5] || body[9] != a.m_frame[9])
        return false;
    if ((port == kAll) != (a.m_port == kAll) || (port != kAll && port / 2 != a.m_port / 2))
        return false;
    const int x = answerer(a);
    return x == kAnyCard || x == answererOf(getU16(body + 2));
}

void CardLink::advance()
{
    for (;;) {
        Asker* next = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 0; i < m_line.size() && !next;) {
                Asker* a = m_line[i];
                if (a->m_state != Asker::State::Queued) {
                    ++i;
                    continue;
                }
                if (Utils::getTimeSpace(a->m_stamp) > kWaitTicks) {
                    // Its asker has given up by now and would not take the answer: not sent.
                    a->m_state = Asker::State::Failed;
                    m_line.erase(m_line.begin() + long(i));
                    if (a->m_wake)
                        a->m_wake();
                    continue;
                }
                bool blocked = false;
                for (size_t j = 0; j < i && !blocked; ++j)
                    blocked = clashes(*m_line[j], *a);
                if (!blocked)
                    next = a;
                ++i;
            }
            if (!next)
                return;
        }
        // An answer already in the FPGA is served first: it reaches the frame it answers, or
        // nobody, before this frame is on the link to be taken for it.
        m_fpga.reg_IRQ_Dealwith(0, 0);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            next->m_state = Asker::State::Sent;
            next->m_stamp = G_timeTicks.load(); // its wait counts from here
        }
        const int sent = m_fpga.Dealwith1_PC_to_eth(uint32_t(next->m_frame.size()), next->m_frame.data());
        bool endMerge = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // Nothing went out, so nothing will answer; nor is an answer to the box's own serial
            // forwarded: either way the link has nothing more to wait for.
            if (!sent || next->m_frame[5] == proto::kSerialTemplate) {
                endMerge = sent && next->m_port == kAll;
                m_line.erase(std::remove(m_line.begin(), m_line.end(), next), m_line.end());
                next->m_state = Asker::State::Failed;
            }
            if (next->m_wake)
                next->m_wake();
        }
        if (endMerge)
            m_fpga.pass_merge_end();
    }
}

bool CardLink::leave(Asker& a)
{
    const bool endMerge = a.m_state == Asker::State::Sent && a.m_port == kAll;
    m_line.erase(std::remove(m_line.begin(), m_line.end(), &a), m_line.end());
    a.m_state = Asker::State::Idle;
    a.m_answer.clear();
    return endMerge;
}

bool CardLink::take(const uint8_t* body, uint32_t length, int port)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Asker* a : m_line) {
        if (a->m_state != Asker::State::Sent || !answers(*a, body, length, port))
            continue;
        m_line.erase(std::remove(m_line.begin(), m_line.end(), a), m_line.end());
        a->m_answer.assign(body, body + length);
        a->m_state = Asker::State::Answered;
        if (a->m_wake)
            a->m_wake();
        return true;
    }
    return false; // another frame's answer (one given up, or the box's own): dropped
}

CardLink::Result CardLink::poll(Asker& a, std::vector<uint8_t>* answer)
{
    PosixLock pass(m_fpga.pass_mutex);
    bool sent;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sent = a.m_state == Asker::State::Sent;
    }
    if (sent)
        m_fpga.reg_IRQ_Dealwith(0, 0); // the answer may wait in the FPGA
    Result result = Result::Waiting;
    bool endMerge = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        switch (a.m_state) {
        case Asker::State::Answered:
            answer->swap(a.m_answer);
            a.m_answer.clear();
            a.m_state = Asker::State::Idle;
            result = Result::Answered;
            break;
        case Asker::State::Queued:
        case Asker::State::Sent:
            if (Utils::getTimeSpace(a.m_stamp) <= kWaitTicks)
                break;
            if (traceOn())
                puts("card answer time-out");
            endMerge = leave(a);
            result = Result::GivenUp;
            break;
        case Asker::State::Idle:
        case Asker::State::Failed:
            a.m_state = Asker::State::Idle;
            result = Result::GivenUp;
            break;
        }
    }
    if (endMerge)
        m_fpga.pass_merge_end();
    advance(); // a frame that waited for this one may go now
    return result;
}

void CardLink::end(Asker& a)
{
    {
        // Only the asker's own thread moves it out of Idle: an idle asker needs no lock beyond this.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (a.m_state == Asker::State::Idle)
            return;
    }
    PosixLock pass(m_fpga.pass_mutex);
    bool endMerge;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        endMerge = leave(a);
    }
    if (endMerge)
        m_fpga.pass_merge_end();
    advance();
}
