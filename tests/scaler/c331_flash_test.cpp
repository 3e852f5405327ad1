// The scaler's serial flash through the bank-0x04 controller of the simulated chip: page programs,
// reads, erases, memory transfers, bounded waits, whole-operation locking and persistence.
#include "scaler_fixture.h"
#include "test_root.h"

#include <atomic>
#include <functional>
#include <thread>

namespace {

using namespace scaler_test;
using platform::Sim::C331Chip;

class ScalerFlash : public ScalerFixture {
protected:
    std::vector<uint8_t> pattern(size_t n, uint8_t seed)
    {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i)
            v[i] = uint8_t(seed + i * 7);
        return v;
    }
    // Flash addresses committed (writes of 04:51 complete the 4-byte register), with the number of
    // FIFO bytes pushed before each.
    std::vector<std::pair<uint32_t, int>> commits()
    {
        std::vector<std::pair<uint32_t, int>> out;
        uint8_t a[4] = {};
        int fifo = 0;
        for (const auto& t : c331Chip().log()) {
            if (t.kind != C331Chip::Transfer::Write || t.bank != 0x04)
                continue;
            if (t.addr == 0x52)
                ++fifo;
            if (t.addr >= 0x4E && t.addr <= 0x51)
                a[t.addr - 0x4E] = t.value;
            if (t.addr == 0x51) {
                out.push_back({uint32_t(a[0]) | uint32_t(a[1]) << 8 | uint32_t(a[2]) << 16 | uint32_t(a[3]) << 24, fifo});
                fifo = 0;
            }
        }
        return out;
    }
};

TEST_F(ScalerFlash, WriteProgramsEachPageWhenTheNextOneStarts)
{
    const auto data = pattern(300, 3);
    c331Chip().clearLog();
    ASSERT_EQ(scaler->write_flash(scaler->c331_fd, 0x1F0, 300, data.data()), 0);
    const std::vector<std::pair<uint32_t, int>> expected = {{0x1F0, 0}, {0x1F0, 0}, {0x200, 16}, {0x300, 256}, {0x31C, 28}};
    EXPECT_EQ(commits(), expected);
    EXPECT_EQ(c331Chip().flashRead(0x1F0, 300), data);
    EXPECT_EQ(c331Chip().flashRead(0x1EF, 1)[0], 0xFF);
    EXPECT_EQ(c331Chip().flashRead(0x31C, 1)[0], 0xFF);
}

TEST_F(ScalerFlash, ReadsReturnTheArrayAcrossPagesAnd16MiB)
{
    struct Row {
        uint32_t address;
        uint32_t length;
    };
    for (const Row& r : {Row{0, 35}, Row{0xFFFFF0, 64}, Row{0x10D3C00, 816}, Row{0x1FFFFF0, 16}, Row{0x1234, 1}}) {
        const auto data = pattern(r.length, uint8_t(r.address));
        c331Chip().flashWrite(r.address, data);
        std::vector<uint8_t> got(r.length, 0);
        ASSERT_EQ(scaler->read_flash(scaler->c331_fd, r.address, r.length, got.data()), 0) << std::hex << r.address;
        EXPECT_EQ(got, data) << std::hex << r.address;
    }
}

TEST_F(ScalerFlash, RangesOutsideTheFlashAreRefusedWithoutBusTraffic)
{
    uint8_t buf[4] = {};
    c331Chip().clearLog();
    EXPECT_NE(scaler->write_flash(scaler->c331_fd, 0x1FFFFFF, 2, buf), 0);
    EXPECT_NE(scaler->read_flash(scaler->c331_fd, 0x2000000, 1, buf), 0);
    EXPECT_NE(scaler->erase_flash(scaler->c331_fd, 0x1FFF, 2, 0), 0);  // second sector past the end
    EXPECT_NE(scaler->erase_flash(scaler->c331_fd, 1, 1, 2), 0);       // 64 KiB block not aligned
    EXPECT_NE(scaler->osd_write_dma_sfl(scaler->c331_fd, 0x1FFF000, 0, 0, 0x2000), 0);
    EXPECT_NE(scaler->osd_write_dma_sfl(scaler->c331_fd, 0, 0, 2, 16), 0); // no such target
    EXPECT_EQ(c331Chip().transferCount(), 0u);
}

