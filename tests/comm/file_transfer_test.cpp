// Uploads and reads through group 0xC0 as a PC tool makes them: what lands in the files under the
// root and in the flash partitions, what refused requests leave untouched, and register 14, which
// puts only a verified application in place.
#include "message_deal_fixture.h"

#include "base/global.h"
#include "base/md5.h"
#include "base/tick_alarm.h"
#include "base/utils.h"
#include "comm/card_file_events.h"
#include "params/alias_names.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "program.h"
#include "sample_program.h"
#include "second_writer.h"
#include "test_root.h"
#include "time_limit.h"
#include "tools/firmwareupdate.h"
#include "tools/program_check.h"
#include "ui/mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSettings>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <thread>

namespace {

using platform::Sim::mtdSim;
using platform::Sim::shellSim;

constexpr uint32_t kFive = 5u * 1024 * 1024;

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + i * 7 + (i >> 8));
    return v;
}
// A JSON document of n bytes (at least 8), as the names and menu files hold.
std::vector<uint8_t> document(size_t n, uint8_t seed)
{
    std::string t = "{\"v\":\"";
    while (t.size() + 2 < n)
        t.push_back(char('a' + (seed + t.size() * 7) % 26));
    t += "\"}";
    return std::vector<uint8_t>(t.begin(), t.end());
}
bool isDocument(const std::string& target) { return target.size() > 5 && target.compare(target.size() - 5, 5, ".json") == 0; }
std::vector<uint8_t> digestOf(const std::vector<uint8_t>& data)
{
    MD5 m(data.data(), data.size());
    const uint8_t* d = m.digest();
    return std::vector<uint8_t>(d, d + 16);
}
QByteArray bytes(const std::vector<uint8_t>& v) { return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size())); }

class FileTransfer : public MessageDealTest {
protected:
    void SetUp() override
    {
        MessageDealTest::SetUp();
        shellSim().clearLog();
        shellSim().setRebootHandler([this] { ++reboots; });
        g_app_reset_flag = 0;
        g_update_status = 1;
    }
    void TearDown() override
    {
        shellSim().setRebootHandler(nullptr);
        g_app_reset_flag = 0;
        // Leave nothing to the next test: a transfer still open is dropped by its silence, a boot
        // start forgets a verified application, and its end closes the boot start itself.
        G_timeTicks += 3000;
        send(kController, 0xC0, start("FBOT", 0));
        send(kController, 0xC0, end(std::vector<uint8_t>(16, 0)));
        MessageDealTest::TearDown();
    }
    static std::vector<uint8_t> start(const char* tag, uint32_t length, uint8_t type = 0)
    {
        std::vector<uint8_t> p = {1, 0, 0};
        p.insert(p.end(), tag, tag + 4);
        p.push_back(type);
        p.resize(p.size() + 4);
        putU32(p.data() + 8, length);
        return p;
    }
    static std::vector<uint8_t> namedStart(const std::string& name, uint8_t type, uint32_t length, int lengthField = -1)
    {
        const uint16_t n = uint16_t(lengthField < 0 ? name.size() : size_t(lengthField));
        std::vector<uint8_t> p = {7, 0, 0, uint8_t(n), uint8_t(n >> 8)};
        p.insert(p.end(), name.begin(), name.end());
        p.push_back(type);
        p.resize(p.size() + 4);
        putU32(p.data() + p.size() - 4, length);
        return p;
    }
    static std::vector<uint8_t> block(uint32_t offset, const std::vector<uint8_t>& data, int64_t announced = -1)
    {
        std::vector<uint8_t> p = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        putU32(p.data() + 5, offset);
        putU32(p.data() + 9, uint32_t(announced < 0 ? data.size() : size_t(announced)));
        p.insert(p.end(), data.begin(), data.end());
        return p;
    }
    static std::vector<uint8_t> end(const std::vector<uint8_t>& digest)
    {
        std::vector<uint8_t> p = {3, 0, 0, 0, 0};
        p.insert(p.end(), digest.begin(), digest.end());
        return p;
    }
    static std::vector<uint8_t> readBlock(uint32_t offset, uint32_t n)
    {
        std::vector<uint8_t> p(13, 0);
        p[0] = 5;
        putU32(p.data() + 5, offset);
        putU32(p.data() + 9, n);
        return p;
    }
    // Sends blocks of 1000 bytes and the end; the end's byte 12 (0 stored), or 0xFF when the start
    // was refused.
    uint8_t upload(const std::vector<uint8_t>& startPayload, const std::vector<uint8_t>& data)
    {
        EXPECT_EQ(send(kController, 0xC0, startPayload), 3u);
        EXPECT_EQ(buf[11], startPayload[0]) << "byte 11 names the start's sub-command";
        if (buf[10] != 0)
            return 0xFF;
        for (size_t at = 0; at < data.size(); at += 1000) {
            const std::vector<uint8_t> part(data.begin() + at, data.begin() + std::min(data.size(), at + 1000));
            EXPECT_EQ(send(kController, 0xC0, block(uint32_t(at), part)), 2u);
            EXPECT_EQ(buf[10], 0);
            EXPECT_EQ(buf[11], 2);
        }
        EXPECT_EQ(send(kController, 0xC0, end(digestOf(data))), 3u);
        EXPECT_EQ(buf[11], 3);
        return buf[12];
    }
    // Sub-command 8 carries its name length in the head's spare pair (bytes 4-5).
    uint32_t namedRead(const std::string& name, uint8_t type, uint16_t n)
    {
        std::vector<uint8_t> body = {0x00, 0xF1, 0x10, 0xF0, uint8_t(n), uint8_t(n >> 8), 0, 0, 0, 0xC0, 8, 0, 0, 0, 0};
        body.insert(body.end(), name.begin(), name.end());
        body.push_back(type);
        return deal(body);
    }
    // Reads a whole file through sub-commands 4 or 8, 5 and 6; checks the closing digest.
    std::vector<uint8_t> readBack(uint32_t size)
    {
        std::vector<uint8_t> got;
        for (uint32_t at = 0; at < size; at += 700) {
            const uint32_t n = std::min<uint32_t>(700, size - at);
            EXPECT_EQ(send(kController, 0xC0, readBlock(at, n)), n + 2);
            got.insert(got.end(), buf.begin() + 12, buf.begin() + 12 + n);
        }
        EXPECT_EQ(send(kController, 0xC0, {6}), 18u);
        EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 12, buf.begin() + 28), digestOf(got));
        return got;
    }
    // One request of group 0xC0 from a given peer (the transports name their peers so).
    uint32_t sendAs(uint64_t peer, const std::vector<uint8_t>& payload)
    {
        std::vector<uint8_t> request = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xC0};
        request.insert(request.end(), payload.begin(), payload.end());
        return deal(request, kMessageBufferSize, peer);
    }
    // Reply bytes 10 .. 10 + r - 1 of the last request.
    std::vector<uint8_t> reply(uint32_t r) const { return std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 10 + r); }
    int reboots = 0;
};

