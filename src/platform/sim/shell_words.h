#pragma once
#include <string>
#include <vector>

namespace platform::Sim {

struct ShellWord {
    std::string text;
    bool glob = false; // holds an unquoted * ? or [
};

struct ShellCommandLine {
    std::vector<ShellWord> words;
    bool compound = false; // pipes, lists, substitutions or variables: not modelled
};

// Splits one command line as /bin/sh does for a simple command: runs of blanks separate words,
// quotes and backslashes keep them together. Redirections and a trailing "&" are dropped.
ShellCommandLine parseCommandLine(const std::string& line);

}
