#pragma once
#include "fpga/fpga_manage.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "video_chips/keltosource.h"

#include <gtest/gtest.h>

// The managers in the program's start order, without their worker threads: tests drive the passes.
struct Managers {
    VyrRamPara* store;
    fpga_manage* fpga;
    c331_manage* scaler;
};

inline Managers startManagersWithoutWorkers()
{
    VyrRamPara* store = VyrRamPara::pInstance();
    keltosource::pInstance();
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    return {store, fpga, c331_manage::instanceWithoutWorker()};
}

// A test with the managers up and no worker threads.
class ManagersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const Managers m = startManagersWithoutWorkers();
        store = m.store;
        fpga = m.fpga;
        scaler = m.scaler;
    }

    VyrRamPara* store = nullptr;
    fpga_manage* fpga = nullptr;
    c331_manage* scaler = nullptr;
};
