#pragma once
// The server's counters, in the Prometheus text format.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace serve {

class Metrics {
public:
    void finished(const std::string& route, int status, uint64_t bytes, double seconds);
    void refused_busy() { ++busy_; }
    std::atomic<int64_t> in_flight{0};
    std::atomic<int64_t> jobs_queued{0};
    std::atomic<int64_t> jobs_running{0};
    double grid_load_seconds = 0.0;
    uint64_t grid_bytes = 0;
    uint64_t grid_store_bytes = 0;

    std::string render(size_t cache_bytes) const;

private:
    static constexpr std::array<double, 12> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                       0.1,   0.25,   0.5,   1.0,  2.5,   10.0};
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, int>, uint64_t> requests_;
    std::array<uint64_t, kBuckets.size() + 1> buckets_{};
    double sum_seconds_ = 0.0;
    uint64_t count_ = 0;
    std::atomic<uint64_t> bytes_{0};
    std::atomic<uint64_t> busy_{0};
};

}  // namespace serve
