// The tests' sight of a thread blocked on a lock they hold (tests/support/lock_waiters.h), on the
// real glibc and Qt locks: the converted race tests rely on it instead of sleeping.
#include "lock_waiters.h"
#include "program.h"

#include <QMutex>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>

TEST(LockWaiters, ABlockedThreadIsSeenAndAFreeOrMerelyHeldLockIsNot)
{
    pthread_mutex_t posix;
    pthread_mutex_init(&posix, nullptr);
    QMutex qt;
    EXPECT_FALSE(LockWaiters::waited(posix));
    EXPECT_FALSE(LockWaiters::waited(qt));
    pthread_mutex_lock(&posix);
    qt.lock();
    EXPECT_FALSE(LockWaiters::waited(posix)) << "held, nobody waiting";
    EXPECT_FALSE(LockWaiters::waited(qt)) << "held, nobody waiting";
    std::thread a([&] {
        pthread_mutex_lock(&posix);
        pthread_mutex_unlock(&posix);
    });
    std::thread b([&] {
        qt.lock();
        qt.unlock();
    });
    EXPECT_TRUE(waitFor([&] { return LockWaiters::waited(posix); }, 2000));
    EXPECT_TRUE(waitFor([&] { return LockWaiters::waited(qt); }, 2000));
    pthread_mutex_unlock(&posix);
    qt.unlock();
    a.join();
    b.join();
    EXPECT_FALSE(LockWaiters::waited(posix)) << "free again";
    EXPECT_FALSE(LockWaiters::waited(qt)) << "free again";
    pthread_mutex_destroy(&posix);
}
