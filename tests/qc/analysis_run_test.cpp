// The whole per-cell analysis on small neighbourhoods: the report's records,
// the estimate against a double-precision recomputation, the decided rules
// for cells that cannot be calibrated and for a failing eigen-solver.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis_reference.h"
#include "analysis_support.h"

namespace {

using namespace analysis_test;

// A neighbourhood whose cells share up to three regional signals, with
// noise, so that the leading EOFs are well separated.
struct Recipe {
    const char* name;
    int32_t nfound;
    int32_t centre;
    int32_t nmon;
    int32_t ncal;
    uint32_t seed;
    std::vector<std::vector<float>> loadings;  // per cell, on the signals
    float noise;
};

struct Lcg {
    uint32_t s;
    float next() {  // uniform in [-1, 1)
        s = s * 1664525u + 1013904223u;
        return static_cast<float>(s >> 8) / 8388608.0f - 1.0f;
    }
};

Neighbourhood build(const Recipe& r) {
    Lcg rng{r.seed};
    std::vector<std::vector<float>> signal(3, std::vector<float>(r.nmon));
    for (auto& s : signal)
        for (float& v : s) v = 2.0f * rng.next() + 1.2f * rng.next();
    Neighbourhood n;
    n.nmon = r.nmon;
    n.ncal = r.ncal;
    n.centre = r.centre;
    for (int32_t j = 0; j < r.nfound; ++j) {
        std::vector<float> col(r.nmon);
        const std::vector<float>& l = r.loadings[j % r.loadings.size()];
        for (int32_t k = 0; k < r.nmon; ++k) {
            float v = r.noise * rng.next();
            for (size_t p = 0; p < l.size(); ++p) v += l[p] * signal[p][k];
            col[k] = std::round(v * 100.0f) / 100.0f;
        }
        n.columns.push_back(col);
    }
    return n;
}

// The data-set's own blemishes, placed by hand: gaps, gross outliers and a
// shifted level in the older months.
void blemish(Neighbourhood& n) {
    const int32_t npre = n.nmon - n.ncal;
    for (size_t j = 0; j < n.columns.size(); ++j) {
        std::vector<float>& c = n.columns[j];
        for (int32_t k = static_cast<int32_t>(j) % 7; k < n.nmon; k += 11) c[k] = M;
    }
    n.columns[0][n.nmon - 3] = 14.5f;
    if (npre > 4) {
        n.columns.back()[1] = -12.25f;
        for (int32_t k = 0; k < npre; ++k)
            if (n.columns[1][k] != M) n.columns[1][k] += 3.0f;
    }
    // A month with every cell missing, inside the pre-calibration period.
    if (npre > 6)
        for (auto& c : n.columns) c[5] = M;
}

TEST(CellAnalysis, EstimateAgreesWithDoublePrecision) {
    const std::vector<std::vector<float>> three = {
        {1.0f, 0.3f, 0.0f}, {0.9f, -0.5f, 0.2f}, {0.8f, 0.1f, 0.9f},
        {0.7f, 0.8f, -0.4f}, {1.0f, -0.2f, -0.6f}};
    const std::vector<Recipe> recipes = {
        {"nine cells, centre in the middle", 9, 5, 120, 60, 11u, three, 0.8f},
        {"four cells, centre first", 4, 1, 96, 48, 5u, three, 1.0f},
        {"two cells", 2, 2, 72, 36, 3u, {{1.0f, 0.2f}, {0.8f, -0.4f}}, 0.6f},
        {"npre 0", 6, 3, 48, 48, 7u, three, 0.7f},
        {"calibration of one year", 5, 4, 60, 12, 9u, three, 0.5f},
    };
    for (const Recipe& recipe : recipes) {
        Neighbourhood n = build(recipe);
        blemish(n);
        const Outcome out = analyse(n);
        const bool use2 = component_used(out.report, " PC2:");
        const bool use3 = component_used(out.report, " PC3:");
        const Reference ref = reference(n.columns, n.centre - 1, n.nmon, n.ncal, use2, use3);
        SCOPED_TRACE(recipe.name);
        EXPECT_EQ(out.console, "");

        const std::vector<float> evl = row_after(out.report, "Eigenvalues", " evl");
        ASSERT_EQ(evl.size(), ref.evl.size());
        for (size_t p = 0; p < evl.size(); ++p) EXPECT_NEAR(evl[p], ref.evl[p], 6e-4) << p;
        const std::vector<float> sig = row_after(out.report, "means", " sig");
        ASSERT_EQ(sig.size(), ref.sig.size());
        for (size_t j = 0; j < sig.size(); ++j) EXPECT_NEAR(sig[j], ref.sig[j], 6e-4) << j;
        // The second and third components are reported just when their
        // eigenvalue exceeds 1.
        EXPECT_EQ(has_line(out.report, " PC2:"), ref.evl.size() > 1 && ref.evl[1] > 1.0);
        EXPECT_EQ(has_line(out.report, " PC3:"), ref.evl.size() > 2 && ref.evl[2] > 1.0);
        const std::vector<float> pc1 = row_after(out.report, "EV>1.0", " PC1:");
        ASSERT_EQ(pc1.size(), 3u);
        EXPECT_NEAR(std::fabs(pc1[0]), ref.r1, 6e-4);

        for (int32_t k = 0; k < n.nmon; ++k) {
            ASSERT_NEAR(out.est[k], ref.est[k], 2e-3 * (1.0 + std::fabs(ref.est[k]))) << "month " << k + 1;
        }
    }
}

TEST(CellAnalysis, TwoCellsNeverConsiderASecondComponent) {
    const Neighbourhood n = build({"", 2, 1, 48, 24, 21u, {{1.0f}, {-0.3f, 1.0f}}, 0.2f});
    const Outcome out = analyse(n);
    EXPECT_TRUE(has_line(out.report, " PC1:"));
    EXPECT_FALSE(has_line(out.report, " PC2:"));
    EXPECT_FALSE(has_line(out.report, " PC3:"));
    const std::vector<float> evl = row_after(out.report, "Eigenvalues", " evl");
    ASSERT_EQ(evl.size(), 2u);
    EXPECT_NEAR(evl[0] + evl[1], 2.0f, 1e-3f);
}

TEST(CellAnalysis, ReportRecordsInOrder) {
    Neighbourhood n = build({"", 3, 2, 48, 24, 4u, {{1.0f, 0.1f}, {0.8f, 0.6f}, {0.5f, -0.9f}}, 0.5f});
    n.columns[0][30] = 10.0f;   // calibration outliers in two columns
    n.columns[2][40] = -11.0f;
    n.columns[2][41] = 9.99f;   // not an outlier
    n.columns[1][3] = 10.75f;   // pre-calibration outlier of the centre column
    const Outcome out = analyse(n);
    const std::vector<std::string> lines = lines_of(out.report);
    const std::vector<std::string> expected_starts = {
        "",
        " " + std::string(71, '='),
        "",
        " EOF calibration period outliers found: |PDSI|>10 set to missing",
        " gpt    2   10.00",
        " gpt    8  -11.00",
        "",
        " Pre-calibration period outliers found: |PDSI|>10 set to missing",
        " gpt    5   10.75",
        "",
        " Calibration period means and standard deviations:",
        " gpt      2       5       8",
        " xmn",
        " sig",
        "",
        " Calibration period correlation matrix for EOF analysis:",
        " gpt      2       5       8",
        "   2   1.000",
        "   5",
        "   8",
        "",
        " Eigenvalues and percent variance accounted for:",
        " gpt      2       5       8",
        " evl",
        " pct",
        "",
        " EOF loadings:",
        " gpt      2       5       8",
        "   2",
        "   5",
        "   8",
        "",
        " Correlations, slopes, and intercepts for PCs with EV>1.0:",
        " PC1:",
    };
    ASSERT_GE(lines.size(), expected_starts.size() + 3);
    for (size_t i = 0; i < expected_starts.size(); ++i) {
        EXPECT_EQ(lines[i].substr(0, expected_starts[i].size()), expected_starts[i]) << "line " << i;
    }
    EXPECT_EQ(lines[33].substr(29), "   PC used in PDSI estimates");
    EXPECT_EQ(lines[lines.size() - 3], "");
    EXPECT_EQ(lines[lines.size() - 2],
              " Correlations, slopes, and intercepts for cumulative variance account for:");
    EXPECT_EQ(lines.back().substr(0, 5), " Sum:");
    EXPECT_EQ(lines.back().substr(29), "   All PCs used in PDSI estimates");
    // Correlation rows: the diagonal is 1, the matrix symmetric as printed.
    EXPECT_EQ(lines[18].substr(12, 8), "   1.000");
    EXPECT_EQ(lines[17].substr(12, 8), lines[18].substr(4, 8));
    // pct is the eigenvalue's share of nfound.
    const std::vector<float> evl = row_after(out.report, "Eigenvalues", " evl");
    const std::vector<float> pct = row_after(out.report, "Eigenvalues", " pct");
    ASSERT_EQ(pct.size(), 3u);
    for (size_t p = 0; p < 3; ++p) EXPECT_NEAR(pct[p], evl[p] / 3.0f, 6e-4f);
}

// Sylvester's Hadamard patterns of length 16: 15 orthogonal columns of +1
// and -1 with mean 0.
float hadamard(int32_t i, int32_t t) { return __builtin_popcount(i & t) % 2 ? -1.0f : 1.0f; }

TEST(CellAnalysis, NineCellsWithFirstEigenvalueOfFourAndAHalf) {
    // Nine cells sharing one signal with correlation 7/16 between any two:
    // evl(1) = 1 + 8 * 7/16 = 4.5, a share of 0.500.
    Neighbourhood n;
    n.nmon = n.ncal = 16;
    n.centre = 5;
    const float s = std::sqrt(9.0f / 7.0f);
    for (int32_t j = 0; j < 9; ++j) {
        std::vector<float> col(16);
        for (int32_t t = 0; t < 16; ++t) col[t] = hadamard(1, t) + s * hadamard(j + 2, t);
        n.columns.push_back(col);
    }
    const Outcome out = analyse(n);
    EXPECT_TRUE(has_line(out.report, " evl   4.500 "));
    EXPECT_TRUE(has_line(out.report, " pct   0.500 "));
    EXPECT_FALSE(has_line(out.report, " PC2:"));
    EXPECT_EQ(out.report.find("Pre-calibration"), std::string::npos);
}

// Three pairs of cells on orthogonal patterns, correlated 0.9, 0.6 and 0.3
// within each pair and not at all across: eigenvalues 1.9, 1.6, 1.3, 0.7,
// 0.4, 0.1, EOF p being pair p. The centre is the first cell of the third
// pair, so only the third component carries it. `flip` negates the second
// cell of that pair, which turns the solver's sign of EOF 3 against it.
// The centre's fit on PC3: r = sqrt((1 + 0.3) / 2) = 0.806, slope r times
// sd(centre) / sd(score) = 0.806 * sqrt(2 / 1.3) / sqrt(1.3) = 0.877.
Neighbourhood three_pairs(bool flip, float centre_level) {
    const float eps[3] = {std::sqrt(0.1f / 1.9f), 0.5f, std::sqrt(0.7f / 1.3f)};
    Neighbourhood n;
    n.nmon = 32;
    n.ncal = 16;
    n.centre = 5;
    for (int32_t p = 0; p < 3; ++p) {
        for (int32_t second = 0; second < 2; ++second) {
            const float sign = second && p == 2 && flip ? -1.0f : 1.0f;
            std::vector<float> c(32);
            for (int32_t t = 0; t < 32; ++t) {
                c[t] = sign * (hadamard(2 * p + 1, t % 16) +
                               (second ? -eps[p] : eps[p]) * hadamard(2 * p + 2, t % 16));
            }
            n.columns.push_back(c);
        }
    }
    for (float& v : n.columns[4]) v += centre_level;
    for (auto& c : n.columns) c[3] = M;  // a month without any value
    return n;
}

TEST(CellAnalysis, ChoiceOfComponents) {
    Neighbourhood orthogonal;
    orthogonal.nmon = orthogonal.ncal = 16;
    for (int32_t j = 1; j <= 3; ++j) {
        std::vector<float> c(16);
        for (int32_t t = 0; t < 16; ++t) c[t] = hadamard(j, t);
        orthogonal.columns.push_back(c);
    }
    struct Row {
        const char* name;
        Neighbourhood n;
        std::string pc2, pc3;  // the records, or empty when absent
        int32_t used;          // components in the estimate
    };
    // With three equal eigenvalues, EOF 1 is the last of them, cell 3, which
    // is uncorrelated with the centre: the estimate is the centre's mean, 0.
    const std::vector<Row> rows = {
        {"evl(2) = 1.0 exactly does not qualify", orthogonal, "", "", 1},
        {"PC3 used without PC2", three_pairs(false, 1.5f),
         " PC2:   0.000   0.000   1.500   PC NOT used in PDSI estimates",
         " PC3:   0.806   0.877   1.500   PC used in PDSI estimates", 2},
        {"negative r is not used", three_pairs(true, 1.5f),
         " PC2:   0.000   0.000   1.500   PC NOT used in PDSI estimates",
         " PC3:  -0.806  -0.877   1.500   PC NOT used in PDSI estimates", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = analyse(row.n);
        const std::vector<std::string> lines = lines_of(out.report);
        auto record = [&](const std::string& label) {
            for (const std::string& l : lines)
                if (l.rfind(label, 0) == 0) return l;
            return std::string();
        };
        EXPECT_EQ(record(" PC2:"), row.pc2);
        EXPECT_EQ(record(" PC3:"), row.pc3);
        const Reference ref = reference(row.n.columns, row.n.centre - 1, row.n.nmon, row.n.ncal,
                                        component_used(out.report, " PC2:"),
                                        component_used(out.report, " PC3:"));
        const bool tied = row.n.nmon == row.n.ncal;
        for (int32_t k = 0; k < row.n.nmon; ++k) {
            EXPECT_NEAR(out.est[k], tied ? 0.0 : ref.est[k], 1e-3) << k;
        }
        if (row.n.nmon > row.n.ncal) {
            // With no cell to score, each component used adds its intercept,
            // about the centre's calibration mean.
            EXPECT_NEAR(out.est[3], 1.5f * row.used, 1e-4f);
        }
    }
}

TEST(CellAnalysis, CalibrationIsTheLastNcalMonths) {
    // Changing the older months (gently, no outliers, no level change) must
    // leave every calibration statistic as it was.
    const Neighbourhood base = build({"", 5, 3, 120, 36, 17u, {{1.0f, 0.4f}, {0.6f, -0.7f}}, 0.6f});
    Neighbourhood older = base;
    for (auto& c : older.columns)
        for (int32_t k = 1; k < 84; k += 2) c[k] = -c[k];
    Neighbourhood newer = base;
    newer.columns[0][84] += 0.5f;
    auto statistics = [](const std::string& report) {
        const size_t from = report.find(" Calibration period means");
        return report.substr(from, report.find(" Correlations, slopes") - from);
    };
    const std::string expected = statistics(analyse(base).report);
    EXPECT_EQ(statistics(analyse(older).report), expected);
    EXPECT_NE(statistics(analyse(newer).report), expected);
}

TEST(CellAnalysis, CentreWithoutCalibrationValuesIsWrittenAsRead) {
    struct Row {
        const char* name;
        std::vector<float> centre_calibration;  // the 4 calibration months
        std::string listing;                    // records after the separator
    };
    const std::vector<Row> rows = {
        {"all missing", {M, M, M, M}, ""},
        {"only outliers",
         {12.0f, M, -10.0f, M},
         "\n EOF calibration period outliers found: |PDSI|>10 set to missing\n"
         " gpt    5   12.00 -10.00\n"},
    };
    for (const Row& row : rows) {
        Neighbourhood n;
        n.nmon = 8;
        n.ncal = 4;
        n.centre = 2;
        n.columns = {{1, 2, 3, 4, 1, -2, 3, 0.5f}, {2, M, 1, 11, 0, 0, 0, 0}, {0, 1, 0, 1, 2, 1, 3, 1}};
        std::copy(row.centre_calibration.begin(), row.centre_calibration.end(), n.columns[1].begin() + 4);
        const Outcome out = analyse(n);
        EXPECT_EQ(out.report, "\n " + std::string(71, '=') + "\n" + row.listing +
                                  " No valid calibration values: series written as read\n")
            << row.name;
        EXPECT_EQ(out.est, n.columns[1]) << row.name;
        EXPECT_EQ(out.console, "") << row.name;
    }
}

TEST(CellAnalysis, SolverFailureWritesTheSeriesAsRead) {
    Neighbourhood n = build({"", 3, 3, 48, 24, 8u, {{1.0f, 0.2f}, {0.7f, 0.7f}, {0.3f, -1.0f}}, 0.4f});
    n.columns[2][2] = M;
    n.maxiter = 0;
    const Outcome out = analyse(n);
    EXPECT_EQ(out.console.rfind("0>>SBR HTDQL: EIGENVECTOR COMPUTATION TERMINATED AFTER ", 0), 0u);
    EXPECT_NE(out.report.find(" Calibration period correlation matrix"), std::string::npos);
    EXPECT_EQ(out.report.find("Eigenvalues"), std::string::npos);
    const std::string tail = "\n Eigen-solver failed: series written as read\n";
    ASSERT_GE(out.report.size(), tail.size());
    EXPECT_EQ(out.report.substr(out.report.size() - tail.size()), tail);
    EXPECT_EQ(out.est, n.columns[2]);
}

TEST(CellAnalysis, DegenerateColumnsGiveNoNaN) {
    struct Row {
        const char* name;
        int32_t column;                // 0-based, not the centre
        std::vector<float> values;     // its whole series
    };
    const std::vector<Row> rows = {
        {"no calibration value", 0, {1.5f, 2.0f, -1.0f, 0.5f, M, M, M, M, M, M}},
        {"one calibration value", 2, {1.5f, M, -1.0f, 0.5f, M, M, 0.7f, M, M, M}},
        {"constant calibration values", 0, {1.5f, 2.0f, -1.0f, 0.5f, 2, 2, 2, 2, 2, 2}},
    };
    for (const Row& row : rows) {
        Neighbourhood n;
        n.nmon = 10;
        n.ncal = 6;
        n.centre = 2;
        n.columns = {{0, 1, 2, 1, 0, -1, 3, 2, 1, 0},
                     {1, 2, 3, 1, -1, 2, 4, 3, 0, 1},
                     {2, 1, 0, 0, 1, 2, 1, 0, -2, 1}};
        n.columns[row.column] = row.values;
        const Outcome out = analyse(n);
        EXPECT_EQ(out.report.find("NaN"), std::string::npos) << row.name;
        EXPECT_EQ(out.report.find("INF"), std::string::npos) << row.name;
        for (float e : out.est) EXPECT_TRUE(std::isfinite(e)) << row.name;
        // The constant column is uncorrelated with the rest.
        EXPECT_NE(out.report.find(" sig"), std::string::npos);
        const std::vector<float> sig = row_after(out.report, "means", " sig");
        ASSERT_EQ(sig.size(), 3u) << row.name;
        EXPECT_EQ(sig[row.column], 0.0f) << row.name;
    }

    // A centre constant over its calibration months: every fit is flat and
    // the estimate is its calibration mean.
    Neighbourhood flat;
    flat.nmon = 8;
    flat.ncal = 4;
    flat.centre = 1;
    flat.columns = {{1, 2, 3, 4, M, 2.5f, M, M}, {0, 1, 0, 1, 2, 1, 3, 1}, {2, 1, 0, 0, 1, 2, 1, 0}};
    const Outcome out = analyse(flat);
    for (float e : out.est) EXPECT_FLOAT_EQ(e, 2.5f);
    EXPECT_TRUE(has_line(out.report, " Sum:   0.000   0.000   2.500"));
}

}  // namespace
