// The tests' sight of a thread parked on a lock they hold (tests/support/lock_waiters.h), on the
// real glibc and Qt locks: the race tests rely on it instead of sleeping.
#include "lock_waiters.h"
#include "program.h"

#include <QMutex>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>

namespace {

struct Lock {
    const char* kind;
    std::function<void()> lock, unlock;
    std::function<bool(pid_t)> waited;
};

}

// Seen while a thread is parked on the lock, and only that thread; not once the wait has ended,
// though the lock's word remembers the contention while its new holder keeps it.
TEST(LockWaiters, AThreadIsSeenOnlyWhileItIsParkedOnTheLock)
{
    pthread_mutex_t posix;
    pthread_mutex_init(&posix, nullptr);
    QMutex qt;
    const Lock locks[] = {
        {"glibc", [&] { pthread_mutex_lock(&posix); }, [&] { pthread_mutex_unlock(&posix); },
         [&](pid_t t) { return LockWaiters::waited(posix, t); }},
        {"Qt", [&] { qt.lock(); }, [&] { qt.unlock(); }, [&](pid_t t) { return LockWaiters::waited(qt, t); }},
    };
    for (const Lock& l : locks) {
        SCOPED_TRACE(l.kind);
        EXPECT_FALSE(l.waited(0)) << "free";
        l.lock();
        EXPECT_FALSE(l.waited(0)) << "held, nobody waiting";
        std::atomic<pid_t> other{0};
        std::atomic<int> phase{0};
        std::thread t([&] {
            other = LockWaiters::threadId();
            l.lock(); // after contention
            phase = 1;
            while (phase != 2) {
                // held with nobody waiting
            }
            l.unlock();
        });
        EXPECT_TRUE(waitFor([&] { return other && l.waited(other); }, 2000));
        EXPECT_TRUE(l.waited(0));
        EXPECT_FALSE(l.waited(LockWaiters::threadId())) << "this thread holds it";
        l.unlock();
        EXPECT_TRUE(waitFor([&] { return phase == 1; }, 2000));
        EXPECT_FALSE(l.waited(other)) << "its new holder";
        EXPECT_FALSE(l.waited(0)) << "contended, then taken: nobody waits now";
        phase = 2;
        t.join();
        EXPECT_FALSE(l.waited(0)) << "free again";
    }
    pthread_mutex_destroy(&posix);
}