struct Kind {
    const char* what;
    std::vector<uint8_t> start;
    const char* target;
    const char* readTag; // sub-command 4 tag, or nullptr
};

TEST_F(FileTransfer, EachFileKindIsStoredAndReadBack)
{
    // The longest name whose temporary name still fits the file system.
    const std::string longName(244, 'n'), longTarget = "/data/smartmapping/" + longName;
    const std::vector<Kind> kinds = {
        {"alias", start("ALIS", 2500), "/data/configs/alias.json", "ALIS"},
        {"menu", start("OSDS", 2500), "/data/configs/omenu.json", "OSDS"},
        {"mode 10", start("MO0a", 2500), "/data/modes/MO0a.json", "MO0a"},
        {"mode 16 upper case", start("MO10", 2500), "/data/modes/MO10.json", "MO10"},
        {"recovery", start("QZFX", 2500, 9), "/data/rcvrecovery/QZFX", nullptr},
        {"mapping", start("QZFR", 2500, 13), "/data/smartmapping/QZFR", nullptr},
        {"named recovery", namedStart("card_07.bin", 9, 2500), "/data/rcvrecovery/card_07.bin", nullptr},
        {"named mapping", namedStart("map one", 13, 2500), "/data/smartmapping/map one", nullptr},
        {"application", start("FMCU", uint32_t(sampleProgram().size())), "/data/app/vyrR58N2", nullptr},
        {"named 244 bytes", namedStart(longName, 13, 2500), longTarget.c_str(), nullptr},
    };
    // The pages that list card files hear of each one stored there.
    QSignalSpy recoveries(CardFileEvents::instance(), &CardFileEvents::recoveryFilesChanged);
    QSignalSpy mappings(CardFileEvents::instance(), &CardFileEvents::mappingFilesChanged);
    uint8_t seed = 1;
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.what);
        std::vector<uint8_t> data = isDocument(k.target) ? document(2500, seed) : pattern(2500, seed);
        ++seed;
        if (std::string(k.target) == "/data/app/vyrR58N2") // the application: a program of this machine
            data = sampleProgram();
        const int before[2] = {recoveries.count(), mappings.count()};
        EXPECT_EQ(upload(k.start, data), 0);
        EXPECT_EQ(TestRoot::readFile(k.target), bytes(data));
        const std::string target = k.target;
        EXPECT_EQ(recoveries.count() - before[0], target.rfind("/data/rcvrecovery/", 0) == 0 ? 1 : 0);
        EXPECT_EQ(mappings.count() - before[1], target.rfind("/data/smartmapping/", 0) == 0 ? 1 : 0);
        if (k.readTag) {
            std::vector<uint8_t> p = {4, 0, 0};
            p.insert(p.end(), k.readTag, k.readTag + 4);
            ASSERT_EQ(send(kController, 0xC0, p), 7u);
            EXPECT_EQ(buf[11], 4);
            EXPECT_EQ(buf[12], 1);
            EXPECT_EQ(getU32(buf.data() + 13), 2500u);
            EXPECT_EQ(readBack(2500), data);
        }
    }
    for (const QSignalSpy* spy : {&recoveries, &mappings})
        for (const QList<QVariant>& emitted : *spy)
            EXPECT_FALSE(emitted.at(0).toBool()); // stored, not deleted
    // The card files are read by name, answered with byte 11 = 8.
    ASSERT_EQ(namedRead("card_07.bin", 9, 11), 7u);
    EXPECT_EQ(buf[11], 8);
    EXPECT_EQ(buf[12], 1);
    EXPECT_EQ(readBack(2500), pattern(2500, 7));
    // The next application is not writable by others.
    struct stat st {};
    ASSERT_EQ(stat(TestRoot::path("/data/app/vyrR58N2").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0022, 0u);
}

TEST_F(FileTransfer, RefusedStartsAnswerStatusOneAndLeaveNothingToWrite)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> payload;
    };
    const std::vector<Case> cases = {
        {"mode 17", start("MO11", 10)},
        {"mode 0", start("MO00", 10)},
        {"mode not hex", start("MOzz", 10)},
        {"recovery with type 5", start("QZFX", 10, 5)},
        {"mapping with type 9", start("QZFR", 10, 9)},
        {"unknown tag", start("ABCD", 10)},
        {"alias above the buffer", start("ALIS", kFive + 1)},
        {"kernel above its partition", start("FKRN", 0x500001)},
        {"logo above its area", start("LOGO", 0x60000 - 372 + 1)},
        {"short frame", {1, 0, 0, 'A', 'L', 'I', 'S'}},
        {"named with dot dot", namedStart("..", 9, 10)},
        {"named with a slash", namedStart("../configs/tcpip.ini", 9, 10)},
        {"named dot", namedStart(".", 13, 10)},
        {"named empty", namedStart("", 13, 10)},
        {"named with line feed", namedStart("a\nb", 13, 10)},
        {"named 256 bytes", namedStart(std::string(256, 'x'), 9, 10)},
        {"named 245 bytes", namedStart(std::string(245, 'x'), 9, 10)},
        {"named like a temporary, removed at start", namedStart("card.atomic-tmp", 13, 10)},
        {"named type 5", namedStart("x", 5, 10)},
        {"named length past the frame", namedStart("abc", 9, 10, 200)},
        {"named above the buffer", namedStart("big", 9, kFive + 1)},
    };
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "[config]\n"));
    const std::vector<uint8_t> data = pattern(10, 3);
    // No start since power-up, and the boot start (answered with nothing) that stores nothing.
    for (const bool boot : {false, true}) {
        SCOPED_TRACE(boot ? "after a boot start" : "no start");
        if (boot) {
            ASSERT_EQ(send(kController, 0xC0, start("FBOT", 10)), 0u);
        }
        ASSERT_EQ(send(kController, 0xC0, block(0, data)), 2u);
        EXPECT_EQ(buf[10], 1);
        ASSERT_EQ(send(kController, 0xC0, end(digestOf(data))), 3u);
        EXPECT_EQ(buf[12], 1);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(send(kController, 0xC0, c.payload), 3u);
        EXPECT_EQ(buf[10], 1);
        EXPECT_EQ(buf[11], c.payload[0]);
        EXPECT_EQ(buf[12], 2);
        // Blocks and an end with the right digest store nothing anywhere, and both say so.
        ASSERT_EQ(send(kController, 0xC0, block(0, data)), 2u);
        EXPECT_EQ(buf[10], 1);
        ASSERT_EQ(send(kController, 0xC0, end(digestOf(data))), 3u);
        EXPECT_EQ(buf[12], 1);
    }
    EXPECT_EQ(TestRoot::readFile("/data/configs/tcpip.ini"), QByteArray("[config]\n"));
    EXPECT_FALSE(TestRoot::exists("/data/configs/alias.json"));
    EXPECT_FALSE(TestRoot::exists("/data/modes/MO11.json"));
    EXPECT_FALSE(TestRoot::exists("/data/modes/MO00.json"));
    EXPECT_FALSE(TestRoot::exists("/data/rcvrecovery/x"));
    EXPECT_FALSE(TestRoot::exists("/data/smartmapping/big"));
    EXPECT_TRUE(mtdSim().calls().empty());
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N2"), QByteArray());
}

