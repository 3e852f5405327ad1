#include "fuzz_requests.h"

#include "fuzz_board.h"
#include "fuzz_fpga.h"
#include "in_process_request.h"

#include "comm/message_deal.h"
#include "fpga/fpga_manage.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "video_chips/keltosource.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace FuzzRequests {

message_deal& dispatcher()
{
    FuzzBoard::start();
    static message_deal* handler = [] {
        VyrRamPara::pInstance();
        ConfigEngine::pInstance();
        keltosource::pInstance();
        fpga_manage::instanceWithoutWorker();
        c331_manage::instanceWithoutWorker();
        // FPGA 0 up, as on a running box: its RAM reads answer from the chip, and the box's id
        // (its flash's, read at bring-up) is what the cloud settings' key is checked against.
        if (!bringUpFpga0(FuzzFpga::tick))
            FuzzBoard::fail("the simulated FPGA did not come up");
        return new message_deal;
    }();
    return *handler;
}

Peer takePeer(QByteArray& piece)
{
    if (!piece.startsWith('@'))
        return Peer::First;
    piece.remove(0, 1);
    return Peer::Second;
}

uint32_t run(uint8_t group, const QByteArray& payload, Peer from)
{
    static std::vector<uint8_t> buffer(kMessageBufferSize);
    const uint32_t length = uint32_t(std::min<int>(payload.size(), int(kMessageBufferSize) - 10)) + 10;
    // The rest of the buffer holds no request bytes: whatever the handler takes from there, it
    // took past the length it was given. (memset: a loop here, instrumented, took most of the time.)
    memset(buffer.data(), 0xEE, buffer.size());
    const uint8_t head[10] = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, group};
    memcpy(buffer.data(), head, 10);
    memcpy(buffer.data() + 10, payload.constData(), length - 10);
    const uint64_t peer = from == Peer::Second ? request_peer::tcp(0x7F000002, 2) : request_peer::tcp(0x7F000001, 1);
    const uint32_t r = runInProcess(dispatcher(), buffer.data(), length, kMessageBufferSize, peer);
    if (r != 0 && uint64_t(r) + 11 > kMessageBufferSize)
        FuzzBoard::fail("a reply of %u bytes beyond the transport's buffer", r);
    FuzzBoard::settle();
    return r;
}

}
