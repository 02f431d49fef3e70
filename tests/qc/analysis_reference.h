#pragma once
// The whole per-cell analysis recomputed in double precision from its
// description, with a Jacobi eigen-solver, to check the single-precision
// results within rounding. Which components enter is taken as an input:
// the choice of the second and third depends on the solver's signs.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/support/jacobi.h"

namespace analysis_test {

struct Reference {
    std::vector<double> xmn, sig, evl;
    std::vector<std::vector<double>> cor;
    std::vector<double> est;
    double r1 = 0.0;  // |r| of the first component's calibration fit
};

inline bool is_missing(double v) { return static_cast<float>(v) == -99.9f; }

inline double mean_valid(const std::vector<double>& x, int32_t from, int32_t to, bool& any) {
    double s = 0.0;
    int32_t n = 0;
    for (int32_t k = from; k < to; ++k) {
        if (!is_missing(x[k])) {
            s += x[k];
            ++n;
        }
    }
    any = n > 0;
    return n > 0 ? s / n : -99.9;
}

inline double median_of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) * 0.5;
}

struct Line {
    double r = 0.0, a = 0.0, b = 0.0;
};

inline Line fit(const std::vector<double>& x, const std::vector<double>& y) {
    const size_t n = x.size();
    double mx = 0, my = 0;
    for (size_t i = 0; i < n; ++i) mx += x[i], my += y[i];
    mx /= n, my /= n;
    double sxx = 0, syy = 0, sxy = 0;
    for (size_t i = 0; i < n; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
        sxy += (x[i] - mx) * (y[i] - my);
    }
    Line l;
    if (sxx <= 1e-20 * n || syy <= 1e-20 * n) {
        l.a = my;
        return l;
    }
    l.r = sxy / std::sqrt(sxx * syy);
    l.b = sxy / sxx;
    l.a = my - l.b * mx;
    return l;
}

// columns: the neighbourhood as read; centre: 0-based position.
inline Reference reference(const std::vector<std::vector<float>>& columns, size_t centre,
                           int32_t nmon, int32_t ncal, bool use2, bool use3) {
    const int32_t npre = nmon - ncal;
    const size_t nf = columns.size();
    std::vector<std::vector<double>> nbr(nf);
    for (size_t j = 0; j < nf; ++j) nbr[j].assign(columns[j].begin(), columns[j].end());
    std::vector<double> ctr = nbr[centre];
    auto gross = [](std::vector<double>& x, int32_t from, int32_t to) {
        for (int32_t k = from; k < to; ++k)
            if (!is_missing(x[k]) && std::fabs(x[k]) >= 10.0) x[k] = -99.9;
    };
    bool any = false;
    // Calibration: screen and infill every column, then the centre copy.
    for (auto& col : nbr) {
        gross(col, npre, nmon);
        const double m = mean_valid(col, npre, nmon, any);
        for (int32_t k = npre; k < nmon; ++k)
            if (is_missing(col[k])) col[k] = m;
    }
    gross(ctr, npre, nmon);
    const double cm = mean_valid(ctr, npre, nmon, any);
    for (int32_t k = npre; k < nmon; ++k)
        if (is_missing(ctr[k])) ctr[k] = cm;
    // Pre-calibration.
    std::vector<double> premean(nf);
    for (size_t j = 0; j < nf; ++j) premean[j] = mean_valid(nbr[j], 0, npre, any);
    std::vector<double> cv;
    for (int32_t k = 0; k < npre; ++k)
        if (!is_missing(ctr[k])) cv.push_back(ctr[k]);
    if (!cv.empty()) {
        const double med = cv.size() >= 2 ? median_of(cv) : 0.0;
        for (int32_t k = 0; k < npre; ++k)
            if (!is_missing(ctr[k]) && std::fabs(ctr[k] - med) >= 10.0) ctr[k] = -99.9;
    }
    const double ctrpre = mean_valid(ctr, 0, npre, any);
    const double premed = median_of(premean);
    for (size_t j = 0; j < nf; ++j) {
        if (std::fabs(premean[j]) >= 1.0 && std::fabs(premed) < 1.0)
            for (int32_t k = 0; k < npre; ++k)
                if (!is_missing(nbr[j][k])) nbr[j][k] = nbr[j][k] - premean[j] + premed;
        gross(nbr[j], 0, npre);
    }
    if (std::fabs(ctrpre) >= 1.0 && std::fabs(premed) < 1.0)
        for (int32_t k = 0; k < npre; ++k)
            if (!is_missing(ctr[k])) ctr[k] = ctr[k] - ctrpre + premed;

    // EOF analysis of the calibration block.
    Reference ref;
    ref.xmn.resize(nf), ref.sig.resize(nf);
    std::vector<std::vector<double>> z(nf, std::vector<double>(ncal, 0.0));
    for (size_t j = 0; j < nf; ++j) {
        double m = 0;
        for (int32_t i = 0; i < ncal; ++i) m += nbr[j][npre + i];
        m /= ncal;
        double ss = 0;
        for (int32_t i = 0; i < ncal; ++i) ss += (nbr[j][npre + i] - m) * (nbr[j][npre + i] - m);
        ref.xmn[j] = m;
        ref.sig[j] = std::sqrt(ss / ncal);
        if (ref.sig[j] < 1e-6) ref.sig[j] = 0.0;
        for (int32_t i = 0; i < ncal; ++i)
            z[j][i] = ref.sig[j] > 0 ? (nbr[j][npre + i] - m) / ref.sig[j] : 0.0;
    }
    ref.cor.assign(nf, std::vector<double>(nf, 0.0));
    for (size_t a = 0; a < nf; ++a)
        for (size_t b = 0; b < nf; ++b) {
            double s = 0;
            for (int32_t i = 0; i < ncal; ++i) s += z[a][i] * z[b][i];
            ref.cor[a][b] = a == b ? 1.0 : s / ncal;
        }
    std::vector<std::vector<double>> v;
    testsupport::jacobi(ref.cor, ref.evl, v);

    const bool used[3] = {true, use2, use3};
    std::vector<double> ycal(ctr.begin() + npre, ctr.end());
    ref.est.assign(nmon, 0.0);
    for (size_t p = 0; p < 3 && p < nf; ++p) {
        if (!used[p]) continue;
        std::vector<double> pc(nmon, 0.0);
        for (int32_t k = 0; k < nmon; ++k)
            for (size_t j = 0; j < nf; ++j) {
                const double x = nbr[j][k];
                if (is_missing(x)) continue;
                const double s = ref.sig[j] > 0 ? (x - ref.xmn[j]) / ref.sig[j] : 0.0;
                pc[k] += s * v[j][p];
            }
        const Line l = fit(std::vector<double>(pc.begin() + npre, pc.end()), ycal);
        if (p == 0) ref.r1 = std::fabs(l.r);
        for (int32_t k = 0; k < nmon; ++k) ref.est[k] += l.a + l.b * pc[k];
    }
    return ref;
}

}  // namespace analysis_test
