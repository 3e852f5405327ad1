#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <vector>

#include "comm/message_deal.h"
#include "comm/protocol_phy.h"
#include "comm/slow_request.h"
#include "fpga/card_link.h"

// A transport's askers whose answer comes later, kept by the transport's thread alone: each (a TCP
// client, a UDP sender, the serial line) with where the answer goes, waiting for a card's answer
// to its frame on the card link (fpga/card_link.h), or for its slow request's work to end
// (SlowRequest). One rule on every transport: an asker's next request ends its own wait for a card
// (a late answer is dropped), other askers' waits go on, and a broken frame, which is dropped
// without a reply, is no request and ends nothing. A slow request's answer goes once its work has
// ended, whatever its asker sent meanwhile: the work ran, and the tool is told how it ended.
class PendingAnswers {
public:
    struct Destination {
        int fd = -1;           // the TCP client that asked
        sockaddr_in address{}; // where a UDP answer goes
    };
    using Send = std::function<void(const Destination& to, const uint8_t* wire, uint32_t length)>;

    // wake is called, from any thread, when the transport's thread has something to do for an
    // asker: its frame went out, its answer came, its work ended. An answer whose wire form is
    // longer than wireMax cannot be sent on the transport and ends the wait.
    explicit PendingAnswers(std::function<void()> wake, uint32_t wireMax = UINT32_MAX)
        : m_wake(std::move(wake)), m_wireMax(wireMax) {}
    ~PendingAnswers() { clear(); }

    // A frame of asker as it came (unescaped, check byte included). A broken one (failing its
    // check, or longer than the request buffer `into` of `capacity` bytes) is dropped: Broken. A
    // whole one is a request: the asker's card wait ends, and one for the cards is passed to the link,
    // its answer to go to `to` (ForCards: the transport serves nothing more of it); any other is
    // copied into `into` for the transport to serve (ForBox).
    enum class Frame { Broken, ForCards, ForBox };
    Frame take(uint64_t asker, const uint8_t* body, uint32_t length, uint8_t* into, uint32_t capacity,
               const Destination& to);
    // The request (its head) was answered message_deal::kSlow: its work runs off this thread, and
    // its answer, the work's status, goes to `to` once it has ended.
    void slow(uint64_t asker, const uint8_t* request, message_deal::SlowWork work, const Destination& to);
    void serving() { m_state = kServing; } // a request of the box's own is being served
    void served();
    // Each waiting asker once: an answer that came goes out through send, and a wait that ended,
    // answered or given up, is removed.
    void poll(const Send& send);
    void forget(uint64_t asker); // the asker is gone: nothing of its may reach another
    void clear();                // off the card link, before the wake-up descriptor closes
    bool waiting() const { return m_state.load() == kWaiting; }
    bool polling() const { return m_polling; } // a card's answer awaited: the link wants polls
    uint8_t state() const { return m_state.load(); }

    static constexpr uint8_t kIdle = 0, kWaiting = 1, kServing = 2;

private:
    bool request(uint64_t asker, const uint8_t* frame, uint32_t length, const Destination& to);
    struct Wait {
        Wait() = default;
        Wait(Wait&&) = default;
        Wait& operator=(Wait&&) = default;
        ~Wait()
        {
            if (work)
                work->drop();
        }
        std::unique_ptr<CardLink::Asker> card;  // a frame passed to the cards, or
        std::shared_ptr<SlowRequest> work;      // a slow request's work,
        std::vector<uint8_t> head;              // with its request's head
        Destination to;
    };
    std::multimap<uint64_t, Wait> m_waits; // an asker's waits in the order they came
    const std::function<void()> m_wake;
    const uint32_t m_wireMax;
    protocol_phy m_phy;
    std::vector<uint8_t> m_answer, m_wire;
    std::atomic<uint8_t> m_state{kIdle}; // read by other threads (passState)
    bool m_polling = false;
};
