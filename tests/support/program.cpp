#include "program.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef VYR_EMULATOR
#define VYR_EMULATOR ""
#endif

namespace {

// As ctest ends a test: each process is stopped so it starts no more, its children (found by
// their parent in /proc) are ended the same way, and then it is killed.
void killTreeOf(pid_t pid)
{
    kill(pid, SIGSTOP);
    std::vector<pid_t> children;
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* e = readdir(proc)) {
            const pid_t p = pid_t(atoi(e->d_name));
            const std::vector<std::string> f = p > 0 ? procStatFields(p) : std::vector<std::string>();
            if (f.size() > 1 && f[1] == std::to_string(pid))
                children.push_back(p);
        }
        closedir(proc);
    }
    for (pid_t c : children)
        killTreeOf(c);
    kill(pid, SIGKILL);
}

std::vector<std::string> environmentOfTheProgram(const std::string& root)
{
    std::vector<std::string> env = {"VYR_ROOT=" + root, "QT_QPA_PLATFORM=offscreen", "LC_ALL=C",
                                    "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};
    // A sanitizer build of the program reads the same suppressions and settings as its tests, and
    // under an emulator starts its programs through it as they do.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "VYR_EMULATOR"})
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
    const std::vector<std::string> f = procStatFields(m_pid);
    return f.size() < 13 ? -1 : std::stol(f[11]) + std::stol(f[12]);
}

void Program::killTree()
{
    if (running())
        killTreeOf(m_pid);
}

std::vector<std::string> procStatFields(pid_t pid)
{
    // read(2), not a stream: a process reaped between the open and the read fails the read with
    // ESRCH, and libstdc++'s file buffer throws on that.
    std::string stat;
    const int fd = open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[1024];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
            stat.append(buf, size_t(n));
        close(fd);
    }
    const size_t name = stat.rfind(')');
    if (name == std::string::npos)
        return {};
    std::istringstream text(stat.substr(name + 1));
    std::vector<std::string> fields;
    for (std::string field; text >> field;)
        fields.push_back(field);
    return fields;
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
