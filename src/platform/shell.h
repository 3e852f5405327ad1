#pragma once
#include <string>

namespace platform {
// The board's /bin/sh. Results are raw wait statuses, as system() returns them (exit code x 256).
class Shell {
public:
    virtual ~Shell() = default;
    virtual int system(const std::string& command) = 0;
    // Runs the command and collects its standard output (popen).
    virtual int capture(const std::string& command, std::string* output) = 0;
};
Shell& shell();
}
