// pearsn: Pearson correlation of two series and the least-squares line of
// y on x, from deviations about the means (two passes).
//
//   x  in   x(1..n)
//   y  in   y(1..n)
//   n  in   number of pairs
//   r  out  correlation of x and y
//   a  out  intercept of y = a + b x
//   b  out  slope of y = a + b x
//
// When x or y is constant (n = 1 included), or a sum of squares comes out 0,
// there is no line to fit: r = 0, b = 0 and a = ybar, instead of 0/0.
#include <cmath>

#include "numeric/stats.h"

namespace numeric {

namespace {

bool constant_series(const float* v, int32_t n) {
    for (int32_t i = 1; i < n; ++i)
        if (v[i] != v[0]) return false;
    return true;
}

}  // namespace

void pearsn(const float* x, const float* y, int32_t n, float& r, float& a, float& b) {
    const float rn = static_cast<float>(n);

    // Pass 1: means.
    float sx = 0.0f;
    float sy = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        sx = sx + x[i];
        sy = sy + y[i];
    }
    const float xbar = sx / rn;
    const float ybar = sy / rn;

    // Pass 2: sums of squares and products of the deviations.
    float sxx = 0.0f;
    float syy = 0.0f;
    float sxy = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        const float dx = x[i] - xbar;
        const float dy = y[i] - ybar;
        sxx = sxx + dx * dx;
        syy = syy + dy * dy;
        sxy = sxy + dx * dy;
    }

    // The product can underflow to 0 even when neither sum does.
    const float root = std::sqrt(sxx * syy);
    if (constant_series(x, n) || constant_series(y, n) || sxx == 0.0f || syy == 0.0f ||
        root == 0.0f) {
        r = 0.0f;
        b = 0.0f;
        a = ybar;
        return;
    }

    r = sxy / root;
    const float nm1 = rn + (-1.0f);
    b = (std::sqrt(syy / nm1) / std::sqrt(sxx / nm1)) * r;
    a = ybar - b * xbar;
}

}  // namespace numeric
