#include "comm/pending_answers.h"

#include <algorithm>
#include <iterator>

PendingAnswers::Frame PendingAnswers::take(uint64_t asker, const uint8_t* body, uint32_t length, uint8_t* into,
                                           uint32_t capacity, const Destination& to)
{
    if (!protocol_phy::frame_valid(body, length) || !protocol_phy::take_request(into, capacity, body, length))
        return Frame::Broken;
    return request(asker, into, length, to) ? Frame::ForCards : Frame::ForBox;
}

bool PendingAnswers::request(uint64_t asker, const uint8_t* frame, uint32_t length, const Destination& to)
{
    for (auto [it, end] = m_waits.equal_range(asker); it != end;)
        it = it->second.card ? m_waits.erase(it) : std::next(it);
    if (!protocol_phy::is_card_frame(frame)) {
        served();
        return false;
    }
    Wait w;
    w.card = std::make_unique<CardLink::Asker>(m_wake);
    w.to = to;
    if (w.card->pass(frame, length))
        m_waits.emplace(asker, std::move(w));
    served();
    return true;
}

void PendingAnswers::slow(uint64_t asker, const uint8_t* request, message_deal::SlowWork work, const Destination& to)
{
    Wait w;
    w.head.assign(request, request + protocol_phy::kHeadSize);
    w.to = to;
    w.work = SlowRequest::start(std::move(work), m_wake);
    m_waits.emplace(asker, std::move(w));
    served();
}

void PendingAnswers::poll(const Send& send)
{
    for (auto it = m_waits.begin(); it != m_waits.end();) {
        Wait& w = it->second;
        m_answer.clear();
        bool ended;
        if (w.card) {
            // Given up: no card answered in time, or the LED network is down.
            const CardLink::Result r = w.card->poll(&m_answer);
            ended = r != CardLink::Result::Waiting;
            if (r != CardLink::Result::Answered)
                m_answer.clear();
        } else {
            uint8_t status;
            ended = w.work->ended(&status);
            if (ended) {
                // The reply as the handler would have built it at once: the head, the status.
                m_answer = w.head;
                m_answer.resize(protocol_phy::kMinFrame + 2); // room for a refusal's two bytes
                m_answer[protocol_phy::kHeadSize] = status;
                m_answer.resize(protocol_phy::build_reply(m_answer.data(), 1, uint32_t(m_answer.size()), m_wireMax));
            }
        }
        if (!ended) {
            ++it;
            continue;
        }
        if (!m_answer.empty()) {
            m_wire.resize(protocol_phy::encoded_max(uint32_t(m_answer.size())));
            const uint32_t n = m_phy.data_re_transf_meaning(0, m_wire.data(), m_answer.data(), uint32_t(m_answer.size()), nullptr);
            if (n <= m_wireMax)
                send(w.to, m_wire.data(), n);
        }
        it = m_waits.erase(it);
    }
    served();
}

void PendingAnswers::served()
{
    m_polling = std::any_of(m_waits.begin(), m_waits.end(), [](const auto& w) { return w.second.card != nullptr; });
    m_state = m_waits.empty() ? kIdle : kWaiting;
}

void PendingAnswers::forget(uint64_t asker)
{
    m_waits.erase(asker);
    served();
}

void PendingAnswers::clear()
{
    m_waits.clear();
    served();
}
