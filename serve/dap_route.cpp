// /dap/pdsi: the grid in memory as a DAP2 dataset (dap/), with the
// server's caching headers; large answers are made by a job.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

#include "dap/dataset.h"
#include "extract/grid_axes.h"
#include "serve/grid_values.h"
#include "serve/more_routes.h"

#ifndef PDSI_VERSION
#define PDSI_VERSION "0"
#endif

namespace serve {

namespace {

// Answers up to this size are made on the connection's thread: a cell's
// series is 8 kB, a month's map 32 kB, the whole field 61 MB.
constexpr uint64_t kInlineBytes = 4u << 20;
constexpr const char* kCacheControl = "public, max-age=86400";

Response to_response(dap::Answer answer) {
    Response response;
    response.status = answer.status;
    if (answer.body) response.body = std::move(answer.body);
    response.set("Content-Type", answer.content_type);
    if (!answer.description.empty()) response.set("Content-Description", answer.description);
    response.set("XDODS-Server", dap::server_version());
    response.set("XDAP", "2.0");
    return response;
}

Response refused(const dap::Failure& failure) {
    Response response = to_response(dap::error_answer(failure));
    response.set("Cache-Control", "no-store");
    return response;
}

// The values a stream reads as it is sent, with a budget of their own:
// no deadline, since a reader too slow is closed by the server.
class StreamValues : public dap::Values {
public:
    explicit StreamValues(const LoadedGrid& grid) : values_(grid, budget_) {}
    void read(const dap::Slab& slab, float* out) const override { values_.read(slab, out); }

private:
    Budget budget_;
    GridValues values_;
};

class DapBody : public BodySource {
public:
    explicit DapBody(std::unique_ptr<dap::Stream> stream) : stream_(std::move(stream)) {}
    uint64_t size() const override { return stream_->size(); }
    size_t read(uint64_t at, char* out, size_t max) override {
        try {
            return stream_->read(at, out, max);
        } catch (const dap::Failure& failure) {
            throw HttpError{failure.status, failure.message};
        }
    }

private:
    std::unique_ptr<dap::Stream> stream_;
};

}  // namespace

Routed dap_route(const LoadedGrid& grid, const HttpRequest& request, const ServerConfig& config) {
    Routed routed;
    routed.route = "/dap";
    const std::string name = request.path.substr(std::min<size_t>(request.path.size(), 5));
    const std::optional<dap::Kind> kind = dap::kind_of(name);
    if (!kind) {
        routed.response = refused({404, "not found: /dap/" + name.substr(0, 80) +
                                            " (the dataset is /dap/pdsi: .das, .dds, .dods, .ver, .html)"});
        return routed;
    }
    char tag[40];
    std::snprintf(tag, sizeof tag, "\"%016llx\"",
                  static_cast<unsigned long long>(
                      fnv1a(grid.identity() + "|" PDSI_VERSION "|dap|" + name + "?" + request.raw_query)));
    const std::string etag = tag;
    const std::string modified = http_date(grid.modified());
    auto finish = [etag, modified](dap::Answer answer) {
        Response response = to_response(std::move(answer));
        response.set("ETag", etag);
        response.set("Last-Modified", modified);
        response.set("Cache-Control", kCacheControl);
        return response;
    };

    std::shared_ptr<dap::Request> parsed;
    try {
        parsed = std::make_shared<dap::Request>(*kind, request.raw_query,
                                                static_cast<uint64_t>(config.dap_max_mb) << 20);
    } catch (const dap::Failure& failure) {
        routed.response = refused(failure);
        return routed;
    }
    // A request that parsed, on a sound grid, cannot fail: its 304 needs
    // no work. Any other is answered first (a failure is no 304).
    if (grid.sound() && none_match_hits(request.if_none_match, etag)) {
        routed.response = conditional(request.if_none_match, finish(dap::Answer{}));
        return routed;
    }
    // Values of the sound grid are a view of memory: sent as they are
    // read, made on no worker and held by no connection.
    if (grid.sound() && parsed->kind() == dap::Kind::dods && parsed->bytes() > kInlineBytes) {
        try {
            dap::Answer head;
            head.status = 200;
            head.description = "dods_data";
            head.content_type = "application/octet-stream";
            Response response = finish(std::move(head));
            response.stream = std::make_shared<DapBody>(parsed->stream(std::make_shared<StreamValues>(grid)));
            routed.response = std::move(response);
        } catch (const dap::Failure& failure) {
            routed.response = refused(failure);
        }
        return routed;
    }
    routed.long_job = parsed->bytes() > kInlineBytes || (parsed->field() && !grid.sound());
    auto work = [&grid, parsed, finish](const Budget& budget) {
        try {
            return finish(parsed->answer(GridValues(grid, budget)));
        } catch (const dap::Failure& failure) {
            return refused(failure);
        }
    };
    if (routed.long_job) {
        routed.work = std::move(work);
    } else {
        Budget budget;
        routed.response = work(budget);
    }
    return routed;
}


}  // namespace serve
