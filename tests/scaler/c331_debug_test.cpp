// Bench aids: the fixed register sequences and sync tests started by the request bytes, the
// console dumps, and the full register dump running beside the worker's programming.
#include "scaler_fixture.h"

#include "scaler/c331_debug_reglist.h"
#include "store_face.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <tuple>
#include <functional>
#include <thread>

using namespace scaler_test;
using Transfer = platform::Sim::C331Chip::Transfer;

namespace {

using Writes = std::vector<std::tuple<uint8_t, uint8_t, uint8_t>>; // bank, address, byte in order

// The data writes of the log, without bank selects.
Writes dataWrites()
{
    Writes w;
    for (const Transfer& t : c331Chip().log())
        if (t.kind == Transfer::Write)
            w.emplace_back(t.bank, t.addr, t.value);
    return w;
}

Writes bar(uint8_t bank, uint8_t mode, uint16_t length, std::array<uint8_t, 6> colour)
{
    Writes w = {{bank, 0x57, mode}, {bank, 0x58, 0}, {bank, 0x59, 0}, {bank, 0x5A, 0}, {bank, 0x5B, 160},
                {bank, 0x5C, 0},    {bank, 0x5D, 0}, {bank, 0x5E, 0}, {bank, 0x5F, 32}, {bank, 0x60, 0},
                {bank, 0x61, uint8_t(length)}, {bank, 0x62, uint8_t(length >> 8)}};
    for (int i = 0; i < 6; ++i)
        w.emplace_back(bank, uint8_t(0x63 + i), colour[size_t(i)]);
    return w;
}

// The run of writes appears in the log in one piece.
bool containsRun(const Writes& log, const Writes& run)
{
    return std::search(log.begin(), log.end(), run.begin(), run.end()) != log.end();
}

Writes join(std::initializer_list<Writes> parts)
{
    Writes all;
    for (const Writes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class Diagnostics : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        bringUp();
        settle();
        c331Chip().clearLog();
    }

    // A request byte raised with a hand-over, as the protocol's registers 162-165 do.
    void request(uint32_t image, uint8_t value)
    {
        handOver([&](VyrRamPara& s) { s.image[image] = value; });
        scaler->runOnce();
    }
};

}

TEST_F(Diagnostics, DiagnosticRequestBitsRunTheirRegisterSequences)
{
    struct Row {
        uint8_t request;
        Writes writes;
        Writes absent; // a sequence of another bit, which must not run
    };
    const Writes input = join({bar(0x48, 0x89, 2752, {255, 255, 255, 3, 3, 3}), bar(0x58, 0x89, 2752, {0, 255, 0, 0, 3, 0})});
    const Writes output = join({bar(0x08, 9, 1376, {255, 255, 255, 3, 3, 3}), bar(0x18, 9, 1376, {255, 0, 0, 3, 0, 0}),
                                bar(0x28, 9, 1376, {0, 255, 0, 0, 3, 0}), bar(0x38, 9, 1376, {0, 0, 255, 0, 0, 3})});
    const Row rows[] = {
        {0x01, input, {}},
        {0x02, output, {}},
        {0x04, {{0x08, 0x57, 0}, {0x18, 0x57, 0}, {0x28, 0x57, 0}, {0x38, 0x57, 0}, {0x48, 0x57, 0}, {0x58, 0x57, 0}}, {}},
        {0x08, {{0x02, 0x7F, 0x0E}, {0x02, 0x7F, 0x0F}, {0x02, 0x40, 5}, {0x02, 0x4F, 0xFF}, {0x02, 0x4C, 0xAB}}, {}},
        {0x10, {{0x02, 0x7F, 0x0D}, {0x02, 0x7F, 0x0F}, {0x02, 0x5C, 5}, {0x02, 0x6B, 0xFF}, {0x02, 0x68, 0xAB}}, {}},
        {0x03, input, output}, // only the lowest set bit acts
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.request));
        scaler->drv->init_reg_acc_param(); // a sequence run before is written again in full
        c331Chip().clearLog();
        request(regimage::kScalerDiag, row.request);
        EXPECT_TRUE(containsRun(dataWrites(), row.writes));
        if (!row.absent.empty()) {
            EXPECT_FALSE(containsRun(dataWrites(), row.absent));
            for (const auto& [bank, address, value] : dataWrites())
                EXPECT_FALSE(address == 0x57 && bank <= 0x38) << "output generator of bank " << int(bank) << " touched";
        }
    }
    // bit 5 reads the V-by-One frame measurements only
    c331Chip().clearLog();
    testing::internal::CaptureStdout();
    request(regimage::kScalerDiag, 1u << 5);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("B174_VI17FVM"), std::string::npos);
    size_t reads = 0;
    for (const Transfer& t : c331Chip().log())
        reads += t.kind == Transfer::Read && t.bank == 0xAE && t.addr >= 0x40 && t.addr <= 0x66;
    EXPECT_EQ(reads, 4u * 2 + 4u * 3);
}

