#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "cli/numbers.h"
#include "extract/grid_axes.h"
#include "maps/page_data.h"
#include "report/escape.h"
#include "serve/gzip.h"
#include "serve/more_routes.h"
#include "serve/page_assets.h"

#ifndef PDSI_VERSION
#define PDSI_VERSION "0"
#endif

namespace serve {

namespace {

constexpr std::string_view kPagePrefix = "/page/";
// Data whose tag names the grid and the span: a day, as the API's answers.
constexpr const char* kDataCache = "public, max-age=86400";
// An asset asked for by its current hash never changes under that URL.
constexpr const char* kPinnedCache = "public, max-age=31536000, immutable";
// The page and its scripts talk to this server only.
constexpr const char* kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

std::string hex16(uint64_t h) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// One representation of a text body: plain or gzip, each with its tag.
struct Text {
    std::shared_ptr<const std::string> plain, zipped;
    std::string tag;  // without quotes
};

Text make_text(std::string body, std::string tag) {
    Text t;
    t.plain = std::make_shared<const std::string>(std::move(body));
    t.zipped = std::make_shared<const std::string>(gzip(*t.plain));
    t.tag = std::move(tag);
    return t;
}

Response send_text(const HttpRequest& request, const Text& text, const char* type, const char* cache) {
    const bool zipped = accepts_gzip(request.accept_encoding);
    Response response;
    response.set("ETag", "\"" + text.tag + (zipped ? "-gzip" : "") + "\"");
    response.set("Cache-Control", cache);
    response.set("Vary", "Accept-Encoding");
    if (none_match_hits(request.if_none_match, *response.header("ETag"))) {
        response.status = 304;
        return response;
    }
    response.set("Content-Type", type);
    response.set("X-Content-Type-Options", "nosniff");
    if (zipped) response.set("Content-Encoding", "gzip");
    response.body = zipped ? text.zipped : text.plain;
    return response;
}

struct Asset {
    const char* path;
    const char* type;
    const char* slot;  // where the page names it
    Text text;
};

const std::vector<Asset>& assets() {
    static const std::vector<Asset> all = [] {
        std::vector<Asset> v;
        auto add = [&](const char* path, const char* type, const char* slot, std::string_view bytes) {
            v.push_back({path, type, slot, make_text(std::string(bytes), hex16(fnv1a(bytes)))});
        };
        add("/page/home.css", "text/css; charset=utf-8", "{{CSS_URL}}", page_assets::kHomeCss);
        add("/page/home.js", "text/javascript; charset=utf-8", "{{JS_URL}}", page_assets::kHomeJs);
        add("/page/dygraph.css", "text/css; charset=utf-8", "{{CHART_CSS_URL}}", page_assets::kDygraphCss);
        add("/page/dygraph.js", "text/javascript; charset=utf-8", "{{CHART_JS_URL}}", page_assets::kDygraphJs);
        return v;
    }();
    return all;
}

// Text for a <script type="application/json"> block: nothing in it can
// close the element or open a comment.

void replace(std::string& text, std::string_view slot, std::string_view with) {
    const size_t at = text.find(slot);
    if (at != std::string::npos) text.replace(at, slot.size(), with);
}

Response home(const LoadedGrid& grid, const HttpRequest& request) {
    std::string html(page_assets::kHomeHtml);
    for (const Asset& asset : assets()) {
        const std::string url = std::string(asset.path) + "?v=" + asset.text.tag;
        replace(html, asset.slot, url);
    }
    const std::string info = "{\"name\": " + report::json_string(grid.name()) +
                             ", \"sound\": " + (grid.sound() ? "true" : "false") +
                             ", \"land\": " + std::to_string(grid.land_cells()) +
                             ", \"first_year\": " + std::to_string(extract::kFirstYear) +
                             ", \"last_year\": " + std::to_string(extract::kLastYear) +
                             ", \"classes\": " + maps::palette_json() + "}";
    replace(html, "{{GRID}}", info);
    const std::string tag = "\"" + hex16(fnv1a(html)) + "\"";
    Response response;
    response.set("ETag", tag);
    // Asked again on every visit: the grid or the program may have changed.
    response.set("Cache-Control", "no-cache");
    if (none_match_hits(request.if_none_match, tag)) {
        response.status = 304;
        return response;
    }
    response.set("Content-Type", "text/html; charset=utf-8");
    response.set("Content-Security-Policy", kPolicy);
    response.set("X-Content-Type-Options", "nosniff");
    response.body = std::make_shared<const std::string>(std::move(html));
    return response;
}

void append_number(std::string& out, int32_t value) {
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

// Per cell, in the grid's order (columns west to east, rows south to north
// within a column): the first year with a value (0: none in the grid) and
// the months missing in the span.
std::string cells_json(const LoadedGrid& grid, const cli::YearSpan& span) {
    const extract::Box whole{1, extract::kColumns, 1, extract::kRows};
    const BoxData data = grid.read(extract::kFirstYear, extract::kLastYear, whole, 1);
    const int32_t cells = whole.nbox();
    const int32_t from = 12 * (span.first - extract::kFirstYear);
    const int32_t to = 12 * (span.last - extract::kFirstYear + 1);
    std::string first, missing;
    first.reserve(static_cast<size_t>(cells) * 6);
    missing.reserve(static_cast<size_t>(cells) * 6);
    for (int32_t n = 1; n <= cells; ++n) {
        const float* series = data.view.series(n);
        const int32_t nmon = data.view.nmon();
        int32_t m = 0;
        while (m < nmon && series[m] == extract::kMissing) ++m;
        int32_t gaps = 0;
        for (int32_t k = from; k < to; ++k) gaps += series[k] == extract::kMissing;
        if (n > 1) {
            first += ',';
            missing += ',';
        }
        append_number(first, m < nmon ? extract::kFirstYear + m / 12 : 0);
        append_number(missing, gaps);
    }
    return "{\"years\": [" + std::to_string(span.first) + ", " + std::to_string(span.last) +
           "], \"months\": " + std::to_string(to - from) + ", \"columns\": " + std::to_string(extract::kColumns) +
           ", \"rows\": " + std::to_string(extract::kRows) + ",\n\"first\": [" + first + "],\n\"missing\": [" +
           missing + "]}\n";
}

// The one parameter a map data route takes, given once; none when the
// request is refused, with the answer in `refusal`.
const std::string* only_parameter(const HttpRequest& request, const char* name, const char* form,
                                  Response& refusal) {
    const std::string* value = nullptr;
    for (const auto& [key, text] : request.args) {
        if (key != name) {
            refusal = plain(400, std::string("unknown parameter: the map data takes ") + form + " only");
            return nullptr;
        }
        if (value) {
            refusal = plain(400, std::string(name) + ": given more than once");
            return nullptr;
        }
        value = &text;
    }
    if (!value) refusal = plain(400, std::string(name) + ": required (" + form + ")");
    else if (value->empty()) refusal = plain(400, std::string(name) + ": empty");
    else return value;
    return nullptr;
}

// Map data under a tag of what it depends on: the grid, the program and
// the request; a repeat is settled by the tag before any work.
template <class Make>
Response data_answer(const LoadedGrid& grid, const HttpRequest& request, const std::string& what, const char* type,
                     Make make) {
    if (!grid.sound()) return plain(422, "the map needs the whole grid, and this grid file is damaged");
    const std::string tag = hex16(fnv1a(grid.identity() + "|" PDSI_VERSION "|" + what));
    if (none_match_hits(request.if_none_match, "\"" + tag + "\"") ||
        none_match_hits(request.if_none_match, "\"" + tag + "-gzip\"")) {
        Response response;
        response.status = 304;
        response.set("ETag", "\"" + tag + (accepts_gzip(request.accept_encoding) ? "-gzip" : "") + "\"");
        response.set("Cache-Control", kDataCache);
        response.set("Vary", "Accept-Encoding");
        return response;
    }
    Text text;
    text.tag = tag;
    text.plain = std::make_shared<const std::string>(make());
    // Made anew on each request that misses the browser's cache: the
    // fastest deflate keeps a month's map within a redraw's budget.
    text.zipped = accepts_gzip(request.accept_encoding)
                      ? std::make_shared<const std::string>(gzip(*text.plain, true))
                      : text.plain;
    return send_text(request, text, type, kDataCache);
}

extract::GridView whole_view(const LoadedGrid& grid) {
    const extract::Box whole{1, extract::kColumns, 1, extract::kRows};
    return grid.read(extract::kFirstYear, extract::kLastYear, whole, 1).view;
}

Response cells(const LoadedGrid& grid, const HttpRequest& request) {
    Response refusal;
    const std::string* years = only_parameter(request, "years", "years=FIRST:LAST", refusal);
    if (!years) return refusal;
    cli::YearSpan span;
    if (const std::string error = cli::parse_year_span(*years, span); !error.empty())
        return plain(400, "years: " + error);
    // The script that reads this format comes with it.
    const std::string what = "cells|" + std::to_string(span.first) + ":" + std::to_string(span.last) + "|" +
                             hex16(fnv1a(page_assets::kHomeJs));
    return data_answer(grid, request, what, "application/json", [&] { return cells_json(grid, span); });
}

// "YYYY-MM" within the grid's span, as month m from 1 (January 1850).
std::string parse_month(const std::string& text, int32_t& m) {
    int32_t year = 0;
    if (text.size() != 7 || text[4] != '-' || text[5] < '0' || text[5] > '9' || text[6] < '0' || text[6] > '9')
        return "\"" + text.substr(0, 40) + "\" is not a month (YYYY-MM)";
    if (std::string error = cli::parse_year(std::string_view(text).substr(0, 4), year); !error.empty()) return error;
    const int32_t month = (text[5] - '0') * 10 + (text[6] - '0');
    if (month < 1 || month > 12) return "month " + text.substr(5) + " is not 01 to 12";
    m = 12 * (year - extract::kFirstYear) + month;
    return "";
}

Response month(const LoadedGrid& grid, const HttpRequest& request) {
    Response refusal;
    const std::string* text = only_parameter(request, "month", "month=YYYY-MM", refusal);
    if (!text) return refusal;
    int32_t m = 0;
    if (const std::string error = parse_month(*text, m); !error.empty()) return plain(400, "month: " + error);
    return data_answer(grid, request, "month|" + std::to_string(m), "application/octet-stream",
                       [&] { return maps::month_bytes(whole_view(grid), m); });
}

// "LON,LAT", any point of a grid cell; its number in the grid's order.
std::string parse_cell(const std::string& text, int32_t& n) {
    const size_t comma = text.find(',');
    float lon = 0.0f, lat = 0.0f;
    if (comma == std::string::npos) return "\"" + text.substr(0, 40) + "\" is not LON,LAT";
    if (std::string error = cli::parse_real(std::string_view(text).substr(0, comma), lon); !error.empty())
        return error;
    if (std::string error = cli::parse_real(std::string_view(text).substr(comma + 1), lat); !error.empty())
        return error;
    // The cells' edges: 180W to 180E, 60S to 77.5N.
    const double i = std::floor((static_cast<double>(lon) + 180.0) / 2.5);
    const double j = std::floor((static_cast<double>(lat) + 60.0) / 2.5);
    if (!(i >= 0 && i < extract::kColumns && j >= 0 && j < extract::kRows))
        return "\"" + text.substr(0, 40) + "\" is outside the grid's cells";
    n = static_cast<int32_t>(i) * extract::kRows + static_cast<int32_t>(j) + 1;
    return "";
}

Response series(const LoadedGrid& grid, const HttpRequest& request) {
    Response refusal;
    const std::string* text = only_parameter(request, "cell", "cell=LON,LAT", refusal);
    if (!text) return refusal;
    int32_t n = 0;
    if (const std::string error = parse_cell(*text, n); !error.empty()) return plain(400, "cell: " + error);
    return data_answer(grid, request, "series|" + std::to_string(n), "application/json",
                       [&] { return maps::series_json(whole_view(grid), n, extract::kFirstYear); });
}

Response asset(const Asset& a, const HttpRequest& request) {
    const char* cache = "no-cache";
    for (const auto& [key, value] : request.args)
        if (key == "v" && value == a.text.tag) cache = kPinnedCache;
    return send_text(request, a.text, a.type, cache);
}

}  // namespace

std::optional<Routed> page_route(const LoadedGrid& grid, const HttpRequest& request) {
    const std::string& path = request.path;
    const bool home_page = path == "/";
    if (!home_page && !path.starts_with(kPagePrefix)) return std::nullopt;
    Routed routed;
    routed.route = home_page ? "/" : "/page";
    if (request.method != "GET" && request.method != "HEAD") return routed;  // App answers 405
    if (home_page) {
        routed.response = home(grid, request);
    } else if (path == "/page/cells") {
        routed.response = cells(grid, request);
    } else if (path == "/page/month") {
        routed.response = month(grid, request);
    } else if (path == "/page/series") {
        routed.response = series(grid, request);
    } else {
        routed.response = plain(404, "not found");
        for (const Asset& a : assets())
            if (path == a.path) routed.response = asset(a, request);
    }
    return routed;
}

}  // namespace serve
