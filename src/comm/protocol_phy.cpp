#include "comm/protocol_phy.h"

#include "base/bytes.h"
#include "base/utils.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kStart = 0xA5;
constexpr uint8_t kEnd = 0x5A;
constexpr uint8_t kEscA6 = 0xA6; // escapes A5 (A6 02) and A6 (A6 01)
constexpr uint8_t kEsc5B = 0x5B; // escapes 5A (5B 02) and 5B (5B 01)

enum : uint8_t { kOutside = 0, kInside = 1, kAfterA6 = 2, kAfter5B = 4 };

inline bool special(uint8_t b)
{
    return b == kStart || b == kEnd || b == kEscA6 || b == kEsc5B;
}

// The first start, end or escape byte in [p, end), or end. A body is mostly plain data, copied
// whole between these bytes, so they are looked for a machine word at a time.
const uint8_t* nextSpecial(const uint8_t* p, const uint8_t* end)
{
    using Word = uintptr_t;
    constexpr Word kOnes = ~Word(0) / 0xFF, kHighs = kOnes * 0x80;
    // Non-zero when a byte of w equals b, that is when x = w ^ b has a zero byte: a byte's high bit
    // stays clear only when its low seven bits plus 0x7F and the byte itself both keep it clear.
    // No sum carries out of its byte, so nothing wraps.
    auto holds = [](Word w, uint8_t b) {
        const Word x = w ^ (kOnes * b);
        return ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
    };
    for (; size_t(end - p) >= sizeof(Word); p += sizeof(Word)) {
        Word w;
        memcpy(&w, p, sizeof w);
        if (holds(w, kStart) | holds(w, kEnd) | holds(w, kEscA6) | holds(w, kEsc5B))
            break;
    }
    while (p < end && !special(*p))
        ++p;
    return p;
}

// One body byte of the decoder after an escape or a special byte; returns true and sets *out
// when the byte yields data. Shared by the one-shot decoder and the stream decoder so both read
// the wire alike.
inline bool unstuff(uint8_t* state, uint8_t byte, uint8_t* out)
{
    switch (byte) {
    case kEscA6:
        *state = kAfterA6;
        return false;
    case kEsc5B:
        *state = kAfter5B;
        return false;
    case 0x01:
        *out = *state == kAfterA6 ? kEscA6 : *state == kAfter5B ? kEsc5B : 0x01;
        break;
    case 0x02:
        *out = *state == kAfterA6 ? kStart : *state == kAfter5B ? kEnd : 0x02;
        break;
    default:
        *out = byte;
        break;
    }
    *state = kInside;
    return true;
}

}

uint32_t protocol_phy::data_transf_meaning(uint8_t, const uint8_t* input, uint8_t* output,
                                           uint32_t length, uint8_t* done)
{
    uint8_t state = kOutside;
    uint32_t count = 0;
    *done = 0;
    const uint8_t* p = input;
    const uint8_t* const end = input + length;
    while (p < end) {
        if (state == kOutside) {
            p = static_cast<const uint8_t*>(memchr(p, kStart, size_t(end - p)));
            if (!p)
                break;
        } else if (state == kInside) {
            const uint8_t* run = p;
            p = nextSpecial(p, end);
            memcpy(output + count, run, size_t(p - run));
            count += uint32_t(p - run);
            if (p == end)
                break;
        }
        const uint8_t byte = *p++;
        if (byte == kStart) {
            state = kInside;
            count = 0;
        } else if (byte == kEnd) {
            *done = 1;
            break;
        } else if (unstuff(&state, byte, output + count)) {
            ++count;
        }
    }
    return count;
}

uint32_t protocol_phy::data_re_transf_meaning(uint8_t, uint8_t* output, const uint8_t* body,
                                              uint32_t length, uint8_t* flag)
{
    if (flag)
        *flag = 0;
    uint32_t n = 0;
    output[n++] = kStart;
    output[n++] = kStart;
    output[n++] = kStart;
    const uint8_t* p = body;
    const uint8_t* const end = body + length;
    while (p < end) {
        const uint8_t* run = p;
        p = nextSpecial(p, end);
        memcpy(output + n, run, size_t(p - run));
        n += uint32_t(p - run);
        if (p == end)
            break;
        switch (*p++) {
        case kStart: output[n++] = kEscA6; output[n++] = 0x02; break;
        case kEscA6: output[n++] = kEscA6; output[n++] = 0x01; break;
        case kEnd:   output[n++] = kEsc5B; output[n++] = 0x02; break;
        default:     output[n++] = kEsc5B; output[n++] = 0x01; break; // kEsc5B
        }
    }
    output[n++] = kEnd;
    return n;
}