TEST_F(FileTransfer, BlocksOutsideTheFrameOrTheAreaAreRefusedAndLeaveTheDigestAlone)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> start;
        std::vector<uint8_t> request;
    };
    const std::vector<uint8_t> ten = pattern(10, 9);
    const std::vector<Case> cases = {
        {"past the buffer", start("ALIS", 20), block(kFive - 5, ten)},
        {"offset wraps", start("ALIS", 20), block(0xFFFFFFFB, ten)},
        {"past the logo area", start("LOGO", 20), block(0x60000 - 372 - 5, ten)},
        {"past the kernel", start("FKRN", 20), block(0x500000 - 5, ten)},
        {"length past the frame", start("ALIS", 20), block(0, ten, 11)},
        {"huge length", start("ALIS", 20), block(0, ten, 0xFFFFFFF0)},
        {"header only", start("ALIS", 20), {2, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(send(kController, 0xC0, c.start), 3u);
        ASSERT_EQ(buf[10], 0);
        ASSERT_EQ(send(kController, 0xC0, c.request), 2u);
        EXPECT_EQ(buf[10], 1);
        EXPECT_EQ(buf[11], 2);
        // The upload goes on as if the refused block had not come.
        const std::vector<uint8_t> data = document(20, 4);
        send(kController, 0xC0, block(0, data));
        ASSERT_EQ(send(kController, 0xC0, end(digestOf(data))), 3u);
        EXPECT_EQ(buf[12], 0);
    }
    EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), bytes(document(20, 4)));
}

TEST_F(FileTransfer, LogoAndKernelLandInTheirPartitions)
{
    const std::vector<uint8_t> logo = pattern(1001, 5);
    ASSERT_EQ(upload(start("LOGO", 1001), logo), 0);
    const std::vector<uint8_t> part = mtdSim().contents("/dev/mtd8");
    ASSERT_EQ(part.size(), 0x60000u);
    EXPECT_EQ(std::string(part.begin(), part.begin() + 5), "SSTAR");
    EXPECT_EQ(std::string(part.begin() + 0x148, part.begin() + 0x14C), "LOGO");
    EXPECT_EQ(getU32(part.data() + 0x168), 1004u);
    EXPECT_EQ(getU16(part.data() + 0x9C), 320);
    EXPECT_EQ(part[0x16C], 0x2C);
    EXPECT_EQ(std::vector<uint8_t>(part.begin() + 372, part.begin() + 1373), logo);
    EXPECT_TRUE(std::all_of(part.begin() + 1373, part.end(), [](uint8_t b) { return b == 0; }));
    // The whole header, row by row: offset, then the bytes from there (multi-byte values little-endian).
    const std::vector<std::pair<uint32_t, std::vector<uint8_t>>> header = {
        {0x000, {'S', 'S', 'T', 'A', 'R'}}, {0x008, {0x02}}, {0x00C, {'D', 'I', 'S', 'P'}}, {0x02C, {0x04, 0x01}},
        {0x030, {0x38}}, {0x034, {0x01}}, {0x038, {0x44}}, {0x03E, {0x30}}, {0x042, {0x30, 0x03}}, {0x044, {0x01}},
        {0x048, {'L', 'M', 'T', '0', '5', '0', '_', 'N', 'A', 'D'}}, {0x068, {0x30, 0x96, 0x04, 0x08}}, {0x074, {0x01}},
        {0x07D, {1, 1, 1, 1, 2, 2, 1, 1, 1, 1, 0}}, {0x088, {1}}, {0x08A, {1}}, {0x08C, {1}}, {0x08E, {1}},
        {0x090, {0x0A}}, {0x092, {0x0C}}, {0x094, {0x04}}, {0x096, {0x0C}}, {0x09C, {0x40, 0x01, 0xF0, 0x00}},
        {0x0A0, {0x68, 0x01, 0x68, 0x01, 0x68, 0x01, 0x18, 0x01, 0x18, 0x01, 0x18, 0x01}},
        {0x0AC, {0x07}}, {0x0AE, {0x07}}, {0x0B0, {0x06}}, {0x0B2, {0x19}}, {0x0B4, {0xC0}}, {0x0B6, {0xA0, 0xFF}},
        {0x0B8, {0x50}}, {0x0BC, {0x01}}, {0x0C4, {0x02}}, {0x0C8, {0x02}}, {0x0DC, {0x02}},
        {0x0E8, {1}}, {0x0EC, {2}}, {0x0F0, {3}}, {0x0F4, {4}}, {0x148, {'L', 'O', 'G', 'O'}},
        {0x168, {0xEC, 0x03, 0x00, 0x00}}, {0x16C, {0x2C}}, {0x170, {0x01}},
    };
    std::vector<uint8_t> want(372, 0);
    for (const auto& row : header)
        std::copy(row.second.begin(), row.second.end(), want.begin() + row.first);
    EXPECT_EQ(differences(std::vector<uint8_t>(part.begin(), part.begin() + 372), want, 0), "");
    // A second end writes the same partition again.
    ASSERT_EQ(send(kController, 0xC0, end(digestOf(logo))), 3u);
    EXPECT_EQ(buf[12], 0);
    EXPECT_EQ(mtdSim().contents("/dev/mtd8"), part);

    const std::vector<uint8_t> kernel = pattern(70000, 6);
    ASSERT_EQ(upload(start("FKRN", 70000), kernel), 0);
    const std::vector<uint8_t> image = mtdSim().contents("/dev/mtd10");
    ASSERT_EQ(image.size(), 0x500000u);
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 70000), kernel);
    EXPECT_TRUE(std::all_of(image.begin() + 70000, image.end(), [](uint8_t b) { return b == 0; }));
}

