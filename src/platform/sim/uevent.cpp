#include "platform/sim/uevent_sim.h"
#include "platform/paths.h"
#include "platform/uevent_source.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {
class SimUevents : public UeventSource {
public:
    explicit SimUevents(int fd) : fd_(fd) {}
    ~SimUevents() override { ::close(fd_); }
    int fd() const override { return fd_; }
    ssize_t receive(char* buffer, size_t length) override { return ::recv(fd_, buffer, length, MSG_DONTWAIT); }

private:
    int fd_;
};

bool fillAddress(sockaddr_un* address)
{
    const std::string path = Sim::ueventSocketPath();
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path)
        return false;
    memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

const char* const kPartition = "/devices/platform/ehci/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/sda1";
}

std::unique_ptr<UeventSource> openUeventSource()
{
    sockaddr_un address;
    if (!fillAddress(&address)) {
        fprintf(stderr, "uevent socket path too long: %s\n", Sim::ueventSocketPath().c_str());
        return nullptr;
    }
    QDir().mkpath(QString::fromStdString(Paths::resolve("/sim")));
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    ::unlink(address.sun_path); // left by an earlier run
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fprintf(stderr, "uevent bind: %s\n", strerror(errno));
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SimUevents>(fd);
}

namespace Sim {
std::string ueventSocketPath() { return Paths::resolve("/sim/uevent"); }

bool sendUevent(const std::string& message)
{
    sockaddr_un address;
    if (!fillAddress(&address))
        return false;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const ssize_t sent = ::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
    return sent == ssize_t(message.size());
}

static std::string event(const char* action)
{
    std::string m = std::string(action) + "@" + kPartition;
    m.push_back('\0');
    m += std::string("ACTION=") + action;
    m.push_back('\0');
    m += std::string("DEVPATH=") + kPartition;
    m.push_back('\0');
    m += "SUBSYSTEM=block";
    m.push_back('\0');
    m += "DEVNAME=sda1";
    m.push_back('\0');
    return m;
}

bool plugStick()
{
    QDir().mkpath(QString::fromStdString(Paths::resolve("/proc/scsi/usb-storage")));
    QDir().mkpath(QString::fromStdString(Paths::resolve("/mnt/usb1")));
    QFile mounts(QString::fromStdString(Paths::resolve("/proc/mounts")));
    if (!mounts.open(QIODevice::Append))
        return false;
    mounts.write("/dev/sda1 /mnt/usb1 vfat rw,relatime 0 0\n");
    mounts.close();
    return sendUevent(event("add"));
}

bool unplugStick()
{
    const QString mountsPath = QString::fromStdString(Paths::resolve("/proc/mounts"));
    QFile mounts(mountsPath);
    QByteArray kept;
    if (mounts.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : mounts.readAll().split('\n'))
            if (!line.isEmpty() && !line.contains(" /mnt/usb1 "))
                kept += line + '\n';
        mounts.close();
    }
    QFile out(mountsPath);
    if (out.open(QIODevice::WriteOnly))
        out.write(kept);
    QDir(QString::fromStdString(Paths::resolve("/proc/scsi/usb-storage"))).removeRecursively();
    QDir(QString::fromStdString(Paths::resolve("/mnt/usb1"))).removeRecursively();
    return sendUevent(event("remove"));
}
}
}
