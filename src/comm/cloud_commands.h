#pragma once
#include <cstdint>
#include <string>

struct MessageFrame;

// Cloud properties: device id, certificate name, server address and port from the property file,
// version and modem identities from the 4G module's RAM window.
constexpr uint32_t k4GPropertySize = 132;
extern uint8_t g_4G_property[k4GPropertySize];

// Text commands of a cloud service (group 0xC4), answered in the request's buffer.
class message_deal_4g {
public:
    // Runs one frame of group 0xC4; returns r (reply bytes from position 10).
    uint32_t message_deal_4G(MessageFrame& f);
    // Reloads g_4G_property from the property file and the 4G RAM window; 0 when the file was read
    // without fault. The caller holds Utils::_file_deal_mutex.
    int get_4G_property();

    static constexpr uint32_t kReplyArea = 512;
    static constexpr uint32_t kMaxScan = 2048;

private:
    // The reply text of sub-command sub (0-13, 12 excepted); the handlers are in the source file.
    std::string run(uint8_t sub, const std::string& text, const uint8_t* data, uint32_t dataLength, uint64_t peer);
};
