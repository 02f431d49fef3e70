// The page's pure parts: where a cell goes on the map, its labels and
// colour class, the calibration years, the escaping of file text, the time
// axis and the packed series.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report/escape.h"
#include "report/map_geometry.h"
#include "report/page.h"

namespace {

TEST(ReportMap, CellSquareInGridUnits) {
    struct Row { const char* name; float lat, lon; int32_t x, y; };
    const Row rows[] = {
        {"west edge at -180", 31.25f, -178.75f, 0, 23},
        {"last column ends at 180", 31.25f, 178.75f, 143, 23},
        {"north-most row", 76.25f, 1.25f, 72, 5},
        {"south-most row", -58.75f, -1.25f, 71, 59},
        {"latitude 0 edge below 1.25", 1.25f, -98.75f, 32, 35},
    };
    for (const Row& r : rows) {
        const report::CellRect rect = report::cell_rect(r.lat, r.lon);
        EXPECT_EQ(rect.x, r.x) << r.name;
        EXPECT_EQ(rect.y, r.y) << r.name;
    }
}

struct Month { size_t cell, k; float value; };

// A run of one year whose cells hold 0 every month but `months`; filled,
// its estimates are its values and it was calibrated on its year.
report::ReportData run_of(const std::vector<std::pair<float, float>>& cells, const std::vector<Month>& months = {},
                          bool filled = false) {
    report::ReportData data;
    data.run.iyr1 = data.run.iyr2 = 1901;
    for (const auto& [lat, lon] : cells) data.run.cells.push_back({lat, lon, ""});
    data.run.values.assign(12 * cells.size(), 0.0f);
    for (const Month& m : months) data.run.values[12 * m.cell + m.k] = m.value;
    if (filled) data.run.estimates = data.run.values, data.calibration = std::pair{1901, 1901};
    return data;
}

TEST(ReportPage, LabelsAndFiguresAtTheirLimits) {
    const std::string lon = "text-anchor=\"middle\">", lat = "text-anchor=\"end\">", deg = "\u00B0";
    struct Row {
        const char* name;
        std::vector<std::pair<float, float>> cells;
        std::vector<std::string> shown;
        std::vector<Month> months = {};
        bool filled = false;
    };
    const Row rows[] = {
        {"meridian and equator, 10 degrees on the upper edges", {{-3.75f, 1.25f}},
         {lon + "0" + deg + "<", lat + "0" + deg + "<", lon + "10" + deg + "E<", lat + "10" + deg + "S<",
          "class=\"cell c0\" id=\"cell-1\""}},
        {"meridian and equator on the lower edges", {{-6.25f, 6.25f}}, {lon + "0" + deg + "<", lat + "0" + deg + "<"}},
        {"the grid's corners", {{-58.75f, -178.75f}, {-58.75f, 178.75f}},
         {lon + "180" + deg + "W<", lon + "180" + deg + "E<", lat + "90" + deg + "S<",
          "x1=\"144\" y1=\"0\" x2=\"144\" y2=\"72\"", "x1=\"0\" y1=\"72\" x2=\"144\" y2=\"72\""}},
        {"60 degrees wide: labels every 10", {{1.25f, -178.75f}, {1.25f, -121.25f}}, {lon + "170" + deg + "W<"}},
        {"a cell's own outliers, 10 the least, and its gaps", {{1.25f, 1.25f}, {1.25f, 3.75f}},
         {"\"n\":1,\"lat\":1.25,\"lon\":1.25,\"miss\":0.1667,\"out\":1"},
         {{0, 0, 10.0f}, {0, 1, runfiles::kMissing}, {0, 2, runfiles::kMissing}, {1, 0, 12.0f}}},
        {"a cell without a value is grey", {{1.25f, 1.25f}}, {"class=\"cell cm\" id=\"cell-1\"", "<title>Cell 1: "},
         [] {
             std::vector<Month> gaps;
             for (size_t k = 0; k < 12; ++k) gaps.push_back({0, k, runfiles::kMissing});
             return gaps;
         }()},
        {"the legend of missing months", {{1.25f, 1.25f}},
         {"c0\"></span>below 5 %<", "c1\"></span>5 % to 10 %<", "c5\"></span>75 % to 100 %<", "cm\"></span>all missing<"}},
        {"the legend of fits, the calibration band to the year's end", {{1.25f, 1.25f}},
         {"c0\"></span>below 0.50<", "c1\"></span>0.50 to 0.60<", "c6\"></span>0.95 and above<", "cm\"></span>no fit<",
          "\"cal\":[-2177452800000,-2145916800000]"},
         {}, true},
    };
    for (const Row& r : rows) {
        const std::string page = report::render_page(run_of(r.cells, r.months, r.filled), "pdsi");
        for (const std::string& text : r.shown) EXPECT_NE(page.find(text), std::string::npos) << r.name << ": " << text;
    }
}

TEST(ReportCalibration, FoundFromTheMeansOfTheReport) {
    // 1901-1903. Cell 1: 0, 0, then 2 every month of 1903. Cell 2 as cell 1
    // but January 1903 is 10, screened as an outlier, and February missing.
    // Cell 3: no value in 1903. Cell 4: 0 throughout, so no span tells.
    report::ReportData data = run_of({{1.25f, 1.25f}, {1.25f, 3.75f}, {1.25f, 6.25f}, {1.25f, 8.75f}});
    runfiles::RunData& run = data.run;
    run.iyr1 = 1901, run.iyr2 = 1903;
    run.values.assign(4 * 36, 0.0f);
    for (int32_t k = 24; k < 36; ++k) run.values[k] = run.values[36 + k] = 2.0f, run.values[72 + k] = runfiles::kMissing;
    run.values[36 + 24] = 10.0f, run.values[36 + 25] = runfiles::kMissing;
    auto fit = [](std::vector<int32_t> gpt, std::vector<float> xmn, std::vector<float> sig) {
        report::CellFit f;
        f.gpt = gpt, f.xmn = xmn, f.sig = sig, f.r = 0.9f;
        return f;
    };
    const report::CellFit last_year = fit({1, 2}, {2.0f, 2.0f}, {0.0f, 0.0f});
    using Span = std::optional<std::pair<int32_t, int32_t>>;
    struct Row { const char* name; std::vector<report::CellFit> fits; Span span; };
    const Row rows[] = {
        {"the last year, its outlier and gap left out", {last_year}, std::pair{1903, 1903}},
        {"the whole span", {fit({1}, {0.667f}, {0.943f})}, std::pair{1901, 1903}},
        {"a cell without a value in the span", {fit({1, 3}, {2.0f, -99.9f}, {0.0f, -99.9f})}, std::pair{1903, 1903}},
        {"a mean off by the tolerance", {fit({1, 4}, {2.0f, 0.0011f}, {0.0f, 0.0f})}, std::pair{1903, 1903}},
        {"a mean off by more", {fit({1, 4}, {2.0f, std::nextafter(0.0011f, 1.0f)}, {0.0f, 0.0f})}, std::nullopt},
        {"a neighbour past the run", {fit({1, 5}, {2.0f, 2.0f}, {0.0f, 0.0f})}, std::nullopt},
        {"cells that disagree", {last_year, fit({1}, {0.667f}, {0.943f})}, std::nullopt},
    };
    for (const Row& r : rows) EXPECT_EQ(report::infer_calibration(run, r.fits), r.span) << r.name;
}

TEST(ReportMap, ColourClassAtEachBreak) {
    const float breaks[] = {0.5f, 0.6f, 0.7f};
    struct Row { const char* name; std::optional<float> value; int32_t k; };
    const Row rows[] = {
        {"below the first break", 0.49f, 0},
        {"exactly on the first break goes above", 0.5f, 1},
        {"between breaks", 0.65f, 2},
        {"exactly on the last break", 0.7f, 3},
        {"negative zero is below", -0.0f, 0},
        {"no value", std::nullopt, -1},
        {"NaN fit is no value", std::nanf(""), -1},
    };
    for (const Row& r : rows) EXPECT_EQ(report::colour_class(r.value, breaks), r.k) << r.name;
}

TEST(ReportText, EscapedForHtmlAndScript) {
    struct Row { const char* name; const char* text; const char* html; const char* json; };
    const Row rows[] = {
        {"script tag", "<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;",
         "\"\\u003Cscript\\u003Ealert(1)\\u003C/script\\u003E\""},
        {"ampersand and quotes", "a & \"b\" 'c'", "a &amp; &quot;b&quot; &#39;c&#39;", "\"a \\u0026 \\\"b\\\" 'c'\""},
        {"non-ASCII passes whole", "36.25\xC2\xB0N", "36.25\xC2\xB0N", "\"36.25\xC2\xB0N\""},
        {"control characters and backslash", "a\tb\\", "a\tb\\", "\"a\\u0009b\\\\\""},
        {"the last control byte and DEL escaped, blank and tilde not", "\x1f \x7f~", "\x1f \x7f~",
         "\"\\u001F \\u007F~\""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(report::html_escape(r.text), r.html) << r.name;
        EXPECT_EQ(report::json_string(r.text), r.json) << r.name;
    }
}

TEST(ReportTime, MonthStartInUtcMilliseconds) {
    struct Row { const char* name; int32_t year, month; int64_t ms; };
    const Row rows[] = {
        {"epoch", 1970, 1, 0},
        {"January 1901, before the epoch", 1901, 1, -2177452800000},
        {"February 2000", 2000, 2, 949363200000},
        {"December to January", 2010, 12, 1291161600000},
        {"the month after December 2010", 2011, 1, 1293840000000},
        {"first month of the grid", 1850, 1, -3786825600000},
    };
    for (const Row& r : rows) EXPECT_EQ(report::month_ms(r.year, r.month), r.ms) << r.name;
}

// The page's script reads three characters a month: code = hundredths +
// 131072 in base 64, 0 for no value.
int32_t unpack(const std::string& text, size_t k) {
    const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
    int32_t code = 0;
    for (size_t i = 0; i < 3; ++i) code = code * 64 + static_cast<int32_t>(alphabet.find(text[3 * k + i]));
    return code == 0 ? INT32_MIN : code - 131072;
}

TEST(ReportData, SeriesPackedAsHundredths) {
    const float values[] = {-99.9f, 0.0f, -1.25f, 12.5f, 0.07f, -99.99f, 999.99f, NAN, 2000.0f, -2000.0f};
    const int32_t expected[] = {INT32_MIN, 0, -125, 1250, 7, -9999, 99999, INT32_MIN, 131071, -131071};
    const std::string packed = report::pack_series(values, 10);
    ASSERT_EQ(packed.size(), 30u);
    for (size_t k = 0; k < 10; ++k) EXPECT_EQ(unpack(packed, k), expected[k]) << "month " << k;
}

}  // namespace