void protocol_phy::swap_phy_head(uint8_t* body)
{
    for (int i = 0; i < 2; ++i) {
        const uint8_t t = body[i];
        body[i] = body[i + 2];
        body[i + 2] = t;
    }
}

uint32_t protocol_phy::encoded_size(const uint8_t* body, uint32_t length)
{
    uint32_t n = 4 + length;
    const uint8_t* const end = body + length;
    for (const uint8_t* p = nextSpecial(body, end); p < end; p = nextSpecial(p + 1, end))
        ++n; // each special byte takes two
    return n;
}

bool protocol_phy::frame_valid(const uint8_t* body, uint32_t length)
{
    // Shorter bodies would make the handlers read head bytes that were never received.
    if (length < kMinFrame)
        return false;
    return body[length - 1] == uint8_t(Utils::BCC(body, length - 1));
}

bool protocol_phy::is_card_frame(const uint8_t* body)
{
    return getU16(body) < proto::kBox && getU16(body + 2) == proto::kPcTool;
}

bool protocol_phy::take_request(uint8_t* buffer, uint32_t capacity, const uint8_t* body,
                                uint32_t length)
{
    if (length > capacity)
        return false;
    memcpy(buffer, body, length);
    if (length < kFixedFields)
        memset(buffer + length, 0, std::min(kFixedFields, capacity) - length);
    return true;
}

uint32_t protocol_phy::build_reply(uint8_t* body, uint32_t r, uint32_t capacity, uint32_t wireLimit)
{
    swap_phy_head(body);
    if (uint64_t(kMinFrame) + r <= capacity) {
        body[kHeadSize + r] = uint8_t(Utils::BCC(body, kHeadSize + r));
        // Counting the escapes is needed only when the worst case could exceed the limit.
        if (encoded_max(kMinFrame + r) <= wireLimit || encoded_size(body, kMinFrame + r) <= wireLimit)
            return kMinFrame + r;
    }
    // Too long for this transport: answer as for a refused range rather than send nothing.
    body[kHeadSize] = 1;
    body[kHeadSize + 1] = 0;
    body[kHeadSize + 2] = uint8_t(Utils::BCC(body, kHeadSize + 2));
    return kMinFrame + 2;
}

uint32_t FrameStream::feed(const uint8_t* data, uint32_t length, bool* complete)
{
    *complete = false;
    const uint8_t* p = data;
    const uint8_t* const end = data + length;
    while (p < end) {
        if (m_state == kOutside) {
            p = static_cast<const uint8_t*>(memchr(p, kStart, size_t(end - p)));
            if (!p)
                break;
        } else if (m_state == kInside) {
            const uint8_t* run = p;
            p = nextSpecial(p, end);
            append(run, uint32_t(p - run));
            if (p == end)
                break;
        }
        const uint8_t byte = *p++;
        if (byte == kStart) {
            m_state = kInside;
            m_overflow = false;
            m_body.clear();
            // Give back the room of an earlier large frame; most frames are small.
            if (m_body.capacity() > 16384)
                std::vector<uint8_t>().swap(m_body);
        } else if (byte == kEnd) {
            m_state = kOutside;
            if (m_overflow) {
                m_overflow = false;
                m_body.clear();
                continue;
            }
            *complete = true;
            return uint32_t(p - data);
        } else {
            uint8_t out;
            if (unstuff(&m_state, byte, &out))
                append(&out, 1);
        }
    }
    return length;
}

void FrameStream::append(const uint8_t* bytes, uint32_t count)
{
    if (m_overflow || count == 0)
        return;
    if (count > m_capacity - m_body.size()) {
        m_overflow = true;
        ++m_dropped;
        m_body.clear();
        return;
    }
    m_body.insert(m_body.end(), bytes, bytes + count);
}
