#include "platform/paths.h"
#include "platform/shell.h"
#include "test_root.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

using platform::shell;

unsigned modeOf(const std::string& absolute)
{
    struct stat st;
    return ::stat(TestRoot::path(absolute).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
}

TEST(ShellFiles, RemovesUnderTheRoot)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/custom_mode3/a.bin", "a"));
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/MO03.json", "{}"));
    ASSERT_TRUE(TestRoot::writeFile("/data/keep.json", "{}"));

    EXPECT_EQ(shell().system("rm  -rf  /data/modes/custom_mode3"), 0);
    EXPECT_FALSE(TestRoot::exists("/data/modes/custom_mode3"));
    EXPECT_EQ(shell().system("rm /data/modes/MO03.json"), 0);
    EXPECT_FALSE(TestRoot::exists("/data/modes/MO03.json"));
    EXPECT_TRUE(TestRoot::exists("/data/keep.json"));

    EXPECT_EQ(shell().system("rm /data/modes"), 256); // a folder needs -r
    EXPECT_TRUE(TestRoot::exists("/data/modes"));
    EXPECT_EQ(shell().system("rm /data/missing"), 256);
    EXPECT_EQ(shell().system("rm -rf /data/missing"), 0);
    EXPECT_EQ(shell().system("rm -fr /data/modes"), 0);
    EXPECT_FALSE(TestRoot::exists("/data/modes"));
    EXPECT_EQ(shell().system("rm -z /data/keep.json"), 256);
    EXPECT_TRUE(TestRoot::exists("/data/keep.json"));
}

TEST(ShellFiles, CopiesAndMoves)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/omenu.json", "{\"osd\":1}"));
    ASSERT_TRUE(TestRoot::writeFile("/data/modes/MO0c.json", "old"));

    EXPECT_EQ(shell().system("cp  /data/configs/omenu.json /data/modes/MO0c.json"), 0);
    EXPECT_EQ(TestRoot::readFile("/data/modes/MO0c.json"), "{\"osd\":1}");
    EXPECT_EQ(shell().system("cp /data/configs/omenu.json /data/modes"), 0);
    EXPECT_EQ(TestRoot::readFile("/data/modes/omenu.json"), "{\"osd\":1}");
    EXPECT_EQ(shell().system("cp /data/configs/none.json /data/modes/x.json"), 256);
    EXPECT_FALSE(TestRoot::exists("/data/modes/x.json"));

    EXPECT_EQ(shell().system("cp /data/configs /data/backup"), 256); // a folder needs -r
    EXPECT_FALSE(TestRoot::exists("/data/backup"));
    EXPECT_EQ(shell().system("cp -r /data/configs /data/backup"), 0);
    EXPECT_EQ(TestRoot::readFile("/data/backup/omenu.json"), "{\"osd\":1}");

    EXPECT_EQ(shell().system("mv /data/modes/MO0c.json /data/modes/MO0d.json"), 0);
    EXPECT_FALSE(TestRoot::exists("/data/modes/MO0c.json"));
    EXPECT_EQ(TestRoot::readFile("/data/modes/MO0d.json"), "{\"osd\":1}");
    EXPECT_EQ(shell().system("mv /data/modes/MO0d.json /data/backup"), 0);
    EXPECT_TRUE(TestRoot::exists("/data/backup/MO0d.json"));
    EXPECT_EQ(shell().system("mv /data/nothing /data/else"), 256);
}

TEST(ShellFiles, MakesFoldersAndChangesModes)
{
    EXPECT_EQ(shell().system("mkdir /data/a/b"), 256); // no parent without -p
    EXPECT_EQ(shell().system("mkdir -p /data/a/b"), 0);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(TestRoot::path("/data/a/b"))).isDir());
    EXPECT_EQ(shell().system("mkdir /data/a/b"), 256); // exists
    EXPECT_EQ(shell().system("mkdir -p /data/a/b"), 0);

    ASSERT_TRUE(TestRoot::writeFile("/data/a/app", "#!/bin/sh\n"));
    EXPECT_EQ(shell().system("chmod 640 /data/a/app"), 0);
    EXPECT_EQ(modeOf("/data/a/app"), 0640u);
    EXPECT_EQ(shell().system("chmod +x /data/a/app"), 0);
    EXPECT_EQ(modeOf("/data/a/app"), 0751u);
    EXPECT_EQ(shell().system("chmod 9x /data/a/app"), 256);
    EXPECT_EQ(modeOf("/data/a/app"), 0751u);
    EXPECT_EQ(shell().system("chmod 644 /data/a/none"), 256);
    EXPECT_EQ(shell().system("chmod -R 700 /data/a"), 0);
    EXPECT_EQ(modeOf("/data/a/app"), 0700u);
    EXPECT_EQ(modeOf("/data/a/b"), 0700u);
    EXPECT_EQ(shell().system("sync"), 0);
}

