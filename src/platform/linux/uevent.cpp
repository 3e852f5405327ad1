#include "platform/uevent_source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {
class NetlinkUevents : public UeventSource {
public:
    explicit NetlinkUevents(int fd) : fd_(fd) {}
    ~NetlinkUevents() override { ::close(fd_); }
    int fd() const override { return fd_; }
    ssize_t receive(char* buffer, size_t length) override { return ::recv(fd_, buffer, length, MSG_DONTWAIT); }

private:
    int fd_;
};
}

std::unique_ptr<UeventSource> openUeventSource()
{
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) {
        fprintf(stderr, "uevent socket: %s\n", strerror(errno));
        return nullptr;
    }
    // Room for a burst of events while a stick enumerates.
    int size = 256 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_nl address = {};
    address.nl_family = AF_NETLINK;
    address.nl_pid = 0; // the kernel picks a free port id
    address.nl_groups = 1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fprintf(stderr, "uevent bind: %s\n", strerror(errno));
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<NetlinkUevents>(fd);
}
}
