// Receiving-card data files: the reader on files laid out by a PC tool (and damaged ones), and the
// query, recovery and scan-file jobs replaying them to the simulated cards.
#include "card_fixture.h"
#include "rcv_recovery_files.h"

#include "base/bytes.h"
#include "fpga/rcv_recovery_file.h"
#include "platform/sim/devices/fpga_network.h"
#include "test_root.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <unistd.h>

using platform::Sim::fpgaChip;
using platform::Sim::LedNetwork;
using namespace CardFiles;

namespace {

const QString kQzfx = QStringLiteral("/data/rcvrecovery/QZFX");

QByteArray pattern(int n, int seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + seed) & 0xFF);
    return b;
}

Op ramWrite(uint32_t address, const QByteArray& data)
{
    Op op;
    op.type = 1;
    op.target = 1;
    op.targetAddr = address;
    op.data = data;
    return op;
}

// Register 5 := 0x0A.
Op registerWrite()
{
    Op op;
    op.type = 1;
    op.target = 2;
    op.data = QByteArray::fromHex("0500010A");
    return op;
}

// An operation of a type with a wait: a register write, a save or a pause of ms.
Op timed(uint8_t type, uint32_t ms)
{
    Op o = type == 1 ? registerWrite() : Op();
    o.type = type;
    if (type == 6 || type == 2)
        o.target = 3;
    o.timeticks = ms;
    return o;
}

// A write to RAM (target 1) or registers (2) whose length field says n, with 70 KB of data after
// it: a length that wrapped past its check would have that much to read.
Op sized(uint8_t target, uint32_t n)
{
    Op o = registerWrite();
    o.target = target;
    o.data = pattern(70000, 4);
    o.dataLen = n;
    return o;
}

// The operation with its data said to lie at offset from its block (nothing is put there).
Op atOffset(Op o, int64_t offset)
{
    o.offset = offset;
    return o;
}

// A user-defined command of n bytes (group byte 0x30: a card answers it as done).
Op userDefined(int n)
{
    Op o;
    o.type = 16;
    o.target = 2;
    o.data = QByteArray(n, '\x30');
    return o;
}

Bytes bytesOf(const QByteArray& a)
{
    return Bytes(a.begin(), a.end());
}

}

// ---- the reader ----

TEST(CardFileReader, PartsAreFoundByTheirLastEntryAndMissingOnesStartAtZero)
{
    // Parts: screen at 40, XY at 100 and again at 200; the later XY part holds 2 nets.
    QByteArray f = zeros(300);
    f[3] = 3;
    const uint8_t types[3] = {10, 11, 11};
    const uint32_t offsets[3] = {40, 100, 200};
    for (int k = 0; k < 3; ++k) {
        f[4 + 12 * k] = char(types[k]);
        put32(f, 4 + 12 * k + 8, offsets[k]);
    }
    f[40 + 20] = 1;      // one screen, XY area at offset 0
    put16(f, 100, 5);
    put16(f, 200, 2);
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", f));
    rcvRecovery rd;
    ASSERT_EQ(rd.get_rcvPackedFileNum(kQzfx), 0);
    for (uint8_t k = 0; k < 3; ++k)
        ASSERT_EQ(rd.get_rcvPackedFileInfo(kQzfx, k), 0);
    EXPECT_EQ(rd.get_rcvPackedFileInfo(kQzfx, 3), 1) << "beyond the part count";
    ASSERT_EQ(rd.update_rcvScreenHead(kQzfx), 0);
    ASSERT_EQ(rd.update_rcvScreenIDinfo(kQzfx, 0), 0);
    EXPECT_EQ(rd.update_rcvScreenIDinfo(kQzfx, 1), 1) << "one screen only";
    ASSERT_EQ(rd.update_rcvXYscreenNetnum(kQzfx), 0);
    EXPECT_EQ(rd.net_count, 2);
    EXPECT_EQ(rd.part_offset(12), 0u);
    EXPECT_FALSE(rd.has_part(12));
}

// A field the file does not hold whole is an error, and the old value stays.
TEST(CardFileReader, FieldsBeyondTheEndOfTheFileAreRefused)
{
    Screen s;
    s.configId = 7;
    s.nets = {Net{1, {{ramWrite(0, pattern(10, 1))}}}};
    const QByteArray whole = packedFile({s});
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", whole));
    rcvRecovery rd;
    ASSERT_EQ(rd.get_rcvPackedFileNum(kQzfx), 0);
    for (uint8_t k = 0; k < rd.kept_parts(); ++k)
        ASSERT_EQ(rd.get_rcvPackedFileInfo(kQzfx, k), 0);
    ASSERT_EQ(rd.update_rcvScreenHead(kQzfx), 0);
    ASSERT_EQ(rd.update_rcvScreenIDinfo(kQzfx, 0), 0);
    ASSERT_EQ(rd.update_rcvXYscreenNetnum(kQzfx), 0);
    ASSERT_EQ(rd.update_rcvXYscreenNetpara(kQzfx, 0), 0);
    EXPECT_EQ(rd.net.net_ledx, 1);
    EXPECT_EQ(rd.update_rcvXYscreenNetpara(kQzfx, 1), 1) << "one net only";

    // The same file cut inside the screen record: the record is not read, the old one stays.
    const uint32_t screenAt = rd.part_offset(10);
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", whole.left(int(screenAt + 32 + 40))));
    EXPECT_EQ(rd.update_rcvScreenIDinfo(kQzfx, 0), 1);
    EXPECT_EQ(rd.screen.config_id, 7u);
    uint8_t data[16];
    EXPECT_EQ(rd.update_rcvOperatedata(kQzfx, screenAt, data, 100), 1);
    EXPECT_EQ(rd.update_rcvOperatedata(QStringLiteral("/data/rcvrecovery/none"), 0, data, 1), 1);
}

