#pragma once
#include <pthread.h>

// Scoped hold of one of the program's POSIX mutexes (the managers' own mutexes). Copying is
// refused, so a hold cannot outlive its scope by accident; unlock() ends it early.
class PosixLock {
public:
    explicit PosixLock(pthread_mutex_t& mutex) : mutex_(&mutex) { pthread_mutex_lock(mutex_); }
    ~PosixLock() { unlock(); }
    PosixLock(const PosixLock&) = delete;
    PosixLock& operator=(const PosixLock&) = delete;
    void unlock()
    {
        if (mutex_)
            pthread_mutex_unlock(mutex_);
        mutex_ = nullptr;
    }

private:
    pthread_mutex_t* mutex_;
};
