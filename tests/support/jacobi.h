#pragma once
// A reference eigen-solver in double precision for the tests of the
// single-precision one and of the analysis built on it.
#include <algorithm>
#include <cmath>
#include <vector>

namespace testsupport {

// Eigenvalues (decreasing) and eigenvectors (columns) by cyclic Jacobi.
inline void jacobi(std::vector<std::vector<double>> a, std::vector<double>& d,
                   std::vector<std::vector<double>>& v) {
    const size_t n = a.size();
    v.assign(n, std::vector<double>(n, 0.0));
    for (size_t i = 0; i < n; ++i) v[i][i] = 1.0;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0;
        for (size_t p = 0; p < n; ++p)
            for (size_t q = p + 1; q < n; ++q) off += a[p][q] * a[p][q];
        if (off < 1e-30) break;
        for (size_t p = 0; p < n; ++p) {
            for (size_t q = p + 1; q < n; ++q) {
                if (std::fabs(a[p][q]) < 1e-300) continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (size_t k = 0; k < n; ++k) {
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (size_t k = 0; k < n; ++k) {
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (size_t k = 0; k < n; ++k) {
                    const double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
        }
    }
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return a[x][x] > a[y][y]; });
    d.resize(n);
    std::vector<std::vector<double>> w(n, std::vector<double>(n));
    for (size_t p = 0; p < n; ++p) {
        d[p] = a[order[p]][order[p]];
        for (size_t k = 0; k < n; ++k) w[k][p] = v[k][order[p]];
    }
    v = w;
}

}  // namespace testsupport
