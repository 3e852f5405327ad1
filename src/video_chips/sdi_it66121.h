#pragma once
#include <cstdint>

// The IT66121 transmitter of the SDI path. Until its driver exists the identity test fails, so
// the input manager gives the path up after its ten tries and the polling thread goes on.
class it66121_sys {
public:
    uint8_t test_result = 0; // result of the last identity test
    uint8_t fail_count = 0;  // failed identity tests

    void sdi_it66121_init();
    int IT66121_Test(); // 1 when the transmitter answered with its identity
    void IT66121_init();
    void HDMITX_DevLoopProc();
};