TEST(ShellFiles, WordsAsShellSplitsThem)
{
    ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/my file.json", "q"));
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/one.rcv", "1"));
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/two.rcv", "2"));
    ASSERT_TRUE(TestRoot::writeFile("/data/rcvrecovery/keep.txt", "k"));

    EXPECT_EQ(shell().system("cp '/mnt/usb1/my file.json' \"/data/a b.json\""), 0);
    EXPECT_EQ(TestRoot::readFile("/data/a b.json"), "q");
    EXPECT_EQ(shell().system("rm -rf /data/rcvrecovery/*.rcv"), 0);
    EXPECT_FALSE(TestRoot::exists("/data/rcvrecovery/one.rcv"));
    EXPECT_FALSE(TestRoot::exists("/data/rcvrecovery/two.rcv"));
    EXPECT_TRUE(TestRoot::exists("/data/rcvrecovery/keep.txt"));
    EXPECT_EQ(shell().system("rm '/data/rcvrecovery/*.txt'"), 256); // quoted: no expansion

    EXPECT_EQ(shell().system("rm -rf /data/a\\ b.json >/dev/null 2>&1"), 0);
    EXPECT_FALSE(TestRoot::exists("/data/a b.json"));
    EXPECT_FALSE(TestRoot::exists("/dev/null"));
    // A redirection target written apart is no operand: cp keeps its two paths.
    EXPECT_EQ(shell().system("cp /mnt/usb1/my\\ file.json /data/c.json > /data/cp.log"), 0);
    EXPECT_EQ(TestRoot::readFile("/data/c.json"), "q");

    // Lists and pipes are not modelled: refused rather than half done.
    EXPECT_EQ(shell().system("rm -rf /data/rcvrecovery; rm -rf /mnt"), 256);
    EXPECT_EQ(shell().system("rm -rf /data/rcvrecovery && sync"), 256);
    EXPECT_TRUE(TestRoot::exists("/data/rcvrecovery/keep.txt"));
    EXPECT_TRUE(TestRoot::exists("/mnt/usb1/my file.json"));
}

class ShellEscapes : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder next to the root, which "/.." from inside the root would reach.
        const std::string root = platform::Paths::root();
        outsideName_ = "outside-" + root.substr(root.rfind('/') + 1);
        outside_ = root.substr(0, root.rfind('/')) + "/" + outsideName_;
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(outside_)));
        ASSERT_TRUE(TestRoot::writeFile("/../" + outsideName_ + "/victim", "v"));
        ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(outside_ + "/victim")));
        ASSERT_TRUE(TestRoot::writeFile("/data/inside", "i"));
    }
    void TearDown() override { QDir(QString::fromStdString(outside_)).removeRecursively(); }
    std::string outsideName_;
    std::string outside_;
};

TEST_F(ShellEscapes, PathsLeavingTheRootChangeNothing)
{
    const std::string out = "/../" + outsideName_;
    EXPECT_EQ(shell().system("rm -rf " + out), 256);
    EXPECT_EQ(shell().system("rm -rf /data/../../" + outsideName_ + "/victim"), 256);
    EXPECT_EQ(shell().system("cp /data/inside " + out + "/copied"), 256);
    EXPECT_EQ(shell().system("mv " + out + "/victim /data/stolen"), 256);
    EXPECT_EQ(shell().system("mkdir -p " + out + "/made"), 256);
    EXPECT_EQ(shell().system("chmod 000 " + out + "/victim"), 256);
    EXPECT_EQ(shell().system("rm -rf data/inside"), 256); // relative
    // One bad operand stops the whole command.
    EXPECT_EQ(shell().system("rm -rf /data/inside " + out), 256);
    EXPECT_EQ(shell().system("rm -rf /"), 256);

    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(outside_ + "/victim")));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(outside_ + "/copied")));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(outside_ + "/made")));
    EXPECT_FALSE(TestRoot::exists("/data/stolen"));
    EXPECT_TRUE(TestRoot::exists("/data/inside"));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(platform::Paths::root())));
    struct stat st;
    ASSERT_EQ(::stat((outside_ + "/victim").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0777, 0u);
}

}
