// The frame layer against the wire examples and the rules every transport relies on.
#include "comm/protocol_phy.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

struct Decoded {
    Bytes body;
    uint8_t done;
};

Decoded decode(const Bytes& in)
{
    protocol_phy phy;
    Decoded d{Bytes(in.size() + 1, 0xEE), 0xEE};
    d.body.resize(phy.data_transf_meaning(7, in.data(), d.body.data(), uint32_t(in.size()), &d.done));
    return d;
}

Bytes encode(const Bytes& body)
{
    protocol_phy phy;
    Bytes out(protocol_phy::encoded_max(uint32_t(body.size())));
    uint8_t flag = 9;
    out.resize(phy.data_re_transf_meaning(0, out.data(), body.data(), uint32_t(body.size()), &flag));
    EXPECT_EQ(flag, 0);
    return out;
}

Bytes sealed(Bytes b)
{
    uint8_t x = 0;
    for (uint8_t v : b)
        x ^= v;
    b.push_back(x);
    return b;
}

// All frames a stream decoder yields when the bytes arrive in pieces of the given size.
std::vector<Bytes> streamed(const Bytes& wire, size_t piece, uint32_t capacity = 1024)
{
    FrameStream stream(capacity);
    std::vector<Bytes> frames;
    for (size_t at = 0; at < wire.size(); at += piece) {
        const uint32_t n = uint32_t(std::min(piece, wire.size() - at));
        uint32_t used = 0;
        while (used < n) {
            bool complete = false;
            used += stream.feed(wire.data() + at + used, n - used, &complete);
            if (complete)
                frames.emplace_back(stream.body(), stream.body() + stream.size());
        }
    }
    return frames;
}

}

TEST(FrameDecode, WireExamples)
{
    EXPECT_EQ(decode({0x11, 0x22, 0xA5, 0x01, 0x02, 0x5A}).body, (Bytes{0x01, 0x02}));
    EXPECT_EQ(decode({0x11, 0x22, 0xA5, 0x01, 0x02, 0x5A}).done, 1);
    EXPECT_EQ(decode({0xA5, 0x10, 0xA5, 0x20, 0x5A}).body, (Bytes{0x20})) << "every A5 restarts";
    EXPECT_EQ(decode({0xA5, 0xA6, 0x33, 0x5A}).body, (Bytes{0x33})) << "escape before a plain byte is dropped";
    EXPECT_EQ(decode({0xA5, 0x5B, 0x01, 0xA6, 0x02, 0x5A}).body, (Bytes{0x5B, 0xA5}));
    EXPECT_EQ(decode({0xA5, 0xA6, 0x5B, 0x02, 0x5A}).body, (Bytes{0x5A})) << "an escape after an escape drops the first";
    // The same inside long plain runs, and a restart after one.
    const Bytes run(20, 0x44);
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    EXPECT_EQ(decode(join({{0xA5}, run, {0xA6, 0x33}, run, {0x5A}})).body, join({run, {0x33}, run}));
    const Bytes restarted = join({{0xA5}, run, {0xA5}, run, {0x5B, 0x01}, run, {0x5A}});
    EXPECT_EQ(decode(restarted).body, join({run, {0x5B}, run}));
    EXPECT_EQ(streamed(restarted, 7), std::vector<Bytes>{join({run, {0x5B}, run})});
    const Decoded open = decode({0xA5, 0x10, 0x20});
    EXPECT_EQ(open.body, (Bytes{0x10, 0x20}));
    EXPECT_EQ(open.done, 0);
}

TEST(FrameDecode, StopsAtTheFirstEndAndIgnoresBytesOutsideAFrame)
{
    EXPECT_EQ(decode({0xA5, 0x01, 0x5A, 0x02, 0x03}).body, (Bytes{0x01}));
    const Decoded stray = decode({0x5A, 0x01, 0x02});
    EXPECT_TRUE(stray.body.empty());
    EXPECT_EQ(stray.done, 0) << "a 5A before any A5 ends nothing";
    EXPECT_EQ(decode({0xA5, 0x5A}).done, 1);
    EXPECT_TRUE(decode({0xA5, 0x5A}).body.empty());
}

TEST(FrameEncode, WireExamplesAndRoundTripOfEveryByte)
{
    EXPECT_EQ(encode({0x5A, 0xA5, 0x5B, 0xA6, 0x00}),
              (Bytes{0xA5, 0xA5, 0xA5, 0x5B, 0x02, 0xA6, 0x02, 0x5B, 0x01, 0xA6, 0x01, 0x00, 0x5A}));
    EXPECT_EQ(encode({}), (Bytes{0xA5, 0xA5, 0xA5, 0x5A}));
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(uint8_t(i));
    const Bytes wire = encode(all);
    EXPECT_EQ(wire.size(), protocol_phy::encoded_size(all.data(), uint32_t(all.size())));
    EXPECT_EQ(decode(wire).body, all);
    const Bytes worst(50, 0xA5);
    EXPECT_EQ(encode(worst).size(), protocol_phy::encoded_max(50)) << "the bound callers size buffers by";
}

