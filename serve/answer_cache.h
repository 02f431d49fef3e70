#pragma once
// Recent answers, kept up to a size in bytes: the same request always
// gives the same bytes, so a repeat is served from here.
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace serve {

class AnswerCache {
public:
    explicit AnswerCache(size_t capacity_bytes) : capacity_(capacity_bytes) {}
    std::shared_ptr<const std::string> find(const std::string& key);
    // Keeps `bytes` unless they alone exceed the capacity; the least
    // recently used answers make room.
    void put(const std::string& key, std::shared_ptr<const std::string> bytes);
    size_t size_bytes() const;
    size_t capacity() const { return capacity_; }

private:
    struct Entry {
        std::string key;
        std::shared_ptr<const std::string> bytes;
    };
    static size_t cost(const Entry& e) { return e.key.size() + e.bytes->size() + 128; }

    const size_t capacity_;
    mutable std::mutex mutex_;
    std::list<Entry> order_;  // most recent first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
    size_t used_ = 0;
};

}  // namespace serve