// The cloud transfer shares the staging buffer: what it changes between the blocks and the end
// is not the file the digest vouches for.
TEST_F(FileTransfer, EndFailsWhenTheStagingBufferChangedAfterTheBlocks)
{
    // A cloud command that must be accepted (code 200) to reach the buffer.
    auto cloud = [this](uint8_t sub, const std::string& text) {
        std::vector<uint8_t> p = {sub};
        p.insert(p.end(), text.begin(), text.end());
        const uint32_t r = send(kController, 0xC4, p);
        ASSERT_GE(r, 3u);
        ASSERT_NE(std::string(buf.begin() + 12, buf.begin() + 9 + r).find(" 200 "), std::string::npos);
    };
    const std::string cleared = "sendfile filelen:10 \n", junk = "sendfiledata fileid:101 offset:400 extlength:4 \nJUNK";
    struct Case {
        const char* what;
        std::vector<uint8_t> start;
        const char* file; // or nullptr for a partition
        uint8_t sub;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"application, cleared", start("FMCU", 4000), "/data/app/vyrR58N2", 3, cleared},
        {"alias, overwritten", start("ALIS", 4000), "/data/configs/alias.json", 4, junk},
        {"named card file, cleared", namedStart("c.bin", 9, 4000), "/data/rcvrecovery/c.bin", 3, cleared},
        {"kernel, cleared", start("FKRN", 4000), nullptr, 3, cleared},
        {"logo, overwritten", start("LOGO", 4000), nullptr, 4, junk},
    };
    const std::vector<uint8_t> data = pattern(4000, 11);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(send(kController, 0xC0, c.start), 3u);
        ASSERT_EQ(buf[10], 0);
        for (uint32_t at = 0; at < 4000; at += 1000)
            send(kController, 0xC0, block(at, std::vector<uint8_t>(data.begin() + at, data.begin() + at + 1000)));
        cloud(c.sub, c.text);
        ASSERT_EQ(send(kController, 0xC0, end(digestOf(data))), 3u);
        EXPECT_EQ(buf[12], 1);
        if (c.file) {
            EXPECT_FALSE(TestRoot::exists(c.file));
        }
        EXPECT_TRUE(mtdSim().calls().empty());
    }
    EXPECT_EQ(writeReg(14, 0x01, 0), 1);
    EXPECT_EQ(g_app_reset_flag.load(), 0);

    // A partition is written whole: behind the file it keeps the zeros of the start, not the
    // bytes the cloud transfer put there.
    const std::vector<uint8_t> kernel = pattern(100, 12);
    ASSERT_EQ(send(kController, 0xC0, start("FKRN", 100)), 3u);
    send(kController, 0xC0, block(0, kernel));
    cloud(4, "sendfiledata fileid:101 offset:5000 extlength:4 \nJUNK");
    ASSERT_EQ(send(kController, 0xC0, end(digestOf(kernel))), 3u);
    EXPECT_EQ(buf[12], 0);
    const std::vector<uint8_t> image = mtdSim().contents("/dev/mtd10");
    ASSERT_EQ(image.size(), 0x500000u);
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 100), kernel);
    EXPECT_TRUE(std::all_of(image.begin() + 100, image.end(), [](uint8_t b) { return b == 0; }));
}

// Two tools upload at once: the transfer belongs to the one that started first. The other's
// start, blocks and end are refused in their failure forms and change nothing; once the first
// has ended, the second may start.
TEST_F(FileTransfer, AnOpenTransferBelongsToThePeerThatStartedIt)
{
    const uint64_t A = request_peer::tcp(0x7F000001, 1), B = request_peer::tcp(0x7F000001, 2);
    struct Row {
        const char* what;
        std::vector<uint8_t> startA, startB;
        const char *targetA, *targetB;
        uint64_t b; // the second peer
    };
    const std::vector<Row> rows = {
        {"named card files", namedStart("a.bin", 9, 1500), namedStart("b.bin", 13, 1500), "/data/rcvrecovery/a.bin",
         "/data/smartmapping/b.bin", B},
        {"alias and menu", start("ALIS", 1500), start("OSDS", 1500), "/data/configs/alias.json", "/data/configs/omenu.json", B},
        {"card files", start("QZFX", 1500, 9), start("QZFR", 1500, 13), "/data/rcvrecovery/QZFX", "/data/smartmapping/QZFR",
         request_peer::udp(0x7F000001, 40000)},
        {"application and mode", start("FMCU", uint32_t(sampleProgram().size())), start("MO03", 1500), "/data/app/vyrR58N2",
         "/data/modes/MO03.json",
         request_peer::serial(2)},
    };
    uint8_t seed = 20;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> a = isDocument(row.targetA) ? document(1500, seed) : pattern(1500, seed);
        const std::vector<uint8_t> b = isDocument(row.targetB) ? document(1500, seed + 1) : pattern(1500, seed + 1);
        seed += 2;
        if (std::string(row.targetA) == "/data/app/vyrR58N2") // the application: a program of this machine
            a = sampleProgram();
        const uint8_t subA = row.startA[0], subB = row.startB[0];
        ASSERT_EQ(sendAs(A, row.startA), 3u);
        EXPECT_EQ(reply(3), std::vector<uint8_t>({0, subA, 0}));
        ASSERT_EQ(sendAs(row.b, row.startB), 3u);
        EXPECT_EQ(reply(3), std::vector<uint8_t>({1, subB, 2})) << "start of another peer";
        ASSERT_EQ(sendAs(row.b, block(0, b)), 2u);
        EXPECT_EQ(reply(2), std::vector<uint8_t>({1, 2})) << "block of another peer";
        ASSERT_EQ(sendAs(A, block(0, std::vector<uint8_t>(a.begin(), a.begin() + 700))), 2u);
        EXPECT_EQ(reply(2), std::vector<uint8_t>({0, 2}));
        ASSERT_EQ(sendAs(row.b, end(digestOf(b))), 3u);
        EXPECT_EQ(reply(3), std::vector<uint8_t>({0, 3, 1})) << "end of another peer";
        for (size_t at = 700; at < a.size(); at += 1000) { // blocks of a size a frame carries
            const std::vector<uint8_t> part(a.begin() + at, a.begin() + std::min(a.size(), at + 1000));
            ASSERT_EQ(sendAs(A, block(uint32_t(at), part)), 2u);
            EXPECT_EQ(reply(2), std::vector<uint8_t>({0, 2}));
        }
        ASSERT_EQ(sendAs(A, end(digestOf(a))), 3u);
        EXPECT_EQ(reply(3), std::vector<uint8_t>({0, 3, 0})) << "the owner's end stores its own file";
        EXPECT_EQ(TestRoot::readFile(row.targetA), bytes(a));
        EXPECT_FALSE(TestRoot::exists(row.targetB));

        // Ended: the other peer's upload goes through now, and the first one's late end is refused.
        ASSERT_EQ(sendAs(row.b, row.startB), 3u);
        ASSERT_EQ(reply(3), std::vector<uint8_t>({0, subB, 0}));
        ASSERT_EQ(sendAs(row.b, block(0, b)), 2u);
        ASSERT_EQ(sendAs(row.b, end(digestOf(b))), 3u);
        EXPECT_EQ(buf[12], 0);
        EXPECT_EQ(TestRoot::readFile(row.targetB), bytes(b));
        ASSERT_EQ(sendAs(A, end(digestOf(a))), 3u);
        EXPECT_EQ(buf[12], 1);
        EXPECT_EQ(TestRoot::readFile(row.targetA), bytes(a));
        EXPECT_EQ(TestRoot::readFile(row.targetB), bytes(b));
    }
}

