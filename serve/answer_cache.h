#pragma once
// Recent answers, kept up to a size in bytes: the same request always
// gives the same bytes, so a repeat is served from here.
//
// Two segments, so that a stream of one-off answers (random large boxes)
// cannot push out the answers clients come back for: a new answer waits on
// probation and is evicted first; asked for again, it is protected, which
// holds at most four fifths of the capacity.
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace serve {

class AnswerCache {
public:
    explicit AnswerCache(size_t capacity_bytes)
        : capacity_(capacity_bytes), protected_capacity_(capacity_bytes / 5 * 4) {}
    std::shared_ptr<const std::string> find(const std::string& key);
    // Keeps `bytes` unless they alone exceed the capacity.
    void put(const std::string& key, std::shared_ptr<const std::string> bytes);
    size_t size_bytes() const;

private:
    struct Entry {
        std::string key;
        std::shared_ptr<const std::string> bytes;
        bool kept = false;  // in the protected segment
    };
    using List = std::list<Entry>;
    static size_t cost(const Entry& e) { return e.key.size() + e.bytes->size() + 128; }
    void drop(List::iterator at);

    const size_t capacity_;
    const size_t protected_capacity_;
    mutable std::mutex mutex_;
    List probation_;  // most recent first
    List protected_;  // most recent first
    std::unordered_map<std::string, List::iterator> index_;
    size_t used_ = 0;
    size_t protected_used_ = 0;
};

}  // namespace serve
