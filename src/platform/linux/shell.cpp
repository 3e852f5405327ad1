#include "platform/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

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

    int run(const std::vector<std::string>& argv) override
    {
        if (argv.empty())
            return 127 << 8;
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_t pid = 0;
        if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
            return 127 << 8;
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR)
                return -1;
        }
        return status;
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
