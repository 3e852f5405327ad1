#include "base/logMsg.h"

#include "base/global.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kLogDir = "/data/keltoqz/log";
const char* const kLogFile = "/data/keltoqz/log/jtcEnglneLog";
constexpr size_t kLineMax = 511;       // the line buffer is 512 bytes with its terminator
constexpr off_t kLogLimit = 0xA00000;  // 10 MiB: the file is dropped and started again

// Appends as much of `part` as fits below kLineMax.
void appendCut(std::string& line, const std::string& part)
{
    if (line.size() < kLineMax)
        line.append(part, 0, kLineMax - line.size());
}

int openLog(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

}

int writeLogMsg(int level, std::string text)
{
    text += '\n';

    char stamp[64];
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    const size_t stampLength = strftime(stamp, sizeof stamp, "[%Y-%m-%d %H:%M:%S]", &local);
    std::string line(stamp, stampLength);

    const uint8_t sw = g_debugSwitch.load();
    const char* tag = nullptr;
    bool echo = false;
    switch (level) {
    case LOG_CRITICAL: tag = " [ENGINEASSEMBLY] [CRITICAL] "; break;
    case LOG_ERROR:    tag = " [ENGINEASSEMBLY] [ERROR   ] "; echo = sw != 0; break;
    case LOG_WARNING:  tag = " [ENGINEASSEMBLY] [WARNING ] "; echo = sw > 2; break;
    case LOG_INFO:     tag = " [ENGINEASSEMBLY] [INFO    ] "; echo = sw > 2; break;
    case LOG_DEBUG:    tag = " [ENGINEASSEMBLY] [DEBUG   ] "; echo = sw > 3; break;
    default: break;
    }
    if (echo) {
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
    }
    if (tag)
        appendCut(line, tag);
    appendCut(line, "# PELOMSG # ");
    appendCut(line, text);
    // A cut line still ends the line, so the next message starts on its own.
    if (line.back() != '\n')
        line.back() = '\n';

    const std::string path = platform::Paths::resolve(kLogFile);
    int fd = openLog(path);
    if (fd < 0 && errno == ENOENT) {
        QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(platform::Paths::resolve(kLogDir))));
        fd = openLog(path);
    }
    if (fd < 0)
        return 0;
    // One write on an O_APPEND descriptor: lines of concurrent threads never interleave.
    const ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    struct stat st;
    const bool full = fstat(fd, &st) == 0 && st.st_size >= kLogLimit;
    ::close(fd);
    if (full)
        ::unlink(path.c_str());
    return 0;
}
