#pragma once
#include "time_limit.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// The real program as a child process on the simulated board (posix_spawn, so its state is read
// straight from waitpid), with VYR_ROOT = root and its output in <root>/program.out. A cross-built
// program runs under the tests' emulator. The destructor kills it.
class Program {
public:
    explicit Program(const std::string& root);
    // Any program of the build's machine: args (the program and its arguments) with exactly the
    // environment env, under the tests' emulator when cross-built, its output in <root>/program.out.
    Program(const std::string& root, std::vector<std::string> args, std::vector<std::string> env);
    ~Program();
    bool started() const { return m_pid > 0; }
    std::string startError() const; // why it could not be started
    bool running();
    pid_t pid() const { return m_pid; }
    int status() const { return m_status; } // waitpid's status, once running() said it ended
    std::string output() const;
    std::string report(); // exit status and the program's output
    // CPU time (user + system) the program has used so far, in clock ticks; -1 when unknown.
    long cpuTicks() const;
    // Kills the program and every process it started and has not left (the destructor kills only
    // the program).
    void killTree();

private:
    std::string m_root;
    pid_t m_pid = -1;
    int m_spawn_error = 0;
    int m_status = 0;
    bool m_exited = false;
};

// The fields of /proc/<pid>/stat after the command name (which may hold blanks): [0] the state,
// [1] the parent's pid, [11] and [12] the user and system time; empty once it is gone.
std::vector<std::string> procStatFields(pid_t pid);
// Polls condition every 20 ms until it holds; false when it has not within the limit (a quiet
// host's, scaled by TimeLimit).
bool waitFor(const std::function<bool()>& condition, int timeoutMs);
// The words as exec and posix_spawn take them: pointers into `words`, ending with a null.
std::vector<char*> execPointers(std::vector<std::string>& words);
