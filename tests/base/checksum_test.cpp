// Checksums against the CRC catalogue, tick arithmetic and the small text helpers.
#include "base/global.h"
#include "base/utils.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const uint8_t* bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }
uint32_t len(const char* text) { return uint32_t(strlen(text)); }

TEST(Checksums, CatalogueCheckValues)
{
    const char* check = "123456789";
    EXPECT_EQ(Utils::calcCRC32(bytes("abc"), 3), 0xCA6598D0u);
    EXPECT_EQ(Utils::calcCRC32(bytes(check), len(check)), 0x2DFD2D88u);
    EXPECT_EQ(Utils::calcCRC16(bytes(check), len(check)), 0xBB3Du);     // CRC-16/ARC
    EXPECT_EQ(Utils::peloCalcCRC16(bytes(check), len(check)), 0x6F91u); // CRC-16/MCRF4XX
    EXPECT_EQ(Utils::jtc1CRC16Code(bytes(check), len(check)), 0x31C3u); // CRC-16/XMODEM
}

TEST(Checksums, EmptyRangeGivesInitialValue)
{
    const uint8_t any = 0x5A;
    EXPECT_EQ(Utils::BCC(&any, 0), 0u);
    EXPECT_EQ(Utils::calcCRC32(&any, 0), 0u);
    EXPECT_EQ(Utils::calcCRC16(&any, 0), 0u);
    EXPECT_EQ(Utils::peloCalcCRC16(&any, 0), 0xFFFFu);
    EXPECT_EQ(Utils::jtc1CRC16Code(&any, 0), 0u);
}

TEST(Checksums, BccIsXorOfAllBytes)
{
    const uint8_t frame[] = {0x01, 0x02, 0x04, 0x80, 0xFF};
    EXPECT_EQ(Utils::BCC(frame, sizeof frame), 0x78u);
    EXPECT_EQ(Utils::BCC(frame, 2), 0x03u);
    // Lengths around whole words: each byte counts once, wherever it lies.
    uint8_t data[25];
    uint8_t x = 0;
    for (uint32_t n = 0; n < sizeof data; ++n) {
        EXPECT_EQ(Utils::BCC(data, n), x) << n << " bytes";
        data[n] = uint8_t(1u << (n % 8)) ^ uint8_t(n * 16);
        x ^= data[n];
    }
}

TEST(TimeSpace, ElapsedAndWrapped)
{
    G_timeTicks = 1000;
    EXPECT_EQ(Utils::getTimeSpace(400), 600u);
    EXPECT_EQ(Utils::getTimeSpace(1000), 0u);
    G_timeTicks = 5;
    EXPECT_EQ(Utils::getTimeSpace(0xFFFFFFFEu), 6u); // one less than the modular 7
    G_timeTicks = 0;
    EXPECT_EQ(Utils::getTimeSpace(1), 0xFFFFFFFEu);
    G_timeTicks = 0xFFFFFFFFu;
    EXPECT_EQ(Utils::getTimeSpace(0), 0xFFFFFFFFu);
}

TEST(TextHelpers, DottedIPv4)
{
    EXPECT_TRUE(Utils::isDottedIPv4("192.168.1.199"));
    EXPECT_TRUE(Utils::isDottedIPv4("0.0.0.0"));
    EXPECT_TRUE(Utils::isDottedIPv4("255.255.255.255"));
    for (const char* bad : {"", "192.168.1", "192.168.1.1.1", "192.168.1.256", "192.168..1", "192.168.1.1 ",
                            " 192.168.1.1", "192.168.1.1;reboot", "a.b.c.d", "192.168.01.1", "1e2.1.1.1",
                            "-1.1.1.1", "1111.1.1.1"})
        EXPECT_FALSE(Utils::isDottedIPv4(bad)) << bad;
}

TEST(TextHelpers, StringToInt)
{
    EXPECT_EQ(Utils::stringToInt("0x1F"), 31);
    EXPECT_EQ(Utils::stringToInt("0xff"), 255);
    EXPECT_EQ(Utils::stringToInt("0x"), 0);
    EXPECT_EQ(Utils::stringToInt("1234"), 1234);
    EXPECT_EQ(Utils::stringToInt("12a4"), 1204); // a letter counts as 0 in decimal
    EXPECT_EQ(Utils::stringToInt(""), 0);
    // Wraps like the 32-bit register it fills instead of overflowing.
    EXPECT_EQ(Utils::stringToInt("0x100000001"), 1);
    EXPECT_EQ(Utils::intToString(-42), QString("-42"));
}

TEST(TextHelpers, CharacterSetConverters)
{
    const std::string utf8 = "\xE4\xB8\xAD" "A";    // U+4E2D followed by 'A'
    const std::string gb = "\xD6\xD0" "A";
    const std::string ucs2(std::string("\x2D\x4E" "A\0", 4));
    EXPECT_EQ(Utils::UTF8ToGB2312(utf8), gb);
    EXPECT_EQ(Utils::GB2312ToUTF8(gb), utf8);
    EXPECT_EQ(Utils::UTF8ToUnicode(utf8), ucs2);
    EXPECT_EQ(Utils::UnicodeToUTF8(ucs2), utf8);
    EXPECT_EQ(Utils::GB2312ToUnicode(gb), ucs2);
    EXPECT_EQ(Utils::UnicodeToGB2312(ucs2), gb);
    // ASCII doubles in UCS-2: the output area must not be the input's own size.
    EXPECT_EQ(Utils::UTF8ToUnicode(std::string(300, 'x')).size(), 600u);

    char out[8];
    EXPECT_EQ(Utils::ChangeCode("no-such-charset", "UTF-8", "a", 1, out, sizeof out), -1);
}

}
