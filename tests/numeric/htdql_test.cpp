#include "numeric/htdql.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/jacobi.h"
#include "textio/sink.h"

namespace {

constexpr int32_t kLd = 20;  // as the EOF analysis allocates it

// A matrix in an ld = 20 store; `lower` gives rows of the lower triangle
// (row i holds columns 1..i) and the upper triangle mirrors it.
std::vector<float> store_lower(const std::vector<std::vector<float>>& lower) {
    std::vector<float> z(kLd * kLd, 0.0f);
    numeric::ColumnMatrix<float> a(z.data(), kLd);
    for (size_t i = 0; i < lower.size(); ++i)
        for (size_t j = 0; j <= i; ++j) {
            a(int32_t(i + 1), int32_t(j + 1)) = lower[i][j];
            a(int32_t(j + 1), int32_t(i + 1)) = lower[i][j];
        }
    return z;
}

struct Decomposition {
    int32_t n;
    std::vector<float> d, e, z;
    std::string console;
};

Decomposition decompose(int32_t n, std::vector<float> z, int32_t maxiter = 30) {
    Decomposition r{n, std::vector<float>(n, -7.0f), std::vector<float>(n, -7.0f), std::move(z), {}};
    textio::StringSink sink;
    numeric::htdql(r.n, r.d.data(), r.e.data(), numeric::ColumnMatrix<float>(r.z.data(), kLd), sink,
                   maxiter);
    r.console = sink.text();
    return r;
}

float zat(const Decomposition& r, int32_t i, int32_t j) { return r.z[(j - 1) * kLd + (i - 1)]; }

TEST(Htdql, ExactCases) {
    // Inputs where d and z are known to the last bit: z shows the ordering
    // with its tie-break (the later equal value wins) and the signs the
    // Householder step picks.
    const float h = std::sqrt(0.5f);
    struct Row {
        const char* name;
        std::vector<std::vector<float>> lower;
        std::vector<float> d;
        std::vector<std::vector<float>> z;  // by rows
    };
    const std::vector<Row> rows = {
        {"order 1", {{5.5f}}, {5.5f}, {{1.0f}}},
        {"order 1 negative", {{-0.25f}}, {-0.25f}, {{1.0f}}},
        {"identity 2 exchanges its columns", {{1.0f}, {0.0f, 1.0f}}, {1.0f, 1.0f}, {{0.0f, 1.0f}, {1.0f, 0.0f}}},
        {"diagonal 3 permuted", {{2.0f}, {0.0f, 7.0f}, {0.0f, 0.0f, -1.0f}}, {7.0f, 2.0f, -1.0f},
         {{0.0f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}},
        {"diagonal already decreasing", {{3.0f}, {0.0f, 2.0f}, {0.0f, 0.0f, 1.0f}}, {3.0f, 2.0f, 1.0f},
         {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}},
        {"three equal values", {{3.0f}, {0.0f, 3.0f}, {0.0f, 0.0f, 3.0f}}, {3.0f, 3.0f, 3.0f},
         {{0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f}}},
        {"zero matrix", {{0.0f}, {0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}}, {0.0f, 0.0f, 0.0f},
         {{0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f}}},
        {"tie below the maximum", {{1.0f}, {0.0f, 4.0f}, {0.0f, 0.0f, 1.0f}}, {4.0f, 1.0f, 1.0f},
         {{0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}}},
        {"zero beside the diagonal takes the negative root", {{1.0f}, {0.0f, 1.0f}, {1.0f, 0.0f, 1.0f}},
         {2.0f, 1.0f, 0.0f}, {{-h, 0.0f, -h}, {0.0f, -1.0f, 0.0f}, {-h, 0.0f, h}}},
        {"coupling of exactly the step's limit is no step", {{1.0f}, {0.0f, 2.0f}, {0x1p-50f, 0.0f, 3.0f}},
         {3.0f, 2.0f, 1.0f}, {{0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}}},
        {"one unit above the step's limit is a step",
         {{1.0f}, {0.0f, 2.0f}, {0.0f, 0.0f, 3.0f}, {0x1.6a09e6p-62f, 0x1p-50f, 0.0f, 4.0f}},
         {4.0f, 0x1.7ffffcp+1f, 0x1.fffffap+0f, 0x1.fffffp-1f},
         {{0.0f, 0x1.b04p-23f, 0.0f, 1.0f}, {0.0f, 0x1.7fdfd8p-22f, -1.0f, -0x1p-33f},
          {0.0f, -1.0f, -0x1.ffc502p-23f, 0x1.301a7ep-23f}, {1.0f, 0.0f, 0.0f, 0.0f}}},
        {"equal diagonal: the shift of p = 0 is positive", {{0.5f}, {0.75f, 0.5f}}, {1.25f, -0.25f},
         {{h, h}, {h, -h}}},
        {"a rotation with |p| = |e| takes the first branch",
         {{0.25f}, {0.5f, 0.25f}, {0.0f, -0.75f, 0.5f}}, {0x1.400002p+0f, 0x1.4d82cp-2f, -0x1.26c15ap-1f},
         {{-0x1.55555cp-2f, -0x1.a999b8p-1f, -0x1.c78c82p-2f}, {-0x1.555558p-1f, -0x1.01b90ep-3f, 0x1.7824d4p-1f},
          {0x1.55555ap-1f, -0x1.153b22p-1f, 0x1.0641b6p-1f}}},
        {"a coupling just above the convergence limit is rotated", {{0x1.fffffep-1f}, {0x1.000002p-24f, 0.0f}},
         {0x1.fffffep-1f, 0.0f}, {{1.0f, -0x1.000004p-24f}, {0x1.000004p-24f, 1.0f}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int32_t n = int32_t(row.lower.size());
        const Decomposition r = decompose(n, store_lower(row.lower));
        EXPECT_EQ(r.n, n);
        EXPECT_EQ(r.console, "");
        for (int32_t i = 1; i <= n; ++i) {
            EXPECT_EQ(r.d[i - 1], row.d[i - 1]) << "d(" << i << ")";
            for (int32_t j = 1; j <= n; ++j)
                EXPECT_EQ(zat(r, i, j), row.z[i - 1][j - 1]) << "z(" << i << "," << j << ")";
        }
    }
}

TEST(Htdql, TwoByTwoCorrelation) {
    struct Row {
        const char* name;
        float r;
    };
    const std::vector<Row> rows = {
        {"positive", 0.6f}, {"negative", -0.6f}, {"weak", 0.01f}, {"near one", 0.999f}, {"minus near one", -0.999f},
    };
    const float half = std::sqrt(0.5f);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Decomposition res = decompose(2, store_lower({{1.0f}, {row.r, 1.0f}}));
        ASSERT_EQ(res.n, 2);
        EXPECT_NEAR(res.d[0], 1.0f + std::abs(row.r), 2e-7f);
        EXPECT_NEAR(res.d[1], 1.0f - std::abs(row.r), 2e-7f);
        for (int32_t i = 1; i <= 2; ++i)
            for (int32_t j = 1; j <= 2; ++j) EXPECT_NEAR(std::abs(zat(res, i, j)), half, 1e-6f);
        // The leading vector's components agree in sign with r.
        EXPECT_EQ(zat(res, 1, 1) * zat(res, 2, 1) > 0.0f, row.r > 0.0f);
    }
}

TEST(Htdql, PinsTheSequenceOfOperations) {
    // The EOF loadings and their signs are printed, so the exact result of
    // the published sequence is pinned, bit for bit, on a matrix of dyadic
    // entries that needs Householder steps and several QL iterations.
    const Decomposition r = decompose(5, store_lower({{1.0f},
                                                      {0.625f, 1.0f},
                                                      {0.375f, 0.5f, 1.0f},
                                                      {-0.125f, 0.25f, 0.4375f, 1.0f},
                                                      {0.5f, 0.75f, 0.3125f, -0.0625f, 1.0f}}));
    const std::vector<float> d = {0x1.4c3d2ep+1f, 0x1.4d5e18p+0f, 0x1.24aac2p-1f, 0x1.8b6216p-2f, 0x1.27cd58p-3f};
    const float z[5][5] = {
        {0x1.dfdcb6p-2f, 0x1.453c0ep-2f, 0x1.23f5d2p-1f, 0x1.0274fp-1f, 0x1.430f7ep-2f},
        {0x1.25dd8cp-1f, 0x1.1a9baep-6f, -0x1.22e90ep-2f, 0x1.dfc01p-3f, -0x1.766384p-1f},
        {0x1.b69cf8p-2f, -0x1.b4c8f6p-2f, 0x1.ebd1d4p-2f, -0x1.43ca26p-1f, -0x1.023e7ap-4f},
        {0x1.35d5fep-3f, -0x1.96fbd8p-1f, -0x1.e99f2p-3f, 0x1.b27218p-2f, 0x1.50afdcp-2f},
        {0x1.fa755ap-2f, 0x1.2a99d6p-2f, -0x1.1b5b72p-1f, -0x1.54328ep-2f, 0x1.01e1f4p-1f},
    };
    ASSERT_EQ(r.n, 5);
    EXPECT_EQ(r.d, d);
    for (int32_t i = 1; i <= 5; ++i)
        for (int32_t j = 1; j <= 5; ++j) EXPECT_EQ(zat(r, i, j), z[i - 1][j - 1]) << i << "," << j;
}

TEST(Htdql, ReadsOnlyTheLowerTriangle) {
    std::mt19937 gen(11);
    const int32_t n = 7;
    std::vector<std::vector<float>> lower(n);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) lower[i].push_back(float(gen() >> 8) * 0x1p-24f - 0.5f);
    const Decomposition ref = decompose(n, store_lower(lower));

    struct Row {
        const char* name;
        float above;
    };
    const std::vector<Row> rows = {
        {"zeros", 0.0f},
        {"large", 1e30f},
        {"not a number", std::numeric_limits<float>::quiet_NaN()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<float> z = store_lower(lower);
        for (int32_t j = 2; j <= n; ++j)
            for (int32_t i = 1; i < j; ++i) z[(j - 1) * kLd + (i - 1)] = row.above;
        const Decomposition r = decompose(n, z);
        ASSERT_EQ(r.n, n);
        EXPECT_EQ(r.d, ref.d);
        for (int32_t j = 1; j <= n; ++j)
            for (int32_t i = 1; i <= n; ++i) EXPECT_EQ(zat(r, i, j), zat(ref, i, j)) << i << "," << j;
    }
}

// Cyclic Jacobi in double precision: an independent reference for the
// eigenvalues, returned in decreasing order.
std::vector<double> jacobi_eigenvalues(const std::vector<std::vector<double>>& a) {
    std::vector<double> ev;
    std::vector<std::vector<double>> vectors;
    testsupport::jacobi(a, ev, vectors);
    return ev;
}

enum class Kind { symmetric, correlation, clustered };

// Random test matrices, reproducible from the seed on every platform.
std::vector<std::vector<float>> make_matrix(Kind kind, int32_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    auto uniform = [&gen] { return double(gen() >> 8) * 0x1p-24 * 2.0 - 1.0; };
    std::vector<std::vector<double>> a(n, std::vector<double>(n, 0.0));
    if (kind == Kind::symmetric) {
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) a[i][j] = a[j][i] = uniform() * 3.0;
    } else if (kind == Kind::correlation) {
        // Neighbouring cells: a shared signal plus local noise of varying size.
        const int32_t nobs = 48;
        std::vector<std::vector<double>> x(n, std::vector<double>(nobs));
        std::vector<double> common(nobs);
        for (double& v : common) v = uniform();
        for (int32_t j = 0; j < n; ++j) {
            const double weight = 0.3 + 0.7 * std::abs(uniform());
            for (int32_t t = 0; t < nobs; ++t) x[j][t] = weight * common[t] + (1.0 - weight) * uniform();
        }
        for (auto& col : x) {
            double mean = 0.0, ss = 0.0;
            for (double v : col) mean += v;
            mean /= nobs;
            for (double& v : col) ss += (v - mean) * (v - mean);
            for (double& v : col) v = (v - mean) / std::sqrt(ss);
        }
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j) {
                double s = 0.0;
                for (int32_t t = 0; t < nobs; ++t) s += x[i][t] * x[j][t];
                a[i][j] = (i == j) ? 1.0 : s;
            }
    } else {
        // Q diag(...) Q' with eigenvalues repeated in pairs.
        std::vector<std::vector<double>> q(n, std::vector<double>(n));
        for (int32_t j = 0; j < n; ++j) {
            for (int32_t i = 0; i < n; ++i) q[j][i] = uniform();
            for (int32_t k = 0; k < j; ++k) {
                double dot = 0.0;
                for (int32_t i = 0; i < n; ++i) dot += q[j][i] * q[k][i];
                for (int32_t i = 0; i < n; ++i) q[j][i] -= dot * q[k][i];
            }
            double norm = 0.0;
            for (double v : q[j]) norm += v * v;
            for (double& v : q[j]) v /= std::sqrt(norm);
        }
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j)
                for (int32_t k = 0; k < n; ++k) a[i][j] += q[k][i] * double(1 + k / 2) * q[k][j];
    }
    std::vector<std::vector<float>> lower(n);
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j <= i; ++j) lower[i].push_back(float(a[i][j]));
    return lower;
}

