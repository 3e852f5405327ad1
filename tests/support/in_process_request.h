#pragma once
// A request run in process as a transport runs it: a slow one's work runs in place after the
// scaler's pass it waits for, the scaler's own once the test brought it up, else a stand-in that
// takes nothing back (no test runs the scaler's worker in process).
#include "comm/message_deal.h"

uint32_t runInProcess(message_deal& handler, uint8_t* body, uint32_t length, uint32_t capacity, uint64_t peer);
uint32_t finishInProcess(uint8_t* body, const message_deal::SlowWork& work); // after kSlow: status, r

// While it lives, a scaler the test never ran (not even identified) stands in as up, so an apply
// hands over at once rather than wait for a bring-up no test drives; the stand-in judges it.
class ScalerStandsIn {
public:
    ScalerStandsIn();
    ~ScalerStandsIn();
    ScalerStandsIn(const ScalerStandsIn&) = delete;
    ScalerStandsIn& operator=(const ScalerStandsIn&) = delete;

private:
    bool counted_;
};
