#pragma once
#include <string>

// A program about to replace the running one is started once in its check mode first: it loads
// its libraries, checks its own file against the digest the build sealed into the program as
// shipped, starts Qt without a screen and exits with kPassed, touching no hardware, no network and
// no file. Packages and uploads carry no checksum of their own, and a damaged program (its entry
// point zeroed, a block of its code lost on the stick) passes every look at its headers: installed,
// it would restart the box into a crash with no panel and no protocol to upgrade it again.
namespace program_check {

constexpr const char* kArgument = "--check-start";
constexpr int kPassed = 86;          // the check mode's exit code; anything else is a refusal
constexpr int kTimeLimitMs = 10000;  // the check takes well under a second on the box
// A version older than the check start takes the argument for an ordinary start (the box's chips,
// ports and files, beside the running program): it is known by the seal it lacks and never started.
constexpr const char* kTooOld = "program too old for this box";

// Empty when the file (a resolved path) is a whole program of this box's kind and passed its
// check start; else the reason, for the page and the log. Blocks for at most the time limit.
std::string refusal(const std::string& hostPath);
// The check start alone, for a file already known to be a program of this box's kind.
std::string startRefusal(const std::string& hostPath);

// Tests: the time limit of a check start (0: kTimeLimitMs).
void setTimeLimitMs(int ms);

// The program's own side, run by main instead of its start when argv[1] is kArgument; returns
// only a failure's exit code.
int checkMode(int argc, char** argv);

}
