#pragma once
// The cloud settings request (group 0xC3, sub-command 11) as a cloud tool builds it, from body
// byte 10: the sub-command, a spare byte, a 32-byte key, the box's 16-byte id XOR the key's bytes
// 8-39, then XORed with the key from its start: the fields' total (u16), the address, the port
// (u16), the user and the name, each text behind its length byte. cut: bytes left off the end.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

inline std::vector<uint8_t> cloudSettingsRequest(const uint8_t* id, const std::string& address, uint16_t port,
                                                 const std::string& user, const std::string& name, int cut = 0)
{
    std::vector<uint8_t> p(50, 0); // body bytes 10-59
    p[0] = 11;
    uint8_t key[32];
    for (int i = 0; i < 32; ++i)
        key[i] = uint8_t(0x35 + 13 * i);
    memcpy(p.data() + 2, key, 32);
    for (int i = 0; i < 16; ++i)
        p[34 + size_t(i)] = uint8_t(id[i] ^ key[8 + i]);
    std::vector<uint8_t> fields = {0, 0, uint8_t(address.size())};
    fields.insert(fields.end(), address.begin(), address.end());
    fields.push_back(uint8_t(port));
    fields.push_back(uint8_t(port >> 8));
    fields.push_back(uint8_t(user.size()));
    fields.insert(fields.end(), user.begin(), user.end());
    fields.push_back(uint8_t(name.size()));
    fields.insert(fields.end(), name.begin(), name.end());
    fields[0] = uint8_t(fields.size());
    fields[1] = uint8_t(fields.size() >> 8);
    fields.resize(fields.size() - size_t(cut));
    for (size_t i = 0; i < fields.size(); ++i)
        p.push_back(uint8_t(fields[i] ^ key[i % 32]));
    return p;
}