// A read transfer belongs to its peer as well: the digest it closes with covers its own blocks.
TEST_F(FileTransfer, AnOpenReadBelongsToThePeerThatStartedIt)
{
    const uint64_t A = request_peer::tcp(0x7F000001, 1), B = request_peer::udp(0x7F000001, 40001);
    const std::vector<uint8_t> alias = pattern(900, 3), card = pattern(300, 4);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/alias.json", bytes(alias)));
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/c.bin", bytes(card)));
    ASSERT_EQ(sendAs(A, {4, 0, 0, 'A', 'L', 'I', 'S'}), 7u);
    ASSERT_EQ(reply(7), std::vector<uint8_t>({0, 4, 1, 0x84, 0x03, 0, 0}));
    ASSERT_EQ(sendAs(A, readBlock(0, 400)), 402u);

    const struct {
        const char* what;
        std::vector<uint8_t> request;
        std::vector<uint8_t> answer; // reply bytes from 10
    } refused[] = {
        {"read start", {4, 0, 0, 'O', 'S', 'D', 'S'}, {0, 4, 0, 0, 0, 0, 0}},
        {"read block", readBlock(0, 16), {1, 5}},
        {"read end", {6}, std::vector<uint8_t>({0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"upload start", start("ALIS", 10), {1, 1, 2}},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(sendAs(B, r.request), uint32_t(r.answer.size()));
        EXPECT_EQ(reply(uint32_t(r.answer.size())), r.answer);
    }
    // A named read of a card file is refused in its own form (byte 11 = 8).
    const std::vector<uint8_t> named = {0x00, 0xF1, 0x10, 0xF0, 5, 0, 0, 0, 0, 0xC0, 8, 0, 0, 0, 0, 'c', '.', 'b', 'i', 'n', 9};
    ASSERT_EQ(deal(named, kMessageBufferSize, B), 7u);
    EXPECT_EQ(reply(7), std::vector<uint8_t>({0, 8, 0, 0, 0, 0, 0}));

    ASSERT_EQ(sendAs(A, readBlock(400, 500)), 502u);
    ASSERT_EQ(sendAs(A, {6}), 18u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 12, buf.begin() + 28), digestOf(alias));
    EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), bytes(alias));
}

// A transfer whose owner falls silent for 30 s (3000 ticks) is dropped: its end stores nothing and
// another peer may start. Every request of the owner restarts the count.
TEST_F(FileTransfer, ATransferSilentForThirtySecondsIsDropped)
{
    const uint64_t A = request_peer::tcp(0x7F000001, 1), B = request_peer::tcp(0x7F000001, 2);
    const std::vector<uint8_t> a = document(800, 1), b = document(800, 2);
    G_timeTicks = 100000;
    ASSERT_EQ(sendAs(A, start("ALIS", 800)), 3u);
    ASSERT_EQ(buf[10], 0);
    G_timeTicks += 2999;
    ASSERT_EQ(sendAs(B, start("OSDS", 800)), 3u);
    EXPECT_EQ(buf[10], 1) << "2999 ticks after the start";
    ASSERT_EQ(sendAs(A, block(0, a)), 2u);
    EXPECT_EQ(buf[10], 0);
    G_timeTicks += 2999;
    ASSERT_EQ(sendAs(B, start("OSDS", 800)), 3u);
    EXPECT_EQ(buf[10], 1) << "2999 ticks after the owner's block";
    G_timeTicks += 1;
    ASSERT_EQ(sendAs(B, start("OSDS", 800)), 3u);
    EXPECT_EQ(buf[10], 0) << "3000 ticks after the owner's block";
    ASSERT_EQ(sendAs(A, end(digestOf(a))), 3u);
    EXPECT_EQ(buf[12], 1);
    ASSERT_EQ(sendAs(B, block(0, b)), 2u);
    ASSERT_EQ(sendAs(B, end(digestOf(b))), 3u);
    EXPECT_EQ(buf[12], 0);
    EXPECT_FALSE(TestRoot::exists("/data/configs/alias.json"));
    EXPECT_EQ(TestRoot::readFile("/data/configs/omenu.json"), bytes(b));

    // The owner itself, silent between two blocks: a block of a dropped transfer says it failed.
    for (uint32_t silence : {2999u, 3000u}) {
        SCOPED_TRACE(silence);
        ASSERT_TRUE(TestRoot::writeFile("/data/configs/alias.json", "old"));
        ASSERT_EQ(sendAs(A, start("ALIS", 800)), 3u);
        ASSERT_EQ(buf[10], 0);
        ASSERT_EQ(sendAs(A, block(0, std::vector<uint8_t>(a.begin(), a.begin() + 300))), 2u);
        G_timeTicks += silence;
        ASSERT_EQ(sendAs(A, block(300, std::vector<uint8_t>(a.begin() + 300, a.end()))), 2u);
        EXPECT_EQ(buf[10], silence < 3000 ? 0 : 1);
        ASSERT_EQ(sendAs(A, end(digestOf(a))), 3u);
        EXPECT_EQ(buf[12], silence < 3000 ? 0 : 1);
        EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), silence < 3000 ? bytes(a) : QByteArray("old"));
    }
}

