#include "tools/rcv_recovery_file.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "platform/paths.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

int rcvRecovery::check_file_dir(const QString& path)
{
    const QString local = QString::fromStdString(platform::Paths::resolve(path.toStdString()));
    if (QFileInfo(local).isDir()) {
        if (traceOn())
            printf("\n %s exists !/n", path.toLocal8Bit().constData());
        return 0;
    }
    // One level only: a missing "/data" is a broken root, not something to paper over here.
    if (QDir().mkdir(local))
        return 1;
    writeLogMsg(LOG_ERROR, "receiving-card folder cannot be created: " + path.toStdString());
    return 0;
}