TEST(CardFileReader, PartCountAboveSixKeepsTheFirstSix)
{
    QByteArray f = zeros(200);
    f[3] = char(200);
    for (int k = 0; k < 12; ++k)
        f[4 + 12 * k] = char(k < 6 ? 10 : 11);
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", f));
    rcvRecovery rd;
    ASSERT_EQ(rd.get_rcvPackedFileNum(kQzfx), 0);
    EXPECT_EQ(rd.part_count(), 200);
    EXPECT_EQ(rd.kept_parts(), 6);
    EXPECT_EQ(rd.get_rcvPackedFileInfo(kQzfx, 5), 0);
    EXPECT_EQ(rd.get_rcvPackedFileInfo(kQzfx, 6), 1);
}

TEST(CardFileReader, CardWalkSkipsEachCardsOperations)
{
    Screen s;
    Net net{0, {}};
    net.cards.push_back(std::vector<Op>(3, ramWrite(0, pattern(4, 1))));
    net.cards.push_back(std::vector<Op>(5, ramWrite(0, pattern(4, 2))));
    net.cards.push_back(std::vector<Op>(1, ramWrite(0, pattern(4, 3))));
    s.nets = {net};
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", packedFile({s})));
    rcvRecovery rd;
    ASSERT_EQ(rd.get_rcvPackedFileNum(kQzfx), 0);
    for (uint8_t k = 0; k < rd.kept_parts(); ++k)
        ASSERT_EQ(rd.get_rcvPackedFileInfo(kQzfx, k), 0);
    ASSERT_EQ(rd.update_rcvScreenHead(kQzfx), 0);
    ASSERT_EQ(rd.update_rcvScreenIDinfo(kQzfx, 0), 0);
    ASSERT_EQ(rd.update_rcvXYscreenNetnum(kQzfx), 0);
    ASSERT_EQ(rd.update_rcvXYscreenNetpara(kQzfx, 0), 0);
    ASSERT_EQ(rd.update_rcvXYrcvOperateTimes(kQzfx, 2, false), 0);
    EXPECT_EQ(rd.card_offset, 4u + 54 + 4 + 90);
    EXPECT_EQ(rd.operate_times, 1);
    EXPECT_EQ(rd.update_rcvXYrcvOperateTimes(kQzfx, 3, false), 1) << "three cards only";
    ASSERT_EQ(rd.update_rcvXYrcvOperatepara(kQzfx, 0, false), 0);
    EXPECT_EQ(rd.operation.dataLen, 4u);
    EXPECT_EQ(rd.update_rcvXYrcvOperatepara(kQzfx, 1, false), 1);
}

TEST(CardFileReader, ListingsTakeOnlyTheirOwnFolders)
{
    rcvRecovery rd;
    EXPECT_EQ(rd.get_dir_file(QStringLiteral("/data/rcvrecovery")), 1) << "missing";
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", "x"));
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/.hidden", "x"));
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/a.qzfile", "x"));
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/sub/b.qzfile", "x"));
    EXPECT_EQ(rd.get_dir_file(QStringLiteral("/data/rcvrecovery")), 0);
    EXPECT_EQ(rd.recovery_files(), QStringList{QStringLiteral("QZFX")});
    EXPECT_EQ(rd.get_dir_file(QStringLiteral("/mnt/usb1")), 0);
    EXPECT_TRUE(rd.scan_files().isEmpty()) << "without its slash the stick is another folder";
    EXPECT_EQ(rd.get_dir_file(QStringLiteral("/mnt/usb1/")), 0);
    EXPECT_EQ(rd.scan_files(), QStringList{QStringLiteral("a.qzfile")});
}

