#include "video_chips/iTE6805_SYS.h"

void ite6805_sys::ite6805_sys_reset_init()
{
    top_state[0] = 0;
    top_state[1] = 0;
}

void ite6805_sys::iTE6805_FSM(int device)
{
    if (device == 0 || device == 1)
        ++calls_[device];
}

void ite6805_sys::iTE6805_Set_HPD_Ctrl(int, int, int) {}
