#pragma once
#include <atomic>
#include <cstdint>

// The FPGA manager. So far only what the scaler side needs of it: the chip-select words of the
// FPGA configuration flashes (null until the GPIO window is mapped) and the request bytes the
// scaler raises for the FPGA worker.
class fpga_manage {
public:
    static fpga_manage* p_fpga_manage;
    static fpga_manage* pInstance();

    volatile uint16_t* cs_fpga0 = nullptr; // window 0x207810: select of FPGA 0 and its flash
    volatile uint16_t* cs_fpga1 = nullptr; // window 0x207900: select of FPGA 1 and its flash

    std::atomic<uint8_t> onoff_request{0}; // LED output on/off (block 0x844) changed
    std::atomic<uint8_t> lcd_request{0};   // LED x/y offset (block 0x566/0x568) changed
    std::atomic<uint8_t> bri_request{0};   // brightness changed (under Utils::_bri_set_mutex)

private:
    fpga_manage() = default;
};
