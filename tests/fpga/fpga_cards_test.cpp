// The receiving-card link against the simulated FPGA and LED network: PC frames passed through
// and answered, the multi-port merge, the card search, and what happens to malformed frames and
// replies.
#include "card_fixture.h"
#include "program.h"
#include "running_fpga.h"

#include "base/bytes.h"
#include "fpga/card_link.h"
#include "platform/sim/devices/fpga_network.h"

#include <QSignalSpy>
#include <memory>

using platform::Sim::fpgaChip;
using platform::Sim::LedNetwork;

namespace {

// A PC tool's read of 4 bytes of card RAM at 0x100 (source 0xF010).
Bytes pcRead(uint16_t dest, uint8_t selector, uint8_t portByte, uint8_t serial = 0x20)
{
    return LedCards::sealed({uint8_t(dest), uint8_t(dest >> 8), 0x10, 0xF0, 0x10, serial, selector, portByte, 0, 0x61,
                             0x00, 0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00});
}

// Each frame goes out as a transport passes it: through a card link asker, one of its own or the
// one named (that asker's next frame), and the answers are what the askers took.
class CardPass : public LedCards {
protected:
    // 1 when the frame went out.
    int pass(const Bytes& frame, size_t asker = SIZE_MAX)
    {
        if (asker >= askers.size()) {
            askers.push_back(std::make_unique<CardLink::Asker>());
            asker = askers.size() - 1;
        }
        if (!askers[asker]->pass(frame.data(), uint32_t(frame.size())))
            return 0;
        return poll(*askers[asker]) == CardLink::Result::GivenUp ? 0 : 1;
    }
    // The answers taken so far, in the order they came.
    const std::vector<Bytes>& answers()
    {
        for (auto& a : askers)
            poll(*a);
        return got;
    }
    size_t delivered()
    {
        size_t n = 0;
        for (int p = 0; p < LedNetwork::Ports; ++p)
            n += fpgaChip().packets(p).size();
        return n;
    }

private:
    CardLink::Result poll(CardLink::Asker& a)
    {
        Bytes answer;
        const CardLink::Result r = a.poll(&answer);
        if (r == CardLink::Result::Answered)
            got.push_back(answer);
        return r;
    }
    std::vector<std::unique_ptr<CardLink::Asker>> askers;
    std::vector<Bytes> got;
};

}

TEST_F(CardPass, SelectorZeroPortByteNamesThePortAndKeepsTheCheckValid)
{
    fpgaChip().setCards(2, 3);
    EXPECT_EQ(pass(pcRead(0x0001, 0, 3)), 1);
    const auto log = fpgaChip().packets(2);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0][1] >> 4 & 3, 2);
    EXPECT_TRUE(checkOk(log[0]));

    // Its answer reaches its asker.
    serveInterrupt();
    EXPECT_EQ(answers().size(), 1u);
}

// The head of each forwarded answer, byte for byte: a single-port answer has bits 4-5 of byte 1
// cleared (the PC's 0xF010 becomes 0xC010) and a port byte of 0 replaced by the port + 1; the
// card's address stays. A merged answer is addressed as the request was, with port byte 255.
TEST_F(CardPass, ForwardedAnswersHaveTheToolsHeadBytes)
{
    for (int p = 0; p < 16; ++p)
        fpgaChip().setCards(p, 3);
    searchCards();
    const struct {
        uint16_t dest;
        uint8_t selector, portByte;
        Bytes head; // bytes 0-10 as forwarded
    } rows[] = {
        {0x0001, 0, 3, {0x10, 0xC0, 0x01, 0x20, 0x10, 0x20, 0x00, 3, 0, 0x61, 0}},
        {0x0002, 1, 10, {0x10, 0xC0, 0x02, 0x10, 0x10, 0x20, 0x01, 10, 0, 0x61, 0}},
        {0x3002, 1, 0, {0x10, 0xC0, 0x02, 0x30, 0x10, 0x20, 0x01, 4, 0, 0x61, 0}},
        {0x0000, 0, 0, {0x10, 0xC0, 0x00, 0x00, 0x10, 0x20, 0x00, 1, 0, 0x61, 0}},
        {0x0FFF, 1, 255, {0xFF, 0x0F, 0x00, 0x30, 0x10, 0x20, 0x01, 255, 0, 0x61, 0}},
        {0x0FFE, 255, 255, {0xFE, 0x0F, 0x00, 0x30, 0x10, 0x20, 0xFF, 255, 0, 0x61, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dest);
        const size_t before = answers().size();
        ASSERT_EQ(pass(pcRead(row.dest, row.selector, row.portByte)), 1);
        ASSERT_TRUE(runUntil([&] { return answers().size() > before; }, 50));
        ASSERT_EQ(answers().size(), before + 1);
        const Bytes& r = answers()[before];
        ASSERT_GE(r.size(), 12u);
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 11), row.head);
        EXPECT_TRUE(checkOk(r));
    }
}

