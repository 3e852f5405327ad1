// The text commands of a cloud service (group 0xC4) and the cloud settings (group 0xC3), one
// request per piece of the input from two peers (FuzzRequests::takePeer): property files written
// and read back, certificate transfers.
#include "fuzz_board.h"
#include "fuzz_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (QByteArray request : FuzzBoard::split(data, size, "#C4#")) {
        const FuzzRequests::Peer from = FuzzRequests::takePeer(request);
        // A piece starting with "C3" goes to the settings group with the rest.
        if (request.startsWith("C3"))
            FuzzRequests::run(0xC3, request.mid(2), from);
        else
            FuzzRequests::run(0xC4, request, from);
    }
    return 0;
}
