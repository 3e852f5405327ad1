#pragma once
#include <cstdint>
#include <pthread.h>

// The scaler chip's manager. So far only its hand-over point: the mutex and change flag through
// which every thread hands a parameter change to the scaler worker.
class c331_manage {
public:
    static c331_manage* p_c331_manage;
    static c331_manage* pInstance();

    pthread_mutex_t c331_mutex;
    uint8_t change_flag = 0; // 0 nothing pending, 1 block changed, 2 user-mode records replaced

private:
    c331_manage();
};

// Scoped hand-over: locks the scaler mutex (when the manager exists) and, if commit() was called,
// sets the change flag before unlocking.
class ScalerHandOver {
public:
    ScalerHandOver();
    ~ScalerHandOver();
    void commit(uint8_t flag = 1) { flag_ = flag; }
    ScalerHandOver(const ScalerHandOver&) = delete;
    ScalerHandOver& operator=(const ScalerHandOver&) = delete;

private:
    c331_manage* manager_;
    uint8_t flag_ = 0;
};