// Selectors 1, 3 and 255 name the port in the port byte (1-16), or without it in the destination.
TEST_F(CardPass, PortByteOrDestinationChoosesThePort)
{
    for (int p = 0; p < 16; ++p)
        fpgaChip().setCards(p, 1);
    const struct {
        uint16_t dest;
        uint8_t selector, portByte;
        int port;
    } rows[] = {{0x2000, 1, 0, 2}, {0x3000, 3, 0, 3}, {0x0000, 255, 16, 15}, {0x0000, 1, 9, 8}, {0x1000, 0, 0, 0}};
    for (const auto& row : rows) {
        fpgaChip().clearPackets();
        EXPECT_EQ(pass(pcRead(row.dest, row.selector, row.portByte)), 1);
        ASSERT_EQ(fpgaChip().packets(row.port).size(), 1u) << row.port;
        EXPECT_EQ(delivered(), 1u);
        const Bytes sent = fpgaChip().packets(row.port)[0];
        if (row.portByte)
            EXPECT_EQ(sent[1] >> 4 & 3, row.port % 4);
        else
            EXPECT_EQ(getU16(sent.data()), row.dest) << "sent unchanged";
        EXPECT_TRUE(checkOk(sent));
    }
}

// Frames that must not reach any port, and the result the transport sees.
TEST_F(CardPass, MalformedOrUnreachableFramesSendNothing)
{
    for (int p = 0; p < 16; ++p)
        fpgaChip().setCards(p, 1);
    Bytes badCheck = pcRead(0x0001, 0, 1);
    badCheck.back() ^= 0x55;
    Bytes tooLong = pcRead(0x0001, 0, 1);
    tooLong.resize(1024, 0);
    tooLong.back() = uint8_t(Utils::BCC(tooLong.data(), 1023));
    const struct {
        const char* what;
        Bytes frame;
    } rows[] = {
        {"port byte 40", pcRead(0x0001, 0, 40)},
        {"port byte 17 (second FPGA)", pcRead(0x0001, 0, 17)},
        {"selector 1, port byte 20 (second FPGA)", pcRead(0x0001, 1, 20)},
        {"selector 2", pcRead(0x0001, 2, 1)},
        {"bad check byte", badCheck},
        {"1024 bytes", tooLong},
        {"one byte", Bytes{0x00}},
        {"head only", sealed({0x01, 0x00, 0x10, 0xF0, 0x10, 0x20, 0x00, 0x01, 0x00})},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pass(row.frame), 0) << row.what;
        EXPECT_EQ(delivered(), 0u) << row.what;
    }
}

TEST_F(CardPass, FrameForAllPortsGoesToLinkedPortsWithCardsAndComesBackOnce)
{
    fpgaChip().setCards(0, 2);
    fpgaChip().setCards(5, 3);
    fpgaChip().setLinked(7, true); // linked, no cards
    searchCards();
    ASSERT_EQ(fpga->get_port_card_num(0), 2);
    ASSERT_EQ(fpga->get_port_card_num(5), 3);
    fpgaChip().clearPackets();
    fpgaChip().setReplyDelay(40); // the second port answers a little later

    EXPECT_EQ(pass(pcRead(0x0FFF, 1, 255, 0x5C)), 1);
    EXPECT_EQ(fpgaChip().packets(0).size(), 1u);
    EXPECT_EQ(fpgaChip().packets(5).size(), 1u);
    EXPECT_EQ(delivered(), 2u);
    EXPECT_EQ(fpgaChip().packets(5)[0][1] >> 4 & 3, 1);
    // The worker's passes (and their transfers) let the delayed answers arrive.
    ASSERT_TRUE(runUntil([this] { return !answers().empty(); }, 50));
    tick(10);
    ASSERT_EQ(answers().size(), 1u);
    EXPECT_EQ(getU16(answers()[0].data()), 0x0FFF);
    EXPECT_EQ(answers()[0][7], 255);
    EXPECT_TRUE(checkOk(answers()[0]));
    EXPECT_EQ(fpga->pass_pending.load(), 0);
}