TEST(FrameEncode, PlainRunsAroundEscapesAtEveryPlace)
{
    // The escape table, byte by byte: the plain runs between escapes must come out unchanged.
    auto wireOf = [](const Bytes& body) {
        Bytes w = {0xA5, 0xA5, 0xA5};
        for (uint8_t b : body) {
            switch (b) {
            case 0xA5: w.insert(w.end(), {0xA6, 0x02}); break;
            case 0xA6: w.insert(w.end(), {0xA6, 0x01}); break;
            case 0x5A: w.insert(w.end(), {0x5B, 0x02}); break;
            case 0x5B: w.insert(w.end(), {0x5B, 0x01}); break;
            default: w.push_back(b);
            }
        }
        w.push_back(0x5A);
        return w;
    };
    auto plain = [](size_t n) {
        Bytes b;
        for (size_t i = 0; i < n; ++i)
            b.push_back(uint8_t(0x30 + i % 40)); // no escape byte, 01 and 02 left out too
        return b;
    };
    std::vector<Bytes> bodies = {
        {0x5B},
        {0x01, 0x02, 0xA6, 0x01, 0x02},           // 01 and 02 are data, also right after an escape
        Bytes(17, 0x5A),                          // adjacent escapes past a word
    };
    for (size_t run : {size_t(1), size_t(7), size_t(8), size_t(9), size_t(16), size_t(17), size_t(40)}) {
        Bytes b = plain(run);
        bodies.push_back(b);                      // no escape at all
        b.insert(b.begin(), 0xA6);
        b.push_back(0x5A);
        bodies.push_back(b);                      // escape first and last
        const Bytes more = plain(run);
        b.insert(b.begin() + 1, {0x5B, 0xA5});
        b.insert(b.end() - 1, more.begin(), more.end());
        bodies.push_back(b);                      // runs of that length between escapes
    }
    for (uint8_t e : {0xA5, 0xA6, 0x5A, 0x5B})
        for (size_t at = 0; at < 20; ++at) {
            Bytes b = plain(20);
            b[at] = e;                            // one escape at each place of a run
            bodies.push_back(b);
            b[19 - at / 2] = 0xA5;                // and a second one after it
            bodies.push_back(b);
        }
    for (const Bytes& body : bodies) {
        const Bytes wire = wireOf(body);
        ASSERT_EQ(encode(body), wire) << "body of " << body.size() << " bytes";
        EXPECT_EQ(protocol_phy::encoded_size(body.data(), uint32_t(body.size())), wire.size());
        const Decoded d = decode(wire);
        EXPECT_EQ(d.body, body);
        EXPECT_EQ(d.done, 1);
        for (size_t piece : {size_t(1), size_t(5), wire.size()}) {
            const std::vector<Bytes> frames = streamed(wire, piece);
            ASSERT_EQ(frames.size(), 1u);
            EXPECT_EQ(frames[0], body) << "pieces of " << piece;
        }
    }
}

TEST(FrameCheck, AcceptsOnlyWholeHeadsWithTheirCheckByte)
{
    const Bytes good = sealed({0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xA1, 0x04, 0x37});
    EXPECT_TRUE(protocol_phy::frame_valid(good.data(), uint32_t(good.size())));
    Bytes bad = good;
    bad.back() ^= 1;
    EXPECT_FALSE(protocol_phy::frame_valid(bad.data(), uint32_t(bad.size())));
    // "00" and "00 00" pass the XOR test but hold no head: they must not reach the handlers.
    const Bytes tiny = {0x00, 0x00};
    EXPECT_FALSE(protocol_phy::frame_valid(tiny.data(), 1));
    EXPECT_FALSE(protocol_phy::frame_valid(tiny.data(), 2));
    const Bytes ten = sealed(Bytes(9, 0));
    EXPECT_FALSE(protocol_phy::frame_valid(ten.data(), 10));
    const Bytes eleven = sealed(Bytes(10, 0));
    EXPECT_TRUE(protocol_phy::frame_valid(eleven.data(), 11));
    EXPECT_FALSE(protocol_phy::frame_valid(nullptr, 0));
}

TEST(FrameCheck, RoutesCardFramesByDestinationAndSource)
{
    auto head = [](uint16_t dst, uint16_t src) {
        return Bytes{uint8_t(dst), uint8_t(dst >> 8), uint8_t(src), uint8_t(src >> 8)};
    };
    EXPECT_TRUE(protocol_phy::is_card_frame(head(0xEFFF, 0xF010).data()));
    EXPECT_TRUE(protocol_phy::is_card_frame(head(0x0000, 0xF010).data()));
    EXPECT_FALSE(protocol_phy::is_card_frame(head(0xF000, 0xF010).data()));
    EXPECT_FALSE(protocol_phy::is_card_frame(head(0x0001, 0xF011).data()));
    EXPECT_FALSE(protocol_phy::is_card_frame(head(0xF100, 0xF010).data()));
}

