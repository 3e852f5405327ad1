// The smart mapping page's card jobs (positions, save, mapping switch) against the simulated LED
// network: the packets byte for byte, their answers, and failures that the page must see.
#include "card_fixture.h"

#include "base/bytes.h"
#include "platform/sim/devices/fpga_network.h"

#include <QSignalSpy>
#include <array>
#include <functional>

using platform::Sim::fpgaChip;
using platform::Sim::LedNetwork;

namespace {

void setLineType(uint16_t w, uint16_t h, uint16_t dx, uint16_t dy, uint8_t port, uint8_t rows, uint8_t columns, uint8_t type)
{
    const uint8_t b[12] = {uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), uint8_t(dx), uint8_t(dx >> 8),
                           uint8_t(dy), uint8_t(dy >> 8), port, rows, columns, type};
    for (int i = 0; i < 12; ++i)
        line_type[i] = b[i];
}

// A 16-bit word of a card's RAM; unwritten bytes read 0.
uint16_t cardU16(const LedNetwork::Card& card, uint32_t at)
{
    const std::vector<uint8_t> b = cardRam(card, at, 2);
    return uint16_t(b[0] | b[1] << 8);
}

}

// The builders' packets as the cards receive them.
TEST(CardPackets, BuildersLayThePacketsOut)
{
    const struct {
        const char* what;
        std::function<uint32_t(uint8_t*)> build;
        Bytes want;
    } rows[] = {
        {"save to port 3", [](uint8_t* o) { return fpga_manage::save_para_cmd_create(o, 3); },
         {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x04, 0x00, 0x81, 0xFF, 0x00, 0x0C}},
        {"mapping on, port 5", [](uint8_t* o) { return fpga_manage::mapping_enable_cmd_create(5, 9, o); },
         LedCards::sealed({0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x06, 0x00, 0xA0, 0x03, 0x0F, 0x01, 0x09})},
        {"RAM reset, port 6", [](uint8_t* o) { return fpga_manage::ram_reset_cmd_create(o, 6); },
         LedCards::sealed({0xFE, 0x2F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x07, 0x00, 0xA0, 0x01, 0xFF, 0x01, 0xFF})},
        {"position of card 2, port 1", [](uint8_t* o) { return fpga_manage::rcv_card_cmd_create(o, 1, 2, 0x0180, 0x0040); },
         LedCards::sealed({0x02, 0x10, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x02, 0x00, 0x60, 0x80, 0x01, 0x00, 0x00, 0x04, 0x00,
                           0x00, 0x00, 0x80, 0x01, 0x40, 0x00})},
        {"card save to card 4, port 2", [](uint8_t* o) { return fpga_manage::save_para2flash_cmd_create(2, 4, o, false); },
         LedCards::sealed({0x04, 0x20, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x00, 0x00, 0x81, 0xFF, 0x00})},
        {"search with 2 data bytes, port 9", [](uint8_t* o) {
             const uint8_t d[2] = {7, 8};
             return fpga_manage::load_search_rxc_cmd_create(9, d, 2, o);
         },
         LedCards::sealed({0xFE, 0x1F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x0A, 0x00, 0x10, 0x07, 0x08})},
        {"user-defined, broadcast, port 0", [](uint8_t* o) {
             const uint8_t d[3] = {0x55, 1, 2};
             return fpga_manage::load_write_user_defined_cmd_create(0, 0, d, 3, o, true);
         },
         LedCards::sealed({0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x00, 0x00, 0x55, 0x01, 0x02})},
    };
    for (const auto& row : rows) {
        uint8_t out[64] = {};
        const uint32_t n = row.build(out);
        EXPECT_EQ(Bytes(out, out + n), row.want) << row.what;
        EXPECT_EQ(g_send_para[12].load(), n) << row.what; // length of the last packet built
    }

    // Data that does not fit one buffer, and card indexes that read as "all" or "search".
    std::vector<uint8_t> big(1014, 1), packet(1100);
    EXPECT_EQ(fpga_manage::rcv_reconfig_cmd_create(0, 0, big.data(), 1014, packet.data(), false), 0u);
    EXPECT_EQ(fpga_manage::rcv_reconfig_cmd_create(0, 0, big.data(), 1013, packet.data(), false), 1024u);
    EXPECT_EQ(fpga_manage::load_write_ram_cmd_create(0, 0, 0, big.data(), 1006, packet.data(), false), 0u);
    EXPECT_EQ(fpga_manage::load_write_ram_cmd_create(0, 0x0FFE, 0, big.data(), 4, packet.data(), false), 0u);
    EXPECT_EQ(fpga_manage::load_write_ram_cmd_create(16, 0, 0, big.data(), 4, packet.data(), false), 0u);
    // Lengths whose sum with the head would wrap to a small number are refused all the same.
    for (const uint32_t n : {0xFFFFFFEDu, 0xFFFFFFF5u, 0xFFFFFFF6u, 0xFFFFFFFFu}) {
        EXPECT_EQ(fpga_manage::rcv_reconfig_cmd_create(0, 0, big.data(), n, packet.data(), false), 0u) << n;
        EXPECT_EQ(fpga_manage::load_write_ram_cmd_create(0, 0, 0, big.data(), n, packet.data(), false), 0u) << n;
        EXPECT_EQ(fpga_manage::load_write_user_defined_cmd_create(0, 0, big.data(), n, packet.data(), false), 0u) << n;
    }
}