// One port stays silent: the merge ends after its time-out with what came back.
TEST_F(CardPass, SilentPortEndsTheMergeAfterItsTimeOut)
{
    fpgaChip().setCards(0, 2);
    fpgaChip().setCards(5, 3);
    searchCards();
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(5).silent = true; });
    EXPECT_EQ(pass(pcRead(0x0FFE, 255, 255)), 1);
    tick(int(fpga_manage::kMergeTicks) - 10);
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(fpga->pass_pending.load(), 1);
    tick(20);
    ASSERT_EQ(answers().size(), 1u);
    EXPECT_EQ(getU16(answers()[0].data()), 0x0FFE);
    EXPECT_EQ(fpga->pass_pending.load(), 0);
}

// A merge still waiting for a silent port goes on beside a frame for one port, whose answer is
// its own; its asker's next frame for all ports ends it: what came back for it is not the next
// one's answer.
TEST_F(CardPass, NextFrameForAllPortsEndsAMergeThatWaits)
{
    fpgaChip().setCards(0, 2);
    fpgaChip().setCards(5, 3);
    searchCards();
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(5).silent = true; });
    EXPECT_EQ(pass(pcRead(0x0FFE, 255, 255, 0x41)), 1);
    tick(2);
    EXPECT_EQ(pass(pcRead(0x0001, 0, 1, 0x42)), 1);
    ASSERT_TRUE(runUntil([this] { return !answers().empty(); }, 10));
    EXPECT_EQ(answers()[0][5], 0x42);
    EXPECT_EQ(fpga->pass_pending.load(), 1) << "the merge waits on";

    EXPECT_EQ(pass(pcRead(0x0FFE, 255, 255, 0x43), 0), 1);
    tick(int(fpga_manage::kMergeTicks) + 20);
    ASSERT_EQ(answers().size(), 2u);
    EXPECT_EQ(answers()[1][5], 0x43);
    EXPECT_EQ(fpga->pass_pending.load(), 0);
}

TEST_F(CardPass, FrameForAllPortsWithoutCardsSendsNothingAndLeavesNothingPending)
{
    EXPECT_EQ(pass(pcRead(0x0FFF, 1, 255)), 0);
    EXPECT_EQ(delivered(), 0u);
    EXPECT_EQ(fpga->pass_pending.load(), 0);
}

// Search every 80 ticks: counts per port in the image and in bank 1; a pair that stops
// answering loses its count, and the total follows.
TEST_F(CardPass, SearchCountsCardsPerPortAndClearsAPairThatStopsAnswering)
{
    fpgaChip().setCards(1, 4);
    fpgaChip().setCards(4, 6);
    fpgaChip().setCards(12, 2);
    fpgaChip().setMultifunction(12, true);
    searchCards();
    EXPECT_EQ(fpga->get_port_card_num(1), 4);
    EXPECT_EQ(fpga->get_port_card_num(4), 6);
    EXPECT_EQ(fpga->get_port_card_num(12), 2);
    EXPECT_EQ(fpga->total_cards.load(), 12);
    EXPECT_EQ(fpgaChip().ram(1, 102, 2), (Bytes{4, 0}));
    EXPECT_EQ(fpgaChip().ram(1, 560, 2), (Bytes{6, 0}));
    EXPECT_NE(fpgaChip().ram(1, 642 + 4 * 4, 1)[0], 0); // multifunction flag of port 12
    const Bytes search = fpgaChip().packets(4).at(0);
    ASSERT_EQ(search.size(), 30u);
    EXPECT_EQ(getU16(search.data()), 0x0FFE);
    EXPECT_EQ(search[5], 0xAA);
    EXPECT_EQ(search[7], 5);
    EXPECT_EQ(search[9], 0x10);

    fpgaChip().editNetwork([](LedNetwork& n) { n.port(4).silent = true; }); // pair 2
    searchCards(3);
    EXPECT_EQ(fpga->get_port_card_num(4), 0);
    EXPECT_EQ(fpga->get_port_card_num(1), 4);
    EXPECT_EQ(fpga->total_cards.load(), 6);

    // A port that loses its link is reported to the pages.
    QSignalSpy refresh(store, &VyrRamPara::sig_update_para);
    fpgaChip().setLinked(12, false);
    searchCards(1);
    bool reported = false;
    for (const auto& r : refresh)
        reported = reported || r[0].toInt() == 11;
    EXPECT_TRUE(reported);
    EXPECT_EQ(fpga->get_port_card_num(12), 0);
}