// Regular files only: a symbolic link (to a file of the folder, or to nothing) is not a card file,
// as the pages' own lists already leave links out.
TEST(CardFileReader, ListingsLeaveSymbolicLinksOut)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", "x"));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/a.qzfile", "x"));
    const struct {
        const char* target;
        const char* link;
    } links[] = {{"/data/rcvrecovery/QZFX", "/data/rcvrecovery/copy"},
                 {"/data/rcvrecovery/none", "/data/rcvrecovery/dangling"},
                 {"/data/smartmapping/a.qzfile", "/data/smartmapping/b.qzfile"},
                 {"/data/configs", "/data/smartmapping/c.qzfile"}};
    for (const auto& l : links)
        ASSERT_EQ(::symlink(TestRoot::path(l.target).c_str(), TestRoot::path(l.link).c_str()), 0) << l.link;
    rcvRecovery rd;
    EXPECT_EQ(rd.get_dir_file(QStringLiteral("/data/rcvrecovery")), 0);
    EXPECT_EQ(rd.recovery_files(), QStringList{QStringLiteral("QZFX")});
    EXPECT_EQ(rd.get_dir_file(QStringLiteral("/data/smartmapping")), 0);
    EXPECT_EQ(rd.scan_files(), QStringList{QStringLiteral("a.qzfile")});
}

// ---- the jobs ----

namespace {

class CardReplay : public LedCards {
protected:
    // Screen 0x11223344: port 0 with 2 cards, port 1 with 4 cards; card 2 of port 1 keeps a
    // 2500-byte RAM write for its recovery.
    void SetUp() override
    {
        LedCards::SetUp();
        if (HasFatalFailure())
            return;
        linkTwoPortsOfScreen(0x11223344);
        searchCards();
        fpgaChip().clearPackets();
        data = pattern(2500, 5);
        Screen s;
        s.configId = 0x11223344;
        Net n0{0, {{}, {}}};
        Net n1{1, {{}, {}, {ramWrite(0x1000, data)}, {}}};
        s.nets = {n0, n1};
        screen = s;
    }
    void writeQzfx(const std::vector<Screen>& screens) { ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/QZFX", packedFile(screens))); }
    // A recovery that ends well; what it sent to port 1.
    std::vector<Bytes> recover()
    {
        fpgaChip().clearPackets();
        QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
        postJob(6);
        EXPECT_TRUE(runJob(3000));
        EXPECT_EQ(finished.size(), 1);
        EXPECT_TRUE(!finished.isEmpty() && finished[0][1].toBool());
        return fpgaChip().packets(1);
    }
    // The recovery after a query that found card `card` of port 1: its 2500-byte RAM write goes to
    // it alone, in packets of 1000, 1000 and 500 bytes, and the job ends well.
    void expectRecovered(int card)
    {
        const std::vector<Bytes> log = recover();
        ASSERT_EQ(log.size(), 3u);
        const uint32_t sizes[3] = {1000, 1000, 500};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(log[size_t(k)].size(), sizes[k] + 19);
            EXPECT_EQ(getU16(log[size_t(k)].data()), 0x1000 | card) << "card " << card << " of port 1";
            EXPECT_EQ(getU32(log[size_t(k)].data() + 10), 0x1000u + 1000u * uint32_t(k));
        }
        EXPECT_EQ(cardRam(fpgaChip().network().port(1).cards[size_t(card)], 0x1000, 2500), bytesOf(data));
    }
    // The operations as the chosen scan file for the port, and the load posted.
    void scanJob(const std::vector<Op>& ops, int port)
    {
        ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/wall.qzfile", scanFile(ops)));
        g_qzfile_name = QStringLiteral("/data/smartmapping/wall.qzfile");
        line_type[8] = uint8_t(port);
        postJob(2);
    }

    int searches(int port)
    {
        int n = 0;
        for (const Bytes& p : fpgaChip().packets(port))
            n += p.size() == 30 && p[16] == 1;
        return n;
    }

    QByteArray data;
    Screen screen;
};

}

TEST_F(CardReplay, QueryFindsTheCardThatDiffersAndRecoveryRestoresIt)
{
    writeQzfx({screen});
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).cards[2].configId = 0x99; });
    QSignalSpy result(CardJobReport::instance(), &CardJobReport::recoveryResult);
    QSignalSpy cleared(CardJobReport::instance(), &CardJobReport::recoveryResultCleared);
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    QSignalSpy progress(CardJobReport::instance(), &CardJobReport::recoveryProgress);
    postJob(5);
    ASSERT_TRUE(runJob(2000));
    ASSERT_EQ(result.size(), 1);
    EXPECT_EQ(result[0][0].toString(), QStringLiteral("01/02/03/04"));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(finished[0][1].toBool());
    EXPECT_EQ(progress.last()[0].toInt(), 100);
    // The search carried the config id with its check flag.
    const Bytes search = fpgaChip().packets(1).at(0);
    EXPECT_EQ(search[16], 1);
    EXPECT_EQ(getU32(search.data() + 17), 0x11223344u);
    EXPECT_EQ(searches(0), 1);
    EXPECT_EQ(searches(1), 1);

    expectRecovered(2);
    const LedNetwork net = fpgaChip().network();
    EXPECT_TRUE(net.port(1).cards[1].ram.empty());
    EXPECT_TRUE(fpgaChip().packets(0).empty());
    EXPECT_EQ(cleared.size(), 1);
}