// An "FMCU" or "FKRN" upload raises the upgrade screen. An upload that ends without storing its
// file takes it down again, one gone silent too without any request after it; a stored one leaves
// it to the tool (register 9) or the reboot, and a USB upgrade begun meanwhile keeps it.
TEST_F(FileTransfer, UpgradeScreenGoesWithAnUploadThatStoresNothing)
{
    MainWindow window;
    g_mainwindow = &window;
    auto shown = [] { return !g_move_update.isNull() && g_move_update->isVisible(); };
    // Queued: the alarm's drop, the dialog request, the window's own call.
    auto serveGui = [] {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    };
    auto silence = [] {
        G_timeTicks += 3000;
        TickAlarm::advanced(G_timeTicks.load());
    };
    const std::vector<uint8_t> app = sampleProgram(), kernel = pattern(1000, 5);
    const auto appStart = start("FMCU", uint32_t(app.size())), kernelStart = start("FKRN", 1000);
    const struct {
        const char* what;
        std::function<void()> run;
        bool stays;
    } rows[] = {
        {"application stored", [&] { EXPECT_EQ(upload(appStart, app), 0); }, true},
        {"kernel stored", [&] { EXPECT_EQ(upload(kernelStart, kernel), 0); }, true},
        {"end with another digest",
         [&] {
             send(kController, 0xC0, kernelStart);
             send(kController, 0xC0, block(0, kernel));
             send(kController, 0xC0, end(digestOf(app)));
         },
         false},
        {"silent for 30 s", [&] { send(kController, 0xC0, appStart); silence(); }, false},
        {"silent while a USB upgrade runs",
         [&] {
             send(kController, 0xC0, appStart);
             g_usb_grade = 1;
             silence();
         },
         true},
        {"replaced by another start", [&] { send(kController, 0xC0, kernelStart); send(kController, 0xC0, start("ALIS", 9)); }, false},
        {"replaced by a refused start", [&] { send(kController, 0xC0, appStart); send(kController, 0xC0, start("MO99", 9)); }, false},
        {"replaced by an upgrade upload", [&] { send(kController, 0xC0, appStart); send(kController, 0xC0, kernelStart); }, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        writeReg(9, 0xFF, 0x0F); // the screen down and the transfer closed before each
        send(kController, 0xC0, end(std::vector<uint8_t>(16, 0)));
        g_usb_grade = 0;
        serveGui();
        ASSERT_FALSE(shown());
        row.run();
        serveGui();
        EXPECT_EQ(shown(), row.stays);
        EXPECT_EQ(g_update_flag.load(), row.stays ? 1 : 0);
    }
    g_usb_grade = 0;
    g_mainwindow = nullptr;
}

TEST_F(FileTransfer, FlashFailureAnswersFailed)
{
    mtdSim().failEraseAt(0x20000);
    EXPECT_EQ(upload(start("FKRN", 100), pattern(100, 1)), 1);
    mtdSim().failEraseAt(-1);
    mtdSim().failGetInfo(true);
    EXPECT_EQ(upload(start("LOGO", 100), pattern(100, 1)), 1);
    mtdSim().failGetInfo(false);
    TestRoot::acceptViolations();
}

TEST_F(FileTransfer, WrongDigestWritesNothingAndAFailedWriteKeepsTheOldFile)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/alias.json", "old"));
    const std::vector<uint8_t> data = document(300, 2);
    ASSERT_EQ(send(kController, 0xC0, start("ALIS", 300)), 3u);
    send(kController, 0xC0, block(0, data));
    std::vector<uint8_t> wrong = digestOf(data);
    wrong[0] ^= 1;
    ASSERT_EQ(send(kController, 0xC0, end(wrong)), 3u);
    EXPECT_EQ(buf[12], 1);
    EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), QByteArray("old"));

    // A target that cannot be written: the old contents stay and the end says failed.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/configs/alias.json.atomic-tmp/x"))));
    EXPECT_EQ(upload(start("ALIS", 300), data), 1);
    EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), QByteArray("old"));
    QDir(QString::fromStdString(TestRoot::path("/data/configs/alias.json.atomic-tmp"))).removeRecursively();

    // A names or menu file its reader would fail on (and delete) does not replace the stored one.
    const struct {
        const char* tag;
        const char* target;
        std::string text;
    } broken[] = {
        {"ALIS", "/data/configs/alias.json", R"({"namelist":{"input":[{"id":1,"name":"Cam"})"},
        {"ALIS", "/data/configs/alias.json", R"({"namelist":{"input":[{"id":1,"name":"Cam"},]}})"},
        {"OSDS", "/data/configs/omenu.json", R"({"osdcount":1,"menu":[)"},
        {"MO02", "/data/modes/MO02.json", "not json"},
        {"OSDS", "/data/configs/omenu.json", std::string(65, '[') + std::string(65, ']')},
    };
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", "old"));
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/MO02.json", "old"));
    for (const auto& b : broken) {
        SCOPED_TRACE(b.text);
        const std::vector<uint8_t> text(b.text.begin(), b.text.end());
        EXPECT_EQ(upload(start(b.tag, uint32_t(text.size())), text), 1);
        EXPECT_EQ(TestRoot::readFile(b.target), QByteArray("old"));
    }

    // Two ends after one upload compare the same digest and both write.
    EXPECT_EQ(upload(start("ALIS", 300), data), 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/alias.json", "changed"));
    ASSERT_EQ(send(kController, 0xC0, end(digestOf(data))), 3u);
    EXPECT_EQ(buf[12], 0);
    EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), bytes(data));
}

TEST_F(FileTransfer, UploadedNamesAreShownAtOnce)
{
    const std::string t = R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Cam"}]}})";
    ASSERT_EQ(upload(start("ALIS", uint32_t(t.size())), std::vector<uint8_t>(t.begin(), t.end())), 0);
    ALIAS_PARA alias;
    EXPECT_EQ(get_json_alias_para(&alias, "source", 2), 1);
    EXPECT_EQ(alias.name, "Cam");
}

