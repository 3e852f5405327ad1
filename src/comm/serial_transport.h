#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <pthread.h>
#include <vector>

#include "comm/pending_answers.h"
#include "comm/protocol_phy.h"
#include "comm/serial_modules.h"

class message_deal;

// The control protocol on a serial line: one thread blocks in poll on the port, decodes the byte
// stream into frames however the reads cut it, runs them and writes the replies back, or passes
// frames for receiving cards to the FPGA manager and writes back the card's answer on the same line.
class SerialTransport {
public:
    static constexpr uint32_t kRecordSize = 65556; // largest frame and largest reply on the wire

    virtual ~SerialTransport(); // stops the thread and closes the port
    // Opens /dev/ttyS<port> at speed and starts the thread. 0 (also when the port cannot be
    // opened: the transport then stays silent), or 255 when the thread cannot start.
    int usart1_init(int port, int speed, bool thread = true);
    void runOnce(int timeoutMs); // one pass: wait for bytes, serve frames, wait for a card

    bool opened() const { return m_serial.fd() >= 0; }
    uint8_t passState() const { return m_askers.state(); } // PendingAnswers: 0 idle, 1 waiting, 2 serving

protected:
    explicit SerialTransport(const char* threadName);

private:
    static void* receive_thread(void* arg);
    void serveFrame(const uint8_t* body, uint32_t length);
    void answerAskers();
    void send_uart_data(const uint8_t* wire, uint32_t length);
    void wake();

    const char* m_name;
    serial_modules m_serial;
    protocol_phy m_phy;
    message_deal* m_message;
    uint64_t m_peer = 0;                     // request_peer of this line
    FrameStream m_stream{kRecordSize};
    std::vector<uint8_t> m_read;
    std::vector<uint8_t> m_request;
    std::vector<uint8_t> m_wire;
    std::mutex m_send_mutex;                 // the line itself
    PendingAnswers m_askers;                 // the line's card frame or slow request (wakes the thread)
    pthread_t m_thread{};
    bool m_thread_started = false;
    std::atomic<bool> m_stop{false};
    int m_wake_fd = -1;
};

// Serial port 2: the RS-485 line for PC tools.
class Qz_uart_inout : public SerialTransport {
public:
    static Qz_uart_inout* p_uart;
    static Qz_uart_inout* pInstance(); // opens /dev/ttyS2 at g_BPS and starts the thread
    Qz_uart_inout() : SerialTransport("uart_inout") {}
    ~Qz_uart_inout() override;
};

// Serial port 1: the line to the 4G modem.
class Qz_uart_inout_4G : public SerialTransport {
public:
    static Qz_uart_inout_4G* p_uart_4G;
    static Qz_uart_inout_4G* pInstance(); // opens /dev/ttyS1 at g_BPS and starts the thread
    Qz_uart_inout_4G() : SerialTransport("uart_inout_4G") {}
    ~Qz_uart_inout_4G() override;
};
