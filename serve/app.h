#pragma once
// The server's routes and handlers: plain functions from a request to an
// answer, or to the work that makes one, with no socket in sight.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "serve/answer_cache.h"
#include "serve/http_types.h"
#include "serve/loaded_grid.h"
#include "serve/metrics.h"
#include "serve/products.h"

namespace serve {

struct ServerConfig {
    int32_t threads = 1;          // the HTTP library's pool
    int32_t jobs = 1;             // long requests worked on at once
    int32_t queue = 4;            // and waiting
    int32_t timeout_seconds = 60;
    size_t cache_bytes = 0;
    int32_t job_threads = 1;      // threads of one long request
    int32_t dap_max_mb = 256;     // the largest /dap answer
    int32_t max_connections = 1000;
    int32_t max_per_client = 100;  // behind a balancer every client is the balancer
    size_t answer_bytes = size_t{512} << 20;  // answers held for clients still reading them
};

// What a route gives: an answer now, or work for a job worker.
struct Routed {
    std::string route;  // the route's pattern, for the metrics
    std::optional<Response> response;
    std::function<Response(const Budget&)> work;
    bool long_job = false;  // belongs in the job queue, not on a server thread
    uint64_t memory = 0;    // what `work` holds at most while it makes the answer
};

class App {
public:
    App(const LoadedGrid& grid, std::filesystem::path temp_root, ServerConfig config);

    Routed route(const HttpRequest& request);
    // The answer made by `work` when it ran inline or in a job.
    Response run(const Routed& routed, const Budget& budget) const;
    Budget budget(bool long_job) const;
    const ServerConfig& config() const { return config_; }

    Metrics metrics;
    std::atomic<bool> draining{false};
    std::atomic<bool> cancelled{false};  // the stop's wait is over: work ends now

private:
    Routed extract_file(const HttpRequest& request, const FileInfo& file);
    Routed extract_summary(const HttpRequest& request);
    Routed wms(const HttpRequest& request);  // in wms_route.cpp
    // 304, or the answer from the cache (or its gzip, made from it), before
    // any other work: true when `routed` is so answered.
    bool settled(const HttpRequest& request, const std::string& key, const std::string& etag, bool text,
                 const Fields& headers, Routed& routed);
    Response answer(std::shared_ptr<const std::string> body, const std::string& key, const std::string& etag,
                    bool text, bool gzip_wanted, Fields headers);
    std::string etag_for(const std::string& key, bool weak) const;
    bool is_long(const ExtractQuery& query, FileKind wanted) const;
    int64_t values_of(const ExtractQuery& query) const;

    const LoadedGrid& grid_;
    ServerConfig config_;
    Producer producer_;
    AnswerCache cache_;
    std::string last_modified_;
};

}  // namespace serve
