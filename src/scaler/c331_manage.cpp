#include "c331_manage.h"

#include <atomic>

c331_manage* c331_manage::p_c331_manage = nullptr;

namespace {
// Published once the object is complete, so threads started earlier never see a half-built manager.
std::atomic<c331_manage*> published{nullptr};
}

c331_manage::c331_manage()
{
    pthread_mutex_init(&c331_mutex, nullptr);
}

c331_manage* c331_manage::pInstance()
{
    c331_manage* manager = published.load(std::memory_order_acquire);
    if (!manager) {
        manager = new c331_manage();
        p_c331_manage = manager;
        published.store(manager, std::memory_order_release);
    }
    return manager;
}

ScalerHandOver::ScalerHandOver()
    : manager_(published.load(std::memory_order_acquire))
{
    if (manager_)
        pthread_mutex_lock(&manager_->c331_mutex);
}

ScalerHandOver::~ScalerHandOver()
{
    if (!manager_)
        return;
    // A pending 2 (user-mode records replaced) also applies the block, so it is never lowered to 1.
    if (flag_ > manager_->change_flag)
        manager_->change_flag = flag_;
    pthread_mutex_unlock(&manager_->c331_mutex);
}
