#include "comm/card_askers.h"

bool CardAskers::request(uint64_t asker, const uint8_t* frame, uint32_t length, const Destination& to)
{
    m_waits.erase(asker);
    if (!protocol_phy::is_card_frame(frame)) {
        served();
        return false;
    }
    auto link = std::make_unique<CardLink::Asker>(m_wake);
    if (link->pass(frame, length))
        m_waits[asker] = Wait{std::move(link), to};
    served();
    return true;
}

void CardAskers::poll(const Send& send)
{
    // A wait ends answered, or given up: no card answered in time, or the LED network is down.
    for (auto it = m_waits.begin(); it != m_waits.end();) {
        const CardLink::Result r = it->second.link->poll(&m_answer);
        if (r == CardLink::Result::Waiting) {
            ++it;
            continue;
        }
        if (r == CardLink::Result::Answered) {
            m_wire.resize(protocol_phy::encoded_max(uint32_t(m_answer.size())));
            const uint32_t n = m_phy.data_re_transf_meaning(0, m_wire.data(), m_answer.data(), uint32_t(m_answer.size()), nullptr);
            if (n <= m_wireMax)
                send(it->second.to, m_wire.data(), n);
        }
        it = m_waits.erase(it);
    }
    served();
}

void CardAskers::forget(uint64_t asker)
{
    m_waits.erase(asker);
    served();
}

void CardAskers::clear()
{
    m_waits.clear();
    served();
}
