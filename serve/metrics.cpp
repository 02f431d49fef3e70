#include "serve/metrics.h"

#include <cstdio>

namespace serve {

void Metrics::finished(const std::string& route, int status, uint64_t bytes, double seconds) {
    bytes_ += bytes;
    std::lock_guard lock(mutex_);
    ++requests_[{route, status}];
    size_t k = 0;
    while (k < kBuckets.size() && seconds > kBuckets[k]) ++k;
    ++buckets_[k];
    sum_seconds_ += seconds;
    ++count_;
}

std::string Metrics::render(size_t cache_bytes) const {
    std::string out;
    char line[256];
    auto family = [&](const char* name, const char* type, const char* help) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    auto value = [&](const char* name, const char* labels, double v) {
        std::snprintf(line, sizeof line, "%s%s %.17g\n", name, labels, v);
        out += line;
    };
    std::lock_guard lock(mutex_);
    family("pdsi_http_requests_total", "counter", "Requests answered, by route and status.");
    for (const auto& [key, count] : requests_) {
        std::snprintf(line, sizeof line, "pdsi_http_requests_total{route=\"%s\",code=\"%d\"} %llu\n",
                      key.first.c_str(), key.second, static_cast<unsigned long long>(count));
        out += line;
    }
    family("pdsi_http_request_duration_seconds", "histogram", "Time from the request's arrival to its answer.");
    uint64_t cumulative = 0;
    for (size_t k = 0; k < kBuckets.size(); ++k) {
        cumulative += buckets_[k];
        std::snprintf(line, sizeof line, "pdsi_http_request_duration_seconds_bucket{le=\"%g\"} %llu\n", kBuckets[k],
                      static_cast<unsigned long long>(cumulative));
        out += line;
    }
    cumulative += buckets_.back();
    std::snprintf(line, sizeof line, "pdsi_http_request_duration_seconds_bucket{le=\"+Inf\"} %llu\n",
                  static_cast<unsigned long long>(cumulative));
    out += line;
    value("pdsi_http_request_duration_seconds_sum", "", sum_seconds_);
    value("pdsi_http_request_duration_seconds_count", "", static_cast<double>(count_));
    family("pdsi_http_requests_in_flight", "gauge", "Requests being answered.");
    value("pdsi_http_requests_in_flight", "", static_cast<double>(in_flight.load()));
    family("pdsi_jobs_queued", "gauge", "Long requests waiting for a worker.");
    value("pdsi_jobs_queued", "", static_cast<double>(jobs_queued.load()));
    family("pdsi_jobs_running", "gauge", "Long requests being worked on.");
    value("pdsi_jobs_running", "", static_cast<double>(jobs_running.load()));
    family("pdsi_http_busy_refusals_total", "counter", "Requests refused with 503 because the job queue was full.");
    value("pdsi_http_busy_refusals_total", "", static_cast<double>(busy_.load()));
    family("pdsi_http_sent_bytes_total", "counter", "Body bytes sent.");
    value("pdsi_http_sent_bytes_total", "", static_cast<double>(bytes_.load()));
    family("pdsi_grid_load_seconds", "gauge", "Time taken to load the grid at start.");
    value("pdsi_grid_load_seconds", "", grid_load_seconds);
    family("pdsi_grid_file_bytes", "gauge", "Size of the grid file loaded.");
    value("pdsi_grid_file_bytes", "", static_cast<double>(grid_bytes));
    family("pdsi_grid_memory_bytes", "gauge", "Memory holding the grid.");
    value("pdsi_grid_memory_bytes", "", static_cast<double>(grid_store_bytes));
    family("pdsi_cache_bytes", "gauge", "Bytes held by the answer cache.");
    value("pdsi_cache_bytes", "", static_cast<double>(cache_bytes));
    return out;
}

}  // namespace serve
