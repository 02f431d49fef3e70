#include "extract/screen.h"

#include <algorithm>

#include "extract/grid_axes.h"
#include "parallel/pipeline.h"

namespace extract {

namespace {

void screen_range(const GridView& store, float pctmiss, int32_t first, int32_t last, std::vector<int32_t>& keep) {
    const int32_t nmon = store.nmon();
    for (int32_t n = first; n <= last; ++n) {
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
}

}  // namespace

std::vector<int32_t> screencells(const GridView& store, float pctmiss, int32_t threads) {
    const int32_t nbox = store.box().nbox();
    std::vector<int32_t> keep(static_cast<size_t>(nbox), 1);
    constexpr int32_t kCells = 256;  // per task
    parallel::Pipeline pipeline(threads, 2 * static_cast<size_t>(std::max(threads, 1)));
    for (int32_t first = 1; first <= nbox; first += kCells) {
        const int32_t last = std::min(nbox, first + kCells - 1);
        pipeline.submit([&, first, last] { screen_range(store, pctmiss, first, last, keep); }, [] {});
    }
    pipeline.finish();
    return keep;
}

}  // namespace extract
