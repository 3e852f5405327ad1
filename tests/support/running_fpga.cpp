#include "running_fpga.h"

#include "base/global.h"
#include "base/tick_alarm.h"
#include "fpga/fpga_manage.h"
#include "params/vyrrampara.h"
#include "video_chips/keltosource.h"

#include <chrono>

namespace {
fpga_manage* startWorker()
{
    VyrRamPara::pInstance();
    keltosource::pInstance()->clock_state[0] = 2;
    return fpga_manage::pInstance();
}
}

RunningFpga::RunningFpga(std::function<void()> eachStep) : fpga(startWorker()), eachStep_(std::move(eachStep))
{
    steps_ = std::thread([this] {
        for (int n = 1; stepping_; ++n) {
            const int every = tickSteps_;
            if (every > 0 && n % every == 0)
                TickAlarm::advanced(++G_timeTicks); // as the panel's tick does after each burst
            if (eachStep_)
                eachStep_();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    fpga_manage::gpio_write(fpga->rst_fpga0, 16);
    g_fpga_c331_start = 1;
    fpga_manage::wake();
}

void RunningFpga::stop()
{
    stepping_ = false;
    if (steps_.joinable())
        steps_.join();
    fpga->stop_worker();
}
