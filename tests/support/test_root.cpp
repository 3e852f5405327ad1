#include "test_root.h"

#include "board_breaches.h"

#include "platform/paths.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace TestRoot {
namespace {

std::vector<size_t> baseline;

// A fresh board for every test after the first of a process (the first finds it fresh).
void resetBoard()
{
    using namespace platform::Sim;
    c331Chip().reset();
    c331Chip().resetFlash();
    fpgaChip().reset();
    fpgaChip().clearViolations();
    fpgaFlash().reload();
    fpgaFlash().clearViolations();
    fpgaFlash().clearLog();
    i2cBoard().reset();
    shellSim().clearScripts();
    shellSim().clearLog();
    mtdSim().failGetInfo(false);
    mtdSim().failEraseAt(-1);
    mtdSim().clearCalls();
    memSim().setOpenFails(false);
    memSim().setMsysFails(false);
    memSim().setIdWords(0x5A31, 0x7C02, 0x0E96);
}

// Reports of the sanitizers in the output of a program the test started.
void checkProgramOutput()
{
    const QByteArray out = readFile("/program.out");
    for (const char* mark : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"}) {
        const int at = out.indexOf(mark);
        if (at >= 0)
            ADD_FAILURE() << "the program reported: " << out.mid(at, 2000).toStdString();
    }
}

class BoardChecks : public ::testing::EmptyTestEventListener {
public:
    explicit BoardChecks(std::string processRoot) : processRoot_(std::move(processRoot)) {}

    void OnTestStart(const ::testing::TestInfo&) override
    {
        const std::string root = processRoot_ + "/test" + std::to_string(++count_);
        QDir().mkpath(QString::fromStdString(root));
        setenv("VYR_ROOT", root.c_str(), 1);
        platform::Paths::setRoot(root);
        if (count_ > 1)
            resetBoard();
        acceptViolations();
    }

    // Runs before the result printer's (end events go to the listeners in reverse order), so a
    // breach shows as the test's own failure.
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        for (const std::string& v : newViolations())
            ADD_FAILURE() << "rule breach recorded by the simulated board: " << v;
        checkProgramOutput();
    }

private:
    std::string processRoot_;
    int count_ = 0;
};

}

void acceptViolations()
{
    baseline.clear();
    for (const BreachRecorder& r : breachRecorders())
        baseline.push_back(r.violations().size());
}

std::vector<std::string> newViolations()
{
    std::vector<std::string> found;
    for (size_t i = 0; i < breachRecorders().size(); ++i) {
        const std::vector<std::string> all = breachRecorders()[i].violations();
        // A chip reset by the test itself starts its list again.
        const size_t from = i < baseline.size() && baseline[i] <= all.size() ? baseline[i] : 0;
        for (size_t k = from; k < all.size(); ++k)
            found.push_back(std::string(breachRecorders()[i].name) + ": " + all[k]);
    }
    return found;
}

void installBoardChecks(const std::string& processRoot)
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new BoardChecks(processRoot));
}

std::string path(const std::string& absolute)
{
    return platform::Paths::resolve(absolute);
}

QByteArray readFile(const std::string& absolute)
{
    QFile f(QString::fromStdString(path(absolute)));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const std::string& absolute, const QByteArray& contents)
{
    const QString p = QString::fromStdString(path(absolute));
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(contents) == contents.size();
}

bool exists(const std::string& absolute)
{
    return QFileInfo::exists(QString::fromStdString(path(absolute)));
}

QStringList shellLog()
{
    const QByteArray text = readFile("/sim/shell.log");
    QStringList lines = QString::fromLatin1(text).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool logHas(const char* text)
{
    return readFile("/data/keltoqz/log/jtcEnglneLog").contains(text);
}

}
