#pragma once
#include <atomic>
#include <cstdint>
#include <pthread.h>
#include <vector>

class fpga_drv;

// The FPGA manager. So far: the chip-select words of the FPGA configuration flashes (null until
// the GPIO window is mapped), the request bytes the scaler raises for the FPGA worker, and the
// controller images the control protocol reads and writes. Until the SPI access layer exists,
// the FPGAs' registers are their caches and their RAM banks are held in memory.
class fpga_manage {
public:
    static fpga_manage* p_fpga_manage;
    static fpga_manage* pInstance();

    volatile uint16_t* cs_fpga0 = nullptr; // window 0x207810: select of FPGA 0 and its flash
    volatile uint16_t* cs_fpga1 = nullptr; // window 0x207900: select of FPGA 1 and its flash

    std::atomic<uint8_t> onoff_request{0}; // LED output on/off (block 0x844) changed
    std::atomic<uint8_t> lcd_request{0};   // LED x/y offset (block 0x566/0x568) changed
    std::atomic<uint8_t> bri_request{0};   // brightness changed (under Utils::_bri_set_mutex)

    // ---- controller images, per FPGA unless static ----
    static constexpr uint32_t kRegCount = 170;
    static constexpr uint32_t kRamSize = 1024;
    static constexpr uint32_t kEthParaSize = 136;
    uint8_t* MCU_REG_func[2];               // register caches; byte 80 = FPGA state, 3 = up
    uint8_t* MCU_RAM_PARA_func[2];          // parameter RAM (bank 1)
    uint8_t* MCU_RAM_RX_func[2];
    uint8_t* MCU_RAM_TX_func[2];            // also the staging area of bank 50
    uint8_t* MCU_RAM_ETH_PARA_func[2];      // output-port parameters
    uint8_t* MCU_RAM_ETH_BACK_PARA_func[2]; // port positions before the LED offset
    static uint8_t MCU_RAM_CMD[kRamSize];   // command area and mailbox
    static uint8_t MCU_RAM_EXTEND[kRamSize];
    static uint8_t MCU_RAM_ZOOM[kRamSize];
    static uint8_t MCU_RAM_DEFAULT[2 * kRamSize];
    pthread_mutex_t reg_mutex;              // register caches and MCU_RAM_EXTEND byte 29

    uint8_t vbyone_state = 0;        // 7 = V-by-One link up
    uint8_t fpga_status = 0;         // status byte (group 0x82 byte 22); bit 1 reported in device info
    uint8_t multicast_flag = 0;      // under Utils::_fpga_multicast_mutex
    uint32_t multicast_port_mask = 0;
    uint8_t control_uid[16] = {};    // unique id of FPGA 0's flash, 8 bytes and 8 zeros
    uint16_t wlan_state_word = 0;    // port links of the last link report
    fpga_drv* fpgadrv;

    // Registers 0-63 and 128-169 of the FPGA into the cache; others untouched.
    void read_from_register(int reg, int fpga);
    // Cached read-modify-write; 64-96 exist only in the cache, 97-127 and 170 up are ignored.
    void write_to_register(int reg, uint8_t mask, uint8_t value, int fpga);
    // RAM bank transfers at a 12-bit address; 0, or 1 when the range leaves the bank.
    int write_fpga_ram(const uint8_t* buffer, uint32_t address, uint32_t length, int bank, int fpga);
    int read_fpga_ram(uint8_t* buffer, uint32_t address, uint32_t length, int bank, int fpga);
    void R58_back_mcu_set_net_para(int fpga); // backup := port positions of the parameter RAM
    int get_fpga_status();                    // 1 when FPGA 0 is up and its picture enabled
    bool fpgaUp(int fpga) const;              // register cache byte 80 is 3

    // ---- pass-through of frames for receiving cards ----
    // Taken by every transport around the pass-through call, the interrupt service and the
    // clearing of reply_ready; the worker takes it around its own interrupt service.
    pthread_mutex_t pass_mutex = PTHREAD_MUTEX_INITIALIZER;
    std::atomic<uint8_t> reply_ready{0}; // a card's answer waits in a transport's answer list
    int Dealwith1_PC_to_eth(uint32_t length, const uint8_t* packet); // decoded frame with check byte; 1
    void reg_IRQ_Dealwith(int fpga, int force);                       // one pass of the interrupt service
    // Hands a card's answer (decoded, check byte included) to the transport named by
    // g_passby_trans_port, sets that byte to 255 and reply_ready. The caller holds pass_mutex.
    void forward_card_reply(const uint8_t* reply, uint32_t length);

private:
    fpga_manage();
    uint8_t reg_cache_[2][kRegCount + 1] = {};
    uint8_t para_[2][kRamSize] = {};
    uint8_t rx_[2][kRamSize] = {};
    uint8_t tx_[2][kRamSize] = {};
    uint8_t eth_para_[2][kEthParaSize] = {};
    uint8_t eth_back_[2][kEthParaSize] = {};
    std::vector<uint8_t> banks_[2]; // 256 banks of 4 KiB per FPGA
};