TEST(Htdql, RandomMatricesDecompose) {
    struct Row {
        const char* name;
        Kind kind;
        int32_t n;
        uint32_t seed;
    };
    std::vector<Row> rows;
    for (int32_t n = 1; n <= 20; ++n) rows.push_back({"symmetric", Kind::symmetric, n, uint32_t(100 + n)});
    for (int32_t n = 1; n <= 20; ++n) rows.push_back({"correlation", Kind::correlation, n, uint32_t(200 + n)});
    for (int32_t n : {2, 5, 9, 20}) rows.push_back({"correlation, second seed", Kind::correlation, n, uint32_t(300 + n)});
    for (int32_t n : {4, 9, 16, 20}) rows.push_back({"clustered eigenvalues", Kind::clustered, n, uint32_t(400 + n)});

    constexpr double eps = 0x1p-24;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + ", n = " + std::to_string(row.n));
        const int32_t n = row.n;
        const auto lower = make_matrix(row.kind, n, row.seed);
        auto a = [&lower](int32_t i, int32_t j) -> double {
            return i >= j ? lower[i - 1][j - 1] : lower[j - 1][i - 1];
        };
        double norm = 0.0, trace = 0.0;
        std::vector<std::vector<double>> full(n, std::vector<double>(n));
        for (int32_t i = 1; i <= n; ++i) {
            trace += a(i, i);
            for (int32_t j = 1; j <= n; ++j) {
                norm += a(i, j) * a(i, j);
                full[i - 1][j - 1] = a(i, j);
            }
        }
        norm = std::sqrt(norm);
        const double tol = 8.0 * n * eps * std::max(norm, 1e-30);

        const Decomposition r = decompose(n, store_lower(lower));
        ASSERT_EQ(r.n, n);
        EXPECT_EQ(r.console, "");
        double sum = 0.0;
        for (int32_t i = 1; i <= n; ++i) {
            ASSERT_TRUE(std::isfinite(r.d[i - 1]));
            sum += r.d[i - 1];
            if (i > 1) {
                EXPECT_GE(r.d[i - 2], r.d[i - 1]) << "order at " << i;
            }
        }
        EXPECT_NEAR(sum, trace, tol);

        const std::vector<double> ref = jacobi_eigenvalues(full);
        for (int32_t i = 1; i <= n; ++i) EXPECT_NEAR(r.d[i - 1], ref[i - 1], tol) << "eigenvalue " << i;

        for (int32_t j = 1; j <= n; ++j) {
            double resid = 0.0;
            for (int32_t i = 1; i <= n; ++i) {
                double av = 0.0;
                for (int32_t k = 1; k <= n; ++k) av += a(i, k) * zat(r, k, j);
                resid = std::max(resid, std::abs(av - r.d[j - 1] * zat(r, i, j)));
            }
            EXPECT_LE(resid, tol) << "A v = lambda v for vector " << j;
            for (int32_t k = 1; k <= n; ++k) {
                double dot = 0.0;
                for (int32_t i = 1; i <= n; ++i) dot += double(zat(r, i, j)) * zat(r, i, k);
                EXPECT_NEAR(dot, j == k ? 1.0 : 0.0, 8.0 * n * eps) << "columns " << j << ", " << k;
            }
        }
    }
}

TEST(Htdql, IterationLimitEndsWithFailureRecord) {
    const std::string head = "0>>SBR HTDQL: EIGENVECTOR COMPUTATION TERMINATED";
    struct Row {
        const char* name;
        int32_t maxiter;
        std::string record;
    };
    const std::vector<Row> rows = {
        {"no iterations allowed", 0, head + " AFTER 0 ITERATIONS\n"},
        {"one iteration allowed", 1, head + " AFTER 1 ITERATIONS\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // An increasing diagonal with a coupling: the first eigenvalue needs
        // more than one iteration, and ordering would reverse d.
        const Decomposition r = decompose(3, store_lower({{1.0f}, {0.5f, 3.0f}, {0.25f, 0.125f, 5.0f}}), row.maxiter);
        EXPECT_EQ(r.n, 0);
        EXPECT_EQ(r.console, row.record);
        EXPECT_LT(r.d[0], r.d[2]) << "no ordering after the failure";
    }
}

}  // namespace
