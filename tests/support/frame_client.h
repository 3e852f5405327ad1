#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Control frames as a PC tool writes and reads them, coded from the wire rules alone (not with
// the program's codec), so that tests hold the program against an independent reading.
namespace Wire {
constexpr uint16_t kController = 0xF100;
constexpr uint16_t kTool = 0xF010;

Bytes stuff(const Bytes& body);  // A5 A5 A5, escaped body, 5A
Bytes sealed(Bytes body);        // body with its XOR check byte appended
bool checkOk(const Bytes& body); // last byte is the XOR of the others
// head (destination, source, bytes 4-8 zero), group, payload, check byte
Bytes request(uint8_t group, const Bytes& payload, uint16_t destination = kController, uint16_t source = kTool);
Bytes readRam(uint32_t address, uint16_t length);
Bytes writeRam(uint32_t address, const Bytes& data);
Bytes readRegister(uint8_t reg, uint8_t byte11 = 0);
Bytes echoReply(uint8_t byte11); // the controller's reply to readRegister(4, byte11): byte 11 echoed
Bytes u32(uint32_t v);                        // little-endian
Bytes join(std::initializer_list<Bytes> parts);
// Group 0xC0 requests of an upload: start with a tag, a block at its offset, the end with the
// data's MD5. upload() gives them all, in blocks a transport's frame holds (a sanitizer build's
// sample program does not fit one).
Bytes uploadStart(const char* tag, uint32_t length);
Bytes uploadBlock(const Bytes& data, uint32_t offset = 0);
Bytes uploadEnd(const Bytes& data);
std::vector<Bytes> upload(const char* tag, const Bytes& data);

// Collects whole frames from a byte stream: a frame starts at any A5 and ends at 5A.
class Unstuffer {
public:
    void push(const uint8_t* data, size_t length);
    bool next(Bytes* body); // oldest complete frame
private:
    std::vector<Bytes> m_done;
    Bytes m_body;
    bool m_inside = false;
    uint8_t m_escape = 0;
};
}

// One TCP connection to the program's control port on 127.0.0.1, from 127.0.0.1 or another
// loopback address (from, host byte order), as a second host on the LAN would come. Every time
// limit is a quiet host's, scaled by TimeLimit.
class FrameClient {
public:
    explicit FrameClient(int port, int connectTimeoutMs = 0, uint32_t from = 0); // retries until the port opens
    ~FrameClient();
    bool connected() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool sendRaw(const Bytes& bytes);
    bool sendFrame(const Bytes& body) { return sendRaw(Wire::stuff(body)); }
    bool receive(Bytes* body, int timeoutMs = 3000);          // next frame, unstuffed
    Bytes receiveRaw(size_t count, int timeoutMs = 3000);     // exactly count wire bytes, or fewer on time-out
    Bytes request(const Bytes& body, int timeoutMs = 3000);   // the reply body, empty on time-out
    bool peerClosed(int timeoutMs);                           // the program closed the connection
    void reset();                                             // close with RST, as a crashed tool

private:
    bool readSome(int timeoutMs);
    int m_fd = -1;
    Wire::Unstuffer m_in;
    Bytes m_raw;
};

int freeTcpPort(); // a port on 127.0.0.1 nobody listens on right now
int freeUdpPort(); // a UDP port on 127.0.0.1 nobody is bound to right now
