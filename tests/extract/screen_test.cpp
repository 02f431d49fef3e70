#include <gtest/gtest.h>

#include <vector>

#include "extract/grid_axes.h"
#include "extract/grid_store.h"
#include "extract/screen.h"

namespace extract {
namespace {

// Five cells of one year: complete, half missing, all missing, odd values
// that are present, one month missing.
GridStore five_cells() {
    GridStore store(Box{1, 5, 1, 1}, 12);
    for (int32_t n = 1; n <= 5; ++n) {
        float* s = store.series(n);
        for (int32_t m = 0; m < 12; ++m) s[m] = 1.5f;
    }
    for (int32_t m = 0; m < 6; ++m) store.series(2)[2 * m] = kMissing;
    for (int32_t m = 0; m < 12; ++m) store.series(3)[m] = kMissing;
    store.series(4)[0] = -99.99f;
    store.series(4)[1] = 0.0f;
    store.series(4)[2] = -999.0f;
    store.series(4)[3] = -99.0f;
    store.series(5)[11] = kMissing;
    return store;
}

TEST(ScreenCells, KeepsCellsStrictlyBelowTheAcceptedFraction) {
    struct Row {
        const char* name;
        float pctmiss;
        std::vector<int32_t> keep;
    };
    const Row rows[] = {
        {"zero removes even complete cells", 0.0f, {0, 0, 0, 0, 0}},
        {"negative removes every cell", -0.5f, {0, 0, 0, 0, 0}},
        {"one month in twelve is not below 0.08", 0.08f, {1, 0, 0, 1, 0}},
        {"exactly half missing is removed at 0.5", 0.5f, {1, 0, 0, 1, 1}},
        {"exactly half missing is kept at 0.51", 0.51f, {1, 1, 0, 1, 1}},
        {"one removes only fully missing cells", 1.0f, {1, 1, 0, 1, 1}},
        {"above one keeps even fully missing cells", 1.01f, {1, 1, 1, 1, 1}},
    };
    const GridStore store = five_cells();
    for (const Row& row : rows) EXPECT_EQ(screencells(store, row.pctmiss), row.keep) << row.name;
}

TEST(ScreenCells, CountsOnlyTheSpanOfTheStore) {
    // A box larger than 1932 cells is screened whole.
    GridStore store(Box{1, 144, 1, 20}, 12);
    for (int32_t m = 0; m < 12; ++m) store.series(2880)[m] = kMissing;
    const std::vector<int32_t> keep = screencells(store, 0.5f);
    ASSERT_EQ(keep.size(), 2880u);
    EXPECT_EQ(keep[0], 1);
    EXPECT_EQ(keep[2879], 0);
}

}  // namespace
}  // namespace extract