TEST_F(ScalerFlash, EraseTakesWholeUnitsOfEachKind)
{
    struct Row {
        int kind;
        uint32_t sector, count, unit;
        uint8_t command;
    };
    for (const Row& r : {Row{0, 0x101, 2, 0x1000, 0x20}, Row{1, 0x208, 1, 0x8000, 0x52}, Row{2, 0x310, 2, 0x10000, 0xD8}}) {
        const uint32_t first = r.sector * 0x1000, end = first + r.count * r.unit;
        c331Chip().flashWrite(first - 1, {0x11});
        c331Chip().flashWrite(first, {0x22});
        c331Chip().flashWrite(end - 1, {0x33});
        c331Chip().flashWrite(end, {0x44});
        c331Chip().clearLog();
        ASSERT_EQ(scaler->erase_flash(scaler->c331_fd, r.sector, r.count, r.kind), 0) << r.kind;
        EXPECT_EQ(c331Chip().flashRead(first - 1, 2), (std::vector<uint8_t>{0x11, 0xFF})) << r.kind;
        EXPECT_EQ(c331Chip().flashRead(end - 1, 2), (std::vector<uint8_t>{0xFF, 0x44})) << r.kind;
        EXPECT_EQ(c331Chip().writesTo(0x044B01).at(0).value, r.command) << r.kind;
        int starts = 0;
        for (const auto& t : c331Chip().writesTo(0x044801))
            starts += t.value == 4;
        EXPECT_EQ(starts, int(r.count)) << r.kind;
    }
    EXPECT_FALSE(c331Chip().chipEraseSeen());
}

// A flash that never finishes: each operation gives up with a non-zero result instead of waiting
// for ever; a write-enable latch that clears only by write disable is cleared that way.
TEST_F(ScalerFlash, StuckFlashEndsEachOperationWithAFailure)
{
    const auto data = pattern(40, 9);
    uint8_t buf[8];
    c331Chip().setFlashBusyPolls(1000000);
    EXPECT_NE(scaler->write_flash(scaler->c331_fd, 0x8000, 40, data.data()), 0);
    EXPECT_NE(scaler->erase_flash(scaler->c331_fd, 8, 1, 0), 0);
    EXPECT_NE(scaler->osd_write_dma_sfl(scaler->c331_fd, 0x23, 0x7F000000, 0, 0x3000), 0);
    EXPECT_NE(scaler->read_flash(scaler->c331_fd, 0x8000, 8, buf), 0);

    c331Chip().setFlashBusyPolls(0);
    c331Chip().setWelFault(C331Chip::WelFault::Stuck);
    EXPECT_NE(scaler->write_flash(scaler->c331_fd, 0x9000, 40, data.data()), 0);

    c331Chip().setWelFault(C331Chip::WelFault::UntilWrdi);
    c331Chip().clearLog();
    EXPECT_EQ(scaler->write_flash(scaler->c331_fd, 0xA000, 40, data.data()), 0);
    EXPECT_EQ(c331Chip().flashRead(0xA000, 40), data);
    bool wrdi = false;
    for (const auto& t : c331Chip().writesTo(0x044B01))
        wrdi |= t.value == 0x04;
    EXPECT_TRUE(wrdi);
    EXPECT_FALSE(c331Chip().chipEraseSeen());
}

TEST_F(ScalerFlash, MemoryTransferCopiesIntoChipMemoryAndNeverErasesTheChip)
{
    const auto data = pattern(5000, 1);
    c331Chip().flashWrite(0x20000, data);
    ASSERT_EQ(scaler->osd_write_dma_sfl(scaler->c331_fd, 0x20000, 0x70000010, 0, 5000), 0);
    EXPECT_EQ(c331Chip().memory(0x70000010, 5000), data);
    const auto dma = c331Chip().dmaLog();
    ASSERT_FALSE(dma.empty());
    EXPECT_EQ(dma.back().flashAddr, 0x20000u);
    EXPECT_EQ(dma.back().dest, 0x70000010u);
    EXPECT_EQ(dma.back().size, 5000u);
    EXPECT_EQ(c331Chip().value(0x044B01), 0xC7u) << "set up for the transfer";
    EXPECT_FALSE(c331Chip().chipEraseSeen());
}

// Protocol and upgrade threads write the flash while the worker moves fonts over the same
// controller: each sequence must run whole, or pages land at wrong addresses.
TEST_F(ScalerFlash, OperationsOfSeveralThreadsDoNotInterleave)
{
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop.load())
            scaler->update_font(scaler->c331_fd);
    });
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int k = 0; k < 3; ++k) {
        writers.emplace_back([&, k] {
            const uint32_t base = 0x1800000 + uint32_t(k) * 0x10000;
            for (int round = 0; round < 4; ++round) {
                const auto data = pattern(700, uint8_t(k * 50 + round));
                if (scaler->erase_flash(scaler->c331_fd, base / 0x1000, 1, 0) != 0 ||
                    scaler->write_flash(scaler->c331_fd, base + 0x10, 700, data.data()) != 0)
                    ++failures;
                std::vector<uint8_t> back(700);
                if (scaler->read_flash(scaler->c331_fd, base + 0x10, 700, back.data()) != 0 || back != data)
                    ++failures;
            }
        });
    }
    for (auto& t : writers)
        t.join();
    stop = true;
    worker.join();
    EXPECT_EQ(failures.load(), 0);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(c331Chip().flashRead(0x1800000 + uint32_t(k) * 0x10000 + 0x10, 700), pattern(700, uint8_t(k * 50 + 3))) << k;
}

