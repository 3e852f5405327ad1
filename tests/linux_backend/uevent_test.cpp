// The box's kernel event socket. The test sends its event from a second socket of the same family
// straight to the first one's port id (no multicast, so nothing else on the host sees it); the
// kernel's own events for this host may arrive in between and are skipped.
#include "platform/uevent_source.h"
#include "time_limit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <linux/netlink.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

TEST(NetlinkUevents, EventArrivesWholeAndAnEmptyQueueNeverBlocks)
{
    auto source = platform::openUeventSource();
    ASSERT_NE(source, nullptr) << "this host refuses a kernel event socket";
    char buffer[4096];
    // The reader drains until receive fails: an empty queue must answer at once.
    while (source->receive(buffer, sizeof buffer) > 0) {
    }
    errno = 0;
    EXPECT_EQ(source->receive(buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, EAGAIN);

    sockaddr_nl self = {};
    socklen_t selfLength = sizeof self;
    ASSERT_EQ(getsockname(source->fd(), reinterpret_cast<sockaddr*>(&self), &selfLength), 0);
    const int sender = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(sender, 0);
    sockaddr_nl to = {};
    to.nl_family = AF_NETLINK;
    to.nl_pid = self.nl_pid;
    static const char kEvent[] = "add@/devices/usb1/1-1/host0/block/sda/sda1\0ACTION=add\0"
                                 "DEVNAME=sda1\0SUBSYSTEM=block\0";
    const std::string event(kEvent, sizeof kEvent - 1);
    ASSERT_EQ(sendto(sender, event.data(), event.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              ssize_t(event.size()));
    close(sender);

    std::string got;
    for (int i = 0; i < 100 && got != event; ++i) {
        pollfd p = {source->fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, TimeLimit::ms(2000)), 1);
        const ssize_t n = source->receive(buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        got.assign(buffer, size_t(n));
    }
    EXPECT_EQ(got, event); // the zero bytes between the fields are kept
}