TEST(CardPositions, WiringWalksGiveEachCardItsCell)
{
    const struct {
        uint8_t type, rows, columns;
        uint32_t index;
        uint16_t x, y;
    } rows[] = {
        {1, 2, 3, 0, 256, 64}, {1, 2, 3, 3, 0, 0},   {1, 2, 3, 5, 256, 0},  {1, 2, 3, 9, 256, 0},
        {2, 2, 3, 0, 0, 64},   {2, 2, 3, 3, 256, 0}, {3, 2, 3, 0, 256, 0},  {4, 2, 3, 4, 128, 64},
        {5, 2, 3, 0, 256, 64}, {5, 2, 3, 2, 128, 0}, {6, 2, 3, 1, 256, 64}, {7, 2, 3, 3, 128, 0},
        {8, 2, 3, 0, 0, 64},   {9, 2, 3, 4, 128, 0}, {10, 2, 3, 5, 256, 64}, {11, 2, 3, 3, 0, 0},
        {13, 2, 3, 3, 128, 0}, {14, 2, 3, 3, 128, 64}, {15, 2, 3, 2, 128, 64}, {16, 2, 3, 5, 0, 64},
        {12, 2, 3, 1, 0, 0},   {12, 2, 3, 5, 256, 0},
        {1, 2, 3, 6, 256, 0}, // one past the last cell: the last cell's place
    };
    for (const auto& r : rows) {
        uint16_t x = 0xFFFF, y = 0xFFFF;
        ASSERT_EQ(fpga_manage::get_rcvcard_x_y(r.index, r.type, r.rows, r.columns, 128, 64, &x, &y), 0);
        EXPECT_EQ(x, r.x) << "type " << int(r.type) << " index " << r.index;
        EXPECT_EQ(y, r.y) << "type " << int(r.type) << " index " << r.index;
    }
    uint16_t x, y;
    EXPECT_EQ(fpga_manage::get_rcvcard_x_y(0, 0, 2, 3, 128, 64, &x, &y), 1);
    EXPECT_EQ(fpga_manage::get_rcvcard_x_y(0, 17, 2, 3, 128, 64, &x, &y), 1);
    EXPECT_EQ(fpga_manage::get_rcvcard_x_y(0, 1, 0, 3, 128, 64, &x, &y), 1);
}

using CardJobs = LedCards;

TEST_F(CardJobs, SaveGoesToEachPortWithCardsAndEndsWhenAllAnswered)
{
    fpgaChip().setCards(3, 2);
    fpgaChip().setCards(9, 10);
    searchCards();
    fpgaChip().clearPackets();
    QSignalSpy progress(CardJobReport::instance(), &CardJobReport::smartMappingProgress);
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    postJob(3);
    ASSERT_TRUE(runJob(1000));
    EXPECT_EQ(fpgaChip().packets(3), (std::vector<Bytes>{{0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x04, 0x00, 0x81, 0xFF, 0x00, 0x0C}}));
    ASSERT_EQ(fpgaChip().packets(9).size(), 1u);
    EXPECT_EQ(fpgaChip().packets(9)[0][7], 10);
    for (int p : {0, 1, 2, 4, 8, 15})
        EXPECT_TRUE(fpgaChip().packets(p).empty()) << p;
    const LedNetwork net = fpgaChip().network();
    for (const auto& card : net.port(9).cards)
        EXPECT_EQ(card.saves, 1);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].toInt(), 3);
    EXPECT_TRUE(finished[0][1].toBool());
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last()[0].toInt(), 100);
}

// A port whose cards stay silent: the job waits 1200 + 100 x 10 ticks, then fails, and the bar
// still closes.
TEST_F(CardJobs, SilentPortEndsTheSaveAsAFailureAfterItsWait)
{
    fpgaChip().setCards(9, 10);
    searchCards();
    fpgaChip().editNetwork([](LedNetwork& n) {
        for (auto& card : n.port(9).cards)
            card.badCheck = true; // answers that cannot be checked are no answers
    });
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    QSignalSpy progress(CardJobReport::instance(), &CardJobReport::smartMappingProgress);
    postJob(3);
    tick(2195);
    EXPECT_EQ(g_send_para[0].load(), 3) << "gave up before 2200 ticks";
    ASSERT_TRUE(runJob(300));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished[0][1].toBool());
    EXPECT_EQ(progress.last()[0].toInt(), 100);
    // While it waited, the bar moved.
    bool counted = false;
    for (const auto& p : progress)
        counted = counted || (p[0].toInt() >= 1 && p[0].toInt() <= 99);
    EXPECT_TRUE(counted);
}

