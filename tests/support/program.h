#pragma once
#include <functional>
#include <string>
#include <sys/types.h>

// The real program as a child process on the simulated board (posix_spawn, so its state is read
// straight from waitpid), with VYR_ROOT = root and its output in <root>/program.out. A cross-built
// program runs under the tests' emulator. The destructor kills it.
class Program {
public:
    explicit Program(const std::string& root);
    ~Program();
    bool running();
    pid_t pid() const { return m_pid; }
    std::string report(); // exit status and the program's output
    // CPU time (user + system) the program has used so far, in clock ticks; -1 when unknown.
    long cpuTicks() const;

private:
    std::string m_root;
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_exited = false;
};

bool waitFor(const std::function<bool()>& condition, int timeoutMs);
