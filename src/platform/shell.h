#pragma once
#include <string>
#include <vector>

namespace platform {
// The board's /bin/sh. Results are raw wait statuses, as system() returns them (exit code x 256).
class Shell {
public:
    virtual ~Shell() = default;
    virtual int system(const std::string& command) = 0;
    // Runs the command and collects its standard output (popen).
    virtual int capture(const std::string& command, std::string* output) = 0;
    // Runs a board tool with this argument list and no shell in between, so no word of it is ever
    // parsed (for values an operator typed). Wait status as above; 127 << 8 when it cannot start.
    virtual int run(const std::vector<std::string>& argv) = 0;
};
Shell& shell();
}
