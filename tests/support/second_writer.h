#pragma once
// A PC tool beside the panel (or beside another tool): frames coded by the Wire rules, run in
// process through the program's dispatcher as a transport's thread runs them, or sent over a TCP
// connection to a running program. Replies come back as on the wire, check byte included.
#include "frame_client.h"

#include <cstdint>
#include <memory>

class SecondWriter {
public:
    // peer: the sender the dispatcher is told of (request_peer); a file transfer belongs to it.
    static SecondWriter inProcess(uint64_t peer = 0);
    // Waits for the port to open, as a tool started beside the program would.
    static SecondWriter overTcp(int port);

    bool connected() const { return !client_ || client_->connected(); }
    // The reply's status byte (byte 10), -1 when no reply or one that fails its check. *reply,
    // when given, gets the reply body whatever it is.
    int request(uint8_t group, const Bytes& payload, Bytes* reply = nullptr);
    int request(const Bytes& wireBody, Bytes* reply = nullptr);
    int writeBlock(uint32_t offset, const Bytes& bytes); // group 0x60, not applied
    int apply();                                         // register 11 bit 1
    int set(uint32_t offset, const Bytes& bytes);        // written, then applied: the first failing status
    int set16(uint32_t offset, uint16_t value);

private:
    explicit SecondWriter(uint64_t peer) : peer_(peer) {}
    uint64_t peer_;
    std::unique_ptr<FrameClient> client_;
};
