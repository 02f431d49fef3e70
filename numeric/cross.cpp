// cross: column means, population standard deviations and the correlation
// matrix of a data block, by the updating (provisional-means) formula for
// corrected sums of squares and products in one pass over the observations.
//
//   x     in/out  n by m, leading dimension x.ld(); row t an observation, column
//                 j a variable; centred (iopt 1 and others) or standardised
//                 (iopt 2) in place unless iopt is 0
//   n     in      number of observations
//   m     in      number of variables
//   xmn   out     xmn(1..m): column means (running column sums until then)
//   sig   out     sig(1..m): population standard deviations (divisor n)
//   c     out     m by m, leading dimension c.ld(): the correlation matrix,
//                 complete in both triangles
//   iopt  in      0 leave x, 2 standardise, any other value centre
//
// A constant column (all n values equal, n = 1 included, or a zero corrected
// sum of squares) has sig exactly 0 rather than the rounding residue of the
// update, correlation 0 with every other column and 1 with itself, and
// standardises to 0: no division by zero.
#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "numeric/stats.h"

namespace numeric {

namespace {

bool constant_column(const ColumnMatrix<float>& x, int32_t n, int32_t j) {
    for (int32_t t = 2; t <= n; ++t)
        if (x(t, j) != x(1, j)) return false;
    return true;
}

// c[j] = (dl * dev[j]) / w + c[j] for j in [0, count): the upper part of
// one column of the products. Four at a time where the machine has vectors,
// each lane rounding as it would alone; the blocks run on past `count`
// while they fit in `room`: those are lower-triangle entries, copied over
// from the upper afterwards.
void update_products(float* c, const float* dev, float dl, float w, int32_t count, int32_t room) {
    int32_t j = 0;
#if defined(__SSE__)
    const int32_t blocks_end = std::min((count + 3) & ~3, room & ~3);
    const __m128 dlv = _mm_set1_ps(dl), wv = _mm_set1_ps(w);
    for (; j < blocks_end; j += 4)
        _mm_storeu_ps(c + j, _mm_add_ps(_mm_div_ps(_mm_mul_ps(dlv, _mm_loadu_ps(dev + j)), wv), _mm_loadu_ps(c + j)));
#else
    (void)room;
#endif
    for (; j < count; ++j) c[j] = (dl * dev[j]) / w + c[j];
}

// x[t] = (x[t] - mean) / q for t in [0, n), four at a time as above.
void standardise(float* x, int32_t n, float mean, float q) {
    int32_t t = 0;
    for (; t + 4 <= n; t += 4) {
        const float x0 = x[t], x1 = x[t + 1], x2 = x[t + 2], x3 = x[t + 3];
        x[t] = (x0 - mean) / q;
        x[t + 1] = (x1 - mean) / q;
        x[t + 2] = (x2 - mean) / q;
        x[t + 3] = (x3 - mean) / q;
    }
    for (; t < n; ++t) x[t] = (x[t] - mean) / q;
}

}  // namespace

void cross(ColumnMatrix<float> x, int32_t n, int32_t m, float* xmnv, float* sigv,
           ColumnMatrix<float> c, int32_t iopt) {
    auto xmn = [xmnv](int32_t j) -> float& { return xmnv[j - 1]; };
    auto sig = [sigv](int32_t j) -> float& { return sigv[j - 1]; };
    const float rn = static_cast<float>(n);

    // Step 1: clear the sums (the column sums are kept apart until step 3).
    for (int32_t j = 1; j <= m; ++j)
        for (int32_t i = 1; i <= m; ++i) c(i, j) = 0.0f;
    float k = 0.0f;

    // Step 2: update the column sums and the corrected cross products. The
    // product of two deviations does not depend on their order, so the lower
    // triangle equals the upper one bit for bit: it is copied from the upper.
    // The sums and deviations go four columns at a time too, so that the
    // blocks read them as they were stored, four at once.
    const size_t padded = static_cast<size_t>((m + 3) & ~3);
    std::vector<float> sums(padded, 0.0f), dev(padded, 0.0f);
    for (int32_t t = 1; t <= n; ++t) {
        k = k + 1.0f;
        int32_t j = 0;
        for (; j + 4 <= m; j += 4) {
            const float x0 = x(t, j + 1), x1 = x(t, j + 2), x2 = x(t, j + 3), x3 = x(t, j + 4);
            const float s0 = sums[j] + x0, s1 = sums[j + 1] + x1, s2 = sums[j + 2] + x2, s3 = sums[j + 3] + x3;
            sums[j] = s0, sums[j + 1] = s1, sums[j + 2] = s2, sums[j + 3] = s3;
            dev[j] = x0 * k - s0, dev[j + 1] = x1 * k - s1, dev[j + 2] = x2 * k - s2, dev[j + 3] = x3 * k - s3;
        }
        for (; j < m; ++j) {
            sums[j] = sums[j] + x(t, j + 1);
            dev[j] = x(t, j + 1) * k - sums[j];
        }
        if (t > 1) {
            const float w = k * k - k;
            for (int32_t l = 1; l <= m; ++l)
                update_products(c.column(l), dev.data(), dev[static_cast<size_t>(l - 1)], w, l, m);
        }
    }
    for (int32_t l = 1; l <= m; ++l)
        for (int32_t j = l + 1; j <= m; ++j) c(j, l) = c(l, j);
    for (int32_t j = 1; j <= m; ++j) xmn(j) = sums[static_cast<size_t>(j - 1)];

    // Step 3: means and standard deviations.
    for (int32_t i = 1; i <= m; ++i) {
        xmn(i) = xmn(i) / rn;
        sig(i) = std::sqrt(c(i, i) / rn);
        if (constant_column(x, n, i)) sig(i) = 0.0f;
    }

    // Step 4: correlations; a zero divisor only comes from a constant column
    // (or an underflow of two tiny deviations), which correlates with nothing.
    for (int32_t i = 1; i <= m; ++i) {
        for (int32_t j = 1; j <= m; ++j) {
            const float q = sig(j) * sig(i);
            if (q == 0.0f)
                c(i, j) = (i == j) ? 1.0f : 0.0f;
            else
                c(i, j) = (c(i, j) / rn) / q;
        }
    }

    // Step 5: centre or standardise the block in place.
    if (iopt != 0) {
        for (int32_t j = 1; j <= m; ++j) {
            const float q = (iopt == 2) ? sig(j) : 1.0f;
            if (q == 0.0f) {
                for (int32_t t = 1; t <= n; ++t) x(t, j) = 0.0f;
            } else {
                standardise(x.column(j), n, xmn(j), q);
            }
        }
    }
}

}  // namespace numeric