TEST_F(ScalerFlash, ContentsSurviveARestartOfTheChip)
{
    const auto data = pattern(600, 5);
    ASSERT_EQ(scaler->write_flash(scaler->c331_fd, 0xED9800, 600, data.data()), 0);
    ASSERT_EQ(scaler->erase_flash(scaler->c331_fd, 0, 1, 0), 0); // the 32EN header goes
    c331Chip().reloadFlash();
    EXPECT_EQ(c331Chip().flashRead(0xED9800, 600), data);
    EXPECT_EQ(c331Chip().flashRead(0, 1)[0], 0xFF);
    EXPECT_EQ(c331Chip().flashRead(0x10000, 1)[0], 'P') << "untouched header kept";
    EXPECT_TRUE(TestRoot::exists(C331Chip::FlashFile));
}

// Erase traces while the flash trace bit is on: the controller status every 40 reads of erase-busy,
// and a finish line for each wait that ends within its limit (5000 reads for erase-busy, 1000 for
// WIP and for the write disable); a wait that reaches its limit prints its time-out text instead.
struct EraseTrace {
    const char* name;
    int busyReads; // erase-busy and WIP reads each before the flash is ready
    C331Chip::WelFault wel;
    bool trace;
    int waitLines;
    std::vector<std::string> after; // the trace lines after the "Wait Please." ones
};

const char* const kEbusyFinish = "B4_SFLSTAT EBUSY finish";
const char* const kWipFinish = "B4_SFLRDSR WIP finish";
const char* const kWipTimeout = "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kEbusyTimeout = "B4_SFLSTAT EBUSY Timeout Error!!. Please check the circumestance of Serial Flash.";

const EraseTrace kEraseTraces[] = {
    {"Ready", 0, C331Chip::WelFault::None, true, 0, {kEbusyFinish, kWipFinish}},
    {"ThirtyNineBusy", 39, C331Chip::WelFault::None, true, 0, {kEbusyFinish, kWipFinish}},
    {"FortyBusy", 40, C331Chip::WelFault::None, true, 1, {kEbusyFinish, kWipFinish}},
    {"SeventyNineBusy", 79, C331Chip::WelFault::None, true, 1, {kEbusyFinish, kWipFinish}},
    {"EightyBusy", 80, C331Chip::WelFault::None, true, 2, {kEbusyFinish, kWipFinish}},
    {"WipJustInTime", 999, C331Chip::WelFault::None, true, 24, {kEbusyFinish, kWipFinish}},
    {"WipAtItsLimit", 1000, C331Chip::WelFault::None, true, 25, {kEbusyFinish, kWipTimeout}},
    {"EraseBusyJustInTime", 4999, C331Chip::WelFault::None, true, 124, {kEbusyFinish, kWipTimeout}},
    {"EraseBusyAtItsLimit", 5000, C331Chip::WelFault::None, true, 125, {kEbusyTimeout}},
    {"WriteEnableLeftSet", 0, C331Chip::WelFault::UntilWrdi, true, 0,
     {kEbusyFinish, kWipFinish, "B4_SFLRDSR WEL is 1, and have to clear WEL bit.", "B4_SFLRDSR WRDI finish"}},
    {"TraceOff", 80, C331Chip::WelFault::UntilWrdi, false, 0, {}},
};

void PrintTo(const EraseTrace& t, std::ostream* os) { *os << t.name; }

class ScalerFlashEraseTrace : public ScalerFixture, public ::testing::WithParamInterface<EraseTrace> {};

TEST_P(ScalerFlashEraseTrace, WaitAndFinishLines)
{
    const EraseTrace& t = GetParam();
    if (t.trace)
        prnEn[6] |= 0x80;
    else
        prnEn[6] &= 0x7F;
    g_debugSwitch = 0; // the log's own echo of a time-out stays off the console
    c331Chip().setFlashBusyPolls(t.busyReads);
    c331Chip().setWelFault(t.wel);
    testing::internal::CaptureStdout();
    const int result = scaler->erase_flash(scaler->c331_fd, 0x40, 1, 0);
    const std::string out = testing::internal::GetCapturedStdout();
    const bool timedOut = !t.after.empty() && (t.after.back() == kWipTimeout || t.after.back() == kEbusyTimeout);
    EXPECT_EQ(result, timedOut ? 1 : 0);
    std::vector<std::string> lines; // the erase-wait lines, in order
    size_t from = 0;
    while (from < out.size()) {
        const size_t end = out.find('\n', from);
        const std::string line = out.substr(from, end == std::string::npos ? std::string::npos : end - from);
        if (line.rfind("B4_", 0) == 0)
            lines.push_back(line);
        from = end == std::string::npos ? out.size() : end + 1;
    }
    std::vector<std::string> expected(size_t(t.waitLines), "B4_SFLSTAT = 08.Wait Please.");
    expected.insert(expected.end(), t.after.begin(), t.after.end());
    EXPECT_EQ(lines, expected);
}

