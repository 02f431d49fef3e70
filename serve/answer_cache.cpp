#include "serve/answer_cache.h"

namespace serve {

void AnswerCache::drop(List::iterator at) {
    used_ -= cost(*at);
    if (at->kept) protected_used_ -= cost(*at);
    index_.erase(at->key);
    (at->kept ? protected_ : probation_).erase(at);
}

std::shared_ptr<const std::string> AnswerCache::find(const std::string& key) {
    if (capacity_ == 0) return nullptr;
    std::lock_guard lock(mutex_);
    const auto at = index_.find(key);
    if (at == index_.end()) return nullptr;
    const List::iterator entry = at->second;
    if (entry->kept) {
        protected_.splice(protected_.begin(), protected_, entry);
        return entry->bytes;
    }
    entry->kept = true;
    protected_used_ += cost(*entry);
    protected_.splice(protected_.begin(), probation_, entry);
    // The protected segment's oldest go back on probation, not out.
    while (protected_used_ > protected_capacity_ && protected_.size() > 1) {
        const List::iterator old = std::prev(protected_.end());
        old->kept = false;
        protected_used_ -= cost(*old);
        probation_.splice(probation_.begin(), protected_, old);
    }
    return entry->bytes;
}

void AnswerCache::put(const std::string& key, std::shared_ptr<const std::string> bytes) {
    if (!bytes) return;
    Entry entry{key, std::move(bytes)};
    const size_t needed = cost(entry);
    if (needed > capacity_) return;
    std::lock_guard lock(mutex_);
    if (const auto at = index_.find(key); at != index_.end()) drop(at->second);
    while (used_ + needed > capacity_) {
        drop(std::prev(probation_.empty() ? protected_.end() : probation_.end()));
    }
    probation_.push_front(std::move(entry));
    index_[key] = probation_.begin();
    used_ += needed;
}

size_t AnswerCache::size_bytes() const {
    std::lock_guard lock(mutex_);
    return used_;
}

}  // namespace serve
