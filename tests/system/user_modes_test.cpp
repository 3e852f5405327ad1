// User modes stored and recalled by PC tools over TCP on the running program, as several writers
// of the one parameter block meet them: stores in a row, a recall beside another tool's refresh,
// and a mode file that cannot be written.
#include "program.h"
#include "second_writer.h"
#include "test_root.h"

#include "params/vyrrampara.h"
#include "platform/paths.h"

#include <QDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr uint32_t kContrast = 0x882, kCurrentMode = 0x362, kSaveRequest = 0x364;
constexpr int kContrastInRecord = 2 + 0x882 - 0x380; // record byte of the contrast (markers first)

// The factory screen and windows, as a mode stored on a fresh box holds them.
QByteArray modeFile(uint8_t contrast)
{
    QByteArray f(4096, '\0');
    f[0] = f[1] = char(0xAA);
    memcpy(f.data() + 2, default_para_ramlist + 2 + kModeBodyStart - kPersistStart, kModeDataSize);
    f[kContrastInRecord] = char(contrast);
    return f;
}

class UserModes : public ::testing::Test {
protected:
    void start()
    {
        if (port < 0) {
            port = freeTcpPort();
            ASSERT_GT(port, 0);
            ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", QByteArray("[config]\nTcpPort=") + QByteArray::number(port) + "\n"));
        }
        tool.reset();
        program = std::make_unique<Program>(platform::Paths::root());
        tool = std::make_unique<SecondWriter>(SecondWriter::overTcp(port));
        ASSERT_TRUE(tool->connected()) << program->report();
        ASSERT_TRUE(waitFor([this] { return panelServed(*tool); }, 20000)) << "the panel's thread runs";
    }
    // A screenshot: the panel's thread grabs it after what was queued to it before (a refresh).
    static bool panelServed(SecondWriter& c)
    {
        Bytes r;
        return c.request(Wire::readRam(0x800000, 16), &r) == 0 && r.size() == 28 && (r[23] | r[24] | r[25] | r[26]) != 0;
    }
    static int read16(SecondWriter& c, uint32_t address)
    {
        Bytes r;
        return c.request(Wire::readRam(address, 2), &r) == 0 && r.size() == 14 ? r[11] | r[12] << 8 : -1;
    }
    // Mode n's contrast as its record holds it (-1 when the record is not saved).
    static int recordContrast(SecondWriter& c, uint32_t n)
    {
        return read16(c, 0x1000 * n) == 0xAAAA ? read16(c, 0x1000 * n + kContrastInRecord) : -1;
    }
    // Byte `at` of a file of 4096 bytes with its marker (the parameter file, a mode file), else -1.
    static int fileByte(const std::string& path, int at)
    {
        const QByteArray f = TestRoot::readFile(path);
        return f.size() == 4096 && uint8_t(f[0]) == 0xAA ? uint8_t(f[at]) : -1;
    }
    static int fileContrast(uint32_t n) { return fileByte("/data/modes/custom_mode" + std::to_string(n), kContrastInRecord); }

    int port = -1;
    std::unique_ptr<Program> program;
    std::unique_ptr<SecondWriter> tool;
};

}

// Contrast 10, 20, 30, 40, each applied and stored as mode 1-4 at once, with no pause: four modes,
// each with its own contrast; a value applied after a store stays in the block.
TEST_F(UserModes, StoresInARowKeepEveryModeAndTheLastValueWritten)
{
    start();
    for (uint16_t n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        ASSERT_EQ(tool->set16(kContrast, uint16_t(10 * n)), 0);
        EXPECT_EQ(tool->set16(kSaveRequest, n), 0);
    }
    EXPECT_EQ(read16(*tool, kContrast), 40);
    EXPECT_EQ(read16(*tool, kCurrentMode), 4);
    ASSERT_EQ(tool->set16(kContrast, 44), 0);
    EXPECT_EQ(read16(*tool, kContrast), 44) << "not mode 4's contrast loaded over it";
    EXPECT_EQ(read16(*tool, kCurrentMode), 0);
    for (uint32_t n = 1; n <= 4; ++n) {
        EXPECT_EQ(recordContrast(*tool, n), int(10 * n)) << n;
        EXPECT_EQ(fileContrast(n), int(10 * n)) << n;
    }
}

