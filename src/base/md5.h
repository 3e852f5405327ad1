#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// RFC 1321. digest() finishes a copy, so later updates continue the same message.
class MD5 {
public:
    MD5();
    MD5(const void* data, size_t length);
    void reset();
    void update(const uint8_t* data, size_t length);
    void update(const void* data, size_t length);
    const uint8_t* digest();
    std::string toString();
    static std::string bytesToHexString(const uint8_t* bytes, size_t n);

private:
    void transform(const uint8_t block[64]);
    uint32_t state_[4];
    uint32_t count_[2];
    uint8_t buffer_[64];
    uint8_t digest_[16];
    bool finished_;
};

extern MD5 md5; // the file transfers' digest, one transfer at a time
