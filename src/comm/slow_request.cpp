#include "comm/slow_request.h"

#include "base/logMsg.h"
#include "base/named_thread.h"

#include <condition_variable>
#include <deque>

namespace {

struct Queue {
    std::mutex mutex;
    std::condition_variable more;
    std::deque<std::shared_ptr<SlowRequest>> waiting;
    bool started = false;
};

// Never destroyed: its thread may still be in a request's work when the program ends.
Queue& queue()
{
    static Queue* q = new Queue;
    return *q;
}

void* runQueue(void*)
{
    Queue& q = queue();
    for (;;) {
        std::shared_ptr<SlowRequest> next;
        {
            std::unique_lock<std::mutex> lock(q.mutex);
            q.more.wait(lock, [&q] { return !q.waiting.empty(); });
            next = std::move(q.waiting.front());
            q.waiting.pop_front();
        }
        next->run();
    }
    return nullptr;
}

}

std::shared_ptr<SlowRequest> SlowRequest::start(std::function<uint8_t()> work, std::function<void()> wake)
{
    auto request = std::make_shared<SlowRequest>(std::move(work), std::move(wake));
    Queue& q = queue();
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (!q.started) {
            pthread_t thread;
            q.started = startNamedThread(&thread, runQueue, nullptr, "slow_requests");
            if (q.started)
                pthread_detach(thread);
            else
                writeLogMsg(LOG_ERROR, "slow requests: no thread, run on the transport's");
        }
        if (q.started) {
            q.waiting.push_back(request);
            q.more.notify_one();
            return request;
        }
    }
    request->run();
    return request;
}

void SlowRequest::run()
{
    const uint8_t status = m_work();
    m_work = nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
    m_ended = true;
    if (m_wake)
        m_wake();
}

bool SlowRequest::ended(uint8_t* status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *status = m_status;
    return m_ended;
}

void SlowRequest::drop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake = nullptr;
}
