#include "fuzz_requests.h"

#include "fuzz_board.h"

#include "comm/message_deal.h"
#include "fpga/fpga_manage.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "video_chips/keltosource.h"

#include <algorithm>
#include <cstdlib>
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
        return new message_deal;
    }();
    return *handler;
}

uint32_t run(uint8_t group, const QByteArray& payload, unsigned index)
{
    static std::vector<uint8_t> buffer(kMessageBufferSize);
    const uint32_t length = uint32_t(std::min<int>(payload.size(), int(kMessageBufferSize) - 10)) + 10;
    // Only the request's own bytes: whatever the handler reads past them must come from bounds.
    std::vector<uint8_t> request(length);
    const uint8_t head[10] = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, group};
    std::copy(head, head + 10, request.begin());
    std::copy(payload.begin(), payload.begin() + (length - 10), request.begin() + 10);
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    std::copy(request.begin(), request.end(), buffer.begin());
    const uint64_t peer = index % 3 == 2 ? request_peer::tcp(2) : request_peer::tcp(1);
    const uint32_t r = dispatcher().message_group_deal(buffer.data(), length, kMessageBufferSize, peer);
    if (r != 0 && uint64_t(r) + 11 > kMessageBufferSize)
        abort();
    FuzzBoard::settle();
    return r;
}

}
