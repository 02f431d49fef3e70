// The job queue: its workers' number and their nice value.
#include "serve/job_queue.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

int own_nice() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())); }

TEST(JobQueue, RunsAsManyAtOnceAsItHasWorkers) {
    serve::Metrics metrics;
    std::atomic<int> running{0}, most{0};
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    {
        serve::JobQueue queue(1, 2, metrics);
        for (int k = 0; k < 3; ++k) {
            ASSERT_TRUE(queue.try_reserve());
            queue.push([&] {
                most = std::max(most.load(), ++running);
                released.wait();
                --running;
            });
        }
        EXPECT_FALSE(queue.try_reserve()) << "one worker and two waiting: full";
        for (int k = 0; k < 500 && metrics.jobs_running.load() == 0; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // time for a second to start, were there one
        EXPECT_EQ(metrics.jobs_running.load(), 1);
        EXPECT_EQ(metrics.jobs_queued.load(), 2);
        release.set_value();
    }  // the queue's end waits for its workers
    EXPECT_EQ(most.load(), 1);
}

TEST(JobQueue, WorkersGoTheirNicenessBelowTheStartingThread) {
    const int start = own_nice();
    for (const int niceness : {0, 5}) {
        serve::Metrics metrics;
        std::promise<int> seen;
        {
            serve::JobQueue queue(1, 0, metrics, niceness);
            ASSERT_TRUE(queue.try_reserve());
            queue.push([&] { seen.set_value(own_nice()); });
        }
        EXPECT_EQ(seen.get_future().get(), std::min(start + niceness, 19)) << niceness;
    }
}

}  // namespace
