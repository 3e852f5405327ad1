#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A private X server (Xvfb, one 320x240 screen, no window manager: the display scripts/run gives
// the panel) for what only a real window system decides: which window is on top and which one the
// keys reach. Each test starts its own on a free display number, so tests run side by side; the
// destructor ends it.
class XServer {
public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool running() const { return pid_ > 0 && !display_.empty(); }
    const std::string& display() const { return display_; } // ":N"
    const std::string& error() const { return error_; }

    // Runs the test `name` (suite.test, usually a DISABLED_ one) of this test program in a child
    // process on this display with Qt's xcb platform, under the tests' emulator when cross-built.
    // Its output goes to <root>/program.out, which the test's end checks for sanitizer reports.
    // True when it passed; *report holds its status and output.
    bool runTest(const std::string& name, int timeoutMs, std::string* report);

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
};

// The X server's own account, read on a connection of its own (not the program's): for the tests
// that run on the private display.
namespace XView {
// The top-level windows that are mapped and viewable, bottom of the stack first.
std::vector<uint32_t> viewable();
uint32_t inputFocus(); // the window with the keyboard focus (0 when none, 1 for PointerRoot)
}
