#include "in_process_request.h"

#include "params/scaler_hand_over.h"
#include "scaler/c331_manage.h"

uint32_t runInProcess(message_deal& handler, uint8_t* body, uint32_t length, uint32_t capacity, uint64_t peer)
{
    message_deal::SlowWork slow;
    const uint32_t r = handler.message_group_deal(body, length, capacity, peer, &slow);
    return r == message_deal::kSlow ? finishInProcess(body, slow) : r;
}

uint32_t finishInProcess(uint8_t* body, const message_deal::SlowWork& work)
{
    c331_manage* scaler = c331_manage::p_c331_manage;
    if (scaler && scaler->thread_state == 6) {
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