// Replies that cannot be trusted change nothing and count in register 85.
TEST_F(CardPass, ShortOrBadRepliesAreRefusedAndCounted)
{
    fpgaChip().setCards(3, 2);
    searchCards();
    const uint8_t before = fpga->reg_cached(0, 85);
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(3).silent = true; }); // only the replies below
    ASSERT_EQ(pass(pcRead(0x0001, 0, 4)), 1); // what the last one would answer
    // One byte 00 passes a plain XOR test; a search reply cut after its count; a bad check byte.
    fpgaChip().queueReply(3, Bytes{0x00});
    serveInterrupt();
    fpgaChip().queueReply(3, sealed({0x00, 0xF0, 0x01, 0x30, 0x10, 0xAA, 0xFF, 4, 0, 0x10, 0, 9}));
    serveInterrupt();
    Bytes bad = sealed({0x10, 0xF0, 0x01, 0x30, 0x10, 0x20, 0x00, 4, 0, 0x61, 0, 1, 2, 3});
    bad.back() ^= 1;
    fpgaChip().queueReply(3, bad);
    serveInterrupt();
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(fpga->get_port_card_num(3), 2);
    EXPECT_EQ(fpga->reg_cached(0, 85), uint8_t(before + 2));

    // A search reply whose port byte is out of range counts for the port of its pair only.
    fpgaChip().queueReply(3, sealed({0x00, 0xF0, 0x01, 0x30, 0x10, 0xAA, 0xFF, 99, 0, 0x10, 0, 7, 0, 0}));
    serveInterrupt();
    EXPECT_EQ(fpga->get_port_card_num(3), 7);
    EXPECT_EQ(fpgaChip().ram(1, 640 + 4 * (98 - 8), 2), (Bytes{0, 0}));
}

// A transmission still on its way is never overwritten: the next packet is refused.
TEST_F(CardPass, BusyTxBufferRefusesTheNextPacket)
{
    fpgaChip().setCards(6, 1);
    fpgaChip().setTxLatency(1000000);
    EXPECT_EQ(pass(pcRead(0x0001, 0, 7)), 1);
    EXPECT_EQ(pass(pcRead(0x0001, 0, 7, 0x21)), 0);
    fpgaChip().setTxLatency(0);
    fpgaChip().settle();
    const auto log = fpgaChip().packets(6);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0][5], 0x20);
}

// A frame whose wait has ended (a newer request, or its time-out) may still be answered, at once
// or after a few SPI transfers, so before or after the next frame goes out: that answer is dropped,
// and the next frame gets its own.
TEST_F(CardPass, LateAnswerOfAnEndedWaitIsNotTakenForTheNextFrame)
{
    fpgaChip().setCards(3, 2);
    const struct {
        int delay; // SPI transfers before a card's answer reaches the RX buffer
        bool timedOut;
    } rows[] = {{0, false}, {5, false}, {40, false}, {5, true}, {40, true}};
    uint8_t serial = 0x30;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "delay " << row.delay << (row.timedOut ? ", timed out" : ", ended"));
        fpgaChip().setReplyDelay(row.delay);
        CardLink::Asker wait;
        const Bytes first = pcRead(0x0001, 0, 4, ++serial), second = pcRead(0x0001, 0, 4, ++serial);
        Bytes answer;
        ASSERT_TRUE(wait.pass(first.data(), uint32_t(first.size())));
        if (row.timedOut) {
            G_timeTicks += CardLink::kWaitTicks + 1;
            ASSERT_EQ(wait.poll(&answer), CardLink::Result::GivenUp);
        } else {
            wait.end(); // a new request came before the answer was served
        }
        ASSERT_TRUE(wait.pass(second.data(), uint32_t(second.size())));
        bool answered = false;
        for (int i = 0; i < 20 && !answered; ++i, tick())
            answered = wait.poll(&answer) == CardLink::Result::Answered;
        ASSERT_TRUE(answered);
        ASSERT_GE(answer.size(), 11u);
        EXPECT_EQ(answer[5], serial) << "the serial of the frame that waits";
        fpgaChip().settle();
    }
}

// A card's answer, as a card on the port sends it: the PC's 0xF010 as destination, the card's
// address with the port bits as source (0x4000 the multifunction card), the request's serial
// number, port byte and group.
Bytes cardAnswer(int port, uint16_t card, uint8_t serial, uint8_t group = 0x61)
{
    const uint16_t source = uint16_t((port % 4) << 12 | card);
    return LedCards::sealed({0x10, 0xF0, uint8_t(source), uint8_t(source >> 8), 0x10, serial, 0, uint8_t(port + 1), 0,
                             group, 0, 0xC1, 0xC2});
}

