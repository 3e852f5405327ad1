// A sequence of file-transfer requests (group 0xC0: starts with tags, named starts with names and
// types, blocks, ends, reads) and register writes, one per piece of the input, from two tools
// (FuzzRequests::takePeer).
// An end of five bytes gets the digest a tool would send: that of the blocks its sender sent since
// its last start, the file it uploaded, so that uploads the fuzzer shapes can be stored.
#include "fuzz_board.h"
#include "fuzz_requests.h"

#include "base/bytes.h"
#include "base/md5.h"

namespace {
using FuzzRequests::Peer;

MD5 sent[2]; // by peer

QByteArray withDigest(const QByteArray& request, Peer from)
{
    MD5& digest = sent[from == Peer::Second ? 1 : 0];
    const auto* p = reinterpret_cast<const uint8_t*>(request.constData());
    const uint32_t n = uint32_t(request.size());
    if (n >= 1 && (p[0] == 1 || p[0] == 7)) {
        digest.reset();
    } else if (n >= 13 && p[0] == 2 && uint64_t(13) + getU32(p + 9) <= n) {
        digest.update(p + 13, getU32(p + 9));
    } else if (n == 5 && p[0] == 3) {
        return request + QByteArray(reinterpret_cast<const char*>(digest.digest()), 16);
    }
    return request;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sent[0].reset();
    sent[1].reset();
    for (QByteArray request : FuzzBoard::split(data, size, "#C0#")) {
        const Peer from = FuzzRequests::takePeer(request);
        // A piece starting with "A0" goes to the register group with the rest: register 14 puts
        // an uploaded application in place.
        if (request.startsWith("A0"))
            FuzzRequests::run(0xA0, request.mid(2), from);
        else
            FuzzRequests::run(0xC0, withDigest(request, from), from);
    }
    return 0;
}
