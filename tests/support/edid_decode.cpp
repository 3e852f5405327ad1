#include "edid_decode.h"
#include "time_limit.h"

#include <QProcess>
#include <QTemporaryFile>

QString edidDecodeCheck(const uint8_t* bytes256)
{
    QTemporaryFile file;
    if (!file.open() || file.write(reinterpret_cast<const char*>(bytes256), 256) != 256 || !file.flush())
        return "no temporary file";
    QProcess p;
    p.start("edid-decode", {"--check", file.fileName()});
    if (!p.waitForFinished(TimeLimit::ms(20000)))
        return "edid-decode did not run (scripts/deps installs it)";
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

bool edidDecodeClean(const QString& output)
{
    return output.contains("EDID conformity: PASS") && !output.contains("Warning", Qt::CaseInsensitive);
}