// A frame takes only its own answer: its serial number and group, from its card, on its pair of
// ports. Frames of one serial number whose answers differ so go out together: tools that reuse a
// serial number are not held behind a frame to a card that does not answer. Answers of the box's
// own multifunction serial number are never forwarded: such a frame is done once it is out.
TEST_F(CardPass, AFrameTakesOnlyTheAnswerOfItsCardSerialAndPair)
{
    fpgaChip().setCards(3, 3);
    fpgaChip().setCards(5, 3);
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(3).silent = true; }); // only the answers below
    CardLink::Asker wait;
    Bytes answer;
    const Bytes frame = pcRead(0x0000, 0, 4, 0x50);
    ASSERT_TRUE(wait.pass(frame.data(), uint32_t(frame.size())));
    const struct {
        const char* what;
        Bytes frame;
        bool out; // beside the frame above, at once
    } beside[] = {
        {"the multifunction card", pcRead(0x4000, 0, 4, 0x50), true},
        {"a search of the port", LedCards::sealed({0xFE, 0x0F, 0x10, 0xF0, 0x10, 0x50, 0, 4, 0, 0x10, 0, 0, 0, 0, 0}), true},
        {"the same card", pcRead(0x0000, 0, 4, 0x50), false},
        {"all cards of the port", pcRead(0x0FFF, 0, 4, 0x50), false},
    };
    for (const auto& row : beside) {
        CardLink::Asker other;
        const size_t before = fpgaChip().packets(3).size();
        ASSERT_TRUE(other.pass(row.frame.data(), uint32_t(row.frame.size())));
        EXPECT_EQ(fpgaChip().packets(3).size() > before, row.out) << row.what;
    }
    const struct {
        const char* what;
        Bytes answer;
        int port;
    } others[] = {
        {"another card", cardAnswer(3, 2, 0x50), 3},
        {"another serial", cardAnswer(3, 0, 0x51), 3},
        {"another pair", cardAnswer(5, 0, 0x50), 5},
        {"another group", cardAnswer(3, 0, 0x50, 0x60), 3},
        {"the multifunction card", cardAnswer(3, 0x4000, 0x50), 3},
    };
    for (const auto& row : others) {
        fpgaChip().queueReply(row.port, row.answer);
        serveInterrupt();
        EXPECT_EQ(wait.poll(&answer), CardLink::Result::Waiting) << row.what;
    }
    fpgaChip().queueReply(3, cardAnswer(3, 0, 0x50));
    serveInterrupt();
    ASSERT_EQ(wait.poll(&answer), CardLink::Result::Answered);
    ASSERT_GE(answer.size(), 11u);
    EXPECT_EQ(Bytes(answer.begin() + 2, answer.begin() + 6), (Bytes{0x00, 0x30, 0x10, 0x50}));

    const Bytes multifunction = pcRead(0x0001, 0, 4, 0x66);
    ASSERT_TRUE(wait.pass(multifunction.data(), uint32_t(multifunction.size())));
    ASSERT_FALSE(fpgaChip().packets(3).empty());
    EXPECT_EQ(fpgaChip().packets(3).back()[5], 0x66) << "sent";
    EXPECT_EQ(wait.poll(&answer), CardLink::Result::GivenUp) << "and done";
}

// The real worker thread searching and serving the interrupt while a transport thread passes
// frames through: every frame is answered once, on the transport that asked.
TEST(CardLinkThreads, TransportAndWorkerShareTheLink)
{
    fpgaChip().setCards(0, 2);
    fpgaChip().setCards(3, 5);
    RunningFpga running;
    fpga_manage* fpga = running.fpga;
    ASSERT_TRUE(waitFor([&] { return fpga->get_port_card_num(3) == 5; }, 60000)) << "cards found by the worker's search";
    running.tickEvery(20); // the box's 10 ms: a busy host does not run the asker out of time

    CardLink::Asker asker;
    for (int i = 0; i < 40; ++i) {
        const Bytes frame = pcRead(uint16_t(i % 5), 0, 4, uint8_t(i));
        ASSERT_TRUE(asker.pass(frame.data(), uint32_t(frame.size())));
        Bytes answer;
        CardLink::Result result = CardLink::Result::Waiting;
        ASSERT_TRUE(waitFor([&] { return (result = asker.poll(&answer)) != CardLink::Result::Waiting; }, 2000));
        ASSERT_EQ(result, CardLink::Result::Answered) << "frame " << i;
        ASSERT_GE(answer.size(), 11u);
        EXPECT_EQ(answer[5], uint8_t(i)) << "the answer to this frame";
        EXPECT_EQ(getU16(answer.data() + 2), uint16_t(0x3000 | i % 5));
    }
}
