#pragma once
// The bytes of answers held for connections until their clients have read
// them, bounded by the operator: an answer held by many connections (a
// cached one) counts once.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace serve {

class AnswerMemory {
public:
    explicit AnswerMemory(size_t capacity) : capacity_(capacity) {}
    // Holds `body` for one more connection: false, and nothing held, when
    // it is not held yet and would not fit.
    bool hold(const std::string* body);
    void release(const std::string* body);
    // Room for an answer being made, `bytes` at its peak: false when it
    // would not fit. One answer is let through when nothing else is held,
    // so that none is too large ever to be made.
    bool reserve(size_t bytes);
    void unreserve(size_t bytes);
    size_t used() const;

private:
    struct Held {
        size_t bytes;
        int64_t holders;
    };
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::unordered_map<const std::string*, Held> held_;
    size_t used_ = 0;
};

}  // namespace serve
