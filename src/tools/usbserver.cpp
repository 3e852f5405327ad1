#include "tools/usbserver.h"
#include "base/named_thread.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "platform/paths.h"
#include "platform/uevent_source.h"
#include "ui/option.h"
#include "ui/syncupdate.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

UsbServer* UsbServer::p_UsbServer = nullptr;

namespace {
constexpr int kAwaitPollMs = 100;
constexpr size_t kBufferSize = 8192;

bool isDisk(const QByteArray& part) // "sda", "sdb", ...
{
    return part.size() == 3 && part.startsWith("sd") && part[2] >= 'a' && part[2] <= 'z';
}
}

UsbServer* UsbServer::pInstance()
{
    if (!p_UsbServer) {
        p_UsbServer = new UsbServer(platform::openUeventSource());
        p_UsbServer->initialize();
    }
    return p_UsbServer;
}

UsbServer::UsbServer(std::unique_ptr<platform::UeventSource> source) : source_(std::move(source)), buffer_(kBufferSize)
{
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        stopPipe_[0] = stopPipe_[1] = -1;
}

UsbServer::~UsbServer()
{
    stop();
    for (int fd : stopPipe_)
        if (fd >= 0)
            ::close(fd);
}

int UsbServer::initialize()
{
    if (!source_) {
        writeLogMsg(LOG_ERROR, "UsbServer: no kernel event socket, USB sticks are not announced");
        return 255;
    }
    if (started_)
        return 0;
    if (!startNamedThread(&thread_, &UsbServer::acceptThread, this, "usbserver")) {
        writeLogMsg(LOG_ERROR, "UsbServer create accept thread failed");
        return 255;
    }
    started_ = true;
    return 0;
}

void UsbServer::stop()
{
    if (!started_)
        return;
    const char c = 1;
    (void)!::write(stopPipe_[1], &c, 1);
    pthread_join(thread_, nullptr);
    started_ = false;
}

void* UsbServer::acceptThread(void* self)
{
    auto* server = static_cast<UsbServer*>(self);
    for (;;) {
        struct pollfd stopFd = {server->stopPipe_[0], POLLIN, 0};
        if (::poll(&stopFd, 1, 0) > 0)
            break;
        if (server->recvData(server->awaiting_ ? kAwaitPollMs : -1) != 0)
            ::poll(nullptr, 0, kAwaitPollMs); // a failing wait never turns into a spin
    }
    return nullptr;
}

int UsbServer::recvData(int timeoutMs)
{
    if (!source_)
        return 255;
    struct pollfd fds[2] = {{source_->fd(), POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const int n = ::poll(fds, stopPipe_[0] >= 0 ? 2 : 1, timeoutMs);
    if (n < 0) {
        if (errno == EINTR)
            return 0;
        writeLogMsg(LOG_ERROR, std::string("UsbServer poll error: ") + strerror(errno));
        return 255;
    }
    if (n > 0 && (fds[0].revents & POLLIN)) {
        for (;;) {
            const ssize_t got = source_->receive(buffer_.data(), buffer_.size());
            if (got <= 0)
                break;
            handleEvent(buffer_.data(), size_t(got));
        }
    }
    if (awaiting_)
        checkStorage();
    return 0;
}

void UsbServer::handleEvent(const char* data, size_t length)
{
    // The header: action "@" device path, up to the first zero byte.
    const size_t headerLength = strnlen(data, length);
    const QByteArray header(data, int(headerLength));
    const int at = header.indexOf('@');
    if (at <= 0)
        return;
    const QByteArray action = header.left(at);
    const QList<QByteArray> parts = header.mid(at + 1).split('/');
    // Only block devices of a stick count: ".../block/sdX" or ".../block/sdX/sdXN".
    int block = -1;
    for (int i = 0; i < parts.size(); ++i)
        if (parts[i] == "block")
            block = i;
    if (block < 0 || block + 1 >= parts.size() || !isDisk(parts[block + 1]))
        return;
    const QByteArray disk = parts[block + 1];
    const bool partition = block + 2 < parts.size();
    // The first disk's partitions 0-9: "sda" and one digit.
    const QByteArray part = partition ? parts[block + 2] : QByteArray();
    const bool firstStickPartition = disk == "sda" && part.size() == 4 && part.startsWith("sda") &&
                                     part[3] >= '0' && part[3] <= '9' && block + 3 == parts.size();
    if (action == "add") {
        usb_signal(100);
        if (firstStickPartition) {
            awaiting_ = true;
            eventTick_ = G_timeTicks.load();
        }
    } else if (action == "remove") {
        usb_signal(101);
        if (firstStickPartition)
            awaiting_ = false;
    }
}

bool UsbServer::mounted()
{
    QFile mounts(QString::fromStdString(platform::Paths::resolve("/proc/mounts")));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 2 && (fields[1] == "/mnt/usb1" || fields[1] == "/mnt/usb1/"))
            return true;
    }
    return false;
}

void UsbServer::checkStorage()
{
    const uint32_t passed = G_timeTicks.load() - eventTick_;
    if (passed > kGiveUpTicks) {
        awaiting_ = false;
        writeLogMsg(LOG_WARNING, "UsbServer: USB stick not mounted within 30 s");
        return;
    }
    if (passed <= kReadyTicks)
        return;
    struct stat st;
    if (::stat(platform::Paths::resolve("/proc/scsi/usb-storage").c_str(), &st) != 0 || !mounted())
        return;
    awaiting_ = false;
    if (traceOn())
        printf("\n usb have mound ok ");
    usb_signal(102);
    Option::requestLeave(); // the settings menu gives way to the root menu (GUI thread)
}

int UsbServer::usb_signal(int code)
{
    Q_EMIT sig_usb_update(code);
    return 1;
}

void startUsbServer()
{
    UsbServer* server = UsbServer::pInstance();
    QObject::connect(server, &UsbServer::sig_usb_update, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                     Qt::QueuedConnection);
}