TEST_F(CardReplay, QueryOverTwoScreensOfThreeNetsVisitsEachNetOnce)
{
    fpgaChip().setCards(2, 1);
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(2).cards[0].configId = 0x11223344; });
    Screen a = screen;
    a.nets.push_back(Net{2, {{}}});
    Screen b = a;
    writeQzfx({a, b});
    QSignalSpy result(CardJobReport::instance(), &CardJobReport::recoveryResult);
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    postJob(5);
    ASSERT_TRUE(runJob(3000));
    for (int p : {0, 1, 2})
        EXPECT_EQ(searches(p), 2) << p;
    EXPECT_TRUE(result.isEmpty());
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(finished[0][1].toBool());
}

// No answer is not "all cards in order".
TEST_F(CardReplay, QueryWithASilentNetEndsAsAFailure)
{
    writeQzfx({screen});
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).silent = true; });
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    postJob(5);
    ASSERT_TRUE(runJob(3000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished[0][1].toBool());
}

// Folders and files the jobs refuse before anything reaches a card.
TEST_F(CardReplay, RefusedFilesEndTheJobAsAFailureWithNothingSent)
{
    QByteArray noScreen = packedFile({screen}, {11, 12});
    QByteArray noParts = packedFile({screen});
    noParts[3] = 0;
    QByteArray farPort = packedFile({Screen{1, {Net{17, {{}}}}, {}}});
    const struct {
        const char* what;
        std::vector<std::pair<const char*, QByteArray>> files;
    } rows[] = {
        {"empty folder", {}},
        {"two files", {{"/data/rcvrecovery/QZFX", packedFile({screen})}, {"/data/rcvrecovery/other", "x"}}},
        {"another name", {{"/data/rcvrecovery/QZFX.bak", packedFile({screen})}}},
        {"no screen part", {{"/data/rcvrecovery/QZFX", noScreen}}},
        {"no parts", {{"/data/rcvrecovery/QZFX", noParts}}},
        {"port of the second FPGA", {{"/data/rcvrecovery/QZFX", farPort}}},
        {"cut after the header", {{"/data/rcvrecovery/QZFX", packedFile({screen}).left(20)}}},
    };
    for (const auto& row : rows) {
        QDir(QString::fromStdString(TestRoot::path("/data/rcvrecovery"))).removeRecursively();
        QDir().mkpath(QString::fromStdString(TestRoot::path("/data/rcvrecovery")));
        for (const auto& f : row.files)
            ASSERT_TRUE(TestRoot::writeFile(f.first, f.second));
        QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
        QSignalSpy progress(CardJobReport::instance(), &CardJobReport::recoveryProgress);
        postJob(5);
        ASSERT_TRUE(runJob(1000)) << row.what;
        ASSERT_EQ(finished.size(), 1) << row.what;
        EXPECT_FALSE(finished[0][1].toBool()) << row.what;
        EXPECT_EQ(progress.last()[0].toInt(), 100) << row.what;
        EXPECT_EQ(searches(0) + searches(1), 0) << row.what;
    }
}

// The recovery works on what the query found: a file that no longer has that card is refused.
TEST_F(CardReplay, RecoveryOfACardTheNetNoLongerHasFails)
{
    writeQzfx({screen});
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).cards[3].configId = 0x99; });
    postJob(5);
    ASSERT_TRUE(runJob(2000));
    Screen smaller = screen;
    smaller.nets[1].cards.resize(2);
    writeQzfx({smaller});
    fpgaChip().clearPackets();
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    postJob(6);
    ASSERT_TRUE(runJob(2000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished[0][1].toBool());
    EXPECT_TRUE(fpgaChip().packets(1).empty());
}

