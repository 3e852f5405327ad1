#include "fuzz_board.h"

#include "board_breaches.h"

#include "base/delay.h"
#include "platform/paths.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <dirent.h>
#include <unistd.h>
#include <vector>

namespace FuzzBoard {
namespace {
std::string root;

void removeRoot()
{
    if (!root.empty())
        QDir(QString::fromStdString(root)).removeRecursively();
}

// A root is named after its process ("vyr-fuzz-<pid>-"): a crash ends the process without its
// atexit, so each start removes the roots of processes that no longer run (scripts/fuzz removes
// its runs' own at once).
void removeRootsOfEndedRuns(const char* folder)
{
    DIR* dir = opendir(folder);
    if (!dir)
        return;
    while (const dirent* e = readdir(dir)) {
        int pid = 0;
        if (sscanf(e->d_name, "vyr-fuzz-%d-", &pid) == 1 && pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
            QDir(QString::fromLocal8Bit(folder) + '/' + QString::fromLocal8Bit(e->d_name)).removeRecursively();
    }
    closedir(dir);
}
}

void start()
{
    if (!root.empty())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // In memory where the host has it: the stores flush every file they write, and a disk's flush
    // would take most of each input's time.
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    removeRootsOfEndedRuns(folder);
    std::string pattern = std::string(folder) + "/vyr-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
    const char* made = mkdtemp(&pattern[0]);
    if (!made) {
        perror("mkdtemp");
        abort();
    }
    root = made;
    setenv("VYR_ROOT", made, 1);
    platform::Paths::setRoot(root);
    atexit(removeRoot);
    Delay::setScalePercent(0);
    platform::Sim::shellSim().setRebootHandler([] {});
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv); // kept for the whole run; the pages' qApp is one
}

void writeFile(const std::string& absolute, const uint8_t* data, size_t size)
{
    writeFile(absolute, QByteArray(reinterpret_cast<const char*>(data), int(size)));
}

void writeFile(const std::string& absolute, const QByteArray& contents)
{
    const QString path = QString::fromStdString(platform::Paths::resolve(absolute));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(contents) != contents.size()) {
        fprintf(stderr, "cannot write %s\n", qPrintable(path));
        abort();
    }
}

void removeFile(const std::string& absolute)
{
    QFile::remove(QString::fromStdString(platform::Paths::resolve(absolute)));
}

std::vector<QByteArray> split(const uint8_t* data, size_t size, const char* separator)
{
    std::vector<QByteArray> parts;
    const QByteArray all(reinterpret_cast<const char*>(data), int(size));
    const int n = int(strlen(separator));
    int from = 0;
    for (int at; (at = all.indexOf(separator, from)) >= 0; from = at + n)
        parts.push_back(all.mid(from, at - from));
    parts.push_back(all.mid(from));
    return parts;
}

void fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("fuzz check failed: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    abort();
}

void settle()
{
    QCoreApplication::processEvents();
    using namespace platform::Sim;
    const std::vector<BreachRecorder>& recorders = breachRecorders();
    static std::vector<size_t> seen(recorders.size(), 0);
    for (size_t k = 0; k < recorders.size(); ++k) {
        const std::vector<std::string> breaches = recorders[k].violations();
        for (size_t i = seen[k]; i < breaches.size(); ++i) {
            // The flash commands program what the tool sends where it says: erasing first is the
            // tool's part, and the read-back answers a failure when it did not.
            if (breaches[i].find("over bytes that are not erased") != std::string::npos)
                continue;
            fail("rule breach recorded by the simulated board: %s: %s", recorders[k].name, breaches[i].c_str());
        }
        seen[k] = breaches.size();
    }
    shellSim().clearLog();
    mtdSim().clearCalls();
    c331Chip().clearLog();
    fpgaChip().clearLog();
    fpgaChip().clearPackets();
    fpgaFlash().clearLog();
    i2cBoard().clearLog();
}

}
