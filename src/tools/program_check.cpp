#include "tools/program_check.h"

#include "base/fd_io.h"
#include "base/md5.h"
#include "platform/board.h"
#include "tools/program_image.h"

#include <QCoreApplication>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace program_check {

namespace {

std::atomic<int> timeLimitMs{0};

// The seal: the build writes the program's length and the MD5 of its first `length` bytes (with
// the digest's own 32 characters as '0') over the placeholder in the program as shipped
// (cmake/seal_program.sh). Programs built for development keep the placeholder and check nothing.
constexpr size_t kTagLength = 17, kLengthAt = 17, kDigestAt = 26, kSealLength = 58;
constexpr char kTag[] = "VYR-PROGRAM-SEAL:";
constexpr char kUnsealed[] = "unsealed";
// Volatile: the placeholder is what the compiler sees, the sealed bytes are what the file holds.
__attribute__((used)) const volatile char kSeal[64] = "VYR-PROGRAM-SEAL:unsealed:00000000000000000000000000000000";

bool isHex(const char* text, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) || std::isupper(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// Empty when the program's own file matches its seal, or it was never sealed.
std::string sealRefusal()
{
    char seal[kSealLength];
    for (size_t i = 0; i < kSealLength; ++i)
        seal[i] = kSeal[i];
    if (std::memcmp(seal, kTag, kTagLength) != 0 || seal[kDigestAt - 1] != ':' || !isHex(seal + kDigestAt, 32))
        return "program seal damaged";
    if (std::memcmp(seal + kLengthAt, kUnsealed, 8) == 0)
        return std::string();
    if (!isHex(seal + kLengthAt, 8))
        return "program seal damaged";
    const unsigned long length = std::strtoul(std::string(seal + kLengthAt, 8).c_str(), nullptr, 16);
    const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "program cannot read its own file";
    std::vector<char> bytes(length);
    const bool read = readFullyAt(fd, 0, bytes.data(), length);
    ::close(fd);
    if (!read)
        return "program cut short";
    // The seal's place in the file: where its sealed bytes stand.
    void* at = memmem(bytes.data(), bytes.size(), seal, kSealLength);
    if (!at)
        return "program damaged inside";
    std::memset(static_cast<char*>(at) + kDigestAt, '0', 32);
    MD5 md5(bytes.data(), bytes.size());
    if (md5.toString() != std::string(seal + kDigestAt, 32))
        return "program damaged inside";
    return std::string();
}

// A cross-built simulated board runs under an emulator (the tests'): the programs it starts go
// through the same one. The box starts them as they are.
std::vector<std::string> emulator()
{
    std::vector<std::string> words;
    const char* e = getenv("VYR_EMULATOR");
    if (!platform::isSimulated() || !e)
        return words;
    std::istringstream in(e);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

// Empty when the file carries the seal's tag, as every version with the check start does. Read in
// chunks that overlap by the tag's length, so a tag across two of them is found.
std::string sealTagRefusal(const std::string& hostPath)
{
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "program cannot be opened";
    std::vector<char> chunk(65536);
    bool found = false, failed = false;
    for (uint64_t at = 0; !found;) {
        const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        failed = n < 0;
        if (n < ssize_t(kTagLength))
            break;
        found = memmem(chunk.data(), size_t(n), kTag, kTagLength) != nullptr;
        at += uint64_t(n) - (kTagLength - 1);
    }
    ::close(fd);
    return found ? std::string() : failed ? "program cannot be read" : kTooOld;
}

// The last line the program printed, trimmed: the loader's or the check's own reason.
std::string lastLine(std::string out)
{
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    const size_t nl = out.find_last_of('\n');
    out = nl == std::string::npos ? out : out.substr(nl + 1);
    return out.size() > 160 ? out.substr(0, 160) : out;
}

}

void setTimeLimitMs(int ms)
{
    timeLimitMs = ms;
}

std::string startRefusal(const std::string& hostPath)
{
    const std::string untagged = sealTagRefusal(hostPath);
    if (!untagged.empty())
        return untagged;
    using Clock = std::chrono::steady_clock;
    const int limit = timeLimitMs.load() > 0 ? timeLimitMs.load() : kTimeLimitMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit);
    std::vector<std::string> words = emulator();
    words.push_back(hostPath);
    words.push_back(kArgument);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return "program could not be started";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    // Its own process group, killed whole when it overruns; signals as a fresh program has them,
    // whatever the starting thread blocks.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return std::string("program could not be started: ") + std::strerror(spawned);
    }

    std::string output;
    int status = 0;
    bool ended = false, overran = false;
    for (bool open = true; !ended;) {
        const long left = long(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0) {
            overran = true;
            break;
        }
        if (open) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, int(std::min(left, 50L))) > 0) {
                char chunk[512];
                const ssize_t n = ::read(out[0], chunk, sizeof chunk);
                if (n > 0) {
                    output.append(chunk, size_t(n));
                    if (output.size() > 4096) // the end holds the reason
                        output.erase(0, output.size() - 4096);
                } else if (n == 0 || errno != EINTR)
                    open = false;
            }
        } else {
            ::usleep(5000); // its output closed: waiting only for its end
        }
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        ended = w == pid || (w < 0 && errno != EINTR);
    }
    ::close(out[0]);
    if (overran) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return "program did not end its start check within " + std::to_string((limit + 999) / 1000) + " s";
    }
    if (WIFSIGNALED(status))
        return "program crashed at its start (signal " + std::to_string(WTERMSIG(status)) + ")";
    // A build with a sanitizer catches the signal itself, names it ("ERROR: ...Sanitizer: SEGV on
    // unknown address") and exits.
    const size_t caught = output.find("Sanitizer:DEADLYSIGNAL");
    if (caught != std::string::npos) {
        const size_t named = output.find("Sanitizer: ", caught + 22);
        const std::string name = named == std::string::npos ? "?" : output.substr(named + 11, output.find(' ', named + 11) - named - 11);
        return "program crashed at its start (signal " + name.substr(0, 16) + ")";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kPassed)
        return std::string();
    const std::string line = lastLine(output);
    if (!line.empty())
        return "program failed its start check: " + line;
    return "program failed its start check (exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

std::string refusal(const std::string& hostPath)
{
    // Never start what is not a program of this box's kind.
    const std::string refused = program_image::fileRefusal(hostPath);
    return refused.empty() ? startRefusal(hostPath) : refused;
}

int checkMode(int argc, char** argv)
{
    const std::string damaged = sealRefusal();
    if (!damaged.empty()) {
        std::fprintf(stderr, "%s\n", damaged.c_str());
        return 1;
    }
    {
        // Qt's own start, without a platform plugin: no screen, no input device.
        QCoreApplication app(argc, argv);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    // Nothing of the program ran that must be finished: no leak check, no tear-down.
    ::_exit(kPassed);
}

}
