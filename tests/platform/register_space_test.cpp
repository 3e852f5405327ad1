#include "platform/mem_window.h"
#include "platform/sim/sim_board.h"

#include <gtest/gtest.h>

namespace {

using platform::openMemWindow;
using platform::Sim::memSim;

constexpr uint32_t Base = 0x1F000000;
constexpr size_t Size = 0x2B0000;

TEST(RegisterSpace, IdWordsAndStatusRegister)
{
    auto window = openMemWindow(Base, Size);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), Size);
    EXPECT_EQ(window->read16(0x400C), 0x0100);
    const uint16_t u = window->read16(0x4058), v = window->read16(0x405C), w = window->read16(0x4060);
    EXPECT_FALSE(u == 0 && v == 0 && w == 0); // a chip always has an id

    memSim().setIdWords(0x1234, 0xABCD, 0x0001);
    EXPECT_EQ(window->read16(0x4058), 0x1234);
    EXPECT_EQ(window->read16(0x405C), 0xABCD);
    EXPECT_EQ(window->read16(0x4060), 0x0001);
}

TEST(RegisterSpace, WindowsShareOneSpace)
{
    auto whole = openMemWindow(Base, Size);
    auto part = openMemWindow(Base + 0x4000, 0x100);
    ASSERT_NE(whole, nullptr);
    ASSERT_NE(part, nullptr);

    whole->write16(0x400C, whole->read16(0x400C) & ~0x0100);
    EXPECT_EQ(part->read16(0x0C), 0);
    EXPECT_EQ(memSim().read16(Base + 0x400C), 0);

    memSim().write16(Base + Size - 2, 0xBEEF);
    EXPECT_EQ(whole->read16(Size - 2), 0xBEEF);
    memSim().write16(Base + Size, 0x1111); // outside: ignored
    EXPECT_EQ(memSim().read16(Base + Size), 0);
    EXPECT_EQ(memSim().read16(Base - 2), 0);
}

TEST(RegisterSpace, OpenFailures)
{
    EXPECT_EQ(openMemWindow(Base - 2, 4), nullptr);
    EXPECT_EQ(openMemWindow(Base, Size + 1), nullptr);
    EXPECT_EQ(openMemWindow(Base + Size, 2), nullptr);
    EXPECT_EQ(openMemWindow(0xFFFFFFF0u, 0x100), nullptr);
    EXPECT_EQ(openMemWindow(Base, 0), nullptr);
    EXPECT_NE(openMemWindow(Base + Size - 2, 2), nullptr);

    memSim().setOpenFails(true);
    EXPECT_EQ(openMemWindow(Base, Size), nullptr);
    memSim().setOpenFails(false);
    EXPECT_NE(openMemWindow(Base, Size), nullptr);
}

}
