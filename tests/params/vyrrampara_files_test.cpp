#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "test_root.h"
#include "time_limit.h"
#include "lock_waiters.h"
#include "program.h"
#include "params/vyrrampara.h"
#include "platform/sim/sim_board.h"

#include "base/utils.h"
#include "store_face.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <unistd.h>

namespace {

const char* kPara = "/data/ram_device_info";

QByteArray defaultsImage()
{
    return QByteArray(reinterpret_cast<const char*>(default_para_ramlist), 4096);
}

}

TEST(ParaFile, FirstStartCreatesTheDefaults)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    const QByteArray file = TestRoot::readFile(kPara);
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(uint8_t(file[0]), 0xAA);
    EXPECT_EQ(uint8_t(file[1]), 0xAA);
    EXPECT_EQ(file, defaultsImage());
    EXPECT_EQ(getU16(reinterpret_cast<const uint8_t*>(file.constData()) + 0x264), 1920) << "LED width";
    EXPECT_EQ(getU16(reinterpret_cast<const uint8_t*>(file.constData()) + 0x582), 100) << "brightness";
    EXPECT_TRUE(file.mid(3330).count('\0') == 766);
    EXPECT_EQ(s->u16(0x880), 100);
    EXPECT_TRUE(TestRoot::exists("/data/modes"));
}

TEST(ParaFile, WrongMarkerIsReplacedByDefaults)
{
    QByteArray damaged = defaultsImage();
    damaged[0] = char(0xAB);
    damaged[2] = 3;                             // language
    damaged[0x582] = 7;                         // brightness
    ASSERT_TRUE(TestRoot::writeFile(kPara, damaged));
    VyrRamPara* s = VyrRamPara::pInstance();
    EXPECT_EQ(s->u16(0x880), 100);
    EXPECT_EQ(testBlock(s)[0x300], 0);
    EXPECT_EQ(TestRoot::readFile(kPara), defaultsImage());
}

TEST(ParaFile, ShortFileKeepsItsBytesAndDefaultsTheRest)
{
    QByteArray shortFile = defaultsImage().left(0x100);
    shortFile[2] = 1; // English
    ASSERT_TRUE(TestRoot::writeFile(kPara, shortFile));
    VyrRamPara* s = VyrRamPara::pInstance();
    EXPECT_EQ(testBlock(s)[0x300], 1);
    EXPECT_EQ(s->u16(0x880), 100) << "never zeros";
    EXPECT_EQ(s->u16(0x562), 1920);
}

TEST(ParaFile, SaveRoundTripsAndKeepsTheLength)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    uint8_t snapshot[kBlockSize];
    memcpy(snapshot, testBlock(s), kBlockSize);
    blk::put16(snapshot, blk::kBrightness, 42);
    snapshot[0xFFF] = 0x5C;
    snapshot[0x100] = 9; // volatile, never saved
    s->setU16(blk::kBrightness, 77); // the live block has moved on since the snapshot
    ASSERT_TRUE(s->para_file_save(snapshot));
    const QByteArray file = TestRoot::readFile(kPara);
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(uint8_t(file[0x582]), 42) << "the snapshot is saved, not the live block";
    EXPECT_EQ(uint8_t(file[3329]), 0x5C);
    EXPECT_FALSE(TestRoot::exists("/data/ram_device_info.atomic-tmp"));
}

TEST(ParaFile, SaveFailureIsReported)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    // A folder in place of the temporary file makes the write fail.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/ram_device_info.atomic-tmp/x"))));
    s->setU16(0x880, 42);
    EXPECT_FALSE(s->para_file_save(testBlock(s)));
    EXPECT_EQ(TestRoot::readFile(kPara), defaultsImage()) << "the old file stays whole";
}

TEST(ModeFiles, SaveWithMenuCopy)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", "{\"osdcount\":0}"));
    s->setU16(0x84C, 1);
    s->setU16(0x880, 33);
    platform::Sim::shellSim().clearLog();
    EXPECT_TRUE(s->storeMode(11));
    const QByteArray file = TestRoot::readFile("/data/modes/custom_mode12");
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(uint8_t(file[0]), 0xAA);
    EXPECT_EQ(uint8_t(file[2 + 0x880 - 0x380]), 33);
    EXPECT_TRUE(s->VyrUserModeSaved(11));
    EXPECT_EQ(TestRoot::readFile("/data/modes/MO0c.json"), QByteArray("{\"osdcount\":0}"));
    for (const std::string& c : platform::Sim::shellSim().commands())
        EXPECT_NE(c.rfind("cp ", 0), 0u) << "copied in place by the shell: " << c;
}

TEST(ModeFiles, MenuCopyReplacesTheOldFileWholeNeverInPlace)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/MO04.json", "{\"old\":1}"));
    // A second name for the old file sees what a reader or a kill in the middle would see.
    ASSERT_EQ(link(TestRoot::path("/data/modes/MO04.json").c_str(), TestRoot::path("/data/old.json").c_str()), 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", QByteArray(20000, 'n')));
    s->setU16(blk::kOsdMenu, 1);
    ASSERT_TRUE(s->storeMode(3));
    EXPECT_EQ(TestRoot::readFile("/data/modes/MO04.json"), QByteArray(20000, 'n'));
    EXPECT_EQ(TestRoot::readFile("/data/old.json"), QByteArray("{\"old\":1}")) << "written in place";
    EXPECT_FALSE(TestRoot::exists("/data/modes/MO04.json.atomic-tmp"));

    // With no menu file there is nothing to copy, and the old copy stays.
    QFile::remove(QString::fromStdString(TestRoot::path("/data/configs/omenu.json")));
    ASSERT_TRUE(s->storeMode(3));
    EXPECT_EQ(TestRoot::readFile("/data/modes/MO04.json"), QByteArray(20000, 'n'));
}