TEST_F(FileTransfer, ReadsAreBoundedAndNamesChecked)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", "menu"));
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "secret"));
    // No file open: L + 2 bytes, byte 12 = 0, the rest zero.
    ASSERT_EQ(send(kController, 0xC0, readBlock(0, 8)), 10u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 20), std::vector<uint8_t>({0, 5, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(send(kController, 0xC0, {6}), 18u);
    EXPECT_EQ(buf[11], 6);
    EXPECT_EQ(buf[12], 0);
    // A read that would not fit the transport's buffer is refused.
    ASSERT_EQ(send(kController, 0xC0, readBlock(0, 1000), 600), 2u);
    EXPECT_EQ(buf[10], 1);
    ASSERT_EQ(send(kController, 0xC0, readBlock(0, 0xFFFFFFFF)), 2u);
    EXPECT_EQ(buf[10], 1);
    // Names that leave the card folders open nothing.
    for (const char* name : {"../configs/tcpip.ini", "..", ".", "a/b"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(namedRead(name, 9, uint16_t(strlen(name))), 7u);
        EXPECT_EQ(buf[12], 0);
        EXPECT_EQ(getU32(buf.data() + 13), 0u);
    }
    ASSERT_EQ(namedRead("abc", 9, 500), 7u); // length past the frame
    EXPECT_EQ(buf[12], 0);
    // The named form of a configuration tag, and a short read past the file's end.
    ASSERT_EQ(namedRead("OSDS", 8, 4), 7u);
    EXPECT_EQ(buf[11], 4);
    EXPECT_EQ(buf[12], 1);
    EXPECT_EQ(getU32(buf.data() + 13), 4u);
    ASSERT_EQ(send(kController, 0xC0, readBlock(2, 6)), 8u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 12, buf.begin() + 18), std::vector<uint8_t>({'n', 'u', 0, 0, 0, 0}));
}

TEST_F(FileTransfer, SmallSubCommandsAndDelete)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/a", "1"));
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/b", "2"));
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/keep", "3"));
    QSignalSpy recoveries(CardFileEvents::instance(), &CardFileEvents::recoveryFilesChanged);
    QSignalSpy mappings(CardFileEvents::instance(), &CardFileEvents::mappingFilesChanged);
    ASSERT_EQ(send(kController, 0xC0, {10, 'a'}), 2u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(buf[11], 10);
    ASSERT_EQ(recoveries.count(), 1); // from a delete
    EXPECT_TRUE(recoveries.at(0).at(0).toBool());
    ASSERT_EQ(mappings.count(), 1);
    EXPECT_TRUE(mappings.at(0).at(0).toBool());
    EXPECT_FALSE(TestRoot::exists("/data/smartmapping/a"));
    EXPECT_FALSE(TestRoot::exists("/data/rcvrecovery/b"));
    EXPECT_TRUE(TestRoot::exists("/data/configs/keep"));
    // An entry that cannot be removed (as on a read-only /data): the tool is told, the rest still go.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/rcvrecovery/stuck/c"))));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/d", "4"));
    ASSERT_EQ(send(kController, 0xC0, {10}), 2u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_TRUE(TestRoot::exists("/data/rcvrecovery/stuck/c"));
    EXPECT_FALSE(TestRoot::exists("/data/smartmapping/d"));
    ASSERT_EQ(send(kController, 0xC0, {9}), 2u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(buf[11], 6);
    EXPECT_EQ(send(kController, 0xC0, {11}), 0u);
    EXPECT_EQ(send(kController, 0xC0, start("FBOT", 10)), 0u);
}

TEST_F(FileTransfer, RegisterFourteenReplacesOnlyAVerifiedApplication)
{
    auto moved = [] {
        for (const QString& line : TestRoot::shellLog())
            if (line.startsWith("mv "))
                return true;
        return false;
    };
    ASSERT_TRUE(TestRoot::writeFile("/data/app/vyrR58N", "running"));
    // A stale file from an earlier upload is not put in place.
    ASSERT_TRUE(TestRoot::writeFile("/data/app/vyrR58N2", "stale"));
    EXPECT_EQ(writeReg(14, 0x01, 0), 1);
    EXPECT_FALSE(moved());
    EXPECT_EQ(g_app_reset_flag.load(), 0);

    // A failed read-back leaves the old program and gives the register nothing to install.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/app/vyrR58N2.atomic-tmp/x"))));
    EXPECT_EQ(upload(start("FMCU", 500), pattern(500, 8)), 1);
    QDir(QString::fromStdString(TestRoot::path("/data/app/vyrR58N2.atomic-tmp"))).removeRecursively();
    EXPECT_EQ(writeReg(14, 0x01, 0), 1);
    EXPECT_FALSE(moved());

    // A refused start after a good upload withdraws it as well.
    const std::vector<uint8_t> app = sampleProgram();
    EXPECT_EQ(upload(start("FMCU", uint32_t(app.size())), app), 0);
    send(kController, 0xC0, start("XXXX", 1));
    EXPECT_EQ(writeReg(14, 0x01, 0), 1);
    EXPECT_FALSE(moved());

    EXPECT_EQ(upload(start("FMCU", uint32_t(app.size())), app), 0);
    g_update_status = 0;
    const uint32_t before = G_timeTicks.load();
    EXPECT_EQ(writeReg(14, 0x01, 0), 0);
    EXPECT_TRUE(moved());
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), bytes(app));
    EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2"));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_GE(G_reboot_tickTicks.load(), before);
    struct stat st {};
    ASSERT_EQ(stat(TestRoot::path("/data/app/vyrR58N").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    QSettings launcher(QString::fromStdString(TestRoot::path("/data/configs/led_load_config.ini")), QSettings::IniFormat);
    EXPECT_EQ(launcher.value("app-1/app_name").toString(), QString("vyrR58N"));
    EXPECT_EQ(reboots, 0);

    // The second write before the reboot does nothing; bit 1 reboots at once.
    shellSim().clearLog();
    EXPECT_EQ(writeReg(14, 0x01, 0), 0);
    EXPECT_FALSE(moved());
    EXPECT_EQ(writeReg(14, 0x02, 0), 0);
    EXPECT_EQ(reboots, 1);
}

// The next application must be a program this box can start: anything else fails its end and
// leaves register 14 nothing to put in place; the real program goes in.
TEST_F(FileTransfer, ApplicationThatIsNoProgramOfThisBoxFailsItsEndAndRegisterFourteen)
{
    auto moved = [] { return TestRoot::shellLog().join('\n').contains("mv "); };
    ASSERT_TRUE(TestRoot::writeFile("/data/app/vyrR58N", "running"));
    const std::vector<uint8_t> real = sampleProgram();
    ASSERT_GT(real.size(), 1000u);
    const std::string words = "not a program, but words";
    for (const NotAProgram& row : notProgramsOfThisBox()) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(upload(start("FMCU", uint32_t(row.bytes.size())), row.bytes), 1) << "the end fails";
        EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2"));
        EXPECT_EQ(writeReg(14, 0x01, 0), 1) << "register 14 refused";
        EXPECT_FALSE(moved());
        EXPECT_EQ(g_app_reset_flag.load(), 0);
    }
    // A verified upload whose file was changed behind it before register 14 is not put in place.
    EXPECT_EQ(upload(start("FMCU", uint32_t(real.size())), real), 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/app/vyrR58N2", QByteArray::fromStdString(words)));
    EXPECT_EQ(writeReg(14, 0x01, 0), 1);
    EXPECT_FALSE(moved());
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("running"));

    EXPECT_EQ(upload(start("FMCU", uint32_t(real.size())), real), 0);
    EXPECT_EQ(writeReg(14, 0x01, 0), 0);
    EXPECT_TRUE(moved());
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), bytes(real));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// A program damaged inside (its entry point zeroed) is a well-formed upload: register 14 starts it
// once in its check mode and refuses it with what the start showed. A version older than the check
// start is refused unstarted. The genuine one goes in.
TEST_F(FileTransfer, ApplicationThatFailsItsCheckStartIsNotPutInPlace)
{
    auto moved = [] { return TestRoot::shellLog().join('\n').contains("mv "); };
    ASSERT_TRUE(TestRoot::writeFile("/data/app/vyrR58N", "running"));
    const std::vector<uint8_t> real = sampleProgram(), damaged = withEntryZeroed(real);
    ASSERT_FALSE(damaged.empty());
    const std::pair<std::vector<uint8_t>, const char*> refused[] = {
        {damaged, "application replacement refused: program crashed at its start"},
        {withoutSeal(real), "application replacement refused: program too old for this box"}};
    for (const auto& r : refused) {
        SCOPED_TRACE(r.second);
        EXPECT_EQ(upload(start("FMCU", uint32_t(r.first.size())), r.first), 0) << "its headers are whole";
        EXPECT_EQ(writeReg(14, 0x01, 0), 1);
        EXPECT_FALSE(moved());
        EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("running"));
        EXPECT_EQ(g_app_reset_flag.load(), 0);
        EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains(r.second));
    }

    EXPECT_EQ(upload(start("FMCU", uint32_t(real.size())), real), 0);
    EXPECT_EQ(writeReg(14, 0x01, 0), 0);
    EXPECT_TRUE(moved());
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), bytes(real));
}

