#include "params/scaler_hand_over.h"

#include <condition_variable>
#include <mutex>

namespace {
// Published once the scaler's manager is complete, so no writer sees half of it.
std::atomic<const ScalerHandOver::Point*> published{nullptr};

// Watched changes no pass has taken yet: under the hand-over mutex.
ScalerHandOver::Verdicts& untaken()
{
    static auto* v = new ScalerHandOver::Verdicts;
    return *v;
}

// The judgements, which the pass gives without the hand-over mutex, and the end of a bring-up.
struct Judged {
    std::mutex mutex;
    std::condition_variable given;
};
Judged& judged()
{
    static auto* j = new Judged;
    return *j;
}
}

void ScalerHandOver::publish(const Point* point)
{
    published.store(point, std::memory_order_release);
}

void ScalerHandOver::broughtUp()
{
    { // the waiters test the state under this lock: none misses the wake-up
        std::lock_guard<std::mutex> lock(judged().mutex);
    }
    judged().given.notify_all();
}

bool ScalerHandOver::awaitRunning(std::chrono::steady_clock::time_point deadline)
{
    const Point* point = published.load(std::memory_order_acquire);
    if (!point)
        return true;
    std::unique_lock<std::mutex> lock(judged().mutex);
    return judged().given.wait_until(lock, deadline, [point] { return point->running(point->owner); });
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

std::shared_ptr<ScalerHandOver::Verdict> ScalerHandOver::commitWatched(const uint8_t* before, const uint8_t* after)
{
    commit(1);
    if (!point_)
        return nullptr;
    auto v = std::make_shared<Verdict>();
    for (uint32_t i = 0; i < kBlockSize; ++i)
        v->bytes[i] = before[i] != after[i];
    untaken().push_back(v);
    return v;
}

bool ScalerHandOver::awaitVerdict(const Verdict& v, std::chrono::steady_clock::time_point deadline, bool* refused)
{
    Judged& j = judged();
    std::unique_lock<std::mutex> lock(j.mutex);
    if (!j.given.wait_until(lock, deadline, [&v] { return v.judged; }))
        return false;
    *refused = v.refused;
    return true;
}

ScalerHandOver::Verdicts ScalerHandOver::takeVerdicts()
{
    Verdicts taken;
    taken.swap(untaken());
    return taken;
}

void ScalerHandOver::judge(const Verdicts& taken, const std::bitset<kBlockSize>& refused,
                           const std::bitset<kBlockSize>& pending)
{
    Verdicts waiting;
    {
        std::lock_guard<std::mutex> lock(judged().mutex);
        for (const auto& v : taken) {
            v->refused |= (v->bytes & refused).any();
            if (!v->refused && (v->bytes & pending).any())
                waiting.push_back(v);
            else
                v->judged = true;
        }
    }
    judged().given.notify_all();
    if (waiting.empty())
        return;
    ScalerHandOver handOver;
    Verdicts& next = untaken();
    next.insert(next.end(), waiting.begin(), waiting.end());
}
