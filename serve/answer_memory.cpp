#include "serve/answer_memory.h"

#include <algorithm>

namespace serve {

bool AnswerMemory::hold(const std::string* body) {
    std::lock_guard lock(mutex_);
    if (const auto at = held_.find(body); at != held_.end()) {
        ++at->second.holders;
        return true;
    }
    if (used_ + body->size() > capacity_) return false;
    held_.emplace(body, Held{body->size(), 1});
    used_ += body->size();
    return true;
}

void AnswerMemory::release(const std::string* body) {
    std::lock_guard lock(mutex_);
    const auto at = held_.find(body);
    if (at == held_.end() || --at->second.holders > 0) return;
    used_ -= at->second.bytes;
    held_.erase(at);
}

bool AnswerMemory::reserve(size_t bytes) {
    std::lock_guard lock(mutex_);
    if (used_ > 0 && used_ + bytes > capacity_) return false;
    used_ += bytes;
    return true;
}

void AnswerMemory::unreserve(size_t bytes) {
    std::lock_guard lock(mutex_);
    used_ -= std::min(bytes, used_);
}

size_t AnswerMemory::used() const {
    std::lock_guard lock(mutex_);
    return used_;
}

}  // namespace serve
