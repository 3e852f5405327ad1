#include "fuzz_board.h"

#include "base/delay.h"
#include "platform/paths.h"
#include "platform/sim/sim_board.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace FuzzBoard {
namespace {
std::string root;

void removeRoot()
{
    if (!root.empty())
        QDir(QString::fromStdString(root)).removeRecursively();
}
}

void start()
{
    if (!root.empty())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char pattern[] = "/tmp/vyr-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) {
        perror("mkdtemp");
        abort();
    }
    root = pattern;
    setenv("VYR_ROOT", pattern, 1);
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

void settle()
{
    QCoreApplication::processEvents();
}

}
