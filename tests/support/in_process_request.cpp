#include "in_process_request.h"

#include "params/scaler_hand_over.h"
#include "scaler/c331_manage.h"

#include <mutex>

namespace {
std::mutex standInMutex;
int standIns = 0; // requests running with the scaler standing in as up
}

ScalerStandsIn::ScalerStandsIn()
{
    c331_manage* scaler = c331_manage::p_c331_manage;
    std::lock_guard<std::mutex> lock(standInMutex);
    counted_ = scaler && (standIns > 0 || scaler->thread_state == 0);
    if (counted_ && standIns++ == 0)
        scaler->thread_state = 6;
}

ScalerStandsIn::~ScalerStandsIn()
{
    std::lock_guard<std::mutex> lock(standInMutex);
    if (counted_ && --standIns == 0)
        c331_manage::p_c331_manage->thread_state = 0;
}

uint32_t runInProcess(message_deal& handler, uint8_t* body, uint32_t length, uint32_t capacity, uint64_t peer)
{
    ScalerStandsIn up;
    message_deal::SlowWork slow;
    const uint32_t r = handler.message_group_deal(body, length, capacity, peer, &slow);
    return r == message_deal::kSlow ? finishInProcess(body, slow) : r;
}

uint32_t finishInProcess(uint8_t* body, const message_deal::SlowWork& work)
{
    c331_manage* scaler = c331_manage::p_c331_manage;
    bool standIn;
    {
        std::lock_guard<std::mutex> lock(standInMutex);
        standIn = standIns > 0;
    }
    if (scaler && scaler->thread_state == 6 && !standIn) {
        scaler->runOnce();
    } else {
        ScalerHandOver::Verdicts taken;
        {
            ScalerHandOver handOver; // as a pass takes them
            taken = ScalerHandOver::takeVerdicts();
        }
        ScalerHandOver::judge(taken, {}, {});
    }
    body[10] = work();
    return 1;
}
