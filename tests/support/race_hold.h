#pragma once
#include "base/race_pause.h"
#include "program.h"

// A race point held for the scope and released however the test leaves, so that no worker stays
// stopped there.
class RaceHold {
public:
    explicit RaceHold(RacePause::Point point) : point_(point) { RacePause::hold(point); }
    ~RaceHold() { RacePause::release(point_); }
    RaceHold(const RaceHold&) = delete;
    RaceHold& operator=(const RaceHold&) = delete;
    // True once a thread stopped there; false when none did within the (scaled) limit.
    bool parked(int timeoutMs = 5000) const
    {
        return waitFor([this] { return RacePause::parked(point_) > 0; }, timeoutMs);
    }
    void pass() { RacePause::pass(point_); }
    void release() { RacePause::release(point_); }

private:
    RacePause::Point point_;
};
