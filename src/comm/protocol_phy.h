#pragma once
#include <cstdint>
#include <vector>

#include "params/protocol_layout.h"

// The control frame on the wire: A5 A5 A5, the byte-stuffed body, 5A. Body: destination and
// source (u16 LE), four head bytes, spare, group, sub-command/status, payload, XOR check byte.
// Stateless: every call starts clean, so the transport thread and the FPGA worker may share one.
class protocol_phy {
public:
    static constexpr uint32_t kHeadSize = 10;  // destination .. group
    static constexpr uint32_t kMinFrame = proto::kMinFrame;

    // The state argument of both codecs is not read: every call starts outside a frame, so no
    // state is carried from one call to the next.
    // Decodes length bytes into output (which must hold length bytes) and stops after the first
    // end byte. Returns the body bytes written; *done := 1 when an end byte was met, else 0.
    uint32_t data_transf_meaning(uint8_t state, const uint8_t* input, uint8_t* output,
                                 uint32_t length, uint8_t* done);
    // Encodes length body bytes into output (which must hold encoded_max(length) bytes); returns
    // the wire length. *flag (may be null) is cleared.
    uint32_t data_re_transf_meaning(uint8_t state, uint8_t* output, const uint8_t* body,
                                    uint32_t length, uint8_t* flag);
    static void swap_phy_head(uint8_t* body);

    static uint32_t encoded_max(uint32_t length) { return 2 * length + 4; }
    static uint32_t encoded_size(const uint8_t* body, uint32_t length);
    // A decoded body is served only when it holds the head and its last byte is the XOR of the rest.
    static bool frame_valid(const uint8_t* body, uint32_t length);
    // Destination below the box's from a PC tool: the frame belongs to a receiving card.
    static bool is_card_frame(const uint8_t* body);
    // Fixed fields a handler may read past a short request: up to the end of a memory request's
    // head (address, length, two spare bytes). Handlers read everything else through bounds.
    static constexpr uint32_t kFixedFields = 18;
    // Copies an accepted body into the handler's buffer and zeroes the fixed fields it does not
    // reach, so no handler sees bytes of an earlier frame. Returns false when it does not fit.
    static bool take_request(uint8_t* buffer, uint32_t capacity, const uint8_t* body, uint32_t length);
    // Turns the handler's count r (bytes from position 10) into the reply body in place: head
    // swapped, check byte after the data. A reply that does not fit the buffer, or whose encoding
    // would exceed wireLimit, becomes the refusal: status 1, r = 2. Returns the body length.
    static uint32_t build_reply(uint8_t* body, uint32_t r, uint32_t capacity, uint32_t wireLimit);
};

// Decoder of one byte stream (a TCP connection, a serial line): keeps its state across reads and
// goes on after an end byte, so however the stream is cut, every frame comes out. A body longer
// than the capacity is dropped whole, up to the next start or end byte.
class FrameStream {
public:
    explicit FrameStream(uint32_t capacity) : m_capacity(capacity) {}
    // Decodes from data until a frame completes or the bytes run out; returns the bytes consumed.
    // *complete is true when body()/size() now hold a frame (valid until the next feed).
    uint32_t feed(const uint8_t* data, uint32_t length, bool* complete);
    const uint8_t* body() const { return m_body.data(); }
    uint32_t size() const { return uint32_t(m_body.size()); }
    uint32_t dropped() const { return m_dropped; } // frames lost for their size

private:
    void append(const uint8_t* bytes, uint32_t count); // body bytes, or the frame overflows
    std::vector<uint8_t> m_body;
    uint32_t m_capacity;
    uint32_t m_dropped = 0;
    uint8_t m_state = 0; // as in protocol_phy::data_transf_meaning
    bool m_overflow = false;
};
