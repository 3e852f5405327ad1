#include "ite6805_fixture.h"

#include <utility>
#include <vector>

// Equaliser training and CEC answers of the iTE6805 driver.
namespace {

using namespace ite6805_test;
using Ite6805EqCec = Ite6805Fixture;
using Frame = std::vector<uint8_t>;

// The last n values written to an equaliser register of port 0.
std::vector<uint8_t> lastWrites(const Ite6805Chip& chip, uint8_t reg, size_t n)
{
    std::vector<uint8_t> v;
    for (const auto& w : chip.writesTo(3, reg))
        if (w.bank == 3)
            v.push_back(w.value);
    if (v.size() > n)
        v.erase(v.begin(), v.end() - long(n));
    return v;
}

TEST_F(Ite6805EqCec, Hdmi2LinkWithGoodCountersNeedsNoTraining)
{
    chip(0).connect(P2160p60);
    run(0, 12);
    EXPECT_EQ(s->data[0].STATEEQ, STATEEQ_EQDone);
    EXPECT_EQ(chip(0).trainingStarts(), 0);
    EXPECT_EQ(s->data[0].STATEV, STATEV_VidStable);
}

// The same 1080p source on a fresh input and after a 4K60 source on it: the link kind is taken
// from each new link, not kept from the last one.
TEST_F(Ite6805EqCec, Hdmi1LinkIsTrainedOnceAndMonitored)
{
    for (const bool after4k : {false, true}) {
        SCOPED_TRACE(after4k ? "after a 4K60 source" : "fresh");
        chip(0).reset();
        s->top_state[0] = 0;
        if (after4k) {
            chip(0).connect(P2160p60);
            run(0, 12);
            ASSERT_EQ(s->data[0].STATEEQ, STATEEQ_EQDone);
            chip(0).disconnect();
            run(0, 3);
        }
        chip(0).connect(P1080p60);
        run(0, 12);
        EXPECT_EQ(s->data[0].STATEEQ, STATEEQ_EQDone);
        EXPECT_EQ(chip(0).trainingStarts(), 1);
        EXPECT_EQ(chip(0).reg(3, 0x20), 0x1B) << "below 1 GHz";
        // a link that goes bad while monitored (and fails the parity test: status not 0xBF) is
        // trained again at the next check, 33 passes on
        for (int ch = 0; ch < 3; ++ch)
            chip(0).setBitErrors(ch, 0xFF, 0x85);
        chip(0).poke(0, 0x13, 0xBB);
        run(0, 20);
        EXPECT_EQ(chip(0).trainingStarts(), 1);
        run(0, 20);
        EXPECT_GE(chip(0).trainingStarts(), 2);
    }
}

// Channel 0 stays bad through the four table values; 280 errors twice: the first of them wins.
TEST_F(Ite6805EqCec, ManualSeriesKeepsTheValueWithFewestErrors)
{
    const std::pair<uint8_t, uint8_t> e300{0x2C, 0x81}, e280{0x18, 0x81}, e400{0x90, 0x81}, good{0x10, 0x80};
    chip(0).connect(P1080p60);
    chip(0).queueBitErrors(0, {e300, e300, e280, e280, e400, good});
    run(0, 12);
    // tries: table values 01 3F 07 0F with bit 7 set, then the chosen 0x3F with bit 7 flipped
    EXPECT_EQ(lastWrites(chip(0), 0x27, 5), (std::vector<uint8_t>{0x81, 0xBF, 0x87, 0x8F, 0xBF}));
    EXPECT_EQ(s->data[0].STATEEQ, STATEEQ_EQDone);
    // channels 1 and 2 were good from the first check and keep their training values
    EXPECT_TRUE(lastWrites(chip(0), 0x28, 5).size() < 5 || lastWrites(chip(0), 0x28, 1)[0] != 0x8F);
}

// Two inputs training at the same time: each runs its own series.
TEST_F(Ite6805EqCec, BothDevicesRunTheirOwnManualSeries)
{
    const std::pair<uint8_t, uint8_t> e300{0x2C, 0x81}, e280{0x18, 0x81}, e400{0x90, 0x81}, good{0x10, 0x80};
    for (int dev = 0; dev < 2; ++dev) {
        chip(dev).connect(P1080p60);
        chip(dev).queueBitErrors(0, {e300, e300, e280, e280, e400, good});
    }
    for (int pass = 0; pass < 12; ++pass) {
        run(0, 1);
        run(1, 1);
    }
    for (int dev = 0; dev < 2; ++dev) {
        SCOPED_TRACE(dev);
        std::vector<uint8_t> v;
        for (const auto& w : chip(dev).writesTo(3, 0x27))
            if (w.bank == 3)
                v.push_back(w.value);
        ASSERT_GE(v.size(), 5u);
        EXPECT_EQ(std::vector<uint8_t>(v.end() - 5, v.end()), (std::vector<uint8_t>{0x81, 0xBF, 0x87, 0x8F, 0xBF}));
        EXPECT_EQ(s->data[dev].STATEEQ, STATEEQ_EQDone);
    }
}

struct CecCase {
    const char* name;
    Frame in;
    std::vector<Frame> out;
};

TEST_F(Ite6805EqCec, CecQueriesAreAnsweredAsADisplayWould)
{
    const CecCase cases[] = {
        {"power status", {0x40, 0x8F}, {{0x04, 0x90, 0x00}}},
        {"OSD name", {0x40, 0x46}, {{0x04, 0x47, 0x68, 0x05}}},
        {"CEC version", {0x40, 0x9F}, {{0x04, 0x9E, 0x06}}},
        {"physical address", {0x40, 0x83}, {{0x0F, 0x84, 0x00, 0x00, 0x00}}},
        {"active source, broadcast", {0x4F, 0x85}, {{0x0F, 0x82, 0x00, 0x00}}},
        {"vendor id, directed", {0x40, 0x8C}, {{0x0F, 0x87, 0x00, 0x00, 0x00}}},
        {"vendor id, broadcast", {0x4F, 0x8C}, {}},
        {"abort", {0x40, 0xFF}, {{0x04, 0x00, 0xFF, 0x04}}},
        {"deck control", {0x40, 0x42, 0x01}, {{0x04, 0x00, 0x42, 0x04}}},
        {"deck control too short", {0x40, 0x42}, {}},
        {"polling", {0x40}, {}},
        {"from our own address", {0x00, 0x8F}, {}},
        {"to someone else", {0x45, 0x8F}, {}},
        {"standby, no answer", {0x4F, 0x36}, {}},
        {"seventeen bytes", Frame{0x40, 0x64, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {}},
        {"twenty-five bytes", Frame(25, 0x40), {}},
    };
    run(0, 1);
    for (const CecCase& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = chip(0).cecSent().size();
        chip(0).sendCecFrame(c.in);
        run(0, 1);
        const auto sent = chip(0).cecSent();
        EXPECT_EQ(std::vector<Frame>(sent.begin() + long(before), sent.end()), c.out);
    }
    // a polling frame waits in the queue until the next frame pushes it through; nothing answers it
    chip(0).sendCecFrame({0x40, 0x9F});
    run(0, 1);
    EXPECT_EQ(chip(0).cecSent().back(), (Frame{0x04, 0x9E, 0x06}));
}

TEST_F(Ite6805EqCec, SeveralFramesInOnePassAreAllAnswered)
{
    run(1, 1);
    chip(1).sendCecFrame({0x40, 0x8F});
    chip(1).sendCecFrame({0x40, 0x9F});
    chip(1).sendCecFrame({0x40, 0x46});
    run(1, 1);
    const auto sent = chip(1).cecSent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0][1], 0x90);
    EXPECT_EQ(sent[1][1], 0x9E);
    EXPECT_EQ(sent[2][1], 0x47);
}

