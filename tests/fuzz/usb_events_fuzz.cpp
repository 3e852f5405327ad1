// USB stick events as the stick monitor reads them: kernel uevent messages, one per piece of the
// input, then (3 s later) the mount table of the last piece, in which the stick's mount is looked for.
#include "fuzz_board.h"

#include "base/global.h"
#include "platform/uevent_source.h"
#include "tools/usbserver.h"

#include <memory>
#include <vector>

namespace {
// Events are handed to the monitor directly; its poll finds nothing more to read.
class NoMoreEvents : public platform::UeventSource {
public:
    int fd() const override { return -1; }
    ssize_t receive(char*, size_t) override { return -1; }
};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBoard::start();
    static UsbServer* server = [] {
        FuzzBoard::writeFile("/proc/scsi/usb-storage", QByteArray());
        return new UsbServer(std::make_unique<NoMoreEvents>());
    }();
    std::vector<QByteArray> pieces = FuzzBoard::split(data, size, "#EV#");
    const QByteArray mounts = pieces.size() > 1 ? pieces.back() : QByteArray();
    if (pieces.size() > 1)
        pieces.pop_back();
    // Each event in a buffer of its own size (a QByteArray adds a zero byte): the monitor must
    // read no further than the length the socket gave.
    for (const QByteArray& event : pieces) {
        if (event.isEmpty())
            continue; // the socket hands over no empty message
        const std::vector<char> message(event.begin(), event.end());
        server->handleEvent(message.data(), message.size());
    }
    FuzzBoard::writeFile("/proc/mounts", mounts);
    G_timeTicks.fetch_add(UsbServer::kReadyTicks + 1);
    server->recvData(0);
    G_timeTicks.fetch_add(UsbServer::kGiveUpTicks + 1);
    server->recvData(0);
    FuzzBoard::settle();
    return 0;
}
