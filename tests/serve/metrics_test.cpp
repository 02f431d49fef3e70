// The request-time histogram: each time in the first bucket that holds it,
// a bucket's limit inside it, times past the last in +Inf only.
#include "serve/metrics.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Metrics, EachTimeCountsInItsBucket) {
    serve::Metrics metrics;
    for (const double seconds : {0.0005, 0.001, 0.0011, 9.0, 10.0, 10.5, 600.0, 1e4})
        metrics.finished("/health", 200, 3, seconds);
    const std::string text = metrics.render(0);
    struct Row {
        const char* le;
        int count;
    };
    for (const Row& row : {Row{"0.001", 2}, Row{"0.0025", 3}, Row{"2.5", 3}, Row{"10", 5}, Row{"+Inf", 8}}) {
        const std::string line =
            std::string("pdsi_http_request_duration_seconds_bucket{le=\"") + row.le + "\"} " + std::to_string(row.count) + "\n";
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
    EXPECT_NE(text.find("pdsi_http_request_duration_seconds_count 8\n"), std::string::npos) << text;
    EXPECT_NE(text.find("pdsi_http_requests_total{route=\"/health\",code=\"200\"} 8\n"), std::string::npos) << text;
}

// The whole page: each family with its help and type, each value as set.
TEST(Metrics, TheWholePage) {
    serve::Metrics metrics;
    metrics.finished("/extract", 200, 1000, 0.0625);
    metrics.finished("/dap", 404, 24, 0.5);
    metrics.refused_busy();
    metrics.in_flight = 3;
    metrics.jobs_queued = 2;
    metrics.jobs_running = 1;
    metrics.grid_load_seconds = 1.25;
    metrics.grid_bytes = 7000;
    metrics.grid_store_bytes = 8000;
    EXPECT_EQ(metrics.render(4096), R"(# HELP pdsi_http_requests_total Requests answered, by route and status.
# TYPE pdsi_http_requests_total counter
pdsi_http_requests_total{route="/dap",code="404"} 1
pdsi_http_requests_total{route="/extract",code="200"} 1
# HELP pdsi_http_request_duration_seconds Time from the request's arrival to its answer.
# TYPE pdsi_http_request_duration_seconds histogram
pdsi_http_request_duration_seconds_bucket{le="0.001"} 0
pdsi_http_request_duration_seconds_bucket{le="0.0025"} 0
pdsi_http_request_duration_seconds_bucket{le="0.005"} 0
pdsi_http_request_duration_seconds_bucket{le="0.01"} 0
pdsi_http_request_duration_seconds_bucket{le="0.025"} 0
pdsi_http_request_duration_seconds_bucket{le="0.05"} 0
pdsi_http_request_duration_seconds_bucket{le="0.1"} 1
pdsi_http_request_duration_seconds_bucket{le="0.25"} 1
pdsi_http_request_duration_seconds_bucket{le="0.5"} 2
pdsi_http_request_duration_seconds_bucket{le="1"} 2
pdsi_http_request_duration_seconds_bucket{le="2.5"} 2
pdsi_http_request_duration_seconds_bucket{le="10"} 2
pdsi_http_request_duration_seconds_bucket{le="+Inf"} 2
pdsi_http_request_duration_seconds_sum 0.5625
pdsi_http_request_duration_seconds_count 2
# HELP pdsi_http_requests_in_flight Requests being answered.
# TYPE pdsi_http_requests_in_flight gauge
pdsi_http_requests_in_flight 3
# HELP pdsi_jobs_queued Long requests waiting for a worker.
# TYPE pdsi_jobs_queued gauge
pdsi_jobs_queued 2
# HELP pdsi_jobs_running Long requests being worked on.
# TYPE pdsi_jobs_running gauge
pdsi_jobs_running 1
# HELP pdsi_http_busy_refusals_total Requests refused with 503 because the job queue was full.
# TYPE pdsi_http_busy_refusals_total counter
pdsi_http_busy_refusals_total 1
# HELP pdsi_http_sent_bytes_total Body bytes sent.
# TYPE pdsi_http_sent_bytes_total counter
pdsi_http_sent_bytes_total 1024
# HELP pdsi_grid_load_seconds Time taken to load the grid at start.
# TYPE pdsi_grid_load_seconds gauge
pdsi_grid_load_seconds 1.25
# HELP pdsi_grid_file_bytes Size of the grid file loaded.
# TYPE pdsi_grid_file_bytes gauge
pdsi_grid_file_bytes 7000
# HELP pdsi_grid_memory_bytes Memory holding the grid.
# TYPE pdsi_grid_memory_bytes gauge
pdsi_grid_memory_bytes 8000
# HELP pdsi_cache_bytes Bytes held by the answer cache.
# TYPE pdsi_cache_bytes gauge
pdsi_cache_bytes 4096
)");
}

}  // namespace
