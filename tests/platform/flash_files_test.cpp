#include "platform/mtd.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace {

using platform::EraseInfo;
using platform::MtdInfo;
using platform::mtd;
using platform::Sim::mtdSim;

constexpr uint32_t Block = 0x10000;
constexpr uint32_t Page = 2048;
constexpr uint32_t LogoSize = 0x60000;

class FlashFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        fd_ = mtd().open("/dev/mtd8");
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override
    {
        if (fd_ >= 0)
            mtd().close(fd_);
    }
    int fd_ = -1;
};

TEST(FlashFilesOpen, KnownPartitionsOnly)
{
    errno = 0;
    EXPECT_EQ(mtd().open("/dev/mtd9"), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(mtd().open("/dev/../dev/mtd8"), -1);
    EXPECT_FALSE(TestRoot::exists("/dev/mtd9"));

    const int kernel = mtd().open("/dev/mtd10");
    ASSERT_GE(kernel, 0);
    MtdInfo info;
    ASSERT_EQ(mtd().getInfo(kernel, &info), 0);
    EXPECT_EQ(info.size, 0x500000u);
    EXPECT_EQ(mtd().close(kernel), 0);
    EXPECT_EQ(TestRoot::readFile("/dev/mtd10").size(), 0x500000);

    errno = 0;
    EXPECT_EQ(mtd().close(kernel), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(mtd().getInfo(kernel, &info), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(FlashFilesOpen, ExistingImageIsKeptAndPaddedErased)
{
    ASSERT_TRUE(TestRoot::writeFile("/dev/mtd8", QByteArray("\x12\x34", 2)));
    const int fd = mtd().open("/dev/mtd8");
    ASSERT_GE(fd, 0);
    mtd().close(fd);
    const std::vector<uint8_t> image = mtdSim().contents("/dev/mtd8");
    ASSERT_EQ(image.size(), LogoSize);
    EXPECT_EQ(image[0], 0x12);
    EXPECT_EQ(image[1], 0x34);
    EXPECT_EQ(image[2], 0xFF);
    EXPECT_EQ(image[LogoSize - 1], 0xFF);
}

TEST_F(FlashFiles, GeometryAndItsFailure)
{
    MtdInfo info;
    ASSERT_EQ(mtd().getInfo(fd_, &info), 0);
    EXPECT_EQ(info.size, LogoSize);
    EXPECT_EQ(info.erasesize, Block);
    EXPECT_EQ(info.writesize, Page);

    mtdSim().failGetInfo(true);
    errno = 0;
    EXPECT_EQ(mtd().getInfo(fd_, &info), -1);
    EXPECT_EQ(errno, EIO);
    mtdSim().failGetInfo(false);
    EXPECT_EQ(mtd().getInfo(fd_, &info), 0);
}

TEST_F(FlashFiles, ProgramOnlyClearsBitsAndEraseRestores)
{
    const std::vector<uint8_t> erased = mtdSim().contents("/dev/mtd8");
    ASSERT_EQ(erased, std::vector<uint8_t>(LogoSize, 0xFF));

    std::vector<uint8_t> first(Page, 0x0F);
    std::vector<uint8_t> second(Page + 10, 0xF0);
    ASSERT_EQ(mtd().pwrite(fd_, first.data(), first.size(), Block), ssize_t(Page));
    EXPECT_TRUE(mtdSim().violations().empty());
    ASSERT_EQ(mtd().pwrite(fd_, second.data(), second.size(), Block), ssize_t(second.size()));
    EXPECT_EQ(mtdSim().violations().size(), 1u); // written again without an erase

    std::vector<uint8_t> image = mtdSim().contents("/dev/mtd8");
    EXPECT_EQ(image[Block], 0x00);
    EXPECT_EQ(image[Block + Page - 1], 0x00);
    EXPECT_EQ(image[Block + Page], 0xF0);
    EXPECT_EQ(image[Block + Page + 10], 0xFF);
    EXPECT_EQ(image[Block - 1], 0xFF);

    ASSERT_EQ(mtd().unlock(fd_, EraseInfo{Block, Block}), 0);
    ASSERT_EQ(mtd().erase(fd_, EraseInfo{Block, Block}), 0);
    EXPECT_EQ(mtdSim().contents("/dev/mtd8"), erased);
    ASSERT_EQ(mtd().pwrite(fd_, second.data(), second.size(), Block), ssize_t(second.size()));
    EXPECT_EQ(mtdSim().contents("/dev/mtd8")[Block], 0xF0);
    EXPECT_EQ(mtdSim().violations().size(), 1u);
    TestRoot::acceptViolations(); // the breaches above are what this test provokes
}

TEST_F(FlashFiles, RangesOutsideThePartitionFail)
{
    struct Case {
        uint32_t start, length;
    };
    for (const Case c : {Case{LogoSize, Block}, Case{LogoSize - Block, 2 * Block}, Case{0x800, Block},
                         Case{0, Block / 2}, Case{0xFFFF0000u, 0x20000}}) {
        errno = 0;
        EXPECT_EQ(mtd().unlock(fd_, EraseInfo{c.start, c.length}), -1) << std::hex << c.start;
        EXPECT_EQ(errno, EINVAL);
        errno = 0;
        EXPECT_EQ(mtd().erase(fd_, EraseInfo{c.start, c.length}), -1) << std::hex << c.start;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(mtd().erase(fd_, EraseInfo{LogoSize - Block, Block}), 0);
    EXPECT_EQ(mtd().erase(fd_, EraseInfo{0, LogoSize}), 0);

    const std::vector<uint8_t> page(Page, 0);
    errno = 0;
    EXPECT_EQ(mtd().pwrite(fd_, page.data(), Page, LogoSize - Page + 1), -1); // not on a page
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mtd().pwrite(fd_, page.data(), Page, LogoSize), -1);
    EXPECT_EQ(mtd().pwrite(fd_, page.data(), 2, LogoSize), -1);
    EXPECT_EQ(mtd().pwrite(fd_, page.data(), Page, -off_t(Page)), -1);
    EXPECT_EQ(mtdSim().contents("/dev/mtd8"), std::vector<uint8_t>(LogoSize, 0xFF));
    EXPECT_EQ(mtd().pwrite(fd_, page.data(), Page, LogoSize - Page), ssize_t(Page));
    EXPECT_EQ(mtdSim().contents("/dev/mtd8")[LogoSize - 1], 0x00);
}

TEST_F(FlashFiles, InjectedEraseFailureHitsOneBlock)
{
    const std::vector<uint8_t> zeros(Page, 0);
    ASSERT_EQ(mtd().pwrite(fd_, zeros.data(), Page, 2 * Block), ssize_t(Page));
    mtdSim().failEraseAt(2 * Block);

    EXPECT_EQ(mtd().erase(fd_, EraseInfo{Block, Block}), 0);
    errno = 0;
    EXPECT_EQ(mtd().erase(fd_, EraseInfo{2 * Block, Block}), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(mtd().erase(fd_, EraseInfo{0, 4 * Block}), -1);
    EXPECT_EQ(mtdSim().contents("/dev/mtd8")[2 * Block], 0x00); // still programmed

    mtdSim().failEraseAt(-1);
    EXPECT_EQ(mtd().erase(fd_, EraseInfo{2 * Block, Block}), 0);
    EXPECT_EQ(mtdSim().contents("/dev/mtd8")[2 * Block], 0xFF);
}

TEST_F(FlashFiles, CallsAreRecorded)
{
    MtdInfo info;
    const std::vector<uint8_t> data(Page + 5, 0xA5);
    mtd().getInfo(fd_, &info);
    mtd().unlock(fd_, EraseInfo{0, Block});
    mtd().erase(fd_, EraseInfo{0x20000, Block});
    mtd().pwrite(fd_, data.data(), data.size(), 0x20800);
    mtd().erase(fd_, EraseInfo{0x800, Block}); // refused, still recorded
    EXPECT_EQ(mtdSim().calls(), (std::vector<std::string>{"getinfo", "unlock 0x0 0x10000", "erase 0x20000 0x10000",
                                                          "pwrite 0x20800 2053", "erase 0x800 0x10000"}));
    mtdSim().clearCalls();
    EXPECT_TRUE(mtdSim().calls().empty());
}

}