TEST_F(Diagnostics, RegisterChecksPrintWhatTheyRead)
{
    preset(0x501702, 1234);
    preset(0xAE4002, 99);
    preset(0xAE5B03, 0x10000);
    preset(0x031A01, 0x42);
    testing::internal::CaptureStdout();
    scaler->write_read_c331_b80_iacthstch5();
    scaler->read_c331_b174bug();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(c331Chip().value(0x501702), 1334u);
    EXPECT_NE(out.find("B80_IACTHSTCH5: 1234 -> 1334"), std::string::npos) << out;
    EXPECT_NE(out.find("B174_VI11FHM: 100"), std::string::npos) << out;
    EXPECT_NE(out.find("B174_VI11FVM: 65537"), std::string::npos) << out;
    EXPECT_NE(out.find("B3_IDUALCTCH56: 66"), std::string::npos) << out;
}

TEST_F(Diagnostics, SyncTestsWriteTheirTimingRegisters)
{
    request(regimage::kSyncTest, 1);
    EXPECT_TRUE(containsRun(dataWrites(), {{0x00, 0x48, 0x89}, {0x00, 0x49, 0x43}, {0x00, 0x4A, 2}, {0x00, 0x4B, 0x10},
                                           {0x08, 0x18, 1}, {0x08, 0x19, 0}, {0x08, 0x0F, 0xC4}, {0x08, 0x0F, 0}}));
    const auto input = c331Chip().writesTo(0x080F01);
    ASSERT_EQ(input.size(), 2u);
    EXPECT_EQ(input[0].value, 0xC4);
    EXPECT_EQ(input[1].value, 0);
    EXPECT_EQ(c331Chip().value(0x004801), 0x89u);
    EXPECT_EQ(c331Chip().value(0x004B01), 0x10u);
    EXPECT_EQ(c331Chip().value(0x081802), 1u);

    c331Chip().clearLog();
    request(regimage::kSyncTest, 2);
    EXPECT_EQ(c331Chip().value(0x080F01), 4u);
    EXPECT_EQ(c331Chip().value(0x080802), 3u);
    for (uint32_t n = 0; n < 8; ++n)
        EXPECT_EQ(c331Chip().value(0x080C02, 16 * n), 5612u) << n;
}

