// MD5 against RFC 1321 appendix A.5 and the digest-then-continue rule the file transfers rely on.
#include "base/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string hexOf(const std::string& message)
{
    MD5 m;
    m.update(message.data(), message.size());
    return m.toString();
}

TEST(Md5, Rfc1321Suite)
{
    EXPECT_EQ(hexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(hexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(hexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(hexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int i = 0; i < 8; ++i)
        digits += "1234567890";
    EXPECT_EQ(hexOf(digits), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundaries)
{
    // 55 bytes leave room for the length in the last block, 56 do not, 64 fill it exactly.
    EXPECT_EQ(hexOf(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(hexOf(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(hexOf(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(Md5, DigestContinuesTheMessage)
{
    MD5& m = md5; // the transfers' shared instance, reset at each start command
    m.reset();
    m.update("a", 1);
    EXPECT_EQ(m.toString(), "0cc175b9c0f1b6a831c399e269772661");
    m.update("bc", 2);
    // Without an update in between the kept digest comes back.
    const uint8_t* first = m.digest();
    EXPECT_EQ(MD5::bytesToHexString(first, 16), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(m.toString(), "900150983cd24fb0d6963f7d28e17f72");

    m.reset();
    EXPECT_EQ(m.toString(), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, BlockSizesDoNotMatter)
{
    // A transfer feeds blocks of whatever size the frames carry.
    std::vector<uint8_t> data;
    for (int r = 0; r < 40; ++r)
        for (int i = 0; i < 256; ++i)
            data.push_back(uint8_t(i));
    const std::string whole = MD5(data.data(), data.size()).toString();
    EXPECT_EQ(whole, "c3cd26e07e555c0116db237fbc06d99c");
    for (size_t chunk : {size_t(1), size_t(63), size_t(65), size_t(1000)}) {
        MD5 m;
        for (size_t at = 0; at < data.size(); at += chunk)
            m.update(data.data() + at, std::min(chunk, data.size() - at));
        EXPECT_EQ(m.toString(), whole) << "chunk " << chunk;
    }
}

}
