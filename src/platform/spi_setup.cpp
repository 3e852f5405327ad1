#include "platform/spi_setup.h"

namespace platform {

std::string setUpSpi(SpiSetupRequests& io, uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz)
{
    const uint32_t bits = bitsPerWord ? bitsPerWord : 8; // 0 means the driver's 8
    std::string problems;
    auto note = [&problems](const std::string& text) {
        problems += problems.empty() ? text : "; " + text;
    };
    struct Step {
        SpiSetupRequests::Request write, read;
        uint32_t wanted;
        const char* name;
        const char* unit;
    };
    const Step steps[] = {{SpiSetupRequests::WriteMode, SpiSetupRequests::ReadMode, mode, "mode", ""},
                          {SpiSetupRequests::WriteBits, SpiSetupRequests::ReadBits, bits, "bits per word", ""},
                          {SpiSetupRequests::WriteSpeed, SpiSetupRequests::ReadSpeed, speedHz, "max speed", " Hz"}};
    for (const Step& step : steps) {
        uint32_t value = step.wanted;
        if (!io.request(step.write, &value))
            note(std::string("can't set ") + step.name);
        value = 0;
        if (!io.request(step.read, &value))
            note(std::string("can't get ") + step.name);
        else if (value != step.wanted)
            note(std::string(step.name) + " reads " + std::to_string(value) + step.unit + ", asked "
                 + std::to_string(step.wanted) + step.unit);
    }
    return problems;
}

}
