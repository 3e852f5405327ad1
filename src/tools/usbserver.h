#pragma once
#include <QObject>
#include <atomic>
#include <cstdint>
#include <memory>
#include <pthread.h>
#include <string>
#include <vector>

namespace platform {
class UeventSource;
}

// Watches the kernel's device events in a thread of its own and announces USB sticks to the GUI:
// 100 a disk or partition added, 101 one removed, 102 an added stick's first partition mounted
// (at the earliest 3 s after its event). The thread blocks in poll; while a stick is awaited it
// looks again every 100 ms, and gives up after 30 s.
class UsbServer : public QObject {
    Q_OBJECT
public:
    static UsbServer* p_UsbServer;
    static UsbServer* pInstance(); // the program's monitor on the board's event source

    explicit UsbServer(std::unique_ptr<platform::UeventSource> source);
    ~UsbServer() override;
    int initialize();  // starts the thread; 0, or 255 without an event source (logged)
    void stop();       // ends the thread and waits for it
    // One pass: wait up to timeoutMs for events, read them all, then check an awaited stick.
    // 0, or 255 when the wait failed.
    int recvData(int timeoutMs);
    int usb_signal(int code);
    // One event's text (kernel format); the codes it raises at once, storage wait armed.
    void handleEvent(const char* data, size_t length);
    bool storageAwaited() const { return awaiting_; }

    static constexpr uint32_t kReadyTicks = 300;   // 3 s after the partition event
    static constexpr uint32_t kGiveUpTicks = 3000; // no mount within 30 s: nothing announced

Q_SIGNALS:
    void sig_usb_update(int code);

private:
    static void* acceptThread(void* self);
    void checkStorage();
    static bool mounted();

    std::unique_ptr<platform::UeventSource> source_;
    std::vector<char> buffer_; // one event as received; the thread's (or the test driving recvData)
    pthread_t thread_{};
    bool started_ = false;
    int stopPipe_[2] = {-1, -1};
    bool awaiting_ = false; // worker thread only (or the test driving recvData)
    uint32_t eventTick_ = 0;
};

// Start-up: the monitor, its codes queued to the page refresh.
void startUsbServer();
