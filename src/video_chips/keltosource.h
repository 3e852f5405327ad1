#pragma once
#include <atomic>
#include <cstdint>

// The input-source manager. So far only the request flags other workers raise for it.
class keltosource {
public:
    static keltosource* p_kelto_source;
    static keltosource* pInstance();
    int initialize(); // starts the input side; 0

    std::atomic<uint8_t> custom_edid_req[6] = {};     // 1 = rewrite this input's EEPROM with its custom EDID
    std::atomic<uint8_t> custom_edid_written[6] = {}; // 1 = the EEPROM write for the request is done
    std::atomic<uint8_t> audio_sel_req{1};            // 1 = rewrite the expander's audio bits
    std::atomic<uint8_t> sdi_reset_req{0};            // 1 = reset the SDI receiver
    // Per clock synthesiser (only 0 is fitted): 0 not written, 1 written, 2 FPGA reset released.
    // The FPGA worker brings the FPGAs up only once synthesiser 0 reads 2.
    std::atomic<uint8_t> clock_state[2] = {};

private:
    keltosource() = default;
};
