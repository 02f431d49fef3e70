#pragma once
// Correlation, least-squares and order-statistic helpers.
#include <cstdint>

#include "numeric/matrix.h"

namespace numeric {

// Pearson r of x and y, and the least-squares line y = a + b x. A constant
// x or y (n = 1 included) gives r = 0, b = 0, a = mean of y.
void pearsn(const float* x, const float* y, int32_t n, float& r, float& a, float& b);

// Means, population standard deviations and the m by m correlation matrix
// of the n by m block x; iopt 2 standardises x in place, other non-zero
// values centre it, 0 leaves it. The leading dimensions are the views'. A
// constant column gets sig 0, correlation 0 off the diagonal, 1 on it, and
// standardises to 0.
void cross(ColumnMatrix<float> x, int32_t n, int32_t m, float* xmn, float* sig,
           ColumnMatrix<float> c, int32_t iopt);

// Heapsort, ascending, in place (ra[0..n-1]); n < 2 leaves ra as it is.
void sort(int32_t n, float* ra);

// Median of x[0..n-1]; leaves x sorted. n < 1 leaves xmed unchanged.
void median(float* x, int32_t n, float& xmed);

}  // namespace numeric
