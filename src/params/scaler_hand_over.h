#pragma once
#include "base/posix_lock.h"
#include "params/block_layout.h"

#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <pthread.h>
#include <vector>

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
        bool (*running)(void* owner); // the chip is brought up: its passes take what is handed over
        void* owner;
    };
    // The scaler's manager, once: the point must live as long as the program.
    static void publish(const Point* point);
    // The scaler's manager, its bring-up done: wakes the writers waiting for it.
    static void broughtUp();
    // Until the scaler's chip is brought up (true, at once without a scaler) or `deadline`
    // (false). A bring-up sets the chip up from the block as it finds it: a change handed over
    // before would be taken as the stored block, judged by no pass. Without the hand-over.
    static bool awaitRunning(std::chrono::steady_clock::time_point deadline);

    ScalerHandOver();
    ~ScalerHandOver();
    void commit(uint8_t flag = 1) { flag_ = flag; }
    // A change is handed over and no pass has taken it yet.
    bool pending() const { return point_ && point_->flag->load() != 0; }

    // What the scaler's pass made of a change its writer answers for (a tool's apply): the bytes
    // the change wrote, and, once the pass that took the change has run, whether it took any of
    // them back.
    struct Verdict {
        std::bitset<kBlockSize> bytes;
        bool judged = false; // both under the verdicts' own lock
        bool refused = false;
    };
    using Verdicts = std::vector<std::shared_ptr<Verdict>>;
    // commit(1), the bytes that differ between `before` and `after` watched: null without a
    // scaler, whose pass would judge them.
    std::shared_ptr<Verdict> commitWatched(const uint8_t* before, const uint8_t* after);
    // Until the pass has judged `v` (true), or `deadline` (false). Without the hand-over.
    static bool awaitVerdict(const Verdict& v, std::chrono::steady_clock::time_point deadline, bool* refused);
    // The pass, holding the mutex as it takes the change: the verdicts it owes from now on.
    static Verdicts takeVerdicts();
    // The pass, once it has taken back what it refused (`refused`): those of `taken` writing a
    // byte still `pending` (left for the next pass) wait for it; the others are judged.
    static void judge(const Verdicts& taken, const std::bitset<kBlockSize>& refused,
                      const std::bitset<kBlockSize>& pending);
    ScalerHandOver(const ScalerHandOver&) = delete;
    ScalerHandOver& operator=(const ScalerHandOver&) = delete;

private:
    const Point* point_;
    std::optional<PosixLock> lock_;
    uint8_t flag_ = 0;
};