// Tool A writes the recall of mode 4; tool B sets the box's own address again, whose refresh
// runs (B's screenshot waits for the panel's thread, which serves the refresh first); A applies.
TEST_F(UserModes, RecallBesideAnotherToolsNetworkSetLoadsTheMode)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/custom_mode4", modeFile(61)));
    start();
    SecondWriter b = SecondWriter::overTcp(port);
    ASSERT_TRUE(b.connected());
    ASSERT_EQ(tool->set16(kContrast, 62), 0);
    ASSERT_TRUE(waitFor([] { return fileByte("/data/ram_device_info", 2 + kContrast - 0x300) == 62; }, 10000)) << "applied and saved";

    ASSERT_EQ(tool->writeBlock(kCurrentMode, {4, 0}), 0);
    const Bytes address = {1, 0, 0, 0, 10, 0, 0, 7, 255, 255, 0, 0, 10, 0, 0, 1, uint8_t(port), uint8_t(port >> 8)};
    ASSERT_EQ(b.request(0xA4, address), 0);
    ASSERT_TRUE(panelServed(b)) << "B's screenshot";
    EXPECT_EQ(tool->apply(), 0);
    EXPECT_EQ(read16(*tool, kContrast), 61) << program->report();
    EXPECT_EQ(read16(*tool, kCurrentMode), 4);
}

// Mode 3 holds contrast 20; its new file cannot be written (a folder where the writer's temporary
// file goes): a store and a replacement of the record are answered failure, and the record holds
// 20 before and after a restart.
TEST_F(UserModes, UnwritableModeFileIsAnsweredFailureAndTheRecordOutlivesARestart)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/custom_mode3", modeFile(20)));
    start();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/modes/custom_mode3.atomic-tmp/x"))));
    ASSERT_EQ(tool->set16(kContrast, 33), 0);
    ASSERT_EQ(tool->writeBlock(kSaveRequest, {3, 0}), 0);
    EXPECT_EQ(tool->apply(), 1);
    EXPECT_EQ(recordContrast(*tool, 3), 20);
    EXPECT_NE(read16(*tool, kCurrentMode), 3);
    EXPECT_EQ(fileContrast(3), 20);
    // The same record replaced with group 0x60 and saved (register 11 bit 2).
    ASSERT_EQ(tool->writeBlock(0x3000 + kContrastInRecord, {44, 0}), 0);
    EXPECT_EQ(tool->request(0xA0, {11, 0x04, 0, 0}), 1);
    EXPECT_EQ(recordContrast(*tool, 3), 20);

    program.reset();
    start();
    EXPECT_EQ(recordContrast(*tool, 3), 20);
}

// Contrast 70 saved; tool A writes contrast 50 and the recall of mode 3 and does not apply; tool B
// restores the factory settings (register 16 bit 0, contrast 50): the box set 50, so the file and
// the next start hold it, and A's apply, whose recall the restore dropped, is answered 1.
TEST_F(UserModes, RestoreOverAToolsUnappliedBytesIsSavedAndAnswersItsRecall)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/custom_mode3", modeFile(61)));
    start();
    SecondWriter b = SecondWriter::overTcp(port);
    const auto saved = [] { return fileByte("/data/ram_device_info", 2 + kContrast - 0x300); };
    ASSERT_EQ(tool->set16(kContrast, 70), 0);
    ASSERT_TRUE(waitFor([&] { return saved() == 70; }, 10000));
    ASSERT_EQ(tool->writeBlock(kContrast, {50, 0}), 0);
    ASSERT_EQ(tool->writeBlock(kCurrentMode, {3, 0}), 0);
    ASSERT_EQ(b.request(Wire::request(0xA0, {16, 0x01, 0, 0})), 0);
    EXPECT_TRUE(waitFor([&] { return saved() == 50; }, 10000)) << "saved after the restore";
    EXPECT_EQ(tool->apply(), 1);
    EXPECT_EQ(read16(*tool, kContrast), 50) << "mode 3 not loaded";
    program.reset();
    start();
    EXPECT_EQ(read16(*tool, kContrast), 50);
}
