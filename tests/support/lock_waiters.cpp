#include "lock_waiters.h"

#include <QMutex>
#include <QtGlobal>
#include <cstring>

namespace LockWaiters {

bool waited(pthread_mutex_t& mutex)
{
    return __atomic_load_n(&mutex.__data.__lock, __ATOMIC_ACQUIRE) == 2; // lll_lock's "locked, with waiters"
}

bool waited(QMutex& mutex)
{
    // QBasicMutex holds one atomic pointer, the futex word on Linux: 0 free, 1 locked, 3 locked
    // with waiters; a recursive mutex's points to its private data instead (not used here).
    static_assert(sizeof(QMutex) == sizeof(quintptr), "QMutex is one futex word (Qt 5)");
    quintptr word = 0;
    __atomic_load(reinterpret_cast<const quintptr*>(&mutex), &word, __ATOMIC_ACQUIRE);
    return word == 3;
}

}