TEST_F(Diagnostics, ParameterDumpGroupsGoToTheConsole)
{
    // The memory group shows what the capture side was last given: port 2 with a positive
    // horizontal sync, V-by-One receiver 1 (port 5) on 4 lanes with both syncs positive, capture
    // channel 0 on a progressive port with noise reduction, channel 1 on an interlaced one.
    c331_manage& m = *scaler;
    const int fd = m.c331_fd;
    m.PI_HDMI_INFO[2].hpol = 1, m.PI_HDMI_INFO[2].vpol = 0;
    m.set_sypol(fd, 0, 2);
    m.PI_HDMI_INFO[5].hpol = m.PI_HDMI_INFO[5].vpol = 1, m.PI_HDMI_INFO[5].lane = 4;
    m.set_VBOInput(fd, 1);
    m.g_ich_owner[0] = 2, m.PM_INPUT[2] = 0, m.PI_STATE[0] = c331in::STATE_PROGRESSIVE, m.PM_HNR[0] = 2;
    m.g_ich_owner[1] = 3, m.PM_INPUT[3] = 1, m.PI_STATE[1] = c331in::STATE_I1125_HIGH, m.PI_SCAN_MODE[1] = 1;
    const int act[4] = {192, 1920, 41, 540};
    std::copy(std::begin(act), std::end(act), m.PI_ACT[1]);
    m.winState.iactHst[3] = 12, m.winState.iactVst[3] = 6;
    m.set_ip(fd, 0);
    m.set_ip(fd, 1);
    // Expected from the chip's registers.
    auto chip = [](uint32_t d, uint32_t c = 0) { return c331Chip().value(d, 16 * c); };
    auto format = [](const char* f, auto... v) {
        char b[200];
        snprintf(b, sizeof b, f, v...);
        return std::string(b);
    };
    auto ich = [&](uint32_t c) {
        return format("\tICH%u DI:%08X %08X %08X %08X MV:%08X %08X %08X %08X NR_EN:%u IP_EN:%u\n", c, chip(0x171804, c),
                      chip(0x171C04, c), chip(0x172004, c), chip(0x172404, c), chip(0x170804, c), chip(0x170C04, c),
                      chip(0x171004, c), chip(0x171404, c), chip(0x150801, c), chip(0x165B01, c));
    };
    const std::vector<std::string> memory = {
        "[vyrDbg_c331_param] c331_mem\n",
        ") PI_ACT(192,1920,41,540) PM_IACTHST:12 PM_IACTVST:6 PM_MEM_WMODE:",
        format(" PI_SYNC_POL:%u\n\tport_3 ", (chip(0x063804) >> 16) & 0xFF),
        format(" PI_SYNC_POL:%u\n\tPS_MEM_SC:", (chip(0x063C04) >> 16) & 0xF),
        ich(0),
        ich(1),
        format("\tVBO1 LANE_MODE:%X LANE_BITS:%02X\n", chip(0x002002), (chip(0x003902) >> 8) & 0xFF),
    };
    ASSERT_EQ(chip(0x150801, 0), 1u) << "noise reduction on channel 0";
    ASSERT_EQ(chip(0x165B01, 1), 1u) << "de-interlacer on channel 1";
    ASSERT_EQ(chip(0x002002), 0x11u) << "receiver 1 on 4 lanes";
    ASSERT_NE(chip(0x171804, 1), chip(0x171804, 0));

    struct Row {
        uint8_t request; // register value + 1
        std::vector<std::string> lines;
        bool onlyName;
    };
    const Row rows[] = {
        {3, memory, false},
        {1, {"[vyrDbg_c331_param] c331_param\n", "<<===OCH SPEC\n", "\tPS_HTOTAL:", "<<===PM_OVERLAY\n",
             "<<===OSD_WIN\n\tHST:", "\tVW:", "\tPS_CHAR_COLOR:", "\tg_osd_mwi_shift:", "\tg_font_addr_64CHN:",
             "\tg_unicode_line:", "<<===PI HDMI INFO\n"}, false},
        {15, {"[vyrDbg_c331_param] c331_param\n", "<<===OCH SPEC\n"}, false}, // 14 mod 14 = 0
        {2, {"[vyrDbg_c331_param] c331_win\n", "\tport_5 PI_UPDATE:"}, false},
        {4, {"[vyrDbg_c331_param] c331_mwi\n"}, true},
        {6, {"[vyrDbg_c331_param] c331_PI\n", "\tport_5 PI_STATE:"}, false},
        {11, {"[vyrDbg_c331_param] none\n", "[iTE6805_Get_Hdmi] dev_id:4, idx:5\n", "[iTE6805_Get_Hdmi] dev_id:5, idx:4\n"},
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.request));
        testing::internal::CaptureStdout();
        request(regimage::kDumpParam, row.request);
        const std::string out = testing::internal::GetCapturedStdout();
        for (const std::string& l : row.lines)
            EXPECT_NE(out.find(l), std::string::npos) << l << " in:\n" << out.substr(0, 2000);
        if (row.onlyName) {
            const size_t at = out.find(row.lines[0]);
            ASSERT_NE(at, std::string::npos);
            EXPECT_EQ(out.find("<<===", at), std::string::npos);
        }
    }
}

