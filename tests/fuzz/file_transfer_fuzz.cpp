// A sequence of file-transfer requests (group 0xC0: starts with tags, named starts with names and
// types, blocks, ends, reads), one per piece of the input, from two tools.
#include "fuzz_board.h"
#include "fuzz_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unsigned index = 0;
    for (const QByteArray& request : FuzzBoard::split(data, size, "#C0#"))
        FuzzRequests::run(0xC0, request, index++);
    return 0;
}
