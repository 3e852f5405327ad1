#pragma once
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <vector>

class protocol_phy;

// One transport's pass-through of a frame to the receiving cards and its wait for their answer.
// The FPGA manager hands the answer over from its own thread; the transport's thread takes it and
// sends it on, or gives up after kWaitTicks. Serial, TCP and UDP share this one path.
class CardWait {
public:
    static constexpr uint32_t kWaitTicks = 300; // a card that does not answer in 3 s is given up

    struct Destination {
        int fd = -1;           // the TCP client that asked
        sockaddr_in address{}; // where a UDP answer goes
    };
    enum class Result { Waiting, Answered, GivenUp };

    // Passes the frame to the FPGA manager under its pass_mutex, marked for `transport` (1 serial,
    // 2 TCP, 3 UDP), and waits for the answer, which is to go to `to`. False without a manager.
    bool pass(uint8_t transport, const uint8_t* frame, uint32_t length, const Destination& to);
    // FPGA manager's side: the answer, encoded for the wire in place of any earlier one. False
    // when nothing waits for it or its encoding is longer than wireMax.
    bool queue(protocol_phy& phy, const uint8_t* body, uint32_t length, uint32_t wireMax = UINT32_MAX);
    // Transport thread, while waiting: runs the manager's interrupt service once; Answered ends the
    // wait with *to and *wire set, GivenUp ends it once the time has run out.
    Result poll(Destination* to, std::vector<uint8_t>* wire);
    void end();              // a new request ends the wait: a late answer is dropped
    bool endFor(int fd);     // the TCP client has gone; true when its wait ended

private:
    mutable std::mutex m_mutex; // all below; the FPGA worker queues while the transport polls
    bool m_waiting = false;
    bool m_answered = false;
    Destination m_to;
    std::vector<uint8_t> m_wire;
    uint32_t m_stamp = 0;
};