TEST_F(Diagnostics, DumpGroupsSixToNineChangeThePicture)
{
    request(regimage::kDumpParam, 7);
    for (uint32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(c331Chip().value(0x084903, 16 * n), 0xFFFFFFu) << n;
        EXPECT_EQ(c331Chip().value(0x084801, 16 * n), 1u) << n;
    }
    request(regimage::kDumpParam, 8);
    for (uint32_t n = 0; n < 8; ++n)
        EXPECT_EQ(c331Chip().value(0x0A4601, 16 * n), 0xC3u) << n;
    request(regimage::kDumpParam, 9);
    for (uint32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(c331Chip().value(0x504A01, 16 * n), 1u) << n;
        EXPECT_EQ(c331Chip().value(0x504B03, 16 * n), 0x80FF80u) << n;
    }
    request(regimage::kDumpParam, 10);
    for (uint32_t d : {0x0A4601u, 0x0A4B01u, 0x1A4601u, 0x1A4B01u})
        EXPECT_EQ(c331Chip().value(d), 3u) << std::hex << d;
}

TEST_F(Diagnostics, RegisterGroupDump)
{
    testing::internal::CaptureStdout();
    request(regimage::kDumpGroup, 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[vyrDbg_c331_print_regGrp] grp:0\n"), std::string::npos);
    EXPECT_NE(out.find("OCH0"), std::string::npos) << "window 0's output channel named";
    EXPECT_NE(out.find("ICHSEL ISCWCT OSCWCT"), std::string::npos);
    testing::internal::CaptureStdout();
    scaler->vyrDbg_c331_print_regGrp(1);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "[vyrDbg_c331_print_regGrp] grp:1\n\t not found valid grp!!!!!!!\n");
}

TEST(C331RegisterList, AscendingWholeRegistersWithinTheChip)
{
    const std::vector<uint32_t>& list = c331RegisterList();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front(), 0x000801u);
    EXPECT_EQ(list.back() >> 8, 0xFF05u);
    uint32_t nextFree = 0; // first cell after the previous register
    for (uint32_t d : list) {
        const uint32_t bank = d >> 16, addr = (d >> 8) & 0xFF, width = d & 0xFF;
        EXPECT_TRUE(width == 1 || width == 2 || width == 3 || width == 4) << std::hex << d;
        EXPECT_GE(addr, 1u) << std::hex << d << ": address 0 selects the bank";
        EXPECT_LE(addr + width, 0x80u) << std::hex << d;
        EXPECT_NE(bank, 0x04u) << "flash controller reads pop its FIFO";
        EXPECT_NE(bank, 0xABu) << "field phase reads advance it";
        EXPECT_GE(bank << 8 | addr, nextFree) << std::hex << d << " overlaps the register before";
        nextFree = (bank << 8 | addr) + width;
    }
}

