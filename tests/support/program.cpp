#include "program.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <vector>

#ifndef VYR_EMULATOR
#define VYR_EMULATOR ""
#endif

namespace {

std::vector<std::string> environmentOfTheProgram(const std::string& root)
{
    std::vector<std::string> env = {"VYR_ROOT=" + root, "QT_QPA_PLATFORM=offscreen", "LC_ALL=C",
                                    "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};
    // A sanitizer build of the program reads the same suppressions and settings as its tests.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = getenv(name))
            env.push_back(std::string(name) + "=" + value);
    return env;
}

}

Program::Program(const std::string& root) : Program(root, {VYR_BINARY_DIR "/vyrR58N"}, environmentOfTheProgram(root)) {}

Program::Program(const std::string& root, std::vector<std::string> args, std::vector<std::string> env) : m_root(root)
{
    const std::string out = root + "/program.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // "qemu-arm -L <sysroot>" when cross-built, nothing on the host
    std::vector<std::string> words;
    std::istringstream emulator(VYR_EMULATOR);
    for (std::string w; emulator >> w;)
        words.push_back(w);
    words.insert(words.end(), args.begin(), args.end());
    auto argv = execPointers(words);
    auto envp = execPointers(env);
    m_spawn_error = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    if (m_spawn_error != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

std::string Program::startError() const
{
    return m_spawn_error ? strerror(m_spawn_error) : "";
}

Program::~Program()
{
    if (running()) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &m_status, 0);
    }
}

bool Program::running()
{
    if (m_pid <= 0 || m_exited)
        return false;
    if (waitpid(m_pid, &m_status, WNOHANG) == m_pid)
        m_exited = true;
    return !m_exited;
}

std::string Program::output() const
{
    std::ifstream f(m_root + "/program.out");
    std::stringstream text;
    text << f.rdbuf();
    return text.str();
}

std::string Program::report()
{
    return "status " + std::to_string(m_status) + ", output: " + output();
}

long Program::cpuTicks() const
{
    std::ifstream f("/proc/" + std::to_string(m_pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // Fields after the command name (which may hold blanks) start behind the last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long utime = -1, stime = -1;
    for (int i = 3; fields >> field; ++i) { // field 3 is the state
        if (i == 14)
            utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + TimeLimit::of(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<char*> execPointers(std::vector<std::string>& words)
{
    std::vector<char*> out;
    for (std::string& w : words)
        out.push_back(w.data());
    out.push_back(nullptr);
    return out;
}
