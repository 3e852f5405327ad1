#include "base/atomic_file.h"

#include "base/fd_io.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <string>
#include <unistd.h>

bool writeFileAtomically(const QString& path, const QByteArray& contents)
{
    const std::string target = platform::Paths::resolve(path.toStdString());
    const std::string temp = temporaryFor(target);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = writeFully(fd, contents.constData(), size_t(contents.size())) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    syncParentDirectory(target); // the rename itself
    return true;
}

bool syncParentDirectory(const std::string& resolvedPath)
{
    const std::string::size_type slash = resolvedPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : resolvedPath.substr(0, slash));
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return false;
    const bool ok = ::fsync(dfd) == 0;
    ::close(dfd);
    return ok;
}

bool makeParentDirectory(const std::string& resolvedPath)
{
    return QDir().mkpath(QFileInfo(QString::fromStdString(resolvedPath)).absolutePath());
}

std::string temporaryFor(const std::string& target)
{
    return target + kAtomicTempSuffix;
}

bool isTemporaryName(const std::string& name)
{
    const std::string suffix = kAtomicTempSuffix;
    return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int removeAtomicLeftovers(const QString& folder)
{
    QDir dir(QString::fromStdString(platform::Paths::resolve(folder.toStdString())));
    int removed = 0;
    const QStringList names = dir.entryList({QStringLiteral("*") + kAtomicTempSuffix}, QDir::Files | QDir::Hidden);
    for (const QString& name : names)
        removed += QFile::remove(dir.filePath(name)) ? 1 : 0;
    return removed;
}

int removeSettingsLockLeftovers(const QString& iniPath)
{
    const QFileInfo ini(QString::fromStdString(platform::Paths::resolve(iniPath.toStdString())));
    const QString lock = ini.fileName() + QStringLiteral(".lock");
    const QString rmlock = QStringLiteral(".rmlock");
    int removed = 0;
    QDir dir = ini.dir();
    for (const QString& name : dir.entryList({lock + QLatin1Char('*')}, QDir::Files | QDir::Hidden)) {
        QStringRef chain = name.midRef(lock.size());
        while (chain.startsWith(rmlock))
            chain = chain.mid(rmlock.size());
        if (chain.isEmpty())
            removed += QFile::remove(dir.filePath(name)) ? 1 : 0;
    }
    return removed;
}