// A scan file replays every operation in turn to the cards of the chosen port.
TEST_F(CardReplay, ScanFileReplaysEachOperationToThePortsCards)
{
    fpgaChip().setCards(3, 3);
    searchCards();
    fpgaChip().clearPackets();
    Op reg;
    reg.type = 1;
    reg.target = 2;
    reg.data = QByteArray::fromHex("0500020A0B");
    Op sleep;
    sleep.type = 6;
    sleep.timeticks = 300;
    Op upgrade;
    upgrade.type = 4;
    Op save;
    save.type = 2;
    save.timeticks = 100;
    const QByteArray ram = pattern(1200, 9);
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/wall.qzfile", scanFile({ramWrite(0x200, ram), reg, sleep, upgrade, save})));
    g_qzfile_name = QStringLiteral("/data/smartmapping/wall.qzfile");
    line_type[8] = 3;
    g_send_para[30] = 2; // a card position left by an earlier query
    g_send_para[31] = 0;
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    QSignalSpy progress(CardJobReport::instance(), &CardJobReport::smartMappingProgress);
    QSignalSpy result(CardJobReport::instance(), &CardJobReport::recoveryResult);
    postJob(2);
    ASSERT_TRUE(runJob(3000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(finished[0][1].toBool());
    EXPECT_EQ(progress.last()[0].toInt(), 100);
    const LedNetwork net = fpgaChip().network();
    for (const auto& card : net.port(3).cards) {
        EXPECT_EQ(cardRam(card, 0x200, 1200), bytesOf(ram));
        EXPECT_EQ(card.registers.at(0x0005), 0x0A);
        EXPECT_EQ(card.registers.at(0x0006), 0x0B);
        EXPECT_EQ(card.saves, 1);
    }
    const auto log = fpgaChip().packets(3);
    ASSERT_EQ(log.size(), 4u); // two RAM packets, the register write, the save
    EXPECT_EQ(getU16(log[0].data()), 0x0FFF);
    EXPECT_EQ(log[3][9], 0x81);
    EXPECT_TRUE(result.isEmpty()) << "a scan-file load reports no card to recover";
}

// A list is looked at whole before its first packet: an operation time past what a step may take
// (60 s, refused with the record's place in the file logged), data longer than its packets (one command, or 255 RAM packets of 1000 bytes; a
// length near 4 GiB must not wrap past the check), data beyond the end of the file, a payload no
// card packet carries, or a list that may hold the worker past 10 minutes when no card answers is
// refused as damaged, and the job ends at once as failed. At the bounds the list runs. The time
// of a list: each packet tried three times, each try its wait (a save's with a second for each
// card of the port) and two passes of 10 ms, each operation three passes more, a pause its time
// and two passes.
TEST_F(CardReplay, DamagedOperationListsAreRefusedBeforeTheJobSends)
{
    fpgaChip().setCards(3, 2);
    searchCards();
    const std::vector<Op> reg{registerWrite()};
    auto with = [](std::vector<Op> list, const Op& o, size_t times = 1) {
        list.insert(list.end(), times, o);
        return list;
    };
    const struct {
        const char* what;
        std::vector<Op> list; // a register write first: nothing may leave on a refusal
        bool runs;
        size_t packets;
    } rows[] = {
        {"pause of 60000 ms", with(reg, timed(6, 60000)), true, 1},
        {"pause of 60001 ms", with(reg, timed(6, 60001)), false, 0},
        {"pause of 0xFFFFFFFF ms", with(reg, timed(6, 0xFFFFFFFFu)), false, 0},
        {"register write waiting 60000 ms", with(reg, timed(1, 60000)), true, 2},
        {"register write waiting 60001 ms", with(reg, timed(1, 60001)), false, 0},
        {"save waiting 60000 ms and the cards' time", with(reg, timed(2, 60000)), true, 2},
        {"save waiting 60001 ms", with(reg, timed(2, 60001)), false, 0},
        {"register data of 0xFFFFFFF5 bytes", with(reg, sized(2, 0xFFFFFFF5u)), false, 0},
        {"register data of 0xFFFFFFFC bytes", with(reg, sized(2, 0xFFFFFFFCu)), false, 0},
        {"register data of 0xFFFFFFFF bytes", with(reg, sized(2, 0xFFFFFFFFu)), false, 0},
        {"register data of 0x10000 bytes", with(reg, sized(2, 0x10000)), false, 0},
        {"register data of 0x80000000 bytes", with(reg, sized(2, 0x80000000u)), false, 0},
        {"register data of 1014 bytes", with(reg, sized(2, 1014)), false, 0},
        {"RAM data of 0xFFFFFFFF bytes", with(reg, sized(1, 0xFFFFFFFFu)), false, 0},
        {"RAM data of 255001 bytes", with(reg, sized(1, 255001)), false, 0},
        {"RAM data ending at the last card address", with(reg, ramWrite(0xFFFFFB50u, QByteArray(1200, 'Z'))), true, 3},
        {"RAM data running past the last card address", with(reg, ramWrite(0xFFFFFB51u, QByteArray(1200, 'Z'))), false, 0},
        // A save of 450 ms on a port of 2 cards: 30 + 450 + 2000 + 20 = 2500 ms, one try counted.
        {"240 saves of 450 ms: 600 s", with({}, timed(2, 450), 240), true, 240},
        {"240 saves, one of 451 ms", with(with({}, timed(2, 450), 239), timed(2, 451)), false, 0},
        {"601 pauses of 1000 ms", with(reg, timed(6, 1000), 601), false, 0},
        // Three records end at 74, the first two's data at 82: the third's 4 bytes from 16 + 62 end there.
        {"register data ending at the end of the file", with(with(reg, reg[0]), atOffset(registerWrite(), 62)), true, 3},
        {"register data one byte past the end of the file", with(with(reg, reg[0]), atOffset(registerWrite(), 63)), false, 0},
        {"register data 500,000 bytes on", with(with(reg, reg[0]), atOffset(registerWrite(), 500000)), false, 0},
        {"RAM data 500,000 bytes on", with(with(reg, reg[0]), atOffset(ramWrite(0, pattern(1200, 2)), 500000)), false, 0},
        {"user-defined command of 1 byte", with(reg, userDefined(1)), true, 2},
        {"user-defined command of 0 bytes", with(with(reg, reg[0]), userDefined(0)), false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fpgaChip().clearPackets();
        QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
        QSignalSpy progress(CardJobReport::instance(), &CardJobReport::smartMappingProgress);
        scanJob(row.list, 3);
        ASSERT_TRUE(runJob(9000)) << "the job ends";
        ASSERT_EQ(finished.size(), 1);
        EXPECT_EQ(finished[0][1].toBool(), row.runs);
        EXPECT_EQ(progress.last()[0].toInt(), 100);
        EXPECT_EQ(fpgaChip().packets(3).size(), row.packets);
    }
    // The scan file's records start at byte 20, 18 bytes each.
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog")
                    .contains("card file operation 1 (type 6, record at byte 38) asks for 60001 ms"));
}

// The recovery looks at the screen's parameter list and at the card's list the same way, both
// before the first packet of either, and counts their time together.
TEST_F(CardReplay, RecoveryOfADamagedOperationListSendsNothing)
{
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).cards[2].configId = 0x99; });
    const Op ram = ramWrite(0x1000, data);
    Op slowRam = ram;
    slowRam.timeticks = 60000;
    Op slowerRam = slowRam;
    slowerRam.timeticks = 60001;
    // A save of 950 ms on port 1's 4 cards: 30 + 950 + 4000 + 20 = 5000 ms, one try counted.
    const std::vector<Op> saves(60, timed(2, 950));
    std::vector<Op> savesAndOneMs = saves;
    savesAndOneMs.back() = timed(2, 951);
    const struct {
        const char* what;
        std::vector<Op> screenList; // sent first
        std::vector<Op> cardList;
        size_t packets; // 0: refused
    } rows[] = {{"card list at 60000 ms", {}, {slowRam}, 3},
                {"card list at 60001 ms", {}, {slowerRam}, 0},
                {"screen list at 60000 ms", {timed(6, 60000)}, {ram}, 3},
                {"screen list at 60001 ms", {timed(6, 60001)}, {ram}, 0},
                {"card data of 0xFFFFFFF5 bytes", {}, {registerWrite(), sized(2, 0xFFFFFFF5u)}, 0},
                {"card data of 0xFFFFFFFC bytes", {}, {registerWrite(), sized(2, 0xFFFFFFFCu)}, 0},
                {"card data of 0xFFFFFFFF bytes", {}, {registerWrite(), sized(2, 0xFFFFFFFFu)}, 0},
                {"card data of 0x10000 bytes", {}, {registerWrite(), sized(2, 0x10000)}, 0},
                {"card data of 0x80000000 bytes", {}, {registerWrite(), sized(2, 0x80000000u)}, 0},
                {"screen data of 0xFFFFFFF5 bytes", {registerWrite(), sized(2, 0xFFFFFFF5u)}, {ram}, 0},
                {"card list of 601 pauses of 1000 ms", {}, std::vector<Op>(601, timed(6, 1000)), 0},
                {"a screen list, then card data of 0xFFFFFFF5 bytes", {registerWrite()}, {sized(2, 0xFFFFFFF5u)}, 0},
                {"a screen list, then card data beyond the file", {registerWrite()}, {atOffset(ram, 500000)}, 0},
                {"a screen list, then a user-defined command of 0 bytes", {registerWrite()}, {userDefined(0)}, 0},
                {"two lists of 300 s", saves, saves, 120},
                {"two lists of 300 s, one save 1 ms longer", saves, savesAndOneMs, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Screen s = screen;
        s.para = row.screenList;
        s.nets[1].cards[2] = row.cardList;
        writeQzfx({s});
        fpga->query_result = {};
        postJob(5);
        ASSERT_TRUE(runJob(3000));
        ASSERT_TRUE(fpga->query_result.valid);
        fpgaChip().clearPackets();
        QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
        postJob(6);
        ASSERT_TRUE(runJob(9000));
        ASSERT_EQ(finished.size(), 1);
        EXPECT_EQ(finished[0][1].toBool(), row.packets != 0);
        EXPECT_EQ(fpgaChip().packets(1).size(), row.packets);
    }
}

