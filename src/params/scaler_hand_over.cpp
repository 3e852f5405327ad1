#include "params/scaler_hand_over.h"

namespace {
// Published once the scaler's manager is complete, so no writer sees half of it.
std::atomic<const ScalerHandOver::Point*> published{nullptr};
}

void ScalerHandOver::publish(const Point* point)
{
    published.store(point, std::memory_order_release);
}

ScalerHandOver::ScalerHandOver()
    : point_(published.load(std::memory_order_acquire))
{
    if (point_)
        lock_.emplace(*point_->mutex);
}

ScalerHandOver::~ScalerHandOver()
{
    if (!point_)
        return;
    // A pending 2 (user-mode records replaced) also applies the block, so it is never lowered to 1.
    if (flag_ > point_->flag->load())
        *point_->flag = flag_;
    lock_.reset();
    if (flag_ != 0)
        point_->wake(point_->owner);
}
