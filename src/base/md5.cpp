#include "base/md5.h"

#include <cstring>

MD5 md5;

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Per-step shift amounts, four per round.
const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// T[i] = floor(abs(sin(i + 1)) * 2^32).
const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

}

MD5::MD5() { reset(); }

MD5::MD5(const void* data, size_t length)
{
    reset();
    update(data, length);
}

void MD5::reset()
{
    state_[0] = 0x67452301;
    state_[1] = 0xEFCDAB89;
    state_[2] = 0x98BADCFE;
    state_[3] = 0x10325476;
    count_[0] = count_[1] = 0;
    memset(buffer_, 0, sizeof buffer_);
    memset(digest_, 0, sizeof digest_);
    finished_ = false;
}

void MD5::update(const void* data, size_t length)
{
    update(static_cast<const uint8_t*>(data), length);
}

void MD5::update(const uint8_t* data, size_t length)
{
    finished_ = false;
    size_t used = (count_[0] >> 3) & 0x3F;
    // 64-bit bit count kept in two words, low first.
    const uint64_t bits = (uint64_t(count_[1]) << 32 | count_[0]) + (uint64_t(length) << 3);
    count_[0] = uint32_t(bits);
    count_[1] = uint32_t(bits >> 32);

    size_t i = 0;
    if (used + length >= 64) {
        i = 64 - used;
        memcpy(buffer_ + used, data, i);
        transform(buffer_);
        for (; i + 64 <= length; i += 64)
            transform(data + i);
        used = 0;
    }
    if (length > i)
        memcpy(buffer_ + used, data + i, length - i);
}

const uint8_t* MD5::digest()
{
    if (finished_)
        return digest_;
    // Finish a copy, so that later updates continue the same message.
    MD5 tail(*this);
    uint8_t bits[8];
    store32(bits, count_[0]);
    store32(bits + 4, count_[1]);
    const size_t used = (count_[0] >> 3) & 0x3F;
    const size_t padLength = used < 56 ? 56 - used : 120 - used;
    static const uint8_t padding[64] = {0x80};
    tail.update(padding, padLength);
    tail.update(bits, 8);
    for (int k = 0; k < 4; ++k)
        store32(digest_ + 4 * k, tail.state_[k]);
    finished_ = true;
    return digest_;
}

std::string MD5::toString()
{
    return bytesToHexString(digest(), 16);
}

std::string MD5::bytesToHexString(const uint8_t* bytes, size_t n)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0x0F];
    }
    return out;
}

void MD5::transform(const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = load32(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int g;
        switch (round) {
        case 0: f = (b & c) | (~b & d); g = i; break;
        case 1: f = (b & d) | (c & ~d); g = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
        }
        const uint32_t next = b + rotl(a + f + kT[i] + x[g], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}