TEST_F(CardJobs, MappingSwitchReachesEveryCard)
{
    fpgaChip().setCards(0, 3);
    fpgaChip().setCards(14, 1);
    searchCards();
    g_send_para[16] = 9;
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    postJob(4);
    // Well within one port's wait: the cards' answers (group 0xA0, serial 0x67) count as job answers.
    ASSERT_TRUE(runJob(1000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(finished[0][1].toBool());
    const LedNetwork net = fpgaChip().network();
    for (int p : {0, 14})
        for (const auto& card : net.port(p).cards)
            EXPECT_EQ(card.registers.at(LedNetwork::MappingRegister), 9) << p;
}

TEST_F(CardJobs, SmartMappingPlacesEachCardAndResetsTheirRam)
{
    fpgaChip().setCards(2, 6);
    searchCards();
    fpgaChip().clearPackets();
    setLineType(128, 64, 10, 20, 2, 2, 3, 1);
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    postJob(1);
    ASSERT_TRUE(runJob(2000));
    const LedNetwork net = fpgaChip().network();
    const uint16_t want[6][2] = {{256, 64}, {128, 64}, {0, 64}, {0, 0}, {128, 0}, {256, 0}};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(cardU16(net.port(2).cards[size_t(c)], 0x180), want[c][0] + 10) << c;
        EXPECT_EQ(cardU16(net.port(2).cards[size_t(c)], 0x182), want[c][1] + 20) << c;
    }
    const auto log = fpgaChip().packets(2);
    int positions = 0;
    for (const Bytes& p : log)
        positions += p.size() == 23 && p[9] == 0x60;
    EXPECT_EQ(positions, 6);
    ASSERT_FALSE(log.empty());
    uint8_t reset[15];
    fpga_manage::ram_reset_cmd_create(reset, 2);
    bool resetSeen = false;
    for (const Bytes& p : log)
        resetSeen = resetSeen || p == Bytes(reset, reset + 15);
    EXPECT_TRUE(resetSeen);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(finished[0][1].toBool());
}

// Positions that would make no sense are never sent.
TEST_F(CardJobs, SmartMappingRefusesAWiringItCannotWalk)
{
    fpgaChip().setCards(2, 6);
    searchCards();
    fpgaChip().clearPackets();
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    for (auto lt : {std::array<uint8_t, 4>{2, 2, 3, 0}, {2, 2, 3, 17}, {2, 0, 3, 1}, {16, 2, 3, 1}}) {
        setLineType(128, 64, 0, 0, lt[0], lt[1], lt[2], lt[3]);
        postJob(1);
        ASSERT_TRUE(runJob(5));
    }
    setLineType(0, 64, 0, 0, 2, 2, 3, 1);
    postJob(1);
    ASSERT_TRUE(runJob(5));
    // Six cards on a 2 x 2 wall: cards 4 to 6 would all take the last cell.
    setLineType(128, 64, 0, 0, 2, 2, 2, 1);
    postJob(1);
    ASSERT_TRUE(runJob(5));
    int positions = 0;
    for (const Bytes& p : fpgaChip().packets(2))
        positions += p[5] == 0x67;
    EXPECT_EQ(positions, 0);
    ASSERT_EQ(finished.size(), 6);
    for (const auto& f : finished)
        EXPECT_FALSE(f[1].toBool());
    EXPECT_EQ(finished[5][2].toUInt(), JobBlock::kMoreCardsThanCells);
}

// PC traffic holds a job without letting its wait run out; it goes on 80 ticks after the last frame.
TEST_F(CardJobs, PcTrafficPausesAJobWithoutExpiringItsWait)
{
    fpgaChip().setCards(1, 1);
    searchCards();
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).cards[0].silent = true; });
    postJob(4);
    tick(5); // the packet is out, the job waits
    for (int i = 0; i < 20; ++i) {
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        tick(70);
    }
    EXPECT_EQ(g_send_para[0].load(), 4);
    EXPECT_EQ(g_send_para[1].load(), 3);
    ASSERT_TRUE(runJob(1500));
}

// Every job of the mapping page ends 201 ticks after its last port was served: the end step sees
// more than 201 ticks one pass after that (202 passes).
TEST_F(CardJobs, JobsEndTwoHundredAndOneTicksAfterTheirLastPort)
{
    fpgaChip().setCards(0, 2);
    searchCards();
    setLineType(128, 64, 0, 0, 0, 1, 2, 1);
    for (const uint8_t job : {1, 3, 4}) {
        SCOPED_TRACE(int(job));
        postJob(job);
        int last = -1, end = -1;
        for (int i = 1; i <= 5000 && end < 0; ++i) {
            tick();
            if (g_send_para[0].load() == 0)
                end = i;
            else if (last < 0 && g_send_para[1].load() == 9)
                last = i;
        }
        ASSERT_GT(last, 0);
        EXPECT_EQ(end - last, 202);
    }
}
