#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <netinet/in.h>
#include <vector>

class fpga_manage;

// A frame passed to the receiving cards and the wait for its answer, one for each asker (a TCP
// client, a UDP sender, a serial line). The frames of all askers share the box's one link to the
// cards: each goes out as soon as it came, several wait on the link at once, and a card's answer
// is taken by the frame it answers, found by its serial number and group, the pair of ports it
// came in on and its card (the one named, the multifunction card, or any for a frame to all
// cards). A frame that could take another's answer (same serial number, group and pair, the same
// card or one of them to all) waits until that one is done, as does a frame beside one for every
// port with its serial number (the manager merges those by serial number alone); so a card that
// does not answer costs only its own asker's time. The FPGA manager hands the answers
// over from whichever thread serves its interrupt; the asker's transport thread takes them and
// sends them on, or gives up kWaitTicks after the frame went out.
class CardWait {
public:
    // A frame not answered within 3 s of going out is given up, and one that could not go out
    // within 3 s of coming (its asker has given up by then).
    static constexpr uint32_t kWaitTicks = 300;
    static constexpr size_t kMaxWaiting = 64; // frames of all askers on the link or waiting for it

    struct Destination {
        int fd = -1;           // the TCP client that asked
        sockaddr_in address{}; // where a UDP answer goes
    };
    enum class Result { Waiting, Answered, GivenUp };

    // wake (may be empty) is called, from any thread, when the transport thread has something to
    // do for this wait: its frame went out, or its answer came. An answer whose wire form is
    // longer than wireMax cannot be sent on the transport and ends the wait.
    explicit CardWait(std::function<void()> wake = {}, uint32_t wireMax = UINT32_MAX);
    ~CardWait(); // gives the wait up
    CardWait(const CardWait&) = delete;
    CardWait& operator=(const CardWait&) = delete;

    // Takes the frame in place of any this wait held, its answer to go to `to`; it goes to the
    // FPGA manager's pass-through under its pass_mutex at once, or once no frame that could take
    // its answer is on the link. False without a manager, for a frame that would go to no port,
    // or with the link's queue full: nothing to wait for.
    bool pass(const uint8_t* frame, uint32_t length, const Destination& to);
    // The FPGA manager's reply sink (fpga_manage::set_reply_sink), under its pass_mutex: a card's
    // answer (decoded, as forwarded) that came in on `port` (fpga_manage::kAllPorts for a merged
    // one), encoded for the frame it answers. False when no frame on the link waits for it.
    static bool take(const uint8_t* body, uint32_t length, int port);
    // Transport thread, while waiting: runs the manager's interrupt service while this frame is on
    // the link, or sends the frames whose turn has come; Answered ends the wait with *to and *wire
    // set, GivenUp ends it once its time has run out (or the frame went nowhere).
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
    static void advance(fpga_manage* fpga); // frames whose turn has come go out; under pass_mutex
    bool leave();                           // off the line; true when a merge is to end
    static constexpr int kAnyCard = -1, kMultifunctionCard = 0x1000; // besides card indexes 0-0xFFD
    int answerer() const;
    static int answererOf(uint16_t address);
    bool clashes(const CardWait& other) const;
    bool answers(const uint8_t* body, uint32_t length, int port) const;
    bool queue(const uint8_t* body, uint32_t length);

    // All below under the line's mutex (card_wait.cpp), taken inside pass_mutex.
    State m_state = State::Idle;
    std::vector<uint8_t> m_frame;
    int m_port = -1;       // as fpga_manage::pass_port
    Destination m_to;
    std::vector<uint8_t> m_wire;
    uint32_t m_stamp = 0;  // when the frame came, then when it went out
    const std::function<void()> m_wake;
    const uint32_t m_wireMax;
};
