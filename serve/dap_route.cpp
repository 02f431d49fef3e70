// /dap/pdsi: the grid in memory as a DAP2 dataset (dap/), with the
// server's caching headers; large answers are made by a job.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

#include "cli/extract_checks.h"
#include "dap/dataset.h"
#include "extract/grid_axes.h"
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

struct Stopped {};

// Stops a read of a damaged grid at the request's deadline or the
// server's stop.
class Deadline : public textio::Progress {
public:
    explicit Deadline(const Budget& budget) : budget_(budget) {}
    void advance(int32_t, int32_t) override {
        if (budget_.over()) throw Stopped{};
    }

private:
    const Budget& budget_;
};

// pdsi's values from the grid as held: a view of the store when the grid
// is sound; otherwise the reader on the start's copy, for the years and
// the box that cover the slab, meeting the damage as `pdsi extract` would,
// once for all the parts of a slab.
class GridValues : public dap::Values {
public:
    GridValues(const LoadedGrid& grid, const Budget& budget) : grid_(grid), budget_(budget) {}

    void prepare(const dap::Slab& s) const override { held_.emplace(load(s)); }

    void read(const dap::Slab& s, float* out) const override {
        if (!held_ || !held_->covers(s)) held_.emplace(load(s));
        const Held& held = *held_;
        const extract::Box& box = held.box;
        const int32_t first = s.start[0] - 12 * (held.iyr1 - extract::kFirstYear);  // month of the view
        const int32_t nt = s.count(0), nj = s.count(1), ni = s.count(2);
        const size_t plane = static_cast<size_t>(nj) * static_cast<size_t>(ni);
        // A few months of every cell at a time: each series is read along
        // its run and each map written along its rows.
        constexpr int32_t kMonths = 16;
        for (int32_t t0 = 0; t0 < nt; t0 += kMonths) {
            const int32_t t1 = std::min(nt, t0 + kMonths);
            for (int32_t b = 0; b < nj; ++b) {
                const int32_t j = s.start[1] + 1 + b * s.stride[1];
                for (int32_t a = 0; a < ni; ++a) {
                    const float* series = held.data.view.series(box.cell(s.start[2] + 1 + a * s.stride[2], j)) + first;
                    float* to = out + static_cast<size_t>(b) * static_cast<size_t>(ni) + static_cast<size_t>(a);
                    for (int32_t t = t0; t < t1; ++t)
                        to[static_cast<size_t>(t) * plane] = series[static_cast<size_t>(t) * s.stride[0]];
                }
            }
        }
    }

private:
    // The years and the box that cover a slab, as read.
    struct Held {
        int32_t iyr1, iyr2;
        extract::Box box;
        BoxData data;
        bool covers(const dap::Slab& s) const {
            return extract::kFirstYear + s.start[0] / 12 >= iyr1 && extract::kFirstYear + s.stop[0] / 12 <= iyr2 &&
                   s.start[2] + 1 >= box.ilon1 && s.stop[2] + 1 <= box.ilon2 && s.start[1] + 1 >= box.jlat1 &&
                   s.stop[1] + 1 <= box.jlat2;
        }
    };

    Held load(const dap::Slab& s) const {
        const int32_t iyr1 = extract::kFirstYear + s.start[0] / 12;
        const int32_t iyr2 = extract::kFirstYear + s.stop[0] / 12;
        const extract::Box box{s.start[2] + 1, s.stop[2] + 1, s.start[1] + 1, s.stop[1] + 1};
        Deadline deadline(budget_);
        try {
            return Held{iyr1, iyr2, box, grid_.read(iyr1, iyr2, box, budget_.threads, &deadline)};
        } catch (const extract::GridReadFailure& failure) {
            throw dap::Failure{422, cli::grid_read_message(grid_.name(), failure)};
        } catch (const extract::GridEnded& ended) {
            throw dap::Failure{422, cli::grid_ended_message(grid_.name(), ended.nrec, iyr2)};
        } catch (const Stopped&) {
            if (budget_.cancelled && budget_.cancelled->load())
                throw dap::Failure{503, "the server is stopping; try again"};
            throw dap::Failure{504, "the request took longer than " + std::to_string(budget_.timeout_seconds) +
                                        " s and was stopped"};
        }
    }

    const LoadedGrid& grid_;
    const Budget& budget_;
    mutable std::optional<Held> held_;
};

// The values a stream reads as it is sent, with a budget of their own:
// no deadline, since a reader too slow is closed by the server.
class StreamValues : public dap::Values {
public:
    explicit StreamValues(const LoadedGrid& grid) : values_(grid, budget_) {}
    void prepare(const dap::Slab& slab) const override { values_.prepare(slab); }
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
