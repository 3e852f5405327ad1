#include "platform/shell.h"

#include <cstdio>
#include <cstdlib>

// Commands are Latin-1 bytes handed to /bin/sh unchanged; callers serialise them.
namespace platform::Linux {
namespace {

class BinShell : public Shell {
public:
    int system(const std::string& command) override { return std::system(command.c_str()); }

    int capture(const std::string& command, std::string* output) override
    {
        if (output)
            output->clear();
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        char buffer[512];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            if (output)
                output->append(buffer, got);
        }
        return ::pclose(pipe);
    }
};

}
}

namespace platform {

Shell& shell()
{
    static Linux::BinShell binShell;
    return binShell;
}

}
