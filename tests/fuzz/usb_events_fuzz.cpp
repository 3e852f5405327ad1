// USB stick events as the stick monitor reads them: kernel uevent messages, one per piece of the
// input, then (3 s later) the mount table of the last piece, in which the stick's mount is looked for.
// Each event is handed to the monitor in a buffer of its own size (it must read no further than
// the length it was given), then sent as a datagram to the simulated board's event socket and read
// by the monitor's receive loop, which must raise the same codes for it as the event whole.
#include "fuzz_board.h"

#include "base/global.h"
#include "platform/sim/uevent_sim.h"
#include "platform/uevent_source.h"
#include "tools/usbserver.h"

#include <string>
#include <vector>

namespace {
constexpr size_t kEventMax = 8192; // the longest event the receive loop takes whole
std::vector<int> codes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBoard::start();
    static UsbServer* server = [] {
        FuzzBoard::writeFile("/proc/scsi/usb-storage", QByteArray());
        auto* s = new UsbServer(platform::openUeventSource());
        QObject::connect(s, &UsbServer::sig_usb_update, [](int code) { codes.push_back(code); });
        return s;
    }();
    std::vector<QByteArray> pieces = FuzzBoard::split(data, size, "#EV#");
    const QByteArray mounts = pieces.size() > 1 ? pieces.back() : QByteArray();
    if (pieces.size() > 1)
        pieces.pop_back();
    for (const QByteArray& event : pieces) {
        if (event.isEmpty())
            continue; // the socket hands over no empty message
        codes.clear();
        const std::vector<char> message(event.begin(), event.end());
        server->handleEvent(message.data(), message.size());
        const std::vector<int> whole = codes;
        codes.clear();
        if (!platform::Sim::sendUevent(std::string(message.begin(), message.end())))
            FuzzBoard::fail("cannot send an event of %zu bytes", message.size());
        server->recvData(0);
        if (message.size() <= kEventMax && codes != whole)
            FuzzBoard::fail("an event of %zu bytes raised %zu codes through the socket, %zu whole", message.size(),
                            codes.size(), whole.size());
    }
    FuzzBoard::writeFile("/proc/mounts", mounts);
    G_timeTicks.fetch_add(UsbServer::kReadyTicks + 1);
    server->recvData(0);
    G_timeTicks.fetch_add(UsbServer::kGiveUpTicks + 1);
    server->recvData(0);
    FuzzBoard::settle();
    return 0;
}
