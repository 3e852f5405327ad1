#pragma once
#include "params/scaler_hand_over.h"

#include <QDateTime>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// Decoded frame buffer of the TCP and UDP transports (the serial links use their own size).
constexpr uint32_t kMessageBufferSize = 131072;
constexpr uint32_t k4GRamSize = 256;

extern uint8_t g_4G_RAM[k4GRamSize];   // RAM window of the 4G module (0xA1000000), under g_4G_RAM_mutex
extern std::mutex g_4G_RAM_mutex;      // writers hold it; readers on other transports read a copy
void copy4GRam(uint8_t* out);          // k4GRamSize bytes, taken under the lock
extern std::atomic<uint8_t> flag_kelto;  // a screenshot is being taken
extern std::atomic<uint32_t> len_kelto; // size of the last screenshot file

// Who sent a request: a file transfer belongs to the peer that started it, a cloud certificate
// upload to its host. Each transport names its peers in a range of its own.
namespace request_peer {
constexpr uint64_t kLocal = 0; // requests made inside the program
inline uint64_t serial(int port) { return 1ull << 56 | uint32_t(port); }
// A connection number recurs only after 2^24 more connections, none of them open that long.
inline uint64_t tcp(uint32_t address, uint64_t connection) { return 2ull << 56 | uint64_t(address) << 24 | (connection & 0xFFFFFF); }
inline uint64_t udp(uint32_t address, uint16_t port) { return 3ull << 56 | uint64_t(address) << 16 | port; }
// The host as the TCP port counts them, its IPv4 address whatever connection or source port it
// uses; a serial line is a host of its own.
inline uint64_t host(uint64_t peer)
{
    const uint64_t kind = peer >> 56;
    return kind == 2 ? 4ull << 56 | (peer >> 24 & 0xFFFFFFFF) : kind == 3 ? 4ull << 56 | (peer >> 16 & 0xFFFFFFFF) : peer;
}
}

// One request in its transport's buffer. The reply is built in place: status at byte 10, data
// from byte 11; the transport adds the check byte after it.
struct MessageFrame {
    uint8_t* body;
    uint32_t length;   // decoded bytes, check byte not counted
    uint32_t capacity; // largest reply body the transport can carry, check byte included
    uint64_t peer;     // request_peer of the sender
    std::function<uint8_t()>* slow = nullptr; // where a slow request leaves its work (message_deal::SlowWork)

    uint8_t at(uint32_t i) const { return i < length ? body[i] : 0; } // 0 past the request
    uint16_t u16At(uint32_t i) const { return uint16_t(at(i) | at(i + 1) << 8); }
    uint32_t u32At(uint32_t i) const { return u16At(i) | uint32_t(u16At(i + 2)) << 16; }
    bool toController() const { return uint16_t(u16At(0) - 0xF100) < 2; }
    int registerFpga() const { return at(7) == 2 ? 1 : 0; }             // byte 7 only
    int ramFpga() const { return at(6) == 0 && at(7) == 2 ? 1 : 0; }    // bytes 6 and 7
    bool fits(uint32_t r) const { return uint64_t(11) + r <= capacity; } // reply of r bytes
    uint32_t status(uint8_t s, uint32_t r = 1); // byte 10 := s, bytes 11.. of r zeroed; returns r
};

// The command handler behind every transport. It keeps no state of its own: everything a command
// changes lives in the parameter store, the scaler and FPGA managers and the globals above.
class message_deal {
public:
    message_deal() = default;

    // Runs one request. length: decoded bytes without the check byte; capacity: the usable size of
    // body[], which must hold 11 + r bytes of reply (transports: kMessageBufferSize, and no more
    // than (send buffer - 4) / 2 when the stuffed reply must fit a send buffer).
    // peer: the sender (request_peer). Returns r, the reply bytes from position 10; 0 for no reply
    // (short frames, unknown groups).
    // A request whose work can hold its caller for seconds (register 14's check start) is slow:
    // given `slow`, the handler leaves that work there and returns kSlow, and the transport runs
    // it off its thread (SlowRequest) and answers with the status it returns once it has ended.
    // Without, the work runs here.
    using SlowWork = std::function<uint8_t()>;
    static constexpr uint32_t kSlow = UINT32_MAX;
    uint32_t message_group_deal(uint8_t* body, uint32_t length, uint32_t capacity,
                                uint64_t peer = request_peer::kLocal, SlowWork* slow = nullptr);

