#include "serve/answer_cache.h"

namespace serve {

std::shared_ptr<const std::string> AnswerCache::find(const std::string& key) {
    if (capacity_ == 0) return nullptr;
    std::lock_guard lock(mutex_);
    const auto at = index_.find(key);
    if (at == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, at->second);
    return at->second->bytes;
}

void AnswerCache::put(const std::string& key, std::shared_ptr<const std::string> bytes) {
    if (!bytes) return;
    Entry entry{key, std::move(bytes)};
    const size_t needed = cost(entry);
    if (needed > capacity_) return;
    std::lock_guard lock(mutex_);
    if (const auto at = index_.find(key); at != index_.end()) {
        used_ -= cost(*at->second);
        order_.erase(at->second);
        index_.erase(at);
    }
    while (used_ + needed > capacity_ && !order_.empty()) {
        used_ -= cost(order_.back());
        index_.erase(order_.back().key);
        order_.pop_back();
    }
    order_.push_front(std::move(entry));
    index_[key] = order_.begin();
    used_ += needed;
}

size_t AnswerCache::size_bytes() const {
    std::lock_guard lock(mutex_);
    return used_;
}

}  // namespace serve
