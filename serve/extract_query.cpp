#include "serve/extract_query.h"

#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "cli/extract_checks.h"

namespace serve {

namespace {

constexpr const char* kText = "text/plain; charset=us-ascii";
constexpr const char* kCsv = "text/csv; charset=us-ascii";
constexpr const char* kNetcdf = "application/x-netcdf";

std::string years_text(const cli::YearSpan& span) {
    return std::to_string(span.first) + ":" + std::to_string(span.last);
}

std::string reals_text(const cli::RealSpan& span) { return decimal(span.low) + ":" + decimal(span.high); }

const char* const kNames[] = {"years", "lat", "lon", "max_missing", "fill"};

}  // namespace

std::string decimal(float value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
    return std::string(text, end);
}

const std::vector<FileInfo>& output_files() {
    static const std::vector<FileInfo> files = {
        {FileKind::tsf, "MonthlyPDSI.tsf", kText, false, true, false},
        {FileKind::xy, "MonthlyPDSI.xy", kText, false, true, false},
        {FileKind::col, "MonthlyPDSI_col.tsf", kText, true, true, false},
        {FileKind::qc, "MonthlyPDSI_QC.tsf", kText, true, true, false},
        {FileKind::qc_col, "MonthlyPDSI_QC_col.tsf", kText, true, true, false},
        {FileKind::qc_out, "MonthlyPDSI_QC.out", kText, true, true, false},
        {FileKind::csv, "MonthlyPDSI.csv", kCsv, false, true, false, true},
        {FileKind::netcdf, "MonthlyPDSI.nc", kNetcdf, false, false, true, true},
        {FileKind::geotiff, "MonthlyPDSI.tif", "image/tiff; application=geotiff; profile=cloud-optimized", false, false,
         false, true},
        {FileKind::report, "MonthlyPDSI_report.html", "text/html; charset=utf-8", false, true, false, true},
        {FileKind::area_csv, "MonthlyPDSI_area.csv", kCsv, false, true, false, true},
        {FileKind::area_nc, "MonthlyPDSI_area.nc", kNetcdf, false, false, true, true},
    };
    return files;
}

const FileInfo* find_file(std::string_view name) {
    for (const FileInfo& file : output_files())
        if (name == file.name) return &file;
    return nullptr;
}

extract::Request ExtractQuery::request() const {
    extract::Request r;
    r.iyr1 = years.first;
    r.iyr2 = years.last;
    r.latmin = lat ? lat->low : extract::kSouthMost;
    r.latmax = lat ? lat->high : extract::kNorthMost;
    r.lonmin = lon ? lon->low : extract::kWestMost;
    r.lonmax = lon ? lon->high : extract::kEastMost;
    r.pctmiss = max_missing;
    return r;
}

std::string ExtractQuery::normalised() const {
    // The bounds after the clamps decide the box; the defaults are the
    // outermost mid-points, so a missing bound and its clamp are one key.
    const extract::Request r = request();
    char text[160];
    std::snprintf(text, sizeof text, "years=%d:%d&lat=%08x:%08x&lon=%08x:%08x&max_missing=%08x", r.iyr1, r.iyr2,
                  std::bit_cast<uint32_t>(r.latmin), std::bit_cast<uint32_t>(r.latmax),
                  std::bit_cast<uint32_t>(r.lonmin), std::bit_cast<uint32_t>(r.lonmax),
                  std::bit_cast<uint32_t>(r.pctmiss));
    std::string key = text;
    if (fill) key += "&fill=" + years_text(*fill);
    return key;
}

std::string ExtractQuery::query_string() const {
    std::string query = "years=" + years_text(years);
    if (lat) query += "&lat=" + reals_text(*lat);
    if (lon) query += "&lon=" + reals_text(*lon);
    query += "&max_missing=" + decimal(max_missing);
    if (fill) query += "&fill=" + years_text(*fill);
    return query;
}

ExtractQuery parse_extract_query(const Fields& args) {
    const std::string* given[std::size(kNames)] = {};
    for (const auto& [key, value] : args) {
        size_t k = 0;
        while (k < std::size(kNames) && key != kNames[k]) ++k;
        if (k == std::size(kNames)) {
            std::string shown;
            for (unsigned char c : key.substr(0, 40)) shown += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
            throw HttpError{400, "unknown parameter \"" + shown + "\": years, lat, lon, max_missing or fill"};
        }
        if (given[k]) throw HttpError{400, std::string(kNames[k]) + ": given more than once"};
        if (value.empty()) throw HttpError{400, std::string(kNames[k]) + ": empty"};
        given[k] = &value;
    }
    auto check = [](const char* name, const std::string& error) {
        if (!error.empty()) throw HttpError{400, std::string(name) + ": " + error};
    };
    ExtractQuery q;
    if (!given[0]) throw HttpError{400, "years: required (years=FIRST:LAST)"};
    if (!given[3]) throw HttpError{400, "max_missing: required (max_missing=F)"};
    check("years", cli::parse_year_span(*given[0], q.years));
    if (given[1]) check("lat", cli::parse_lat_span(*given[1], q.lat.emplace()));
    if (given[2]) check("lon", cli::parse_lon_span(*given[2], q.lon.emplace()));
    check("max_missing", cli::parse_fraction(*given[3], q.max_missing));
    if (given[4]) {
        check("fill", cli::parse_year_span(*given[4], q.fill.emplace()));
        check("fill", cli::check_fill_within(*q.fill, q.years));
    }
    return q;
}

}  // namespace serve