TEST_F(CardReplay, ScanFileToSilentCardsTriesThreeTimesAndFails)
{
    fpgaChip().setCards(3, 2);
    searchCards();
    fpgaChip().clearPackets();
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(3).silent = true; });
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/wall.qzfile", scanFile({ramWrite(0, pattern(10, 1)), ramWrite(0, pattern(10, 2))})));
    g_qzfile_name = QStringLiteral("/data/smartmapping/wall.qzfile");
    line_type[8] = 3;
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    postJob(2);
    ASSERT_TRUE(runJob(3000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished[0][1].toBool());
    EXPECT_EQ(fpgaChip().packets(3).size(), 3u) << "three tries of the first packet, nothing after";
}

TEST_F(CardReplay, DamagedScanFilesAreRefused)
{
    fpgaChip().setCards(3, 2);
    searchCards();
    fpgaChip().clearPackets();
    Op beyond = ramWrite(0, pattern(10, 1));
    beyond.offset = 5000;
    Op huge = ramWrite(0, pattern(10, 1));
    huge.dataLen = 300000; // more than 255 packets
    Op longReg;
    longReg.type = 1;
    longReg.target = 2;
    longReg.data = pattern(1100, 3);
    for (const Op& op : {beyond, huge, longReg}) {
        ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/wall.qzfile", scanFile({op})));
        g_qzfile_name = QStringLiteral("/data/smartmapping/wall.qzfile");
        line_type[8] = 3;
        QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
        postJob(2);
        ASSERT_TRUE(runJob(2000));
        ASSERT_EQ(finished.size(), 1);
        EXPECT_FALSE(finished[0][1].toBool());
    }
    EXPECT_TRUE(fpgaChip().packets(3).empty());
    // A name without the scan suffix is not a scan file, and only a file straight inside one of
    // the two scan folders is read, whatever name another thread left behind.
    const QByteArray good = scanFile({ramWrite(0, pattern(4, 1))});
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/wall.txt", good));
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/wall.qzfile", good));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/sub/wall.qzfile", good));
    for (const char* name : {"/data/smartmapping/wall.txt", "/data/smartmapping/../rcvrecovery/wall.qzfile",
                             "/data/rcvrecovery/wall.qzfile", "/data/smartmapping/sub/wall.qzfile",
                             "/mnt/usb1/../../data/rcvrecovery/wall.qzfile"}) {
        g_qzfile_name = QString::fromLatin1(name);
        postJob(2);
        ASSERT_TRUE(runJob(2000));
        EXPECT_TRUE(fpgaChip().packets(3).empty()) << name;
    }
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/wall.qzfile", good));
    g_qzfile_name = QStringLiteral("/data/smartmapping/wall.qzfile");
    postJob(2);
    ASSERT_TRUE(runJob(2000));
    EXPECT_FALSE(fpgaChip().packets(3).empty()) << "a listed scan file is replayed";
}

