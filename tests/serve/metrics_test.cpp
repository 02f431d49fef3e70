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

}  // namespace
