// median: the median of a list, which is left sorted.
//
//   x     in/out  x(1..n), sorted ascending on return
//   n     in      number of values
//   xmed  out     the median; left unchanged when n < 1
#include "numeric/stats.h"

namespace numeric {

void median(float* x, int32_t n, float& xmed) {
    if (n < 1) return;
    sort(n, x);
    const int32_t h = n / 2;
    if (n % 2 == 1)
        xmed = x[h];  // x(h + 1)
    else
        xmed = (x[h - 1] + x[h]) * 0.5f;  // (x(h) + x(h + 1)) / 2
}

}  // namespace numeric