    // Registers (groups 0xA0, 0xA1)
    uint32_t write_register(MessageFrame& f);
    uint32_t read_register(MessageFrame& f);
    int reg_cmd_run(uint8_t reg, uint8_t bits); // 0 when the register has an action and it ran, else 1
    // Register 11: what is quick runs here; the rest (an apply's wait for the scaler's pass and
    // its save) is the work returned, whose status is the answer.
    SlowWork register11(uint8_t bits);
    // An apply's longest wait for the scaler's pass that judges it: a new LED size's pass takes
    // about a second, with up to 2 s for the FPGA's LED-parameter step.
    static constexpr int kApplyLimitMs = 8000;
    bool RegUpdate10(uint8_t bits);             // register 16: factory defaults; true: the block was written
    void RegUpdate11(uint8_t bits);             // register 17: input manager request
    bool RegAction161(uint8_t bits);            // reboot, scaler dump, window 0 pattern; true: idem

    // The status of every answer to a command that writes the block: 0 only when it did what it
    // was asked (`done`) and, where it wrote the block (`wrote`), the settings can be saved, since
    // a tool told "done" expects the next start to load it.
    static uint8_t blockWriteStatus(bool done, bool wrote);

    // Parameter memory (groups 0x60, 0x61, 0xB0, 0x81)
    uint32_t write_ram(MessageFrame& f);
    uint32_t read_ram(MessageFrame& f);
    uint32_t vedio_write_single_para(MessageFrame& f);
    uint32_t param_save(MessageFrame& f);
    void set_para_sync();      // window 0 to the LED screen of FPGA 0's parameter RAM
    void FPGA_Ex_ram_update(); // extension bytes refreshed before a read
    void Time_to_RAM();        // local time into the extension image, BCD

    // Device, network and flash (groups 0xA4, 0xA2, 0x87, 0x82, 0x83, 0x70-0x72)
    uint32_t net_ip_set(MessageFrame& f);
    uint32_t net_eth_search(MessageFrame& f);
    uint32_t get_device_info(MessageFrame& f);
    uint32_t set_barcode(MessageFrame& f);
    uint32_t read_barcode(MessageFrame& f);
    uint32_t write_rtc_time(MessageFrame& f);
    uint32_t get_card_version(MessageFrame& f);
    uint32_t get_card_uid(MessageFrame& f);
    uint32_t cmd_erase_flash(MessageFrame& f);
    uint32_t cmd_write_flash(MessageFrame& f);
    uint32_t cmd_read_flash(MessageFrame& f);

    // File transfer (group 0xC0) and application replacement (register 14)
    uint32_t write_file_group(MessageFrame& f);
    int RegUpdate0E(uint8_t bits); // 1 when bit 0 could not put an application in place
    uint32_t start_update(MessageFrame& f); // group 0x84: FPGA restart after a flash change

    // Cloud settings (group 0xC3 sub-command 11); the text commands of 0xC4 are message_deal_4g's.
    uint32_t project_set_setproperty(MessageFrame& f);

    // Local time for the extension clock; tests replace it.
    static std::function<QDateTime()> clock;

    // Raises or lowers g_update_flag; the upgrade dialog is asked for when it changes.
    static void upgradeFlagFromRegister(bool active);

private:
    uint32_t writeRamFpga(MessageFrame& f, uint32_t a, uint32_t n);
    uint32_t readRamFpga(MessageFrame& f, uint32_t a, uint32_t n);
    bool readRamController(uint8_t* out, uint32_t a, uint32_t n); // false: no screen to grab
    // Register 11 bit 1, under the scaler mutex; with the user mode the tool recalled (0x362) or
    // asked to store (0x364) since its last apply. False when that recall or store failed.
    // *verdict: what the scaler's pass makes of the bytes it wrote (null without a scaler).
    bool applyParameterBlock(std::shared_ptr<ScalerHandOver::Verdict>* verdict);
    static void requestUpgradeDialog(bool show);
    uint32_t writeFileStart(MessageFrame& f);
    uint32_t writeNamedStart(MessageFrame& f);
    uint32_t writeFileBlock(MessageFrame& f);
    uint32_t fileRequest(MessageFrame& f, bool* aliasChanged);
    uint32_t fileOperation(MessageFrame& f, uint8_t sub, bool* aliasChanged); // under the file lock
    uint32_t refuseForeign(MessageFrame& f);
    uint32_t writeFileEnd(MessageFrame& f, bool* aliasChanged);
    uint32_t readFileStart(MessageFrame& f, uint32_t tagAt, uint8_t answer);
    uint32_t readNamedStart(MessageFrame& f);
    uint32_t readReply(MessageFrame& f, const std::string& path, uint8_t answer);
    uint32_t readFileBlock(MessageFrame& f);
    bool replaceApplication(); // false: refused (no verified upload) or failed
};
