#pragma once
// The FPGA worker in its own thread, as the program runs it, with the panel's tick (G_timeTicks)
// advanced from a thread of the test's: a step each half millisecond, the tick every few steps.
// FPGA 0 is released with its clock running, so the worker brings it up and searches its cards;
// a test sets up the LED network before. However the test leaves, the tick thread is joined and
// the worker stopped before the simulated board goes away.
#include <atomic>
#include <functional>
#include <thread>

class fpga_manage;

class RunningFpga {
public:
    // eachStep, when given, runs on the tick thread at every step, beside the tick.
    explicit RunningFpga(std::function<void()> eachStep = {});
    ~RunningFpga() { stop(); }
    RunningFpga(const RunningFpga&) = delete;
    RunningFpga& operator=(const RunningFpga&) = delete;

    // One tick every `steps` steps: 1 at first, 20 is the box's 10 ms, 0 holds the time still.
    void tickEvery(int steps) { tickSteps_ = steps; }
    void stop(); // again: nothing

    fpga_manage* const fpga;

private:
    std::function<void()> eachStep_;
    std::atomic<int> tickSteps_{1};
    std::atomic<bool> stepping_{true};
    std::thread steps_;
};
