#pragma once
#include <cstdint>

// The two iTE6805 receivers (inputs 4 and 5). The input manager steps them from its polling
// thread. Until the receiver core exists these calls only keep that thread going: they touch no
// chip and publish nothing.
class ite6805_sys {
public:
    int fd = -1;                    // copy of the bus descriptor
    uint8_t top_state[2] = {0, 0};  // per device: 0 = identify again

    void ite6805_sys_reset_init();  // the path was held low: start both devices afresh
    void iTE6805_FSM(int device);   // one pass of device 0 (input 4) or 1 (input 5)
    // Hot-plug line of a device's port: level 1 high, 0 low.
    void iTE6805_Set_HPD_Ctrl(int port, int level, int device);
    uint32_t fsmCalls(int device) const { return device == 0 || device == 1 ? calls_[device] : 0; }

private:
    uint32_t calls_[2] = {0, 0};
};
