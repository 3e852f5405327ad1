#pragma once
// Requests built byte by byte and run straight through the dispatcher, as a transport would.
#include "in_process_request.h"
#include "managers.h"
#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "fpga/fpga_manage.h"
#include "video_chips/keltosource.h"
#include "comm/message_deal.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

constexpr uint16_t kController = 0xF100;
constexpr uint16_t kFpgaSide = 0xF200;

class MessageDealTest : public ManagersTest {
protected:
    void SetUp() override
    {
        ManagersTest::SetUp();
        scaler->change_flag = 0;
    }

    // Runs request (head and payload, as a transport hands it over) from the start of buf, which
    // holds capacity bytes filled with 0xEE first, so a reply byte the handler did not write shows
    // up. A request the buffer cannot hold is a fault of the test (no transport passes one on): it
    // fails the test and is not run.
    uint32_t deal(const std::vector<uint8_t>& request, uint32_t capacity = kMessageBufferSize,
                  uint64_t peer = request_peer::kLocal)
    {
        buf.assign(capacity, 0xEE);
        if (request.size() > capacity) {
            ADD_FAILURE() << "a request of " << request.size() << " bytes does not fit a buffer of " << capacity;
            return 0;
        }
        std::copy(request.begin(), request.end(), buf.begin());
        return runInProcess(handler, buf.data(), uint32_t(request.size()), capacity, peer);
    }
    // Runs group with payload (from byte 10) as one frame; bytes 6 and 7 select the FPGA.
    uint32_t send(uint16_t dest, uint8_t group, const std::vector<uint8_t>& payload,
                  uint32_t capacity = kMessageBufferSize, uint8_t byte6 = 0, uint8_t byte7 = 0)
    {
        std::vector<uint8_t> request = {uint8_t(dest), uint8_t(dest >> 8), 0x10, 0xF0, 0, 0, byte6, byte7, 0, group};
        request.insert(request.end(), payload.begin(), payload.end());
        return deal(request, capacity);
    }
    static std::vector<uint8_t> ramRequest(uint32_t address, uint16_t n, const std::vector<uint8_t>& data = {})
    {
        std::vector<uint8_t> p(8, 0);
        putU32(p.data(), address);
        putU16(p.data() + 4, n);
        p.insert(p.end(), data.begin(), data.end());
        return p;
    }
    uint8_t writeRam(uint32_t address, const std::vector<uint8_t>& data, uint16_t dest = kController)
    {
        EXPECT_EQ(send(dest, 0x60, ramRequest(address, uint16_t(data.size()), data)), 1u);
        return buf[10];
    }
    // Reply data of a read (status checked to be 0).
    std::vector<uint8_t> readRam(uint32_t address, uint16_t n, uint16_t dest = kController, uint8_t byte7 = 0)
    {
        const uint32_t r = send(dest, 0x61, ramRequest(address, n), kMessageBufferSize, 0, byte7);
        EXPECT_EQ(r, n + 1u);
        EXPECT_EQ(buf[10], 0);
        return std::vector<uint8_t>(buf.begin() + 11, buf.begin() + 11 + n);
    }
    uint8_t writeReg(uint8_t g, uint8_t mask, uint8_t value, uint16_t dest = kController, uint8_t byte7 = 0)
    {
        EXPECT_EQ(send(dest, 0xA0, {g, mask, 0, value}, kMessageBufferSize, 0, byte7), 1u);
        return buf[10];
    }
    uint16_t blockU16(uint32_t off) const { return store->u16(off); }
    // "" when equal, else the first differing bytes as "address: got/wanted" (base + index).
    static std::string differences(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, uint64_t base)
    {
        std::ostringstream out;
        if (got.size() != want.size())
            out << "size " << got.size() << "/" << want.size() << " ";
        int shown = 0;
        for (size_t i = 0; i < std::min(got.size(), want.size()) && shown < 8; ++i)
            if (got[i] != want[i]) {
                out << std::hex << "0x" << base + i << ": " << int(got[i]) << "/" << int(want[i]) << " ";
                ++shown;
            }
        return out.str();
    }

    message_deal handler;
    std::vector<uint8_t> buf;
};
