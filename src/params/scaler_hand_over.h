#pragma once
#include "base/posix_lock.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <pthread.h>

// Scoped hand-over of a block change to the scaler's worker: locks the scaler's mutex (once the
// scaler's manager exists) and, if commit() was called, raises the change flag before unlocking
// and wakes the worker. The mutex, the flag and the wake-up are the manager's; it publishes them
// here when it is created, so the block's writers below the scaler need nothing of it.
class ScalerHandOver {
public:
    struct Point {
        pthread_mutex_t* mutex;
        std::atomic<uint8_t>* flag; // 0 nothing pending, 1 block changed, 2 user-mode records replaced
        void (*wake)(void* owner);  // ends the worker's idle wait
        void* owner;
    };
    // The scaler's manager, once: the point must live as long as the program.
    static void publish(const Point* point);

    ScalerHandOver();
    ~ScalerHandOver();
    void commit(uint8_t flag = 1) { flag_ = flag; }
    ScalerHandOver(const ScalerHandOver&) = delete;
    ScalerHandOver& operator=(const ScalerHandOver&) = delete;

private:
    const Point* point_;
    std::optional<PosixLock> lock_;
    uint8_t flag_ = 0;
};
