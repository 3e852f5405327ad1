// The log line format, the echo rules, the 511-byte cut, folder creation and the 10 MiB restart.
#include "base/global.h"
#include "base/logMsg.h"
#include "test_root.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <ctime>
#include <thread>
#include <vector>

namespace {

const char* const kLog = "/data/keltoqz/log/jtcEnglneLog";

QList<QByteArray> logLines()
{
    QList<QByteArray> lines = TestRoot::readFile(kLog).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

std::string echoOf(int level, uint8_t debugSwitch, const std::string& text)
{
    g_debugSwitch = debugSwitch;
    testing::internal::CaptureStdout();
    writeLogMsg(level, text);
    return testing::internal::GetCapturedStdout();
}

TEST(LogMsg, LineFormatAndFolderCreation)
{
    ASSERT_FALSE(TestRoot::exists("/data/keltoqz/log"));
    const time_t before = time(nullptr);
    writeLogMsg(LOG_ERROR, "eth0 missing");
    const QByteArray all = TestRoot::readFile(kLog);
    const QRegularExpression form(
        "^\\[(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\\] \\[ENGINEASSEMBLY\\] \\[ERROR   \\] # PELOMSG # eth0 missing\\n$");
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(all));
    ASSERT_TRUE(m.hasMatch()) << all.constData();

    struct tm stamp = {};
    ASSERT_NE(strptime(m.captured(1).toLatin1().constData(), "%Y-%m-%d %H:%M:%S", &stamp), nullptr);
    stamp.tm_isdst = -1;
    const time_t logged = mktime(&stamp);
    EXPECT_GE(logged, before - 1);
    EXPECT_LE(logged, time(nullptr) + 1);
}

TEST(LogMsg, LevelTags)
{
    const char* tags[] = {" [ENGINEASSEMBLY] [CRITICAL] ", " [ENGINEASSEMBLY] [ERROR   ] ",
                          " [ENGINEASSEMBLY] [WARNING ] ", " [ENGINEASSEMBLY] [INFO    ] ",
                          " [ENGINEASSEMBLY] [DEBUG   ] "};
    g_debugSwitch = 0;
    for (int level = 0; level <= 5; ++level)
        writeLogMsg(level, "m" + std::to_string(level));
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 6);
    for (int level = 0; level < 5; ++level)
        EXPECT_EQ(lines[level].mid(21), QByteArray(tags[level]) + "# PELOMSG # m" + QByteArray::number(level));
    // An unknown level has no tag at all.
    EXPECT_EQ(lines[5].mid(21), QByteArray("# PELOMSG # m5"));
}

TEST(LogMsg, EchoRules)
{
    EXPECT_EQ(echoOf(LOG_ERROR, 1, "e1"), "e1\n");
    EXPECT_EQ(echoOf(LOG_ERROR, 0, "e0"), "");
    EXPECT_EQ(echoOf(LOG_WARNING, 2, "w2"), "");
    EXPECT_EQ(echoOf(LOG_WARNING, 3, "w3"), "w3\n");
    EXPECT_EQ(echoOf(LOG_INFO, 2, "i2"), "");
    EXPECT_EQ(echoOf(LOG_INFO, 3, "i3"), "i3\n");
    EXPECT_EQ(echoOf(LOG_DEBUG, 3, "d3"), "");
    EXPECT_EQ(echoOf(LOG_DEBUG, 4, "d4"), "d4\n");
    EXPECT_EQ(echoOf(LOG_CRITICAL, 254, "c"), "");
    EXPECT_EQ(echoOf(9, 254, "other"), "");
    // Echoed or not, every message is in the file.
    EXPECT_EQ(logLines().size(), 10);
}

TEST(LogMsg, LongMessageIsCutAndStillEndsTheLine)
{
    g_debugSwitch = 0;
    writeLogMsg(LOG_INFO, std::string(600, 'x'));
    writeLogMsg(LOG_INFO, "after");
    const QByteArray all = TestRoot::readFile(kLog);
    const int firstEnd = all.indexOf('\n');
    EXPECT_EQ(firstEnd, 510); // 511 bytes including the line feed
    EXPECT_TRUE(all.left(firstEnd).endsWith("xxxx"));
    EXPECT_TRUE(all.mid(firstEnd + 1).startsWith("["));
    EXPECT_TRUE(all.endsWith("# PELOMSG # after\n"));

    // A message that just fits is not cut: stamp 21 + tag 29 + marker 12 + 448 + line feed = 511.
    writeLogMsg(LOG_INFO, std::string(448, 'y'));
    EXPECT_TRUE(logLines().last().endsWith(QByteArray(448, 'y')));
}

TEST(LogMsg, FileRemovedAtTenMiB)
{
    g_debugSwitch = 0;
    ASSERT_TRUE(TestRoot::writeFile(kLog, QByteArray(0xA00000 - 10, '.')));
    writeLogMsg(LOG_INFO, "crosses the limit");
    EXPECT_FALSE(TestRoot::exists(kLog));
    writeLogMsg(LOG_INFO, "fresh");
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("# PELOMSG # fresh"));
}

TEST(LogMsg, ThreadsAppendWholeLines)
{
    g_debugSwitch = 0;
    constexpr int kThreads = 8, kEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                writeLogMsg(LOG_DEBUG, "thread " + std::to_string(t) + " " + std::string(300, char('a' + t)));
        });
    for (std::thread& th : threads)
        th.join();
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), kThreads * kEach);
    const QRegularExpression whole("^\\[[^\\]]+\\] \\[ENGINEASSEMBLY\\] \\[DEBUG   \\] # PELOMSG # thread (\\d) ([a-h])\\2{299}$");
    for (const QByteArray& line : lines) {
        const QRegularExpressionMatch m = whole.match(QString::fromLatin1(line));
        ASSERT_TRUE(m.hasMatch()) << line.constData();
        EXPECT_EQ(m.captured(2).at(0).unicode(), 'a' + m.captured(1).toInt());
    }
}

}
