#pragma once
#include <pthread.h>
#include <sys/types.h>

class QMutex;

// Whether a thread is parked on a lock now, so that a test can hold a lock until the other thread
// is surely blocked on it instead of sleeping until it probably is. Read from the kernel's view of
// the thread (/proc/self/task/<tid>/syscall: a futex wait on the lock's word), never from the lock
// word, which stays "contended" after a wait has ended. thread: the one meant (its kernel id,
// threadId()), or 0 for any thread of this process.
namespace LockWaiters {
bool waited(pthread_mutex_t& mutex, pid_t thread = 0);
bool waited(QMutex& mutex, pid_t thread = 0);
bool waiting(pid_t thread); // in a futex wait of any lock or condition
pid_t threadId(); // the calling thread's
}
