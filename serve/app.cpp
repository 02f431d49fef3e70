#include "serve/app.h"

#include <cstdio>
#include <ctime>

#include "extract/grid_axes.h"
#include "formats/json_text.h"
#include "serve/gzip.h"
#include "serve/more_routes.h"

#ifndef PDSI_VERSION
#define PDSI_VERSION "0"
#endif

namespace serve {

namespace {

constexpr const char* kCacheControl = "public, max-age=86400";
// Values read from the grid per request above which a box is worked on
// by a job: about 500 cells over the whole span.
constexpr int64_t kLongValues = 1'000'000;
// What making an answer holds at its peak, a value: the text files made
// together, each about 18 bytes a value, and the box's values read.
constexpr uint64_t kMakingBytesPerValue = 32;
// Answers past this size are compressed by a job.
constexpr size_t kInlineZipBytes = 1 << 20;

Response method_not_allowed() {
    Response response = plain(405, "method not allowed: GET or HEAD");
    response.set("Allow", "GET, HEAD");
    return response;
}

using formats::json_string;

std::string json_real(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
    return text;
}

}  // namespace

App::App(const LoadedGrid& grid, std::filesystem::path temp_root, ServerConfig config)
    : grid_(grid),
      config_(config),
      producer_(grid, std::move(temp_root)),
      cache_(config.cache_bytes),
      last_modified_(http_date(grid.modified())) {
    metrics.grid_load_seconds = grid.load_seconds();
    metrics.grid_bytes = grid.file_bytes();
    metrics.grid_store_bytes = grid.sound() ? static_cast<uint64_t>(extract::kColumns) * extract::kRows * 1936 * 4
                                            : grid.file_bytes();
}

Budget App::budget(bool long_job) const {
    Budget b;
    b.threads = long_job ? config_.job_threads : 1;
    b.timeout_seconds = config_.timeout_seconds;
    b.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(config_.timeout_seconds);
    b.cancelled = &cancelled;
    return b;
}

std::string App::etag_for(const std::string& key, bool weak) const {
    char text[40];
    std::snprintf(text, sizeof text, "\"%016llx\"",
                  static_cast<unsigned long long>(fnv1a(grid_.identity() + "|" PDSI_VERSION "|" + key)));
    return (weak ? "W/" : "") + std::string(text);
}

int64_t App::values_of(const ExtractQuery& query) const {
    const extract::Request r = query.request();
    const extract::Box box =
        extract::findbox(extract::GridAxes(), r.latmin, r.latmax, r.lonmin, r.lonmax);
    return static_cast<int64_t>(box.nbox()) * 12 * (r.iyr2 - r.iyr1 + 1);
}

bool App::is_long(const ExtractQuery& query, FileKind wanted) const {
    if (Producer::needs_folder(query, wanted) || !grid_.sound()) return true;
    return values_of(query) > kLongValues;
}

Response App::run(const Routed& routed, const Budget& budget) const {
    try {
        return routed.work(budget);
    } catch (const HttpError& error) {
        if (error.status < 500 || error.status == 503 || error.status == 504 || error.status == 507)
            return from_error(error);
        std::fprintf(stderr, "pdsi serve: internal error: %s\n", error.message.c_str());
        return plain(500, "internal error");
    }
}

Routed App::route(const HttpRequest& request) {
    const bool readable = request.method == "GET" || request.method == "HEAD";
    auto now = [](std::string route, Response response) {
        Routed r;
        r.route = std::move(route);
        r.response = std::move(response);
        return r;
    };
    const std::string& path = request.path;
    if (auto page = page_route(grid_, request)) {
        if (!readable) return now(page->route, method_not_allowed());
        return std::move(*page);
    }
    if (path == "/health") {
        if (!readable) return now("/health", method_not_allowed());
        return now("/health", draining ? plain(503, "draining") : plain(200, "ok"));
    }
    if (path == "/metrics") {
        if (!readable) return now("/metrics", method_not_allowed());
        Response response = plain(200, "");
        response.body = std::make_shared<const std::string>(metrics.render(cache_.size_bytes()));
        response.set("Content-Type", "text/plain; version=0.0.4; charset=utf-8");
        return now("/metrics", std::move(response));
    }
    if (path == "/wms") {
        if (!readable) return now("/wms", method_not_allowed());
        return wms(request);
    }
    if (path.rfind("/dap/", 0) == 0) {
        if (!readable) return now("/dap", method_not_allowed());
        return dap_route(grid_, request, config_);
    }
    if (path.rfind("/zarr/", 0) == 0) {
        if (!readable) return now("/zarr", method_not_allowed());
        return zarr_route(grid_, request, cache_);
    }
    try {
        if (path == "/extract" || path == "/extract/") {
            if (!readable) return now("/extract", method_not_allowed());
            return extract_summary(request);
        }
        if (path.rfind("/extract/", 0) == 0) {
            const FileInfo* file = find_file(std::string_view(path).substr(9));
            if (!file) return now("other", plain(404, "not found: " + std::string(path.substr(9, 80))));
            if (!readable) return now("/extract/{file}", method_not_allowed());
            return extract_file(request, *file);
        }
    } catch (const HttpError& error) {
        return now(path == "/extract" || path == "/extract/" ? "/extract" : "/extract/{file}", from_error(error));
    }
    return now("other", plain(404, "not found"));
}

bool App::settled(const HttpRequest& request, const std::string& key, const std::string& etag, bool text,
                  const Fields& headers, Routed& routed) {
    const bool zipped = text && accepts_gzip(request.accept_encoding);
    auto respond = [this, none_match = request.if_none_match, etag, text, zipped,
                    headers](std::shared_ptr<const std::string> body) {
        Response response;
        response.body = std::move(body);
        response.headers = headers;
        response.set("ETag", etag);
        response.set("Last-Modified", last_modified_);
        response.set("Cache-Control", kCacheControl);
        if (text) response.set("Vary", "Accept-Encoding");
        if (zipped) response.set("Content-Encoding", "gzip");
        // Only answers that succeeded are kept: a tag that matches one
        // held here is a 304; any other waits for the answer.
        return conditional(none_match, std::move(response));
    };
    if (auto body = cache_.find(key + (zipped ? "|gzip" : ""))) {
        routed.response = respond(std::move(body));
        return true;
    }
    const auto plain = zipped ? cache_.find(key) : nullptr;
    if (!plain) return false;
    // Made beside another file, kept plain only: compressed once and
    // kept; a large one by a job, off the connection's thread.
    auto zip = [this, key, plain, respond](const Budget&) {
        auto body = std::make_shared<const std::string>(gzip(*plain));
        cache_.put(key + "|gzip", body);
        return respond(std::move(body));
    };
    if (plain->size() > kInlineZipBytes) {
        routed.work = std::move(zip);
        routed.long_job = true;
        routed.memory = plain->size();
    } else {
        routed.response = zip(Budget{});
    }
    return true;
}

Response App::answer(std::shared_ptr<const std::string> body, const std::string& key, const std::string& etag,
                     bool text, bool zipped, Fields headers) {
    Response response;
    response.headers = std::move(headers);
    response.set("ETag", etag);
    response.set("Last-Modified", last_modified_);
    response.set("Cache-Control", kCacheControl);
    if (text) response.set("Vary", "Accept-Encoding");
    cache_.put(key, body);
    if (zipped) {
        body = std::make_shared<const std::string>(gzip(*body));
        cache_.put(key + "|gzip", body);
        response.set("Content-Encoding", "gzip");
    }
    response.body = std::move(body);
    return response;
}

Routed App::extract_file(const HttpRequest& request, const FileInfo& file) {
    const ExtractQuery query = parse_extract_query(request.args);
    if (file.needs_fill && !query.fill)
        throw HttpError{400, std::string("fill: ") + file.name + " is made by the gap filling: give fill=FIRST:LAST"};
    const std::string key = std::string(file.name) + "?" + query.normalised();
    const std::string etag = etag_for(key, file.dated);
    const bool zipped = file.text && accepts_gzip(request.accept_encoding);
    const std::string tag = zipped ? etag.substr(0, etag.size() - 1) + "-gzip\"" : etag;
    Fields headers = {{"Content-Type", file.content_type},
                      {"Content-Disposition", std::string(file.kind == FileKind::report ? "inline" : "attachment") +
                                                  "; filename=\"" + file.name + "\""}};
    Routed routed;
    routed.route = "/extract/{file}";
    if (settled(request, key, tag, file.text, headers, routed)) return routed;
    routed.long_job = is_long(query, file.kind);
    routed.memory = static_cast<uint64_t>(values_of(query)) * kMakingBytesPerValue;
    const FileKind kind = file.kind;
    routed.work = [this, query, kind, key, tag, zipped, text = file.text, headers](const Budget& budget) {
        Products made = producer_.make(query, kind, budget);
        // Whatever came with the file answers its own repeats.
        for (const auto& [other, bytes] : made.files)
            if (other != kind)
                for (const FileInfo& info : output_files())
                    if (info.kind == other) cache_.put(std::string(info.name) + "?" + query.normalised(), bytes);
        return answer(made.files.at(kind), key, tag, text, zipped, headers);
    };
    return routed;
}

Routed App::extract_summary(const HttpRequest& request) {
    const ExtractQuery query = parse_extract_query(request.args);
    const std::string key = "summary?" + query.normalised();
    const std::string etag = etag_for(key, false);
    Fields headers = {{"Content-Type", "application/json"}};
    Routed routed;
    routed.route = "/extract";
    if (settled(request, key, etag, false, headers, routed)) return routed;
    const FileKind kind = query.fill ? FileKind::qc : FileKind::tsf;
    routed.long_job = is_long(query, kind);
    routed.memory = static_cast<uint64_t>(values_of(query)) * kMakingBytesPerValue;
    routed.work = [this, query, kind, key, etag, headers](const Budget& budget) {
        const Products made = producer_.make(query, kind, budget);
        for (const auto& [other, bytes] : made.files)
            for (const FileInfo& info : output_files())
                if (info.kind == other) cache_.put(std::string(info.name) + "?" + query.normalised(), bytes);
        const extract::Request r = query.request();
        const extract::GridAxes axes;
        const extract::Box& box = made.box;
        std::string json = "{\n";
        json += "  \"years\": [" + std::to_string(r.iyr1) + ", " + std::to_string(r.iyr2) + "],\n";
        json += "  \"bounds\": {\"south\": " + json_real(r.latmin) + ", \"north\": " + json_real(r.latmax) +
                ", \"west\": " + json_real(r.lonmin) + ", \"east\": " + json_real(r.lonmax) + "},\n";
        json += "  \"box\": {\"south\": " + json_real(axes.ylat(box.jlat1)) + ", \"north\": " +
                json_real(axes.ylat(box.jlat2)) + ", \"west\": " + json_real(axes.xlon(box.ilon1)) +
                ", \"east\": " + json_real(axes.xlon(box.ilon2)) + ", \"columns\": " + std::to_string(box.ncols()) +
                ", \"rows\": " + std::to_string(box.nrows()) + ", \"first_column\": " + std::to_string(box.ilon1) +
                ", \"first_row\": " + std::to_string(box.jlat1) + "},\n";
        json += "  \"max_missing\": " + decimal(r.pctmiss) + ",\n";
        if (query.fill) {
            const int32_t years = query.fill->last - query.fill->first + 1;
            json += "  \"calibration\": {\"asked\": [" + std::to_string(query.fill->first) + ", " +
                    std::to_string(query.fill->last) + "], \"used\": [" + std::to_string(r.iyr2 - years + 1) + ", " +
                    std::to_string(r.iyr2) + "]},\n";
        } else {
            json += "  \"calibration\": null,\n";
        }
        json += "  \"cells_in_box\": " + std::to_string(made.nbox) + ",\n";
        json += "  \"kept\": " + std::to_string(made.nkept) + ",\n";
        json += "  \"filled\": " + (query.fill ? std::to_string(made.filled) : std::string("null")) + ",\n";
        json += "  \"files\": [";
        bool first = true;
        for (const FileInfo& info : output_files()) {
            if (info.needs_fill && !query.fill) continue;
            // Sizes of the files this run made on the way; the copies and the
            // page are made when asked for.
            const auto made_file = made.files.find(info.kind);
            const std::string bytes =
                made_file == made.files.end() ? "null" : std::to_string(made_file->second->size());
            json += std::string(first ? "\n" : ",\n") + "    {\"name\": " + json_string(info.name) +
                    ", \"url\": " + json_string(std::string("/extract/") + info.name + "?" + query.query_string()) +
                    ", \"bytes\": " + bytes + "}";
            first = false;
        }
        json += "\n  ]\n}\n";
        return answer(std::make_shared<const std::string>(std::move(json)), key, etag, false, false, headers);
    };
    return routed;
}

}  // namespace serve
