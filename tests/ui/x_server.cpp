#include "x_server.h"

#include "program.h"

#include "platform/paths.h"

#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// Waits for a child until the deadline; false (the child killed) when it did not end in time.
bool waitChild(pid_t pid, int timeoutMs, int* status)
{
    const auto end = std::chrono::steady_clock::now() + TimeLimit::of(timeoutMs);
    while (true) {
        const pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}

XServer::XServer()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The display number comes back on descriptor 3; Xvfb's own talk goes nowhere.
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> argv = {"Xvfb", "-displayfd", "3", "-screen", "0", "320x240x24", "-nolisten", "tcp", "-br"};
    auto args = execPointers(argv);
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        pid_ = -1;
        close(fds[0]);
        error_ = std::string("Xvfb could not be started: ") + strerror(spawned);
        return;
    }
    // Xvfb writes the number once it takes connections.
    std::string number;
    const auto end = std::chrono::steady_clock::now() + TimeLimit::of(30000);
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p = {fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[32];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        number.append(buf, size_t(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        error_ = "Xvfb gave no display number";
        return;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
}

XServer::~XServer()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        if (!waitChild(pid_, 5000, &status))
            waitpid(pid_, &status, WNOHANG);
    }
}

bool XServer::runTest(const std::string& name, int timeoutMs, std::string* report)
{
    if (!running()) {
        *report = error_;
        return false;
    }
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) {
        *report = "this test program's path is unknown";
        return false;
    }
    self[len] = 0;
    std::vector<std::string> argv;
    argv.push_back(self);
    argv.push_back("--gtest_filter=" + name);
    argv.push_back("--gtest_also_run_disabled_tests");
    auto replaced = [](const std::string& v) {
        for (const char* name : {"QT_QPA_PLATFORM=", "DISPLAY=", "VYR_ROOT=", "DBUS_SESSION_BUS_ADDRESS=", "QT_XCB_GL_INTEGRATION="})
            if (v.rfind(name, 0) == 0)
                return true;
        return false;
    };
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (!replaced(*e))
            env.push_back(*e);
    env.push_back("QT_QPA_PLATFORM=xcb");
    env.push_back("DISPLAY=" + display_);
    // No session bus: nothing is started to provide one. No OpenGL, which the panel does not use
    // (Mesa's driver, unloaded at the end, leaves an allocation the leak check cannot name).
    env.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
    env.push_back("QT_XCB_GL_INTEGRATION=none");
    Program child(platform::Paths::root(), argv, env);
    if (!child.started()) {
        *report = "the test could not be started: " + child.startError();
        return false;
    }
    const bool ended = waitFor([&child] { return !child.running(); }, timeoutMs);
    const int status = child.status();
    const std::string text = child.output();
    std::ostringstream r;
    if (!ended)
        r << "did not end within " << timeoutMs << " ms";
    else if (WIFEXITED(status))
        r << "exit status " << WEXITSTATUS(status);
    else
        r << "ended by signal " << WTERMSIG(status);
    *report = r.str() + "\n" + text;
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           text.find("[  PASSED  ] 1 test") != std::string::npos;
}

namespace XView {

namespace {
struct Connection {
    xcb_connection_t* c;
    xcb_window_t root = 0;
    Connection() : c(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(c) == 0)
            root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~Connection() { xcb_disconnect(c); }
    bool ok() const { return root != 0; }
};
}

std::vector<uint32_t> viewable()
{
    std::vector<uint32_t> out;
    Connection x;
    if (!x.ok())
        return out;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&free)> tree(xcb_query_tree_reply(x.c, xcb_query_tree(x.c, x.root), nullptr), &free);
    if (!tree)
        return out;
    // Children come bottom first.
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int n = xcb_query_tree_children_length(tree.get());
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&free)> a(
            xcb_get_window_attributes_reply(x.c, xcb_get_window_attributes(x.c, children[i]), nullptr), &free);
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE)
            out.push_back(children[i]);
    }
    return out;
}

uint32_t inputFocus()
{
    Connection x;
    if (!x.ok())
        return 0;
    std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&free)> f(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr), &free);
    return f ? f->focus : 0;
}

}
