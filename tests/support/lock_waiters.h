#pragma once
#include <pthread.h>

class QMutex;

// Whether a thread waits for a lock the test holds, so that a test can hold a lock until the
// other thread is surely blocked on it instead of sleeping until it probably is. Read from the
// lock word on Linux: glibc marks a normal, recursive or error-checking mutex with waiters 2, Qt 5
// a non-recursive QMutex with waiters 3 (its futex value). Only meaningful while the caller holds
// the lock.
namespace LockWaiters {
bool waited(pthread_mutex_t& mutex);
bool waited(QMutex& mutex);
}
