#pragma once
#include "platform/sim/shell_words.h"

#include <string>
#include <vector>

namespace platform::Sim {

// rm, cp, mv, chmod, mkdir and sync, carried out under the simulated root with busybox's exit
// codes. A path that would leave the root makes the whole command a no-op with exit code 1.
bool isFileCommand(const std::string& name);
int runFileCommand(const std::string& name, const std::vector<ShellWord>& arguments);

}
