#pragma once
// Long requests: a fixed number worked on at once, a bounded number
// waiting; a place is reserved before the connection is suspended, so a
// full queue is answered at once.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "serve/metrics.h"

namespace serve {

class JobQueue {
public:
    // `niceness` above 0 puts the workers that many nice steps below the
    // starting thread, so that the short requests answered on the
    // connection threads need not wait for them.
    JobQueue(int32_t workers, int32_t waiting, Metrics& metrics, int32_t niceness = 0);
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // A place for one job, or false when every worker is busy and the
    // queue is full.
    bool try_reserve();
    // Runs `job` on a worker; needs a reserved place.
    void push(std::function<void()> job);

private:
    void serve();

    const int32_t workers_;
    const int32_t waiting_;
    Metrics& metrics_;
    const int32_t niceness_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    int32_t reserved_ = 0;  // places taken: queued, running or about to be pushed
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace serve
