// The transport's reply path takes no memory from the heap once its buffers have grown: the
// C++ allocations of its thread are counted here while a tool reads the block again and again.
#include "managers.h"
#include "frame_client.h"

#include "comm/networkmanage.h"
#include "comm/tcpserver.h"
#include "fpga/fpga_manage.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "video_chips/keltosource.h"
#include "base/global.h"

#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <new>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::atomic<pid_t> watched{0};
std::atomic<long> allocations{0};

[[maybe_unused]] void count() // unused where the runtime keeps new and delete
{
    static thread_local const pid_t self = pid_t(syscall(SYS_gettid));
    if (self == watched.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}

// Kernel id of this process's thread with the given name, 0 when there is none.
pid_t threadNamed(const std::string& name)
{
    DIR* dir = opendir("/proc/self/task");
    pid_t found = 0;
    while (dirent* e = dir ? readdir(dir) : nullptr) {
        std::string comm;
        std::getline(std::ifstream(std::string("/proc/self/task/") + e->d_name + "/comm"), comm);
        if (comm == name)
            found = pid_t(atoi(e->d_name));
    }
    if (dir)
        closedir(dir);
    return found;
}

}

// clang links its ThreadSanitizer runtime whole, new and delete included: there they cannot be
// replaced, and the count is left to the other builds.
#if defined(__clang__) && defined(VYR_TSAN)
#define VYR_COUNTS_ALLOCATIONS 0
#else
#define VYR_COUNTS_ALLOCATIONS 1
void* operator new(std::size_t n)
{
    count();
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n)
{
    return operator new(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    count();
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept
{
    return operator new(n, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
#endif

TEST(TcpReplyPath, BlockReadsAllocateNothingOnceWarm)
{
    if (!VYR_COUNTS_ALLOCATIONS)
        GTEST_SKIP() << "new and delete are the sanitizer runtime's in this build";
    startManagersWithoutWorkers();
    g_port = 0;
    networkManage* net = networkManage::pInstance();
    FrameClient tool(net->server()->port());
    ASSERT_TRUE(tool.connected());
    const Bytes request = Wire::readRam(0x300, 250);
    for (int i = 0; i < 50; ++i) // the buffers grow to what a frame needs
        ASSERT_EQ(tool.request(request).size(), 262u);
    watched = threadNamed("networkManage");
    ASSERT_NE(watched.load(), 0);
    const long before = allocations.load();
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(tool.request(request).size(), 262u);
    EXPECT_EQ(allocations.load() - before, 0) << "allocations by the transport thread for 200 replies";
    watched = 0;
}
