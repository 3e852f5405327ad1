#include "base/named_thread.h"

#include <atomic>
#include <string>

namespace {
std::atomic<int> failNext{0};
}

void failNextThreadStarts(int count)
{
    failNext = count > 0 ? count : 0;
}

bool startNamedThread(pthread_t* thread, void* (*entry)(void*), void* arg, const char* name)
{
    for (int n = failNext.load(); n > 0;)
        if (failNext.compare_exchange_weak(n, n - 1))
            return false;
    if (pthread_create(thread, nullptr, entry, arg) != 0)
        return false;
    // Linux takes at most 15 characters and refuses a longer name outright.
    pthread_setname_np(*thread, std::string(name).substr(0, 15).c_str());
    return true;
}
