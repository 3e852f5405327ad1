// A sequence of file-transfer requests (group 0xC0: starts with tags, named starts with names and
// types, blocks, ends, reads) and register writes, one per piece of the input, from two tools
// (FuzzRequests::takePeer).
// An end of five bytes gets the digest a tool would send: a tool sends the file it announced, so
// when the blocks it sent since its start add up to the length the start announced, the digest of
// those blocks (uploads the fuzzer shapes can be stored); otherwise the file it meant did not all
// arrive, and its digest is not theirs (one byte changed). The end then fails on the digest rather
// than after hashing up to 5 MiB of staging buffer for an upload that cannot match.
#include "fuzz_board.h"
#include "fuzz_requests.h"

#include "base/bytes.h"
#include "base/md5.h"

namespace {
using FuzzRequests::Peer;

struct Upload {
    MD5 digest;             // of the blocks sent since the last start
    uint64_t sent = 0;      // their bytes
    uint32_t announced = 0; // by that start
};
Upload uploads[2]; // by peer

QByteArray withDigest(const QByteArray& request, Peer from)
{
    Upload& u = uploads[from == Peer::Second ? 1 : 0];
    const auto* p = reinterpret_cast<const uint8_t*>(request.constData());
    const uint32_t n = uint32_t(request.size());
    if (n >= 1 && (p[0] == 1 || p[0] == 7)) {
        u = Upload();
        if (p[0] == 1 && n >= 12)
            u.announced = getU32(p + 8);
        else if (p[0] == 7 && n >= 5 && n >= 10u + getU16(p + 3))
            u.announced = getU32(p + 6 + getU16(p + 3));
    } else if (n >= 13 && p[0] == 2 && uint64_t(13) + getU32(p + 9) <= n) {
        u.digest.update(p + 13, getU32(p + 9));
        u.sent += getU32(p + 9);
    } else if (n == 5 && p[0] == 3) {
        QByteArray digest(reinterpret_cast<const char*>(u.digest.digest()), 16);
        if (u.sent != u.announced)
            digest[0] = char(digest[0] ^ 1);
        return request + digest;
    }
    return request;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uploads[0] = uploads[1] = Upload();
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
