#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class fpga_manage;

// The card link: FPGA 0's one link to the receiving cards, shared by the frames of every asker (a
// TCP client, a UDP sender, a serial line; each an Asker) and the worker's own packets. Each frame
// goes out through the pass-through (fpga_passthrough.cpp) as soon as it came, several wait on the
// link at once, and a card's answer is taken by the frame it answers, found by its serial number
// and group, the pair of ports it came in on and its card (the one named, the multifunction card,
// or any for a frame to all cards). A frame that could take another's answer waits until that one
// is done (clashes, beside the pass-through's merge rules), so a card that does not answer costs
// only its own asker's time. The answers come from whichever thread serves the FPGA's interrupt;
// the asker's own thread takes them, or gives up kWaitTicks after its frame went out.
class CardLink {
public:
    // A frame not answered within 3 s of going out is given up, and one that could not go out
    // within 3 s of coming (its asker has given up by then).
    static constexpr uint32_t kWaitTicks = 300;
    static constexpr size_t kMaxWaiting = 64; // frames of all askers on the link or waiting for it
    enum class Result { Waiting, Answered, GivenUp };
    class Asker;

    explicit CardLink(fpga_manage& fpga) : m_fpga(fpga) {}
    CardLink(const CardLink&) = delete;
    CardLink& operator=(const CardLink&) = delete;

    // A card's answer (decoded, check byte included, as forwarded) that came in on `port`
    // (fpga_manage::kAllPorts for a merged one), for the frame it answers. The caller holds
    // pass_mutex. False when no frame on the link waits for it: it is dropped.
    bool take(const uint8_t* body, uint32_t length, int port);

private:
    bool pass(Asker& a, const uint8_t* frame, uint32_t length);
    Result poll(Asker& a, std::vector<uint8_t>* answer);
    void end(Asker& a);
    void advance(); // frames whose turn has come go out; under pass_mutex
    bool leave(Asker& a); // off the line; true when a merge is to end
    static int answerer(const Asker& a);
    static bool clashes(const Asker& a, const Asker& b);
    static bool answers(const Asker& a, const uint8_t* body, uint32_t length, int port);

    fpga_manage& m_fpga;
    // The askers in the order their frames came, Queued and Sent ones. Changed only under both
    // pass_mutex and m_mutex, taken in that order; nothing is locked inside m_mutex.
    std::mutex m_mutex;
    std::deque<Asker*> m_line;
};

// One asker's frame on the card link and its wait for the answer. Used by its own thread alone.
class CardLink::Asker {
public:
    // wake (may be empty) is called, from any thread, when the asker's thread has something to do:
    // its frame went out, or its answer came.
    explicit Asker(std::function<void()> wake = {}) : m_wake(std::move(wake)) {}
    ~Asker() { end(); }
    Asker(const Asker&) = delete;
    Asker& operator=(const Asker&) = delete;

    // Takes the frame (decoded, check byte included) in place of any this asker had on the link:
    // it goes out at once, or once no frame that could take its answer is on the link. False
    // without FPGA 0's manager, for a frame that would go to no port, or with the link full.
    bool pass(const uint8_t* frame, uint32_t length);
    // While waiting: serves the FPGA's interrupt while the frame is on the link, or sends the
    // frames whose turn has come. Answered ends the wait with *answer set (decoded, as the card
    // sent it but for the head bytes the pass-through restores); GivenUp ends it once its time
    // has run out or the frame went nowhere.
    Result poll(std::vector<uint8_t>* answer);
    void end(); // the asker sent something new: a late answer is dropped

private:
    friend class CardLink;
    enum class State { Idle, Queued, Sent, Answered, Failed };
    // All below but m_link and m_wake under the link's m_mutex. Only this asker's own thread moves
    // it out of Idle.
    CardLink* m_link = nullptr; // set by the first pass
    State m_state = State::Idle;
    std::vector<uint8_t> m_frame;
    int m_port = -1; // as fpga_manage::pass_port
    std::vector<uint8_t> m_answer;
    uint32_t m_stamp = 0; // when the frame came, then when it went out
    const std::function<void()> m_wake;
};
