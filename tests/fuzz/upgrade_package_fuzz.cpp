// A USB upgrade package as it lies on the stick: read and checked whole (header, entries, FPGA
// images, fonts), and the application check on each application it carries.
#include "fuzz_board.h"

#include "platform/paths.h"
#include "tools/program_image.h"
#include "tools/upgrade_package.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBoard::start();
    FuzzBoard::writeFile("/mnt/usb1/fuzz.VYR", data, size);
    upgrade::Package package;
    std::string error;
    if (upgrade::readPackage(platform::Paths::resolve("/mnt/usb1/fuzz.VYR"), &package, &error)) {
        for (const upgrade::Entry& e : package.entries) {
            // An accepted entry's bytes lie inside the package.
            if (uint64_t(e.dataOffset) + e.dataLen > size)
                abort();
            if (e.type == upgrade::App)
                program_image::refusal(data + e.dataOffset, e.dataLen);
        }
    }
    program_image::refusal(data, size);
    return 0;
}