TEST(ModeFiles, RecordsStayWritableWhileASaveWaitsForTheFile)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    s->mode[6][0] = 0xAA;
    s->mode[6][1] = 0xAA;
    s->mode[6][10] = 0x01;
    std::future<bool> save;
    std::future<uint32_t> protocol;
    {
        // An upload holds the file mutex, so the save of mode 7 waits for it.
        QMutexLocker upload(&Utils::_file_deal_mutex);
        save = std::async(std::launch::async, [s] { return s->storeMode(6); });
        ASSERT_TRUE(waitFor([] { return LockWaiters::waited(Utils::_file_deal_mutex); }, 5000)) << "the save waits for the file";
        const uint8_t byte = 0x77;
        protocol = std::async(std::launch::async, [s, byte] { return s->VyrModeUserRamParaDeal(&byte, 1, 0x700A); });
        EXPECT_EQ(protocol.wait_for(TimeLimit::of(5000)), std::future_status::ready)
            << "a protocol write into the records waited for the file";
        EXPECT_EQ(save.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    }
    EXPECT_EQ(protocol.get(), 0u);
    EXPECT_TRUE(save.get());
    EXPECT_EQ(s->recordByte(6, 10), 0x77) << "the save did not write its old copy back over the write";
    EXPECT_EQ(s->mode[6][0], 0xAA);
}

TEST(ParaFile, LeftoversOfAKilledWriterAreRemovedAtStart)
{
    const char* leftovers[] = {"/data/ram_device_info.atomic-tmp", "/data/modes/custom_mode3.atomic-tmp",
                               "/data/modes/MO03.json.atomic-tmp", "/data/configs/omenu.json.atomic-tmp"};
    for (const char* path : leftovers)
        ASSERT_TRUE(TestRoot::writeFile(path, "half"));
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/notes.tmp", "kept"));
    VyrRamPara::pInstance();
    for (const char* path : leftovers)
        EXPECT_FALSE(TestRoot::exists(path)) << path;
    EXPECT_TRUE(TestRoot::exists("/data/modes/notes.tmp"));
}

TEST(ModeFiles, NoMenuCopyWhenMenuOff)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", "{}"));
    s->setU16(0x84C, 0);
    EXPECT_TRUE(s->storeMode(11));
    EXPECT_FALSE(TestRoot::exists("/data/modes/MO0c.json"));
    EXPECT_FALSE(s->storeMode(16));
}

TEST(ModeFiles, DeleteRemovesBothFilesWithExactCommands)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    s->setU16(0x84C, 1);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", "{}"));
    ASSERT_TRUE(s->storeMode(2));
    ASSERT_TRUE(TestRoot::exists("/data/modes/MO03.json"));
    platform::Sim::shellSim().clearLog();
    EXPECT_EQ(s->mode_file_deal(2, 1), 0u);
    EXPECT_FALSE(TestRoot::exists("/data/modes/custom_mode3"));
    EXPECT_FALSE(TestRoot::exists("/data/modes/MO03.json"));
    EXPECT_EQ(s->mode[2][0], 0xFF);
    EXPECT_EQ(s->mode[2][1], 0xFF);
    const auto commands = platform::Sim::shellSim().commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], "rm  -rf  /data/modes/custom_mode3");
    EXPECT_EQ(commands[1], "rm  -rf  /data/modes/MO03.json");
    EXPECT_EQ(commands[2], "sync");
}

TEST(ModeFiles, RoundTripAcrossRestartAndDamagedFiles)
{
    // Written as a previous start would have left them.
    QByteArray good(4096, '\0');
    good[0] = char(0xAA);
    good[1] = char(0xAA);
    good[2 + 0x10] = 0x42;
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/custom_mode1", good));
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/custom_mode2", good.left(1000)));  // short
    QByteArray badMarker = good;
    badMarker[1] = 0;
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/custom_mode3", badMarker));

    VyrRamPara* s = VyrRamPara::pInstance();
    EXPECT_TRUE(s->VyrUserModeSaved(0));
    EXPECT_EQ(s->mode[0][2 + 0x10], 0x42);
    EXPECT_FALSE(s->VyrUserModeSaved(1)) << "a short file is not a saved mode";
    EXPECT_EQ(s->mode[1][0], 0xFF);
    EXPECT_FALSE(s->VyrUserModeSaved(2));
    EXPECT_FALSE(s->VyrUserModeSaved(3));
    EXPECT_EQ(s->mode_file_deal(16, 0), 0u);
}

TEST(ModeFiles, UnwritableModeLeavesTheRecord)
{
    VyrRamPara* s = VyrRamPara::pInstance();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/modes/custom_mode5.atomic-tmp"))));
    s->mode[4][5] = 0x11;
    EXPECT_FALSE(s->storeMode(4));
    EXPECT_FALSE(s->VyrUserModeSaved(4));
    EXPECT_EQ(s->mode[4][5], 0x11);
}
