#include "serve/job_queue.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace serve {

JobQueue::JobQueue(int32_t workers, int32_t waiting, Metrics& metrics, int32_t niceness)
    : workers_(workers), waiting_(waiting), metrics_(metrics), niceness_(niceness) {
    for (int32_t k = 0; k < workers_; ++k) threads_.emplace_back([this] { serve(); });
}

JobQueue::~JobQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
}

bool JobQueue::try_reserve() {
    std::lock_guard lock(mutex_);
    if (stopping_ || reserved_ >= workers_ + waiting_) return false;
    ++reserved_;
    return true;
}

void JobQueue::push(std::function<void()> job) {
    ++metrics_.jobs_queued;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
}

void JobQueue::serve() {
    // Linux gives each thread its own nice value, inherited from the
    // starting thread: the workers go that much below it (a server started
    // at nice 10 must not get workers at 5). Failing leaves it as it is.
    if (niceness_ > 0) {
        const auto tid = static_cast<id_t>(::gettid());
        errno = 0;
        const int now = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0) (void)::setpriority(PRIO_PROCESS, tid, std::min(now + niceness_, 19));
    }
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // stopping, nothing left
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        --metrics_.jobs_queued;
        ++metrics_.jobs_running;
        job();
        --metrics_.jobs_running;
        std::lock_guard lock(mutex_);
        --reserved_;
    }
}

}  // namespace serve