TEST(FrameReply, BuiltInPlaceFromTheRequest)
{
    // Read of controller register 4 answered with status 0 and the echoed 0x37.
    Bytes buf(64, 0);
    const Bytes req = {0x00, 0xF1, 0x10, 0xF0, 1, 2, 3, 4, 5, 0xA1, 0x04, 0x37};
    std::copy(req.begin(), req.end(), buf.begin());
    buf[10] = 0; // handler: status 0, byte 11 kept
    ASSERT_EQ(protocol_phy::build_reply(buf.data(), 2, 64, UINT32_MAX), 13u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 13),
              sealed({0x10, 0xF0, 0x00, 0xF1, 1, 2, 3, 4, 5, 0xA1, 0x00, 0x37}));

    // Nothing to say (unknown group): the bare head with its check byte, as the TCP port answers.
    Bytes none = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x55, 0x00, 0x00};
    ASSERT_EQ(protocol_phy::build_reply(none.data(), 0, uint32_t(none.size()), UINT32_MAX), 11u);
    EXPECT_EQ(Bytes(none.begin(), none.begin() + 11), (Bytes{0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0x55, 0x44}));
}

TEST(FrameReply, ThatDoesNotFitBecomesARefusal)
{
    // 100 data bytes of A5 would need 2 x 111 + 4 wire bytes: more than a 150-byte send buffer.
    Bytes buf(200, 0xA5);
    const Bytes head = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x61};
    std::copy(head.begin(), head.end(), buf.begin());
    ASSERT_EQ(protocol_phy::build_reply(buf.data(), 101, 200, 150), 13u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(buf[11], 0);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 13), sealed({0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0x61, 1, 0}));

    // A count beyond the buffer itself: refused without writing past it.
    Bytes small(16, 0);
    std::copy(head.begin(), head.end(), small.begin());
    EXPECT_EQ(protocol_phy::build_reply(small.data(), 6, 16, UINT32_MAX), 13u);
    EXPECT_EQ(small[10], 1);
    EXPECT_EQ(protocol_phy::build_reply(small.data(), 5, 16, UINT32_MAX), 16u) << "exactly full still fits";
}

TEST(FrameReply, RequestBufferHoldsNothingOfAnEarlierFrameInItsFixedFields)
{
    // A memory request's head ends at byte 17: whatever a short request leaves out reads 0 there.
    Bytes buf(32, 0x77);
    const Bytes body = {1, 2, 3};
    ASSERT_TRUE(protocol_phy::take_request(buf.data(), 32, body.data(), 3));
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 3), body);
    EXPECT_EQ(Bytes(buf.begin() + 3, buf.begin() + 18), Bytes(15, 0));
    EXPECT_FALSE(protocol_phy::take_request(buf.data(), 2, body.data(), 3));
    Bytes small(8, 0x77); // a buffer smaller than the fixed fields is not written past its end
    ASSERT_TRUE(protocol_phy::take_request(small.data(), 8, body.data(), 3));
    EXPECT_EQ(small, Bytes({1, 2, 3, 0, 0, 0, 0, 0}));
}

TEST(FrameStream, AnyCutOfTheStreamGivesTheSameFrames)
{
    const Bytes a = sealed({0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x60, 0x5A, 0xA5, 0x5B, 0xA6});
    const Bytes b = sealed({0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xA1, 0x04});
    Bytes wire = {0x00, 0x5A, 0x33}; // noise before the first start byte
    for (const Bytes* f : {&a, &b, &a}) {
        const Bytes w = encode(*f);
        wire.insert(wire.end(), w.begin(), w.end());
    }
    for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(9), size_t(10), wire.size()}) {
        const std::vector<Bytes> frames = streamed(wire, piece);
        ASSERT_EQ(frames.size(), 3u) << "pieces of " << piece;
        EXPECT_EQ(frames[0], a);
        EXPECT_EQ(frames[1], b);
        EXPECT_EQ(frames[2], a);
    }
}

TEST(FrameStream, OversizedFrameIsDroppedAndTheNextOneKept)
{
    const Bytes small = sealed(Bytes(20, 0x11));
    const Bytes fits(64, 0x22), over(65, 0x33);
    Bytes wire = encode(over);
    for (const Bytes* f : {&small, &fits}) {
        const Bytes w = encode(*f);
        wire.insert(wire.end(), w.begin(), w.end());
    }
    // An unterminated oversized frame is cut off by the next start byte too.
    Bytes open = {0xA5};
    open.insert(open.end(), 100, 0x44);
    wire.insert(wire.begin(), open.begin(), open.end());

    FrameStream stream(64);
    std::vector<Bytes> frames;
    uint32_t used = 0;
    while (used < wire.size()) {
        bool complete = false;
        used += stream.feed(wire.data() + used, uint32_t(wire.size()) - used, &complete);
        if (complete)
            frames.emplace_back(stream.body(), stream.body() + stream.size());
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], small);
    EXPECT_EQ(frames[1], fits) << "a frame of exactly the capacity is kept";
    EXPECT_EQ(stream.dropped(), 2u);
}
