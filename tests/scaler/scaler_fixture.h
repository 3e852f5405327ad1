#pragma once
// The scaler brought up against the simulated chip, driven pass by pass without its thread; its
// setters are seen through the manager's call log, the chip through its test face.
#include "managers.h"
#include "program.h"
#include "base/global.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "video_chips/keltosource.h"

#include <QMutexLocker>
#include <gtest/gtest.h>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace scaler_test {

// Parks the worker thread on the hand-over mutex, held from here on, and returns once it waits
// there: whatever pass it was in has ended, and the process may end while it never does.
inline bool parkWorker(c331_manage* scaler)
{
    pthread_mutex_lock(&scaler->c331_mutex);
    scaler->change_flag = 1;
    scaler->wakeWorker();
    // glibc marks a mutex that another thread waits for as contended.
    return waitFor([scaler] { return __atomic_load_n(&scaler->c331_mutex.__data.__lock, __ATOMIC_RELAXED) > 1; }, 2000);
}

using platform::Sim::c331Chip;

// "name(a,b)" as the call log writes it.
inline std::string call(const char* name, std::initializer_list<long long> args = {})
{
    std::string text = std::string(name) + "(";
    bool first = true;
    for (long long a : args) {
        text += (first ? "" : ",") + std::to_string(int(a));
        first = false;
    }
    return text + ")";
}

// A setter bracketed by the routing update, as every picture control is.
inline std::vector<std::string> control(const char* name, long long value)
{
    return {call(name, {value}), call("set_rtct", {2}), call("set_rtct", {1})};
}

class ScalerFixture : public ManagersTest {
protected:
    // Rule breaches on the chip's bus fail the test through the shared board checks.
    void TearDown() override { c331Chip().setTransferHook(nullptr); }

    void bringUp()
    {
        for (int i = 0; i < 10 && scaler->thread_state < 6; ++i)
            scaler->runOnce();
        ASSERT_EQ(scaler->thread_state, 6);
    }

    // Idle passes until the upkeep has served what the bring-up left for it (menu content, then
    // its attributes).
    void settle()
    {
        for (int i = 0; i < 3; ++i)
            scaler->runOnce();
    }

    // A cell set behind the driver's back: it must not take what it last wrote there as still held.
    void preset(uint32_t desc, uint32_t value, uint32_t bankOffset = 0)
    {
        c331Chip().preset(desc, value, bankOffset);
        scaler->drv->init_reg_acc_param();
    }

    // A progressive 60 Hz source on chip port p, as the chip measures it and the input manager
    // reports it.
    struct Source {
        uint32_t hact, hsync, hback, htotal, vact, vsync, vback, vtotal;
        float mhz;
    };
    static constexpr Source k1080p{1920, 44, 148, 2200, 1080, 5, 36, 1125, 148.5f};
    static constexpr Source k720p{1280, 40, 220, 1650, 720, 5, 20, 750, 74.25f};
    static void connect(int p, const Source& s)
    {
        platform::Sim::C331Chip::InputTiming t;
        t.present = true;
        t.htotal = s.htotal, t.vtotal = s.vtotal, t.hact = s.hact, t.fv = 60;
        c331Chip().setInput(p, t);
        HDMI_INFO rec{};
        rec.hact = s.hact, rec.hsync = s.hsync, rec.hback = s.hback, rec.htt = s.htotal;
        rec.vact = s.vact, rec.vsync = s.vsync, rec.vback = s.vback, rec.vtt = s.vtotal;
        rec.pfreq = s.mhz, rec.stable = 1;
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        keltosource::p_kelto_source->hdminfo[c331_manage::vyrApi_GetPortDevId(p)] = rec;
    }
    static void connect1080p(int p) { connect(p, k1080p); }

    // A writer's hand-over: change the block under the mutex, raise the flag.
    void handOver(const std::function<void(VyrRamPara&)>& change, uint8_t flag = 1)
    {
        ScalerHandOver h;
        change(*store);
        h.commit(flag);
    }

    // The setters called since the log was cleared, without the per-pass upkeep's own calls.
    std::vector<std::string> calls() const
    {
        std::vector<std::string> out;
        for (const std::string& c : scaler->call_log.calls())
            if (c != "load_hdmi()" && c != "check_port_valid()" && c != "check_input_port()")
                out.push_back(c);
        return out;
    }

    // FPGA 0 up and serving the LED-parameter step, or down (being reset).
    void setFpgaUp(bool up)
    {
        fpga->MCU_REG_func[0][80] = up ? 3 : 0;
        fpga->MCU_REG_func[0][0] = 0;
        fpga->vbo_step[0] = up ? 7 : 0;
        fpga->status_step[0] = up ? 18 : 0;
        fpga->rst_pending[0] = 0;
        ASSERT_EQ(fpga->get_fpga_status(), up ? 1 : 0);
    }
};

}
