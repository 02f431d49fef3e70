#include "numeric/stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

float uniform(std::mt19937& gen) { return float(gen() >> 8) * 0x1p-24f * 2.0f - 1.0f; }

// ---- pearsn ---------------------------------------------------------------

TEST(Pearsn, FitsExactLines) {
    struct Row {
        const char* name;
        std::vector<float> x, y;
        float r, a, b;
    };
    const std::vector<Row> rows = {
        {"y = 2x + 1", {1, 2, 3, 4, 5}, {3, 5, 7, 9, 11}, 1.0f, 1.0f, 2.0f},
        {"y = -x", {-2, 0.5f, 1, 3}, {2, -0.5f, -1, -3}, -1.0f, 0.0f, -1.0f},
        {"y = 0.5x - 3, two points", {2, 6}, {-2, 0}, 1.0f, -3.0f, 0.5f},
        {"PDSI-like values", {-3.5f, -1.25f, 0.0f, 2.75f, 4.0f, 1.5f}, {-8.0f, -3.5f, -1.0f, 4.5f, 7.0f, 2.0f},
         1.0f, -1.0f, 2.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        float r = -9, a = -9, b = -9;
        numeric::pearsn(row.x.data(), row.y.data(), int32_t(row.x.size()), r, a, b);
        EXPECT_NEAR(r, row.r, 1e-6f);
        EXPECT_NEAR(a, row.a, 1e-5f);
        EXPECT_NEAR(b, row.b, 1e-5f);
    }
}

TEST(Pearsn, MatchesDoublePrecisionOnNoisyData) {
    struct Row {
        const char* name;
        int32_t n;
        uint32_t seed;
        float slope, offset;
    };
    const std::vector<Row> rows = {
        {"short, weak", 12, 1, 0.1f, 0.0f},
        {"long, strong", 600, 2, 2.5f, -1.0f},
        {"offset means", 240, 3, -0.7f, 50.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::mt19937 gen(row.seed);
        std::vector<float> x(row.n), y(row.n);
        for (int32_t i = 0; i < row.n; ++i) {
            x[i] = row.offset + 4.0f * uniform(gen);
            y[i] = row.slope * x[i] + uniform(gen);
        }
        double mx = 0, my = 0;
        for (int32_t i = 0; i < row.n; ++i) mx += x[i], my += y[i];
        mx /= row.n, my /= row.n;
        double sxx = 0, syy = 0, sxy = 0;
        for (int32_t i = 0; i < row.n; ++i)
            sxx += (x[i] - mx) * (x[i] - mx), syy += (y[i] - my) * (y[i] - my), sxy += (x[i] - mx) * (y[i] - my);
        const double rr = sxy / std::sqrt(sxx * syy), bb = sxy / sxx, aa = my - bb * mx;

        float r, a, b;
        numeric::pearsn(x.data(), y.data(), row.n, r, a, b);
        EXPECT_NEAR(r, rr, 1e-5);
        EXPECT_NEAR(b, bb, 1e-5 * std::max(1.0, std::abs(bb)));
        EXPECT_NEAR(a, aa, 1e-4 * std::max(1.0, std::abs(mx * bb)));
    }
}

TEST(Pearsn, PinsTheSequenceOfOperations) {
    // The report prints r, b and a: their last bits follow the two passes
    // and the n + (-1) divisors.
    const float x[6] = {0.1f, 1.7f, -2.3f, 4.9f, 0.6f, -1.1f};
    const float y[6] = {1.2f, 2.9f, -3.1f, 8.8f, 0.4f, -0.9f};
    float r, a, b;
    numeric::pearsn(x, y, 6, r, a, b);
    EXPECT_EQ(r, 0x1.fa461p-1f);
    EXPECT_EQ(a, 0x1.ff64c8p-2f);
    EXPECT_EQ(b, 0x1.9dc58ep+0f);
}

TEST(Pearsn, DegenerateSeriesGiveNoLine) {
    // r = 0, b = 0, a = mean of y, and nothing but finite numbers.
    struct Row {
        const char* name;
        std::vector<float> x, y;
    };
    const std::vector<Row> rows = {
        {"one pair", {2.0f}, {3.0f}},
        {"constant x", {-99.9f, -99.9f, -99.9f, -99.9f}, {1, 2, 3, 5}},
        {"constant x whose mean does not round back", std::vector<float>(12, -99.9f),
         {1, 2, 4, 0, 3, 2, 1, 5, 2, 3, 1, 0}},
        {"constant tenths", std::vector<float>(7, 0.1f), {1, 2, 4, 0, 3, 2, 1}},
        {"constant y", {1, 2, 3, 4, 5, 6, 7}, std::vector<float>(7, 0.7f)},
        {"both constant", {4, 4}, {-1, -1}},
        {"deviations underflow", {1e-25f, 2e-25f, 3e-25f}, {1e-25f, 3e-25f, 2e-25f}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int32_t n = int32_t(row.x.size());
        float sy = 0.0f;
        for (float v : row.y) sy = sy + v;
        float r = -9, a = -9, b = -9;
        numeric::pearsn(row.x.data(), row.y.data(), n, r, a, b);
        EXPECT_EQ(r, 0.0f);
        EXPECT_EQ(b, 0.0f);
        EXPECT_EQ(a, sy / float(n));
    }
}

// ---- cross ----------------------------------------------------------------

// Leading dimensions larger than the block, as the callers' stores are;
// the spare rows must come back untouched.
constexpr int32_t kLdx = 400;
constexpr int32_t kLdc = 21;
constexpr float kSentinel = 12345.0f;

struct CrossResult {
    std::vector<float> x, xmn, sig, c;
};

CrossResult run_cross(const std::vector<std::vector<float>>& cols, int32_t iopt) {
    const int32_t m = int32_t(cols.size()), n = int32_t(cols[0].size());
    CrossResult r{std::vector<float>(kLdx * m, kSentinel), std::vector<float>(m, -7.0f),
                  std::vector<float>(m, -7.0f), std::vector<float>(kLdc * m, kSentinel)};
    for (int32_t j = 0; j < m; ++j)
        for (int32_t t = 0; t < n; ++t) r.x[j * kLdx + t] = cols[j][t];
    numeric::cross(numeric::ColumnMatrix<float>(r.x.data(), kLdx), n, m, r.xmn.data(), r.sig.data(),
                   numeric::ColumnMatrix<float>(r.c.data(), kLdc), iopt);
    for (int32_t j = 0; j < m; ++j) {
        for (int32_t t = n; t < kLdx; ++t) EXPECT_EQ(r.x[j * kLdx + t], kSentinel) << "x spare row";
        for (int32_t i = m; i < kLdc; ++i) EXPECT_EQ(r.c[j * kLdc + i], kSentinel) << "c spare row";
    }
    return r;
}

float cat(const CrossResult& r, int32_t i, int32_t j) { return r.c[(j - 1) * kLdc + (i - 1)]; }

std::vector<std::vector<float>> random_block(int32_t n, int32_t m, uint32_t seed, float level, float spread) {
    std::mt19937 gen(seed);
    std::vector<float> common(n);
    for (float& v : common) v = uniform(gen);
    std::vector<std::vector<float>> cols(m, std::vector<float>(n));
    for (int32_t j = 0; j < m; ++j) {
        const float w = std::abs(uniform(gen));
        for (int32_t t = 0; t < n; ++t) cols[j][t] = level + spread * (w * common[t] + (1.0f - w) * uniform(gen));
    }
    return cols;
}

TEST(Cross, MatchesTwoPassFormula) {
    struct Row {
        const char* name;
        int32_t n, m;
        uint32_t seed;
        float level, spread;
    };
    const std::vector<Row> rows = {
        {"two observations", 2, 3, 1, 0.0f, 1.0f},
        {"one variable", 30, 1, 2, 0.0f, 4.0f},
        {"calibration-sized", 360, 9, 3, 0.0f, 4.0f},
        {"large level, small spread", 120, 5, 4, -50.0f, 0.5f},
        {"full neighbourhood", 300, 20, 5, 1.0f, 6.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto cols = random_block(row.n, row.m, row.seed, row.level, row.spread);
        const CrossResult r = run_cross(cols, 0);
        std::vector<double> mean(row.m), sd(row.m);
        for (int32_t j = 0; j < row.m; ++j) {
            for (float v : cols[j]) mean[j] += v;
            mean[j] /= row.n;
            for (float v : cols[j]) sd[j] += (v - mean[j]) * (v - mean[j]);
            sd[j] = std::sqrt(sd[j] / row.n);
            EXPECT_NEAR(r.xmn[j], mean[j], 1e-6 * std::max(1.0, std::abs(mean[j])));
            EXPECT_NEAR(r.sig[j], sd[j], 1e-4 * sd[j] * std::max(1.0, std::abs(mean[j]) / sd[j]));
        }
        for (int32_t i = 1; i <= row.m; ++i)
            for (int32_t j = 1; j <= row.m; ++j) {
                double s = 0.0;
                for (int32_t t = 0; t < row.n; ++t)
                    s += (cols[i - 1][t] - mean[i - 1]) * (cols[j - 1][t] - mean[j - 1]);
                const double corr = s / row.n / (sd[i - 1] * sd[j - 1]);
                EXPECT_NEAR(cat(r, i, j), corr, 2e-4) << i << "," << j;
                EXPECT_EQ(cat(r, i, j), cat(r, j, i)) << "symmetric at " << i << "," << j;
            }
    }
}

// The updating formula as written, every entry of c updated on its own:
// the kernel, whatever order and width it works in, gives the same bits.
CrossResult literal_cross(const std::vector<std::vector<float>>& cols) {
    const int32_t m = int32_t(cols.size()), n = int32_t(cols[0].size());
    CrossResult r{{}, std::vector<float>(m, 0.0f), std::vector<float>(m), std::vector<float>(kLdc * m, kSentinel)};
    auto c = [&](int32_t i, int32_t j) -> float& { return r.c[(j - 1) * kLdc + (i - 1)]; };
    for (int32_t i = 1; i <= m; ++i)
        for (int32_t j = 1; j <= m; ++j) c(i, j) = 0.0f;
    std::vector<float>& T = r.xmn;
    float k = 0.0f;
    for (int32_t t = 1; t <= n; ++t) {
        for (int32_t j = 1; j <= m; ++j) T[j - 1] = T[j - 1] + cols[j - 1][t - 1];
        k = k + 1.0f;
        if (t == 1) continue;
        const float w = k * k - k;
        for (int32_t j = 1; j <= m; ++j) {
            const float g = cols[j - 1][t - 1] * k - T[j - 1];
            for (int32_t l = 1; l <= m; ++l) c(j, l) = ((cols[l - 1][t - 1] * k - T[l - 1]) * g) / w + c(j, l);
        }
    }
    const float rn = float(n);
    for (int32_t i = 1; i <= m; ++i) {
        r.xmn[i - 1] = T[i - 1] / rn;
        r.sig[i - 1] = std::sqrt(c(i, i) / rn);
    }
    for (int32_t i = 1; i <= m; ++i)
        for (int32_t j = 1; j <= m; ++j) c(i, j) = (c(i, j) / rn) / (r.sig[j - 1] * r.sig[i - 1]);
    return r;
}

TEST(Cross, MatchesTheUpdatingFormulaBitForBit) {
    for (int32_t m = 1; m <= 20; ++m)
        for (int32_t n : {2, 7, 64}) {
            const auto cols = random_block(n, m, uint32_t(100 * m + n), 0.5f, 3.0f);
            const CrossResult got = run_cross(cols, 0), want = literal_cross(cols);
            ASSERT_EQ(got.xmn, want.xmn) << m << " variables, " << n << " observations";
            ASSERT_EQ(got.sig, want.sig) << m << " variables, " << n << " observations";
            ASSERT_EQ(got.c, want.c) << m << " variables, " << n << " observations";
        }
}

TEST(Cross, PinsTheSequenceOfOperations) {
    // The provisional-means update leaves its own rounding (note the
    // diagonal just below 1); the printed statistics depend on it.
    const CrossResult r = run_cross({{1.5f, -2.25f, 0.75f, 3.0f, -0.5f, 1.25f},
                                     {-99.9f, 2.1f, 0.3f, -1.7f, 4.4f, 0.9f},
                                     {0.2f, 0.4f, 0.6f, 0.8f, 1.0f, 1.2f},
                                     {3.3f, -3.3f, 2.2f, -2.2f, 1.1f, -1.1f}},
                                    2);
    EXPECT_EQ(r.xmn, (std::vector<float>{0x1.4p-1f, -0x1.f4cccap+3f, 0x1.666666p-1f, 0.0f}));
    EXPECT_EQ(r.sig, (std::vector<float>{0x1.a6835cp+0f, 0x1.2dc832p+5f, 0x1.5dc33ap-2f, 0x1.3029aap+1f}));
    const float c[4][4] = {
        {0x1.fffffep-1f, -0x1.1728eap-2f, 0x1.7a6dfcp-3f, 0x1.deae08p-3f},
        {-0x1.1728eap-2f, 0x1.fffffep-1f, 0x1.5108d6p-1f, -0x1.389398p-1f},
        {0x1.7a6dfcp-3f, 0x1.5108d6p-1f, 0x1p+0f, -0x1.158ec2p-2f},
        {0x1.deae08p-3f, -0x1.389398p-1f, -0x1.158ec2p-2f, 0x1p+0f},
    };
    for (int32_t i = 1; i <= 4; ++i)
        for (int32_t j = 1; j <= 4; ++j) EXPECT_EQ(cat(r, i, j), c[i - 1][j - 1]) << i << "," << j;
}

TEST(Cross, OptionsTransformTheBlock) {
    const auto cols = random_block(50, 4, 9, 2.0f, 3.0f);
    struct Row {
        const char* name;
        int32_t iopt;
        enum { unchanged, centred, standardised } expect;
    };
    const std::vector<Row> rows = {
        {"0 leaves the block", 0, Row::unchanged},
        {"1 removes the means", 1, Row::centred},
        {"2 standardises", 2, Row::standardised},
        {"any other non-zero value centres", 5, Row::centred},
        {"negative values centre", -1, Row::centred},
    };
    const CrossResult plain = run_cross(cols, 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CrossResult r = run_cross(cols, row.iopt);
        EXPECT_EQ(r.c, plain.c);  // the option never changes the statistics
        EXPECT_EQ(r.sig, plain.sig);
        for (int32_t j = 0; j < 4; ++j) {
            double mean = 0.0, ss = 0.0;
            for (int32_t t = 0; t < 50; ++t) {
                const float v = r.x[j * kLdx + t];
                switch (row.expect) {
                    case Row::unchanged: EXPECT_EQ(v, cols[j][t]); break;
                    case Row::centred: EXPECT_EQ(v, cols[j][t] - r.xmn[j]); break;
                    case Row::standardised: EXPECT_EQ(v, (cols[j][t] - r.xmn[j]) / r.sig[j]); break;
                }
                mean += v;
                ss += double(v) * v;
            }
            mean /= 50;
            if (row.expect != Row::unchanged) {
                EXPECT_NEAR(mean, 0.0, 1e-6);
            }
            if (row.expect == Row::standardised) {
                EXPECT_NEAR(std::sqrt(ss / 50 - mean * mean), 1.0, 1e-5);
            }
        }
    }
}

TEST(Cross, ConstantColumnsAreUncorrelated) {
    // Twelve equal values leave a rounding residue in the update formula
    // (about 7e-6 for -99.9) that must not pass for a spread.
    const std::vector<float> varying = {1.0f, -2.0f, 0.5f, 3.0f, -1.5f, 0.25f, 2.0f, -0.75f, 1.25f, -3.0f, 0.0f, 4.0f};
    const std::vector<float> missing(12, -99.9f), tenths(12, 0.1f);
    std::vector<float> tiny(12);
    for (size_t t = 0; t < tiny.size(); ++t) tiny[t] = (t % 2 == 0) ? 1e-30f : 2e-30f;
    struct Row {
        const char* name;
        std::vector<std::vector<float>> cols;
        std::vector<bool> constant;
    };
    const std::vector<Row> rows = {
        {"missing-value column", {varying, missing}, {false, true}},
        {"tenths column first", {tenths, varying}, {true, false}},
        {"one observation", {{2.0f}, {-3.0f}, {0.0f}}, {true, true, true}},
        {"squares underflow to zero", {varying, tiny}, {false, true}},
        {"two constant columns", {missing, tenths}, {true, true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int32_t m = int32_t(row.cols.size()), n = int32_t(row.cols[0].size());
        const CrossResult r = run_cross(row.cols, 2);
        for (int32_t j = 1; j <= m; ++j) {
            if (row.constant[j - 1]) {
                EXPECT_EQ(r.sig[j - 1], 0.0f) << "sig " << j;
                for (int32_t t = 0; t < n; ++t) EXPECT_EQ(r.x[(j - 1) * kLdx + t], 0.0f);
            } else {
                EXPECT_GT(r.sig[j - 1], 0.0f);
            }
            for (int32_t i = 1; i <= m; ++i) {
                const float v = cat(r, i, j);
                EXPECT_TRUE(std::isfinite(v));
                if (row.constant[i - 1] || row.constant[j - 1]) {
                    EXPECT_EQ(v, i == j ? 1.0f : 0.0f) << i << "," << j;
                }
            }
            for (int32_t t = 0; t < n; ++t) EXPECT_TRUE(std::isfinite(r.x[(j - 1) * kLdx + t]));
        }
    }
}

// ---- sort and median ------------------------------------------------------

TEST(Sort, AgreesWithStdSort) {
    struct Row {
        const char* name;
        int32_t n;
        uint32_t seed;
        int32_t distinct;  // values drawn from this many levels; 0 = ordered input
    };
    const std::vector<Row> rows = {
        {"two", 2, 1, 100},       {"three", 3, 2, 100},          {"many duplicates", 64, 3, 4},
        {"odd count", 101, 4, 1000}, {"even count", 1000, 5, 50}, {"all equal", 17, 6, 1},
        {"one value", 1, 7, 10},  {"already sorted", 33, 8, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::mt19937 gen(row.seed);
        std::vector<float> v(row.n);
        for (int32_t i = 0; i < row.n; ++i)
            v[i] = row.distinct == 0 ? float(i) * 0.5f : float(int32_t(gen() % uint32_t(row.distinct))) * 0.25f - 5.0f;
        std::vector<float> expected = v;
        std::sort(expected.begin(), expected.end());
        numeric::sort(row.n, v.data());
        EXPECT_EQ(v, expected);

        std::reverse(v.begin(), v.end());
        numeric::sort(row.n, v.data());
        EXPECT_EQ(v, expected) << "from reversed order";
    }
}

TEST(Median, OddAndEvenCounts) {
    struct Row {
        const char* name;
        std::vector<float> x;
        float median;
    };
    const std::vector<Row> rows = {
        {"odd count", {3, 1, 2}, 2.0f},
        {"even count", {4, 1, 3, 2}, 2.5f},
        {"two values", {5, -1}, 2.0f},
        {"even with a duplicate pair in the middle", {2, 9, 2, -4}, 2.0f},
        {"missing values take part", {-99.9f, 0.5f, -99.9f, 1.5f, 2.5f}, 0.5f},
        {"one value", {7.25f}, 7.25f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<float> x = row.x;
        float xmed = -1.0f;
        numeric::median(x.data(), int32_t(x.size()), xmed);
        EXPECT_EQ(xmed, row.median);
        std::vector<float> sorted = row.x;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(x, sorted) << "left sorted";
    }
}

}  // namespace