// With screen parameters the recovery first replays them to the card, then its own XY data.
TEST_F(CardReplay, RecoveryReplaysScreenParametersBeforeTheCardsData)
{
    Op reg;
    reg.type = 1;
    reg.target = 2;
    reg.data = QByteArray::fromHex("2000013C");
    screen.para = {reg};
    writeQzfx({screen});
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).cards[2].configId = 0x99; });
    postJob(5);
    ASSERT_TRUE(runJob(2000));
    const auto log = recover();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0][9], 0xA0);
    EXPECT_EQ(getU16(log[0].data()), 0x1002);
    for (size_t k = 1; k < 4; ++k)
        EXPECT_EQ(log[k][9], 0x60);
    const LedNetwork net = fpgaChip().network();
    EXPECT_EQ(net.port(1).cards[2].registers.at(0x0020), 0x3C);
    EXPECT_TRUE(net.port(1).cards[1].registers.empty());
}

// Files count nets, cards and operations in 16 bits: a job walks each of them once and ends,
// whatever the count, and sends a card's data to that card alone.
TEST_F(CardReplay, CountsAboveOneByteAreWalkedOnceAndEnd)
{
    fpgaChip().setCards(3, 2);
    searchCards();
    fpgaChip().clearPackets();
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    scanJob(std::vector<Op>(300, registerWrite()), 3);
    ASSERT_TRUE(runJob(20000)) << "300 operations";
    EXPECT_EQ(fpgaChip().packets(3).size(), 300u);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(finished[0][1].toBool());

    fpgaChip().clearPackets();
    Screen many;
    many.configId = screen.configId;
    many.nets.assign(300, Net{0, {{}, {}}});
    writeQzfx({many});
    postJob(5);
    ASSERT_TRUE(runJob(60000)) << "300 nets";
    EXPECT_EQ(searches(0), 300);
    ASSERT_EQ(finished.size(), 2);
    EXPECT_TRUE(finished[1][1].toBool());
}

TEST_F(CardReplay, CardAboveTwoHundredFiftyFiveIsRecoveredItself)
{
    fpgaChip().setCards(1, 300);
    fpgaChip().editNetwork([](LedNetwork& n) {
        for (auto& c : n.port(1).cards)
            c.configId = 0x11223344;
        n.port(1).cards[260].configId = 0x99;
    });
    searchCards();
    fpgaChip().clearPackets();
    screen.nets[1].cards.assign(300, {});
    screen.nets[1].cards[260] = {ramWrite(0x1000, data)};
    writeQzfx({screen});
    QSignalSpy result(CardJobReport::instance(), &CardJobReport::recoveryResult);
    postJob(5);
    ASSERT_TRUE(runJob(3000));
    ASSERT_EQ(result.size(), 1);
    EXPECT_EQ(result[0][0].toString(), QStringLiteral("01/02/261/300"));
    expectRecovered(260);
    EXPECT_TRUE(fpgaChip().network().port(1).cards[4].ram.empty()) << "260 cut to a byte";
}

// ---- the replay's waits, measured in worker passes (one pass a tick) ----