INSTANTIATE_TEST_SUITE_P(Waits, ScalerFlashEraseTrace, ::testing::ValuesIn(kEraseTraces),
                         [](const ::testing::TestParamInfo<EraseTrace>& info) { return std::string(info.param.name); });

// Controller set-up of each flash operation: its writes to the command registers (04:47-4D, 5F,
// 60) in order, as the operation table gives them.
struct FlashOp {
    const char* name;
    std::function<int(c331_manage&, int)> run;
    std::vector<std::pair<uint8_t, uint8_t>> writes;
};

const FlashOp kFlashOps[] = {
    {"Write", [](c331_manage& m, int fd) { const uint8_t b[2] = {1, 2}; return m.write_flash(fd, 0x1000, 2, b); },
     {{0x47, 0x80}, {0x48, 0}, {0x47, 0x31}, {0x4C, 0x06}, {0x4D, 0x05}, {0x49, 0x12}, {0x5F, 1}, {0x48, 0}, {0x60, 0}}},
    {"Read", [](c331_manage& m, int fd) { uint8_t b[2]; return m.read_flash(fd, 0x1000, 2, b); },
     {{0x48, 0}, {0x47, 0x80}, {0x47, 0x31}, {0x4A, 0x0C}, {0x5F, 1}, {0x48, 0}, {0x60, 0}}},
    {"EraseSector", [](c331_manage& m, int fd) { return m.erase_flash(fd, 16, 1, 0); },
     {{0x48, 0}, {0x47, 0x80}, {0x47, 0x01}, {0x4B, 0x20}, {0x4C, 0x06}, {0x4D, 0x05}, {0x5F, 1}}},
    {"EraseBlock64K", [](c331_manage& m, int fd) { return m.erase_flash(fd, 16, 16, 2); },
     {{0x48, 0}, {0x47, 0x80}, {0x47, 0x01}, {0x4B, 0xD8}, {0x4C, 0x06}, {0x4D, 0x05}, {0x5F, 1}}},
    {"TransferToOsd", [](c331_manage& m, int fd) { return m.osd_write_dma_sfl(fd, 0x1000, c331_manage::PS_SFL_ADDR, 0, 64); },
     {{0x48, 0}, {0x47, 0x80}, {0x47, 0x33}, {0x5F, 2}, {0x49, 0x12}, {0x4A, 0x0C}, {0x4B, 0xC7}, {0x4C, 0x06}, {0x4D, 0x05}}},
    {"TransferToPalette", [](c331_manage& m, int fd) { return m.osd_write_dma_sfl(fd, 0x1000, 0, 1, 48); },
     {{0x48, 0}, {0x47, 0x80}, {0x47, 0x37}, {0x5F, 2}, {0x49, 0x12}, {0x4A, 0x0C}, {0x4B, 0xC7}, {0x4C, 0x06}, {0x4D, 0x05}}},
};

void PrintTo(const FlashOp& s, std::ostream* os) { *os << s.name; }

class ScalerFlashSetUp : public ScalerFixture, public ::testing::WithParamInterface<FlashOp> {};

TEST_P(ScalerFlashSetUp, CommandRegistersAreSetInTheTablesOrder)
{
    const FlashOp& s = GetParam();
    c331Chip().clearLog();
    ASSERT_EQ(s.run(*scaler, scaler->c331_fd), 0);
    std::vector<std::pair<uint8_t, uint8_t>> got;
    for (const auto& t : c331Chip().log())
        if (t.kind == C331Chip::Transfer::Write && t.bank == 0x04 && got.size() < s.writes.size() &&
            ((t.addr >= 0x47 && t.addr <= 0x4D) || t.addr == 0x5F || t.addr == 0x60))
            got.push_back({t.addr, t.value});
    EXPECT_EQ(got, s.writes);
}

INSTANTIATE_TEST_SUITE_P(Operations, ScalerFlashSetUp, ::testing::ValuesIn(kFlashOps),
                         [](const ::testing::TestParamInfo<FlashOp>& info) { return std::string(info.param.name); });

}
