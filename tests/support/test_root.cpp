#include "test_root.h"

#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace TestRoot {

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

}