TEST_F(FileTransfer, ACheckStartHoldsNoLockAndAnUploadMeanwhileIsNotTheOneChecked)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/app/vyrR58N", "running"));
    const std::vector<uint8_t> real = sampleProgram();
    ASSERT_EQ(upload(start("FMCU", uint32_t(real.size())), real), 0);
    // The first tool's register 14 runs on its own transport; its check start hangs to its limit.
    setenv("VYR_SAMPLE_CHECK_HANGS", "1", 1);
    program_check::setTimeLimitMs(TimeLimit::ms(2000));
    std::atomic<int> firstAnswer{-1};
    std::thread first([&firstAnswer] {
        firstAnswer = SecondWriter::inProcess(request_peer::kLocal + 1).request(0xA0, {14, 0x01, 0, 0x01});
    });
    const bool started = waitFor(checkStartRunning, 2000);
    EXPECT_TRUE(started) << "the check start runs";
    // Meanwhile the file lock is free and a second upload is taken whole.
    const bool locked = Utils::_file_deal_mutex.tryLock(TimeLimit::ms(200));
    EXPECT_TRUE(locked) << "the check start holds the file lock";
    if (locked)
        Utils::_file_deal_mutex.unlock();
    EXPECT_EQ(upload(start("FMCU", uint32_t(real.size())), real), 0);
    first.join();
    // Only now: a child seen started may not have read its environment yet.
    unsetenv("VYR_SAMPLE_CHECK_HANGS");
    EXPECT_EQ(firstAnswer.load(), 1) << "a check that never ends refuses its program";
    EXPECT_EQ(g_update_flag.load(), 1) << "the refusal leaves the update screen the second upload raised";
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("running"));
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    // The refusal took only its own file: the second upload is checked and put in place.
    program_check::setTimeLimitMs(TimeLimit::ms(program_check::kTimeLimitMs));
    EXPECT_EQ(writeReg(14, 0x01, 0), 0);
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), bytes(real));
}

TEST_F(FileTransfer, FpgaRestartTakesItsParametersFromTheFlash)
{
    using platform::Sim::fpgaChip;
    using platform::Sim::fpgaFlash;
    const std::vector<uint8_t> params = pattern(256, 0x40);
    fpgaFlash().store(0x6C0001, params);
    fpga_manage::gpio_write(fpga->rst_fpga0, 16); // FPGA 0 out of reset
    fpga->MCU_REG_func[0][80] = 3;
    auto restart = [this](std::vector<uint8_t> payload, uint16_t dest) {
        return send(dest, 0x84, payload);
    };
    fpgaChip().clearLog();
    // Controller, bit 1 clear, and a wrong count touch nothing.
    ASSERT_EQ(restart({0x02}, kController), 1u);
    EXPECT_EQ(buf[10], 0);
    ASSERT_EQ(restart({0x05}, kFpgaSide), 1u);
    EXPECT_EQ(buf[10], 0x05) << "byte 10 unchanged";
    ASSERT_EQ(restart({0x02, 0x00}, kFpgaSide), 1u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_TRUE(fpgaChip().registerWrites(23).empty());

    ASSERT_EQ(restart({0x02}, kFpgaSide), 1u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(fpgaChip().ram(10, 0, 256), params);
    const std::vector<uint8_t> writes = fpgaChip().registerWrites(23);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back() & 0x40, 0x40);
    EXPECT_EQ(fpga->rst_pending[0].load(), 1) << "held in reset until the worker releases it";

    // A flash that cannot be read answers status 1 and restarts nothing.
    fpga->rst_pending[0] = 0;
    fpgaChip().clearLog();
    fpgaFlash().failNextTransfers(100);
    ASSERT_EQ(restart({}, kFpgaSide), 1u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_TRUE(fpgaChip().registerWrites(23).empty());
    EXPECT_EQ(fpga->rst_pending[0].load(), 0);
    fpgaFlash().failNextTransfers(0);
    TestRoot::acceptViolations();
}

} // namespace
