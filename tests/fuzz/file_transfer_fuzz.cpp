// A sequence of file-transfer requests (group 0xC0: starts with tags, named starts with names and
// types, blocks, ends, reads), one per piece of the input, from two tools. An end of five bytes
// gets the digest a tool would send, of the staged bytes over the last start's length, so that
// uploads the fuzzer shapes can be stored.
#include "fuzz_board.h"
#include "fuzz_requests.h"

#include "base/bytes.h"
#include "base/md5.h"
#include "comm/file_transfer.h"

#include <algorithm>

namespace {
constexpr uint32_t kLogoHeader = 372; // a logo is staged behind the partition's header

uint32_t announced = 0, stagedAt = 0;

QByteArray withDigest(const QByteArray& request)
{
    const auto* p = reinterpret_cast<const uint8_t*>(request.constData());
    const uint32_t n = uint32_t(request.size());
    if (n >= 12 && p[0] == 1) {
        announced = getU32(p + 8);
        stagedAt = request.mid(3, 4) == "LOGO" ? kLogoHeader : 0;
    } else if (n >= 5 && p[0] == 7 && n >= 10u + getU16(p + 3)) {
        announced = getU32(p + 6 + getU16(p + 3));
        stagedAt = 0;
    } else if (n == 5 && p[0] == 3) {
        MD5 digest(fileBuf_kelto + stagedAt, std::min(announced, kStagingSize - stagedAt));
        return request + QByteArray(reinterpret_cast<const char*>(digest.digest()), 16);
    }
    return request;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unsigned index = 0;
    announced = stagedAt = 0;
    for (const QByteArray& request : FuzzBoard::split(data, size, "#C0#"))
        FuzzRequests::run(0xC0, withDigest(request), index++);
    return 0;
}
