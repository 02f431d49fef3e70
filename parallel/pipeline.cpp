#include "parallel/pipeline.h"

#include <algorithm>

namespace parallel {

int32_t hardware_threads() {
    return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

Pipeline::Pipeline(int32_t threads, size_t window) : window_(std::max<size_t>(1, window)) {
    inline_ = threads <= 1;
    for (int32_t k = 1; k < threads; ++k) workers_.emplace_back([this] { serve(); });
}

Pipeline::~Pipeline() { stop(); }

void Pipeline::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (auto& worker : workers_) worker.join();
    workers_.clear();
}

// Runs a queued task outside the lock and tells every waiter it is done.
void Pipeline::run_taken(Task& task, std::unique_lock<std::mutex>& lock) {
    task.state = Task::State::running;
    lock.unlock();
    run(task);
    lock.lock();
    task.state = Task::State::done;
    changed_.notify_all();
}

void Pipeline::run(Task& task) {
    try {
        task.work();
    } catch (...) {
        task.error = std::current_exception();
    }
}

void Pipeline::submit(std::function<void()> work, std::function<void()> commit) {
    if (inline_) {
        work();
        commit();
        return;
    }
    std::unique_lock lock(mutex_);
    while (tasks_.size() >= window_) commit_oldest(lock);
    tasks_.push_back(Task{std::move(work), std::move(commit), nullptr});
    lock.unlock();
    changed_.notify_one();
}

void Pipeline::finish() {
    if (inline_) return;
    std::unique_lock lock(mutex_);
    while (!tasks_.empty()) commit_oldest(lock);
}

// While the oldest work is not done the calling thread does queued work
// itself, so it never idles while there is work it will wait for.
void Pipeline::commit_oldest(std::unique_lock<std::mutex>& lock) {
    Task& oldest = tasks_.front();
    while (oldest.state != Task::State::done) {
        Task* next = queued();
        if (!next) {
            changed_.wait(lock);
            continue;
        }
        run_taken(*next, lock);
    }
    Task task = std::move(oldest);
    tasks_.pop_front();
    lock.unlock();
    if (task.error) std::rethrow_exception(task.error);
    task.commit();
    lock.lock();
}

Pipeline::Task* Pipeline::queued() {
    for (Task& task : tasks_)
        if (task.state == Task::State::queued) return &task;
    return nullptr;
}

void Pipeline::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Task* next = nullptr;
        changed_.wait(lock, [&] { return stopping_ || (next = queued()) != nullptr; });
        if (stopping_) return;
        run_taken(*next, lock);
    }
}

}  // namespace parallel
