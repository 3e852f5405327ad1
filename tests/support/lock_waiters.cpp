#include "lock_waiters.h"

#include "program.h"

#include <QMutex>
#include <QtGlobal>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace LockWaiters {
namespace {

// The system call a thread of this process is blocked in and its first argument; nr -1 when it
// runs or is gone. 64-bit fields: under qemu-user the file shows the host's view.
struct Call {
    long nr = -1;
    unsigned long long arg0 = 0;
};

Call blockedIn(pid_t thread)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/self/task/%d/syscall", int(thread));
    Call c;
    if (FILE* f = fopen(path, "r")) {
        if (fscanf(f, "%ld %llx", &c.nr, &c.arg0) != 2)
            c = {}; // "running"
        fclose(f);
    }
    return c;
}

// How a futex wait of this process shows there: the call's number, and how far the address shown
// lies from the lock word's (0, but qemu-user shows the host's address of the guest's word).
// Learnt once from a thread parked on a lock held here; -1 when no wait was seen.
struct FutexView {
    long nr = -1;
    unsigned long long offset = 0;
};

const FutexView& futexView()
{
    static const FutexView view = [] {
        pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
        pthread_mutex_lock(&lock);
        std::atomic<pid_t> parked{0};
        std::thread t([&] {
            parked = threadId();
            pthread_mutex_lock(&lock);
            pthread_mutex_unlock(&lock);
        });
        // The same call a few looks in a row, at a page's distance from the word (an emulator maps
        // the guest whole): not a lock of the emulator's own taken on the way.
        FutexView v;
        Call last;
        int same = 0;
        waitFor([&] {
            const Call c = parked ? blockedIn(parked) : Call{};
            const unsigned long long offset = c.arg0 - reinterpret_cast<uintptr_t>(&lock.__data.__lock);
            same = c.nr >= 0 && offset % 4096 == 0 && c.nr == last.nr && c.arg0 == last.arg0 ? same + 1 : 0;
            last = c;
            if (same >= 3)
                v = {c.nr, offset};
            return same >= 3;
        }, 5000);
        pthread_mutex_unlock(&lock);
        t.join();
        if (v.nr < 0) // every waited() is then false: say why once
            fprintf(stderr, "LockWaiters: no futex wait of a parked thread seen in /proc/self/task/*/syscall\n");
        return v;
    }();
    return view;
}

bool parkedOn(const void* word, pid_t thread)
{
    const FutexView& v = futexView();
    const auto on = [&](pid_t t) {
        const Call c = blockedIn(t);
        return v.nr >= 0 && c.nr == v.nr && c.arg0 - reinterpret_cast<uintptr_t>(word) == v.offset;
    };
    if (thread)
        return on(thread);
    bool any = false;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            any = any || (e->d_name[0] != '.' && on(pid_t(atoi(e->d_name))));
        closedir(d);
    }
    return any;
}

}

bool waited(pthread_mutex_t& mutex, pid_t thread)
{
    return parkedOn(&mutex.__data.__lock, thread);
}

bool waited(QMutex& mutex, pid_t thread)
{
    // A non-recursive QMutex is one word on Linux, its futex word (Qt 5).
    static_assert(sizeof(QMutex) == sizeof(quintptr), "QMutex is one futex word (Qt 5)");
    return parkedOn(&mutex, thread);
}

bool waiting(pid_t thread)
{
    const long nr = futexView().nr;
    return nr >= 0 && blockedIn(thread).nr == nr;
}

pid_t threadId()
{
    return pid_t(syscall(SYS_gettid));
}

}
