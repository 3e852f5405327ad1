// The askers' rules every transport keeps, played on PendingAnswers itself: which answer reaches
// which asker, and when, whatever else the askers send meanwhile.
#include "managers.h"
#include "frame_client.h"
#include "program.h"

#include "base/posix_lock.h"
#include "comm/pending_answers.h"
#include "comm/slow_request.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <string>

TEST(PendingAnswers, EachAnswerReachesItsAskerAsTheRulesSay)
{
    const Managers m = startManagersWithoutWorkers();
    // Serial numbers 0 and 1: neither frame waits for the other's answer on the link.
    const Bytes toCard[] = {Wire::sealed({1, 0, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x61, 0, 0, 0, 0, 1, 0, 0, 0}),
                            Wire::sealed({2, 0, 0x10, 0xF0, 0, 1, 0, 0, 0, 0x61, 0, 0, 0, 0, 1, 0, 0, 0})};
    const Bytes cardAnswer[] = {Wire::sealed({0x10, 0xF0, 1, 0, 0x10, 0, 1, 1, 0, 0x61, 0, 0x5A}),
                                Wire::sealed({0x10, 0xF0, 2, 0, 0x10, 1, 1, 1, 0, 0x61, 0, 0x77})};
    const Bytes slowAnswer = Wire::sealed({0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0xA0, 1}); // the work's status
    // Steps: a/b the card frame of asker A/B, x/y A's/B's frame for the box, ! A's broken frame,
    // s A's slow request, A/B the card A/B asked answers, e the slow work ends, c A is closed.
    const struct {
        const char *rule, *steps, *sent; // sent: "<asker> <answer> at <step>; " in the order sent
    } rows[] = {
        {"a card's answer goes to the asker whose frame it answers", "aybBA", "B card at 3; A card at 4; "},
        {"an asker's next frame ends its card wait: the late answer is dropped", "axA", ""},
        {"a broken frame is no request and ends nothing", "a!A", "A card at 2; "},
        {"a slow answer goes when its work ends, other askers served meanwhile", "sybBe", "B card at 3; A slow at 4; "},
        {"a closed asker gets no card answer late", "acxA", ""},
        {"nor a slow answer, though a new asker took its place", "scxe", ""},
        {"a slow answer is kept across its asker's next frames", "sxaAe", "A card at 3; A slow at 4; "},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.rule);
        auto release = std::make_shared<std::atomic<bool>>(false); // outlives a row that ends early
        std::string sent;
        size_t at = 0;
        PendingAnswers askers([] {});
        Bytes into(4096);
        auto to = [](int asker) {
            PendingAnswers::Destination d;
            d.fd = asker;
            return d;
        };
        auto frame = [&](int asker, Bytes f) {
            const auto taken = askers.take(uint64_t(asker), f.data(), uint32_t(f.size()), into.data(), 4096, to(asker));
            if (taken == PendingAnswers::Frame::ForBox)
                askers.served(); // the transport answers it at once
            return taken;
        };
        for (; r.steps[at]; ++at) {
            const char step = r.steps[at];
            if (step == 'a' || step == 'b') {
                ASSERT_EQ(frame(step - 'a', toCard[step - 'a']), PendingAnswers::Frame::ForCards);
            }
            if (step == 'x' || step == 'y') {
                ASSERT_EQ(frame(step - 'x', Wire::readRegister(4, 1)), PendingAnswers::Frame::ForBox);
            }
            if (step == '!') {
                ASSERT_EQ(frame(0, Wire::join({Bytes(toCard[0].begin(), toCard[0].end() - 1), {uint8_t(~toCard[0].back())}})),
                          PendingAnswers::Frame::Broken);
            }
            if (step == 's') {
                ASSERT_EQ(frame(0, Wire::request(0xA0, {14, 0x01, 0, 0x01})), PendingAnswers::Frame::ForBox);
                askers.slow(0, into.data(), [release] { return uint8_t(waitFor([release] { return release->load(); }, 5000)); }, to(0));
            }
            if (step == 'A' || step == 'B') {
                PosixLock pass(m.fpga->pass_mutex);
                m.fpga->forward_card_reply(cardAnswer[step - 'A'].data(), uint32_t(cardAnswer[step - 'A'].size()), 0);
            }
            if (step == 'e') {
                // One slow request at a time, in order: once a later one has ended, so has A's.
                *release = true;
                auto after = std::make_shared<std::atomic<bool>>(false);
                SlowRequest::start([] { return uint8_t(0); }, [after] { *after = true; });
                ASSERT_TRUE(waitFor([after] { return after->load(); }, 5000));
            }
            if (step == 'c')
                askers.forget(0);
            askers.poll([&](const PendingAnswers::Destination& d, const uint8_t* wire, uint32_t n) {
                const Bytes got(wire, wire + n);
                const bool card = got == Wire::stuff(cardAnswer[0]) || got == Wire::stuff(cardAnswer[1]);
                sent += std::string(d.fd ? "B " : "A ") + (card ? "card" : got == Wire::stuff(slowAnswer) ? "slow" : "other") +
                        " at " + std::to_string(at) + "; ";
            });
        }
        EXPECT_EQ(sent, r.sent);
        *release = true;
    }
}
