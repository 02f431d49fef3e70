// The area figures on cells of known values, and the same figures from the
// grid in memory as from the text files read back.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "extract/grid_store.h"
#include "indices/area.h"
#include "textio/editors.h"

namespace {

constexpr float M = runfiles::kMissing;

struct CellRow {
    CellRow(float lat, std::vector<float> values, std::vector<float> estimates = {})
        : lat(lat), values(std::move(values)), estimates(std::move(estimates)) {}
    float lat;
    std::vector<float> values;     // from January 1850; missing after them
    std::vector<float> estimates;  // empty: the run was not filled
};

runfiles::RunData run_of(const std::vector<CellRow>& cells, int32_t years = 1) {
    runfiles::RunData run;
    run.iyr1 = 1850;
    run.iyr2 = 1849 + years;
    float lon = -178.75f;
    for (const CellRow& cell : cells) {
        run.cells.push_back({cell.lat, lon += 2.5f, ""});
        for (int32_t k = 0; k < run.nmon(); ++k) {
            run.values.push_back(k < static_cast<int32_t>(cell.values.size()) ? cell.values[k] : M);
            if (!cell.estimates.empty())
                run.estimates.push_back(k < static_cast<int32_t>(cell.estimates.size()) ? cell.estimates[k] : M);
        }
    }
    return run;
}

// Row k + 1 of the file: the month k.
std::string row(const std::string& csv, size_t k) {
    size_t at = 0;
    for (size_t n = 0; n <= k; ++n) at = csv.find("\r\n", at) + 2;
    return csv.substr(at, csv.find("\r\n", at) - at);
}

TEST(AreaIndices, FiguresOfKnownCells) {
    struct Case {
        const char* name;
        std::vector<CellRow> cells;
        size_t month;
        const char* expected;
    };
    const Case cases[] = {
        {"weight of 60 degrees is half that of the equator", {{0.0f, {1.00f}}, {60.0f, {4.00f}}}, 0,
         "1850,1,2,2.000,0.00,0.00,0.00,0.00,0.00,0.00,0.00,66.67,0.00,0.00,33.33"},
        {"a missing month counts no cell and no zero", {{0.0f, {1.00f, M}}, {0.0f, {3.00f, 2.00f}}}, 1,
         "1850,2,1,2.000,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,100.00,0.00,0.00"},
        {"a month with no value has empty figures", {{0.0f, {1.00f, 1.00f, M}}, {30.0f, {M, 2.00f, M}}}, 2,
         "1850,3,0,,,,,,,,,,,,"},
        {"the raw series leaves a gap", {{0.0f, {M}, {2.50f}}}, 0, "1850,1,0,,,,,,,,,,,,"},
        {"a negative mean keeps its sign", {{0.0f, {-0.25f}}, {0.0f, {-3.50f}}}, 0,
         "1850,1,2,-1.875,0.00,50.00,0.00,0.00,0.00,50.00,0.00,0.00,0.00,0.00,0.00"},
    };
    for (const Case& c : cases) {
        runfiles::RunData run = run_of(c.cells);
        run.estimates.clear();  // the raw series; the filled one below
        EXPECT_EQ(row(indices::area_csv(indices::area_of_run(run)), c.month), c.expected) << c.name;
    }
}

TEST(AreaIndices, FilledSeriesIsObservedElseEstimate) {
    // Month 1: observed 1.00 beside an estimate; month 2: only the estimate;
    // month 3: an estimate wider than the extraction's text, as its file holds.
    const runfiles::RunData run = run_of({{0.0f, {1.00f, M, M}, {-2.00f, 2.50f, -150.25f}}});
    const indices::AreaSeries series = indices::area_of_run(run);
    const std::string csv = indices::area_csv(series);
    EXPECT_TRUE(series.filled);
    EXPECT_EQ(row(csv, 0), "1850,1,1,1.000,0.00,0.00,0.00,0.00,0.00,0.00,0.00,100.00,0.00,0.00,0.00");
    EXPECT_EQ(row(csv, 1), "1850,2,1,2.500,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,100.00,0.00,0.00");
    EXPECT_EQ(row(csv, 2), "1850,3,1,-150.250,100.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00");
}

TEST(AreaIndices, EachClassBoundFromBothSides) {
    struct Case {
        float value;
        const char* column;
    };
    const Case cases[] = {
        {-4.00f, "extreme_drought"}, {-3.99f, "severe_drought"}, {-3.00f, "severe_drought"},
        {-2.99f, "moderate_drought"}, {-1.00f, "mild_drought"}, {-0.99f, "incipient_dry"},
        {-0.50f, "incipient_dry"},   {-0.49f, "near_normal"},    {0.49f, "near_normal"},
        {0.50f, "incipient_wet"},    {0.99f, "incipient_wet"},   {1.00f, "slightly_wet"},
        {2.00f, "moderately_wet"},   {2.99f, "moderately_wet"},  {3.00f, "very_wet"},
        {3.99f, "very_wet"},         {4.00f, "extremely_wet"},   {-0.00f, "near_normal"},
    };
    std::vector<float> values;
    for (const Case& c : cases) values.push_back(c.value);
    const std::string csv = indices::area_csv(indices::area_of_run(run_of({{0.0f, values}}, 2)));
    const std::string header = csv.substr(0, csv.find("\r\n"));
    for (size_t k = 0; k < std::size(cases); ++k) {
        // The column that holds 100.00, by its place in the header.
        std::string line = row(csv, k) + ",", name;
        size_t field = 0, at = 0;
        for (size_t end; (end = line.find(',', at)) != std::string::npos; at = end + 1, ++field)
            if (line.substr(at, end - at) == "100.00") {
                size_t h = 0;
                for (size_t n = 0; n < field; ++n) h = header.find(',', h) + 1;
                name = header.substr(h, header.find(',', h) - h);
            }
        EXPECT_EQ(name, cases[k].column) << cases[k].value;
    }
}

TEST(AreaIndices, NoKeptCellGivesEveryMonthEmpty) {
    const runfiles::RunData run;  // as read back: no cell, so no span
    const auto lines = [](const std::string& csv) {
        size_t n = 0;
        for (size_t at = 0; (at = csv.find("\r\n", at)) != std::string::npos; at += 2) ++n;
        return n;
    };
    EXPECT_EQ(lines(indices::area_csv(indices::area_of_run(run))), 1u) << "the header only";
    const std::string csv = indices::area_csv(indices::area_of_run(run, std::pair{1850, 1851}));
    EXPECT_EQ(lines(csv), 25u);
    EXPECT_EQ(row(csv, 23), "1851,12,0,,,,,,,,,,,,");
}

// The grid in memory holds what its text said, which the extraction's text
// may not hold: the figures are those of the values read back.
TEST(AreaIndices, FromMemoryAsFromTheFilesReadBack) {
    struct Case {
        const char* name;
        float value;
        bool storable;
    };
    const Case cases[] = {
        {"two decimals", -3.00f, true},
        {"three decimals round up to a bound", -2.995f, true},
        {"three decimals", 1.234f, true},
        {"a tie rounds away from zero", 0.125f, true},
        {"rounds to the missing value", -99.904f, true},
        {"negative zero", -0.004f, true},
        {"widest positive", 999.99f, true},
        {"too wide", 1000.0f, false},
        {"too wide negative", -100.0f, false},
    };
    for (const Case& c : cases) {
        // Two columns by two rows, 20 years (two threads' worth); the value
        // in March of the first year of cell 3.
        const int32_t nmon = 240;
        const extract::Box box{10, 11, 20, 21};
        extract::GridStore store(box, nmon);
        for (int32_t n = 1; n <= 4; ++n)
            for (int32_t m = 1; m <= nmon; ++m)
                store.series(n)[m - 1] = static_cast<float>((n + m) % 40) / 4.0f - 5.0f;
        store.series(2)[5] = M;
        store.series(3)[2] = c.value;
        const std::vector<int32_t> keep{1, 0, 1, 1};
        if (!c.storable) {
            EXPECT_THROW(indices::area_of_view(store, keep, 1901), indices::NotStorable) << c.name;
            continue;
        }
        // The run the files would give: each value through the six columns.
        runfiles::RunData run;
        run.iyr1 = 1901;
        run.iyr2 = 1920;
        const extract::GridAxes axes;
        for (int32_t n = 1; n <= 4; ++n) {
            if (!keep[n - 1]) continue;
            run.cells.push_back({axes.ylat(box.row(n)), axes.xlon(box.column(n)), ""});
            for (int32_t m = 0; m < nmon; ++m) {
                std::string text;
                textio::edit_real(text, store.series(n)[m], 6, 2);
                float back = 0.0f;
                ASSERT_TRUE(textio::parse_real(text, 2, back)) << c.name << ": " << text;
                run.values.push_back(back);
            }
        }
        EXPECT_EQ(indices::area_csv(indices::area_of_view(store, keep, 1901, 2)),
                  indices::area_csv(indices::area_of_run(run)))
            << c.name;
    }
}

}  // namespace
