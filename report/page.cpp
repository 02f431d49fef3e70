#include "report/page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "report/escape.h"
#include "report/map_geometry.h"
#include "report/page_assets.h"

namespace report {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kAlphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
constexpr int32_t kOffset = 131072;

std::string format(const char* pattern, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

std::string place(float lat, float lon) {
    return format("%.2f\u00B0%s %.2f\u00B0%s", std::fabs(lat), lat < 0 ? "S" : "N", std::fabs(lon), lon < 0 ? "W" : "E");
}

float missing_fraction(const float* v, int32_t nmon) {
    int32_t n = 0;
    for (int32_t k = 0; k < nmon; ++k) n += v[k] == runfiles::kMissing;
    return nmon ? static_cast<float>(n) / static_cast<float>(nmon) : 1.0f;
}

int32_t gross_outliers(const float* v, int32_t nmon) {
    int32_t n = 0;
    for (int32_t k = 0; k < nmon; ++k) n += v[k] != runfiles::kMissing && std::fabs(v[k]) >= 10.0f;
    return n;
}

bool has_value(const float* v, int32_t nmon) {
    return std::any_of(v, v + nmon, [](float x) { return x != runfiles::kMissing; });
}

struct CellView {
    float miss;
    int32_t outliers;
    std::optional<float> r;
    const CellFit* fit;
};

CellView view(const ReportData& data, int32_t c) {
    const runfiles::RunData& run = data.run;
    const CellFit* fit = c < static_cast<int32_t>(data.fits.size()) ? &data.fits[c] : nullptr;
    CellView v{missing_fraction(run.series(c), run.nmon()),
               fit ? fit->outliers : gross_outliers(run.series(c), run.nmon()), std::nullopt, fit};
    if (fit && fit->r && !std::isnan(*fit->r)) v.r = fit->r;
    return v;
}

std::string legend_label(std::span<const float> breaks, int32_t k, bool percent) {
    auto shown = [&](float x) { return percent ? format("%.0f %%", 100.0f * x) : format("%.2f", x); };
    if (k == 0) return "below " + shown(breaks[0]);
    if (k == static_cast<int32_t>(breaks.size())) return percent ? "all missing" : shown(breaks[k - 1]) + " and above";
    return shown(breaks[k - 1]) + " to " + shown(breaks[k]);
}

std::string render_header(const ReportData& data, const std::string& program) {
    const runfiles::RunData& run = data.run;
    std::string h = "<h1>PDSI run report</h1>\n";
    if (data.stopped_early) {
        const int32_t stop = static_cast<int32_t>(data.fits.size());
        const runfiles::Cell& cell = run.cells[stop];
        h += "<p class=\"warning\" id=\"stopped\">The gap filling stopped at cell " + std::to_string(stop + 1) + " (" +
             html_escape(place(cell.lat, cell.lon)) + "): it has no neighbour within 5.0 degrees. Estimates and fit figures are shown for cells 1 to " +
             std::to_string(stop) + " only.</p>\n";
    }
    float south = 90, north = -90, west = 180, east = -180, worst = 0;
    int32_t filled = 0;
    for (int32_t c = 0; c < run.ncells(); ++c) {
        south = std::min(south, run.cells[c].lat), north = std::max(north, run.cells[c].lat);
        west = std::min(west, run.cells[c].lon), east = std::max(east, run.cells[c].lon);
        const CellView v = view(data, c);
        worst = std::max(worst, v.miss);
        filled += v.r.has_value();
    }
    auto row = [&](const char* name, const std::string& html) {
        h += std::string("<tr><td>") + name + "</td><td>" + html + "</td></tr>\n";
    };
    h += "<table id=\"run\">\n";
    row("Span", run.ncells() ? format("%d to %d (%d months)", run.iyr1, run.iyr2, run.nmon()) : "none: no cell kept");
    if (run.ncells())
        row("Box", html_escape(format("cell mid-points %.2f to %.2f latitude, %.2f to %.2f longitude", south, north,
                                      west, east)));
    row("Fraction of missing months",
        run.ncells() ? format("not recorded in the files; the cells kept miss up to %.1f %% of their months", 100.0f * worst)
                     : std::string("not recorded in the files"));
    if (run.filled())
        row("Calibration period", data.calibration ? format("%d to %d (found from the calibration means of the report)",
                                                            data.calibration->first, data.calibration->second)
                                                   : std::string("not known: the report's figures do not tell it"));
    else
        row("Calibration period", "none: the gaps were not filled");
    row("Cells", format("%d in the files", run.ncells()) + (run.filled() ? format(", %d filled", filled) : ""));
    row("Program", html_escape(program));
    std::string files;
    for (const std::string& f : data.files) files += (files.empty() ? "" : ", ") + html_escape(f);
    row("Made from", files);
    std::string cite;
    for (const std::string& line : run.citation) cite += html_escape(line) + "<br>";
    if (!cite.empty()) row("Data set", cite);
    return h + "</table>";
}

std::string render_map(const ReportData& data, std::span<const float> breaks) {
    const runfiles::RunData& run = data.run;
    int32_t x0 = 144, y0 = 72, x1 = 0, y1 = 0;
    std::string cells;
    for (int32_t c = 0; c < run.ncells(); ++c) {
        const runfiles::Cell& cell = run.cells[c];
        const CellRect r = cell_rect(cell.lat, cell.lon);
        x0 = std::min(x0, r.x), y0 = std::min(y0, r.y), x1 = std::max(x1, r.x + 1), y1 = std::max(y1, r.y + 1);
        const CellView v = view(data, c);
        const int32_t k = colour_class(run.filled() ? v.r : std::optional<float>(v.miss), breaks);
        const bool none = !run.filled() && v.miss >= 1.0f;
        std::string title = format("Cell %d: ", c + 1) + place(cell.lat, cell.lon) +
                            format("; missing %.1f %%; outliers %d", 100.0f * v.miss, v.outliers);
        if (run.filled()) title += v.r ? format("; r %.3f", *v.r) : std::string("; no fit");
        cells += format("<rect class=\"cell c%s\" id=\"cell-%d\" data-n=\"%d\" x=\"%d\" y=\"%d\" width=\"1\" height=\"1\">",
                        k < 0 || none ? "m" : std::to_string(k).c_str(), c + 1, c + 1, r.x, r.y) +
                 "<title>" + html_escape(title) + "</title></rect>\n";
    }
    if (run.ncells() == 0) x0 = 0, y0 = 0, x1 = 144, y1 = 72;
    // Zoom to the cells with a margin; the labels sit in it.
    const int32_t span = std::max({x1 - x0, y1 - y0, 8});
    const int32_t step = span <= 24 ? 4 : 12;  // 10 or 30 degrees
    const int32_t pad = std::max(2, span / 10);
    const int32_t vx = std::max(0, x0 - pad) - 4, vy = std::max(0, y0 - pad);
    const int32_t vw = std::min(144, x1 + pad) - std::max(0, x0 - pad) + 5, vh = std::min(72, y1 + pad) - vy + 3;
    const float font = static_cast<float>(std::max(vw, vh)) / 45.0f;
    std::string svg = format("<svg class=\"map\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"%d %d %d %d\">\n", vx, vy, vw, vh);
    svg += format("<style>svg.map text{font-size:%.2fpx}</style>\n", font);
    std::string labels;
    for (int32_t x = 0; x <= 144; x += step) {
        if (x < vx + 4 || x > vx + vw) continue;
        const int32_t lon = -180 + x * 5 / 2;
        labels += format("<text x=\"%d\" y=\"%.2f\" text-anchor=\"middle\">%d\u00B0%s</text>\n", x,
                         static_cast<float>(vy + vh) - 0.6f, std::abs(lon), lon < 0 ? "W" : lon > 0 ? "E" : "");
    }
    for (int32_t y = 0; y <= 72; y += step) {
        if (y < vy || y > vy + vh - 3) continue;
        const int32_t lat = 90 - y * 5 / 2;
        labels += format("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">%d\u00B0%s</text>\n",
                         static_cast<float>(vx + 4) - 0.4f, static_cast<float>(y) + font / 3, std::abs(lat),
                         lat < 0 ? "S" : lat > 0 ? "N" : "");
    }
    svg += "<svg x=\"0\" y=\"0\" width=\"144\" height=\"72\" viewBox=\"0 0 144 72\">\n"
           "<rect class=\"frame\" x=\"0\" y=\"0\" width=\"144\" height=\"72\"/>\n";
    for (int32_t x = 0; x <= 144; x += step) svg += format("<line class=\"grid\" x1=\"%d\" y1=\"0\" x2=\"%d\" y2=\"72\"/>", x, x);
    for (int32_t y = 0; y <= 72; y += step) svg += format("<line class=\"grid\" x1=\"0\" y1=\"%d\" x2=\"144\" y2=\"%d\"/>", y, y);
    // The labels after the map, so its frame does not cover them.
    svg += "\n" + cells + "</svg>\n" + labels + "</svg>";
    return svg;
}

std::string render_legend(bool filled, std::span<const float> breaks) {
    std::string html = "<ul class=\"legend\">";
    for (int32_t k = 0; k <= static_cast<int32_t>(breaks.size()); ++k) {
        if (!filled && k == static_cast<int32_t>(breaks.size())) break;  // "all missing" is the grey class
        html += format("<li><span class=\"c%d\"></span>", k) + html_escape(legend_label(breaks, k, !filled)) + "</li>";
    }
    html += std::string("<li><span class=\"cm\"></span>") + (filled ? "no fit" : "all missing") + "</li></ul>";
    return html;
}

std::string render_data(const ReportData& data) {
    const runfiles::RunData& run = data.run;
    std::string json = format("{\"iyr1\":%d,\"nmon\":%d,\"filled\":%s,\"cal\":", run.iyr1, run.nmon(),
                              run.filled() ? "true" : "false");
    if (data.calibration)
        json += format("[%lld,%lld]", static_cast<long long>(month_ms(data.calibration->first, 1)),
                       static_cast<long long>(month_ms(data.calibration->second + 1, 1)));
    else
        json += "null";
    json += ",\"cells\":[";
    for (int32_t c = 0; c < run.ncells(); ++c) {
        const CellView v = view(data, c);
        json += format("%s{\"n\":%d,\"lat\":%.2f,\"lon\":%.2f,\"miss\":%.4f,\"out\":%d", c ? ",\n" : "\n", c + 1,
                       run.cells[c].lat, run.cells[c].lon, v.miss, v.outliers);
        if (v.fit) {
            json += ",\"pcs\":[";
            for (size_t p = 0; p < v.fit->components.size(); ++p) json += (p ? "," : "") + std::to_string(v.fit->components[p]);
            json += "]";
            auto number = [](const std::optional<float>& x) {
                return x && !std::isnan(*x) ? format("%.3f", *x) : std::string("null");
            };
            json += ",\"r\":" + number(v.fit->r) + ",\"b\":" + number(v.fit->slope) + ",\"a\":" + number(v.fit->intercept);
            if (!v.fit->note.empty()) json += ",\"note\":" + json_string(v.fit->note);
        }
        if (has_value(run.series(c), run.nmon())) json += ",\"obs\":\"" + pack_series(run.series(c), run.nmon()) + "\"";
        if (v.fit && has_value(run.estimate(c), run.nmon()))
            json += ",\"est\":\"" + pack_series(run.estimate(c), run.nmon()) + "\"";
        json += "}";
    }
    return json + "]}";
}

// The template with each {{NAME}} replaced; the inserted text is not scanned.
std::string fill_template(std::string_view page, const std::vector<std::pair<std::string_view, std::string_view>>& slots) {
    std::string out;
    size_t at = 0;
    while (true) {
        const size_t open = page.find("{{", at);
        if (open == std::string_view::npos) break;
        const size_t close = page.find("}}", open);
        const std::string_view name = page.substr(open + 2, close - open - 2);
        out.append(page.substr(at, open - at));
        for (const auto& [slot, text] : slots)
            if (slot == name) out.append(text);
        at = close + 2;
    }
    out.append(page.substr(at));
    return out;
}

}  // namespace

std::string pack_series(const float* values, int32_t nmon) {
    std::string out(3 * static_cast<size_t>(nmon), '0');
    for (int32_t k = 0; k < nmon; ++k) {
        int32_t code = 0;
        if (values[k] != runfiles::kMissing && !std::isnan(values[k])) {
            const long hundredths = std::lround(static_cast<double>(values[k]) * 100.0);
            code = static_cast<int32_t>(std::clamp<long>(hundredths, 1 - kOffset, kOffset - 1)) + kOffset;
        }
        out[3 * k] = kAlphabet[code >> 12];
        out[3 * k + 1] = kAlphabet[(code >> 6) & 63];
        out[3 * k + 2] = kAlphabet[code & 63];
    }
    return out;
}

std::string render_page(const ReportData& data, const std::string& program) {
    const bool filled = data.run.filled();
    const std::span<const float> breaks = filled ? std::span<const float>(kFitBreaks) : std::span<const float>(kMissingBreaks);
    const std::string header = render_header(data, program), map = render_map(data, breaks),
                      legend = render_legend(filled, breaks), json = render_data(data);
    const std::string title = filled ? "Correlation of the estimate with the calibration months"
                                     : "Fraction of missing months";
    return fill_template(assets::kPageHtml, {{"DYGRAPH_CSS", assets::kDygraphCss},
                                             {"PAGE_CSS", assets::kPageCss},
                                             {"HEADER", header},
                                             {"MAP_TITLE", title},
                                             {"MAP", map},
                                             {"LEGEND", legend},
                                             {"DATA", json},
                                             {"DYGRAPH_JS", assets::kDygraphJs},
                                             {"PAGE_JS", assets::kPageJs}});
}

uintmax_t write_page(const fs::path& dir, const std::string& program) {
    const std::string page = render_page(read_report_data(dir), program);
    const fs::path target = dir / kPageName, temp = dir / (std::string(kPageName) + ".tmp");
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (!out) throw runfiles::RunFileError(temp.string() + ": cannot be created");
    const bool written = std::fwrite(page.data(), 1, page.size(), out) == page.size();
    const bool closed = std::fclose(out) == 0;
    std::error_code ec;
    if (!written || !closed) {
        fs::remove(temp, ec);
        throw runfiles::RunFileError(temp.string() + ": cannot be written (disk full?)");
    }
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        throw runfiles::RunFileError(target.string() + ": cannot be put in place: " + ec.message());
    }
    return page.size();
}

}  // namespace report