// Every register the engine programmes is in the list, the OSD palette port (its reads move the
// index) is not.
TEST(C331RegisterList, HoldsTheEngineProgrammedBanks)
{
    const std::vector<uint32_t>& list = c331RegisterList();
    auto listed = [&](uint32_t d) { return std::binary_search(list.begin(), list.end(), d); };
    for (uint32_t d : {0x063804u, 0x063C04u})
        EXPECT_TRUE(listed(d)) << std::hex << d;
    struct Bank {
        uint32_t channels;
        std::vector<uint32_t> regs;
    };
    const Bank banks[] = {
        {8, {0x090802, 0x091202, 0x091A04, 0x091E01, 0x093C01, 0x093D01, 0x094002, 0x094202}},
        {8, {0x0A4401, 0x0A4902, 0x0A4B01, 0x0A4E02, 0x0A6801, 0x0A7F01}},
        {8, {0x114201, 0x114702, 0x114C02, 0x116801, 0x117F01}},
        {4, {0x120801, 0x121401, 0x140802, 0x140F02, 0x141501, 0x142101, 0x145F01, 0x146D02}},
        {4, {0x150801, 0x153902, 0x154D02, 0x155602, 0x156202, 0x156702, 0x157001, 0x170804, 0x172404, 0x175902}},
    };
    for (const Bank& b : banks)
        for (uint32_t d : b.regs)
            for (uint32_t n = 0; n < 8; ++n)
                EXPECT_EQ(listed(d + (n << 20)), n < b.channels) << std::hex << d << " channel " << n;
    EXPECT_FALSE(listed(0x091F01));
    EXPECT_FALSE(listed(0x092001));
}

TEST_F(Diagnostics, RegisterDumpBesideARunningDispatchDisturbsNeither)
{
    const std::vector<uint32_t>& list = c331RegisterList();
    std::string out;
    std::atomic<bool> done{false};
    std::atomic<int> dumps{0};
    testing::internal::CaptureStdout();
    std::thread dump([&] {
        do { // the protocol thread's register command, again and again while the worker programs
            scaler->c331_print();
            ++dumps;
        } while (!done);
    });
    while (dumps == 0 && c331Chip().transferCount() < 200)
        std::this_thread::yield();
    // transfers the dump thread made while the dispatch was programming
    const std::thread::id worker = std::this_thread::get_id();
    std::atomic<bool> dispatching{true};
    std::atomic<int> besideDispatch{0};
    c331Chip().setTransferHook([&] {
        if (std::this_thread::get_id() != worker && dispatching)
            ++besideDispatch;
    });
    // Pairs of changes, ending on 100; on a loaded machine the dump thread may get no turn during
    // the first ones, so go on (bounded) until it has run beside a dispatch.
    for (int pair = 0; pair < 10 || (besideDispatch == 0 && pair < 2000); ++pair)
        for (uint16_t contrast : {30, 100}) {
            handOver([&](VyrRamPara& s) { blk::put16(testBlock(&s), blk::kContrast, contrast); });
            scaler->runOnce();
        }
    dispatching = false;
    done = true;
    dump.join();
    c331Chip().setTransferHook(nullptr);
    out = testing::internal::GetCapturedStdout();
    EXPECT_GT(besideDispatch.load(), 0) << "the dump ran beside the dispatch";
    // the last contrast (100) reached all eight channels
    for (uint32_t n = 0; n < 8; ++n)
        for (uint32_t d : {0x0C2802u, 0x0C2A02u, 0x0C2C02u})
            EXPECT_EQ(c331Chip().value(d, 16 * n), 1023u) << std::hex << d << " channel " << n;
    EXPECT_EQ(c331Chip().value(0x002901) & 1, 0u) << "routing update closed";
    // and the dump printed one line per register, each of its own register
    size_t lines = 0, pos = 0;
    for (uint32_t d : list) {
        char head[16];
        snprintf(head, sizeof head, "%06X  ", d);
        const size_t at = out.find(head, pos);
        ASSERT_NE(at, std::string::npos) << head;
        pos = at + 1;
        ++lines;
    }
    EXPECT_EQ(lines, list.size());
    EXPECT_EQ(size_t(std::count(out.begin(), out.end(), '\n')) >= list.size(), true);
    // the chip identity read beside the writes
    EXPECT_NE(out.find("B20801  00000024h\n"), std::string::npos);
}
