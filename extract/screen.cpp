#include "extract/screen.h"

#include "extract/grid_axes.h"

namespace extract {

std::vector<int32_t> screencells(const GridStore& store, float pctmiss) {
    const int32_t nbox = store.box().nbox();
    const int32_t nmon = store.nmon();
    std::vector<int32_t> keep(static_cast<size_t>(nbox), 1);
    for (int32_t n = 1; n <= nbox; ++n) {
        const float* series = store.series(n);
        // nmon is a whole number of years; four counts run side by side.
        int32_t count[4] = {0, 0, 0, 0};
        for (int32_t m = 0; m < nmon; m += 4) {
            for (int32_t k = 0; k < 4; ++k) count[k] += series[m + k] == kMissing;
        }
        const int32_t nmiss = count[0] + count[1] + count[2] + count[3];
        const float fraction = static_cast<float>(nmiss) / static_cast<float>(nmon);
        if (fraction >= pctmiss) keep[static_cast<size_t>(n - 1)] = 0;
    }
    return keep;
}

}  // namespace extract