// A FIFO count that never drops (or a status the chip stops answering) ends the receive within one
// FIFO's worth of frames, so the polling pass goes on to the other inputs.
TEST_F(Ite6805EqCec, CecReceiveIsBoundedWhenTheFifoCountSticks)
{
    run(0, 1);
    chip(0).sendCecFrame({0x40, 0x8F});
    chip(0).setCecStuckCount(15);
    const int taken = chip(0).cecFramesTaken();
    const int messages = chip(0).cecAddressings();
    run(0, 1);
    EXPECT_LE(chip(0).cecFramesTaken() - taken, 15);
    // The bus messages of the pass, not only the frames: the interrupt read and acknowledge (3),
    // the status read (2), 15 frames of three reads (90), the status re-read (2) and the one answer
    // (length, frame, the start bits read and written twice: 8). A receive that kept polling the
    // stuck count without taking frames would show here alone.
    EXPECT_LE(chip(0).cecAddressings() - messages, 3 + 2 + 90 + 2 + 8);
}

// A length byte beyond the 18 operands a frame can carry: the receive FIFO is reset at once, not
// read out one operand per transfer, so the frame behind it is lost too and the next one answered.
TEST_F(Ite6805EqCec, OverlongCecLengthResetsTheReceiveFifo)
{
    run(0, 1);
    struct Row {
        size_t length;
        bool reset;
    };
    const Frame status{0x04, 0x90, 0x00}, version{0x04, 0x9E, 0x06};
    for (const Row row : {Row{20, false}, Row{21, true}, Row{255, true}}) {
        SCOPED_TRACE(row.length);
        Frame overlong(row.length, 0x40);
        overlong[1] = 0x64; // Set OSD String: directed, from 3 bytes on
        chip(0).sendCecFrame(overlong);
        chip(0).sendCecFrame({0x40, 0x8F});
        const size_t answers = chip(0).cecSent().size();
        const size_t resets = chip(0).cecWritesTo(0x52).size();
        const int messages = chip(0).cecAddressings();
        run(0, 1);
        const int used = chip(0).cecAddressings() - messages;
        const std::vector<uint8_t> fifo = chip(0).cecWritesTo(0x52);
        // interrupt (3), status (2), the length read (2), the three writes of the reset (3);
        // 20 bytes are a frame to read out (too long to answer)
        if (row.reset)
            EXPECT_LE(used, 3 + 2 + 2 + 3);
        else
            EXPECT_GE(used, 2 * 20);
        const std::vector<uint8_t> reset = row.reset ? std::vector<uint8_t>{0x60, 0xE0, 0x80} : std::vector<uint8_t>{};
        EXPECT_EQ(std::vector<uint8_t>(fifo.begin() + long(resets), fifo.end()), reset);
        // The power-status query behind an overlong length went with the FIFO: never answered,
        // not even when the next frame comes in.
        run(0, 1);
        chip(0).sendCecFrame({0x40, 0x9F});
        run(0, 1);
        const auto sent = chip(0).cecSent();
        const std::vector<Frame> answered = row.reset ? std::vector<Frame>{version} : std::vector<Frame>{status, version};
        EXPECT_EQ(std::vector<Frame>(sent.begin() + long(answers), sent.end()), answered);
    }
}

TEST_F(Ite6805EqCec, CecReceiveStopsAtAFailedStatusRead)
{
    run(0, 1);
    for (int i = 0; i < 3; ++i)
        chip(0).sendCecFrame({0x40, 0x8F});
    chip(0).setCecStuckCount(3);
    const int before = chip(0).cecAddressings();
    // answered: the interrupt read and acknowledge, the status read, three frames of three reads
    chip(0).cecAnswerOnly(2 + 1 + 3 * 3);
    run(0, 1);
    // then the one failed status re-read and the three answers' tries: 19; a receive that went on
    // reading would need 10 messages for each further round
    EXPECT_LE(chip(0).cecAddressings() - before, 20);
}

} // namespace
