// htdql: all eigenvalues and eigenvectors of a real symmetric matrix.
//
// The Householder tridiagonalisation (tred2) and the QL algorithm with
// explicit shifts (tql2) of Wilkinson and Reinsch, Handbook for Automatic
// Computation, Vol. II, in single precision, followed by an ordering of the
// pairs by decreasing eigenvalue. The loadings and their signs that the QC
// report prints depend on this exact sequence of operations, so every sum
// runs in the published order and nothing is regrouped.
//
//   n        in/out  order of the matrix; left alone on success, 0 when an
//                    eigenvalue does not converge within maxiter iterations
//   d        out     d(1..n): eigenvalues, decreasing
//   e        work    e(1..n): sub-diagonal; of no use on return
//   z        in/out  n by n, leading dimension z.ld(): in, the symmetric matrix
//                    (lower triangle read, upper triangle is work space);
//                    out, column j the unit eigenvector of d(j)
//   console  out     receives the failure record
//   maxiter  in      QL iterations allowed per eigenvalue
#include "numeric/htdql.h"

#include <cmath>
#include <string>

#include "textio/layout.h"

namespace numeric {

namespace {

constexpr float eps = 0x1p-24f;   // relative precision, convergence test
constexpr float tol = 0x1p-100f;  // smallest g worth a Householder step

void report_no_convergence(textio::Sink& console, int32_t maxiter) {
    // The count goes in as text so that any limit shows without padding.
    const textio::Layout layout(
        "('0>>SBR HTDQL: EIGENVECTOR COMPUTATION TERMINATED',' AFTER ',a,' ITERATIONS')");
    const std::string count = std::to_string(maxiter);
    console.write(layout, {count});
}

}  // namespace

void htdql(int32_t& n, float* dv, float* ev, ColumnMatrix<float> z, textio::Sink& console,
           int32_t maxiter) {
    if (n < 1) return;  // nothing to decompose; callers never pass 0
    auto d = [dv](int32_t i) -> float& { return dv[i - 1]; };
    auto e = [ev](int32_t i) -> float& { return ev[i - 1]; };

    // Phase 1: Householder reduction to tridiagonal form.
    for (int32_t i = n; i >= 2; --i) {
        int32_t l = i - 2;
        float f = z(i, i - 1);
        float g = 0.0f;
        for (int32_t k = 1; k <= l; ++k) g = g + z(i, k) * z(i, k);
        float h = g + f * f;
        if (g <= tol) {
            e(i) = f;
            h = 0.0f;
        } else {
            l = l + 1;
            g = (f >= 0.0f) ? -std::sqrt(h) : std::sqrt(h);
            e(i) = g;
            h = h - f * g;
            z(i, i - 1) = f - g;
            f = 0.0f;
            for (int32_t j = 1; j <= l; ++j) {
                z(j, i) = z(i, j) / h;
                g = 0.0f;
                for (int32_t k = 1; k <= j; ++k) g = g + z(j, k) * z(i, k);
                for (int32_t k = j + 1; k <= l; ++k) g = g + z(k, j) * z(i, k);
                e(j) = g / h;
                f = f + g * z(j, i);
            }
            const float hh = f / (h + h);
            for (int32_t j = 1; j <= l; ++j) {
                f = z(i, j);
                g = e(j) - hh * f;
                e(j) = g;
                for (int32_t k = 1; k <= j; ++k) z(j, k) = (z(j, k) - f * e(k)) - g * z(i, k);
            }
        }
        d(i) = h;
    }
    d(1) = 0.0f;
    e(1) = 0.0f;

    // Phase 2: accumulation of the transformations.
    for (int32_t i = 1; i <= n; ++i) {
        const int32_t l = i - 1;
        if (l >= 1 && d(i) != 0.0f) {
            for (int32_t j = 1; j <= l; ++j) {
                float g = 0.0f;
                for (int32_t k = 1; k <= l; ++k) g = g + z(i, k) * z(k, j);
                for (int32_t k = 1; k <= l; ++k) z(k, j) = z(k, j) - g * z(k, i);
            }
        }
        d(i) = z(i, i);
        z(i, i) = 1.0f;
        for (int32_t j = 1; j <= l; ++j) {
            z(i, j) = 0.0f;
            z(j, i) = 0.0f;
        }
    }

    // Phase 3: QL iterations with origin shifts, carrying the vectors along.
    for (int32_t i = 2; i <= n; ++i) e(i - 1) = e(i);
    e(n) = 0.0f;
    float b = 0.0f;
    float f = 0.0f;
    for (int32_t l = 1; l <= n; ++l) {
        int32_t iter = 0;
        float h = eps * (std::abs(d(l)) + std::abs(e(l)));
        if (h > b) b = h;
        int32_t m = l;
        while (std::abs(e(m)) > b) ++m;  // stops at n at the latest: e(n) = 0
        if (m != l) {
            do {
                if (iter == maxiter) {
                    report_no_convergence(console, maxiter);
                    n = 0;
                    return;
                }
                ++iter;

                // Shift.
                float g = d(l);
                float p = (d(l + 1) - g) / (2.0f * e(l));
                float r = std::sqrt(p * p + 1.0f);
                d(l) = (p < 0.0f) ? e(l) / (p - r) : e(l) / (p + r);
                h = g - d(l);
                for (int32_t i = l + 1; i <= n; ++i) d(i) = d(i) - h;
                f = f + h;

                // Sweep from m - 1 up to l.
                p = d(m);
                float c = 1.0f;
                float s = 0.0f;
                for (int32_t i = m - 1; i >= l; --i) {
                    g = c * e(i);
                    h = c * p;
                    if (std::abs(p) >= std::abs(e(i))) {
                        c = e(i) / p;
                        r = std::sqrt(c * c + 1.0f);
                        e(i + 1) = (s * p) * r;
                        s = c / r;
                        c = 1.0f / r;
                    } else {
                        c = p / e(i);
                        r = std::sqrt(c * c + 1.0f);
                        e(i + 1) = (s * e(i)) * r;
                        s = 1.0f / r;
                        c = c / r;
                    }
                    p = c * d(i) - s * g;
                    d(i + 1) = h + s * (c * g + s * d(i));
                    for (int32_t k = 1; k <= n; ++k) {
                        h = z(k, i + 1);
                        z(k, i + 1) = s * z(k, i) + c * h;
                        z(k, i) = c * z(k, i) - s * h;
                    }
                }
                e(l) = s * p;
                d(l) = c * p;
            } while (std::abs(e(l)) > b);  // m is kept, as in the Algol text
        }
        d(l) = d(l) + f;
    }

    // Phase 4: decreasing order; of equal largest values the last is taken.
    for (int32_t i = 1; i <= n - 1; ++i) {
        int32_t k = i;
        float p = d(i);
        for (int32_t j = i + 1; j <= n; ++j) {
            if (!(d(j) < p)) {
                k = j;
                p = d(j);
            }
        }
        if (k != i) {
            d(k) = d(i);
            d(i) = p;
            for (int32_t j = 1; j <= n; ++j) {
                const float t = z(j, i);
                z(j, i) = z(j, k);
                z(j, k) = t;
            }
        }
    }
}

}  // namespace numeric
