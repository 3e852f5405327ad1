#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <netinet/in.h>
#include <vector>

class fpga_manage;
class protocol_phy;

// A frame passed to the receiving cards and the wait for its answer, one for each asker (a TCP
// client, a UDP sender, a serial line). The box has one link to the cards: the frames of all
// askers and transports take it in turn, oldest first, each for as long as it waits, so a second
// tool neither ends the first one's wait nor drops its answer. Only the answer to the frame on
// the link (its serial number, and its card unless it went to all cards) is taken; any other is
// dropped. The FPGA manager hands the answer over from its own thread; the asker's transport
// thread takes it and sends it on, or gives up kWaitTicks after the frame came.
class CardWait {
public:
    static constexpr uint32_t kWaitTicks = 300; // a frame not answered in 3 s, its turn included, is given up
    static constexpr size_t kMaxWaiting = 64;   // frames of all askers on the link or waiting for it

    struct Destination {
        int fd = -1;           // the TCP client that asked
        sockaddr_in address{}; // where a UDP answer goes
    };
    enum class Result { Waiting, Answered, GivenUp };

    // wake (may be empty) is called, from any thread, when the transport thread has something to
    // do for this wait: its frame went out, or its answer came.
    explicit CardWait(std::function<void()> wake = {});
    ~CardWait(); // gives the wait up
    CardWait(const CardWait&) = delete;
    CardWait& operator=(const CardWait&) = delete;

    // Takes the frame, marked for `transport` (1 serial, 2 TCP, 3 UDP), in place of any this wait
    // held, its answer to go to `to`; it goes to the FPGA manager's pass-through under its
    // pass_mutex at once if the link is free, else when its turn comes. False without a manager,
    // for a frame longer than a card packet, or with the link's queue full: nothing to wait for.
    bool pass(uint8_t transport, const uint8_t* frame, uint32_t length, const Destination& to);
    // FPGA manager's side, under its pass_mutex: a card's answer, encoded for the wire. False when
    // this wait's frame is not on the link, the answer is not that frame's, or its encoding is
    // longer than wireMax.
    bool queue(protocol_phy& phy, const uint8_t* body, uint32_t length, uint32_t wireMax = UINT32_MAX);
    // The wait whose frame is on the link, marked for `transport`; null for none. Under pass_mutex.
    static CardWait* onLink(uint8_t transport);
    // Transport thread, while waiting: runs the manager's interrupt service while this frame is on
    // the link, or sends it when its turn has come; Answered ends the wait with *to and *wire set,
    // GivenUp ends it once its time has run out (or the frame went nowhere).
    Result poll(Destination* to, std::vector<uint8_t>* wire);
    void end(); // the asker sent something new: a late answer is dropped
    // A transport's askers (a map of asker to its wait), each polled once: an answer goes out
    // through send(destination, wire), and a wait that ended, answered or given up, is removed.
    template <class Waits, class Send>
    static void pollEach(Waits& waits, Send send)
    {
        for (auto it = waits.begin(); it != waits.end();) {
            Destination to;
            std::vector<uint8_t> wire;
            const Result r = it->second->poll(&to, &wire);
            if (r == Result::Waiting) {
                ++it;
                continue;
            }
            if (r == Result::Answered)
                send(to, wire);
            it = waits.erase(it);
        }
    }

private:
    enum class State { Idle, Queued, Sent, Answered, Failed };
    static void advance(fpga_manage* fpga); // the next frame takes the free link; under pass_mutex
    void leave();                          // off the line (under the line's mutex)
    bool answers(const uint8_t* body, uint32_t length) const;

    // All below under the line's mutex (card_wait.cpp), taken inside pass_mutex.
    State m_state = State::Idle;
    uint8_t m_transport = 0;
    std::vector<uint8_t> m_frame;
    Destination m_to;
    std::vector<uint8_t> m_wire;
    uint32_t m_stamp = 0;
    const std::function<void()> m_wake;
};
