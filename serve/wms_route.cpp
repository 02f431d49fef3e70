// /wms: the map service. The maps library reads the request and makes the
// bytes; here they are cached, tagged and sent.
#include "extract/writecells.h"
#include "maps/render.h"
#include "maps/wms.h"
#include "serve/app.h"
#include "serve/gzip.h"

namespace serve {

namespace {

const extract::Box kWholeGrid{1, extract::kColumns, 1, extract::kRows};
// Maps larger than this (2048 by 2048) take tens of milliseconds: they wait
// in the job queue with the other long requests.
constexpr int64_t kLongPixels = int64_t{1} << 22;

struct Source {
    const LoadedGrid* grid;
    extract::GridView view;
};

int32_t cell(int32_t column, int32_t row) {
    return column * extract::kRows + row + 1;
}

float value_of(const void* data, int32_t column, int32_t row, int32_t month) {
    return static_cast<const Source*>(data)->view.series(cell(column, row))[month];
}

bool land_of(const void* data, int32_t column, int32_t row) {
    return static_cast<const Source*>(data)->grid->land(cell(column, row));
}

Response refusal(maps::Version version, const maps::WmsError& error, int status = 400) {
    Response response;
    response.status = status;
    response.body = std::make_shared<const std::string>(maps::exception_report(version, error));
    response.set("Content-Type", std::string(maps::exception_type(version)) + "; charset=utf-8");
    response.set("Cache-Control", "no-store");
    return response;
}

// Where clients reach the service, from the Host they asked: a name or
// address and a port, nothing that could leave the URL.
std::string service_url(const std::string& host) {
    bool plain_host = !host.empty() && host.size() <= 255;
    for (char c : host)
        plain_host = plain_host && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                    c == '.' || c == '-' || c == ':' || c == '[' || c == ']');
    return plain_host ? "http://" + host + "/wms" : "/wms";
}

}  // namespace

Routed App::wms(const HttpRequest& request) {
    Routed routed;
    routed.route = "/wms";
    const maps::Version version = maps::wms_version(request.args);
    maps::WmsRequest r;
    try {
        r = maps::parse_wms(request.args);
    } catch (const maps::WmsError& error) {
        routed.response = refusal(version, error);
        return routed;
    }
    using Kind = maps::WmsRequest::Kind;
    const bool needs_grid = r.kind == Kind::map || r.kind == Kind::info;
    if (needs_grid && !grid_.sound()) {
        routed.response = refusal(version, {"", "the map needs the whole grid, and this grid file is damaged"}, 422);
        return routed;
    }
    std::string key = "wms|" + maps::request_key(r);
    std::string type = "image/png";
    bool text = false;
    if (r.kind == Kind::capabilities) {
        key += "|" + service_url(request.host);
        type = std::string(maps::capabilities_type(r.version)) + "; charset=utf-8";
        text = true;
    } else if (r.kind == Kind::info) {
        type = r.info.json ? "application/json" : "text/plain; charset=utf-8";
        text = true;
    }
    const bool zipped = text && accepts_gzip(request.accept_encoding);
    const std::string etag = etag_for(key, false);
    const std::string tag = zipped ? etag.substr(0, etag.size() - 1) + "-gzip\"" : etag;
    const Fields headers = {{"Content-Type", type}};
    if (settled(request, key, tag, text, headers, routed)) return routed;
    routed.long_job = r.kind == Kind::map && int64_t{r.map.frame.width} * r.map.frame.height > kLongPixels;
    routed.work = [this, r, key, tag, text, zipped, headers, host = request.host](const Budget&) {
        std::string body;
        if (r.kind == Kind::capabilities) {
            body = maps::capabilities(r.version, service_url(host), extract::citation_text());
        } else if (r.kind == Kind::legend) {
            body = maps::legend_png();
        } else {
            const Source source{&grid_, grid_.read(extract::kFirstYear, extract::kLastYear, kWholeGrid, 1).view};
            const maps::GridSource grid{&source, value_of, land_of};
            body = r.kind == Kind::map ? maps::map_png(maps::month_entries(grid, r.map.month), r.map)
                                       : maps::feature_info(r.info, grid);
        }
        return answer(std::make_shared<const std::string>(std::move(body)), key, tag, text, zipped, headers);
    };
    return routed;
}

}  // namespace serve