namespace {

// Ticks at which each packet to the port left, and the tick the job ended (-1: not within max).
struct Timeline {
    std::vector<int> packets;
    int end = -1;
};

class ReplayTiming : public CardReplay {
protected:
    Timeline timeline(int port, int maxTicks)
    {
        Timeline t;
        size_t seen = fpgaChip().packets(port).size();
        for (int i = 1; i <= maxTicks && t.end < 0; ++i) {
            tick();
            for (const size_t n = fpgaChip().packets(port).size(); seen < n; ++seen)
                t.packets.push_back(i);
            if (g_send_para[0].load() == 0)
                t.end = i;
        }
        return t;
    }
};

}

// A net that does not answer its search is given up more than 500 ticks after the search: the
// pass after that moves to the next net, the one after ends the job.
TEST_F(ReplayTiming, SearchWaitsFiveHundredTicks)
{
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).silent = true; });
    Screen s;
    s.configId = screen.configId;
    s.nets = {Net{1, {{}, {}, {}, {}}}};
    writeQzfx({s});
    postJob(5);
    const Timeline t = timeline(1, 5000);
    ASSERT_EQ(t.packets.size(), 1u);
    EXPECT_EQ(t.end - t.packets[0], 500 + 3);
}

// Save-to-flash waits its own time plus 100 ticks (1000 ms) for every card of the port before it
// tries again; a sleep operation waits its time and sends nothing.
TEST_F(ReplayTiming, SaveWaitsPerCardAndSleepWaitsItsTime)
{
    const struct {
        int cards;
        uint32_t ms;
        int interval; // ticks between the tries of the save
    } saves[] = {{1, 0, 100 + 2}, {3, 0, 300 + 2}, {3, 500, 350 + 2}};
    for (const auto& row : saves) {
        SCOPED_TRACE(row.cards);
        fpgaChip().setCards(3, row.cards);
        fpgaChip().editNetwork([](LedNetwork& n) { n.port(3).silent = false; });
        searchCards();
        fpgaChip().editNetwork([](LedNetwork& n) { n.port(3).silent = true; });
        fpgaChip().clearPackets();
        Op save;
        save.type = 2;
        save.timeticks = row.ms;
        scanJob({save}, 3);
        const Timeline t = timeline(3, 5000);
        ASSERT_EQ(t.packets.size(), 3u) << "three tries";
        EXPECT_EQ(t.packets[1] - t.packets[0], row.interval);
        EXPECT_EQ(t.packets[2] - t.packets[1], row.interval);
    }

    fpgaChip().setCards(3, 2);
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(3).silent = false; });
    searchCards();
    int base = -1;
    for (const uint32_t ms : {100u, 300u, 1000u}) { // 10, 30 and 100 ticks
        SCOPED_TRACE(ms);
        fpgaChip().clearPackets();
        Op sleep;
        sleep.type = 6;
        sleep.timeticks = ms;
        scanJob({registerWrite(), sleep, registerWrite()}, 3);
        const Timeline t = timeline(3, 5000);
        ASSERT_EQ(t.packets.size(), 2u) << "the sleep sends nothing";
        const int gap = t.packets[1] - t.packets[0];
        if (base < 0)
            base = gap;
        EXPECT_EQ(gap - base, int(ms / 10) - 10);
    }
}

// Nothing bounds a query's searches beforehand: 5 s for each net that does not answer. Over more
// silent nets than fit, the job ends as failed once it has run 32 minutes (three tries of the 10
// that lists may ask for, 2 for the rest); while a PC frame pauses it, its clock stands still.
TEST_F(ReplayTiming, AJobEndsAsFailedOnceItHasRunThirtyTwoMinutes)
{
    fpgaChip().editNetwork([](LedNetwork& n) { n.port(1).silent = true; });
    Screen s;
    s.configId = screen.configId;
    s.nets.assign(400, Net{1, {{}, {}, {}, {}}}); // 400 x 504 ticks if each were waited for
    writeQzfx({s});
    QSignalSpy finished(CardJobReport::instance(), &CardJobReport::jobFinished);
    postJob(5);
    constexpr int kLimit = 32 * 60 * 100, kPause = 80;
    int end = -1, lastSearch = 0, paused = 0;
    size_t seen = 0;
    for (int i = 1; i <= 210000 && end < 0; ++i) {
        if (i == 1000) { // a PC frame
            pc_cmd_time = G_timeTicks.load();
            pc_cmd_valid = 1;
        }
        paused += pc_cmd_valid.load() ? 1 : 0;
        tick();
        for (const size_t n = fpgaChip().packets(1).size(); seen < n; ++seen)
            lastSearch = i;
        if (g_send_para[0].load() == 0)
            end = i;
    }
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished[0][1].toBool());
    EXPECT_GT(paused, kPause);
    EXPECT_LT(searches(1), 400);
    EXPECT_LE(lastSearch, kLimit + paused);
    EXPECT_GT(end, kLimit + paused);
    EXPECT_LE(end, kLimit + paused + 110) << "failed at the limit: progress 100, the job cleared a second later";
}
