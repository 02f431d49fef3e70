// sort: heapsort, ascending, in place.
//
//   n   in      number of values
//   ra  in/out  ra(1..n), sorted on return
//
// Fewer than two values are already in order; the heap steps would read
// ra(0) for n = 1.
#include "numeric/stats.h"

namespace numeric {

void sort(int32_t n, float* rav) {
    if (n < 2) return;
    auto ra = [rav](int32_t i) -> float& { return rav[i - 1]; };

    int32_t l = n / 2 + 1;
    int32_t ir = n;
    for (;;) {
        // Build the heap while l > 1, then take the root off one by one.
        float v;
        if (l > 1) {
            l = l - 1;
            v = ra(l);
        } else {
            v = ra(ir);
            ra(ir) = ra(1);
            ir = ir - 1;
            if (ir == 1) {
                ra(1) = v;
                return;
            }
        }
        // Sift v down to its place.
        int32_t i = l;
        int32_t j = 2 * l;
        while (j <= ir) {
            // The larger child, without a branch the data would make unpredictable.
            if (j < ir) j = j + (ra(j) < ra(j + 1) ? 1 : 0);
            if (v < ra(j)) {
                ra(i) = ra(j);
                i = j;
                j = 2 * j;
            } else {
                j = ir + 1;
            }
        }
        ra(i) = v;
    }
}

}  // namespace numeric
