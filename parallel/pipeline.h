#pragma once
// Work done on several threads, results committed on the calling thread in
// the order the work was submitted: what a run writes is the same for any
// thread count.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace parallel {

// The machine's hardware threads, at least 1.
int32_t hardware_threads();

class Pipeline {
public:
    // `threads` counts the calling thread; 1 runs every task at submit.
    // At most `window` tasks are submitted and not yet committed, so a
    // task may use slot (sequence number % window) of storage it shares.
    Pipeline(int32_t threads, size_t window);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Queues `work` (any thread) and `commit` (this thread, after the work
    // and after every earlier commit). An exception of a work is rethrown
    // in place of its commit; one from a commit leaves here, and the tasks
    // behind it are dropped.
    void submit(std::function<void()> work, std::function<void()> commit);
    // Commits everything submitted.
    void finish();
    size_t window() const { return window_; }
    // The usual window: `per_thread` tasks a thread; 1 without threads.
    static size_t window_for(int32_t threads, size_t per_thread = 2) {
        return threads <= 1 ? 1 : per_thread * static_cast<size_t>(threads);
    }

private:
    struct Task {
        std::function<void()> work, commit;
        std::exception_ptr error;
        enum class State { queued, running, done } state = State::queued;
    };
    static void run(Task& task);
    void run_taken(Task& task, std::unique_lock<std::mutex>& lock);
    void commit_oldest(std::unique_lock<std::mutex>& lock);
    Task* queued();  // the oldest work not yet taken
    void serve();
    void stop();

    size_t window_;
    bool inline_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> tasks_;  // submitted, not committed, oldest first
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Storage for the tasks of a pipeline of `window`: one slot more than it
// holds, the one being filled, so a slot is filled again only after its
// task was committed. Declared before the pipeline, it outlives its tasks.
template <class Slot>
class Slots {
public:
    template <class... Args>
    explicit Slots(size_t window, const Args&... args) {
        for (size_t k = 0; k <= window; ++k) slots_.push_back(std::make_unique<Slot>(args...));
    }
    Slot& next() { return *slots_[seq_++ % slots_.size()]; }

private:
    std::vector<std::unique_ptr<Slot>> slots_;
    size_t seq_ = 0;
};

}  // namespace parallel
