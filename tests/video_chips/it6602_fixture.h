#pragma once
// The IT6602 driver against the simulated receivers, stepped as the input manager steps it: the
// receivers' path released, a receiver selected on the switch, its set-up and polling passes.
#include "input_board.h"

#include "video_chips/drv_i2c.h"
#include "video_chips/kelto_it6602.h"

#include "platform/sim/devices/i2c_board.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace it6602_test {

using namespace input_board;
using platform::Sim::HdmiTiming;
using platform::Sim::i2cBoard;
using platform::Sim::It6602Chip;

class It6602Fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(fd_ = bus_.initialize(), 0);
        memset(records_, 0, sizeof records_);
        drv_.attach(&bus_, records_);
        drv_.fd = fd_;
        pathOn(true);
    }
    static void pathOn(bool on) { setGpio(kIt6602Path, on ? 16 : 0); }
    void select(int r) { ASSERT_EQ(bus_.i2c_write(fd_, 0xEE, uint8_t(1u << r), nullptr, 0), 1); }
    // Identification, port selection and `passes` polling passes, as the input manager runs them.
    void bringUp(int r, int passes = 4)
    {
        select(r);
        ASSERT_EQ(drv_.IT6602_fsm_init(fd_, r), 1);
        drv_.IT6602_fsm_init_1(fd_, r);
        run(r, passes);
    }
    void run(int r, int passes)
    {
        select(r);
        for (int i = 0; i < passes; ++i)
            drv_.IT6602_fsm(fd_, r);
    }
    static It6602Chip& chip(int r) { return i2cBoard().it6602(r); }
    // The values written to a register, in order.
    static std::vector<uint8_t> values(int r, int bank, uint8_t reg)
    {
        std::vector<uint8_t> v;
        for (const auto& w : chip(r).writesTo(bank, reg))
            v.push_back(w.value);
        return v;
    }

    Drv_I2C0 bus_;
    int fd_ = -1;
    HDMI_INFO records_[6];
    kelto_it6602 drv_;
};

}
