#include <gtest/gtest.h>

#include "extract/box.h"
#include "extract/grid_axes.h"

namespace extract {
namespace {

TEST(GridAxes, MidPointsAreExact) {
    const GridAxes axes;
    EXPECT_EQ(axes.xlon(1), -178.75f);
    EXPECT_EQ(axes.xlon(33), -98.75f);
    EXPECT_EQ(axes.xlon(77), 11.25f);
    EXPECT_EQ(axes.xlon(144), 178.75f);
    EXPECT_EQ(axes.ylat(1), -58.75f);
    EXPECT_EQ(axes.ylat(37), 31.25f);
    EXPECT_EQ(axes.ylat(55), 76.25f);
}

TEST(FindBox, RangesEndAtTheFirstMidPointReachingTheBound) {
    struct Row {
        const char* name;
        float latmin, latmax, lonmin, lonmax;
        int32_t ilon1, ilon2, jlat1, jlat2;
    };
    const Row rows[] = {
        {"east bound between mid-points reaches one cell further", 30.0f, 40.0f, -100.0f, -90.0f, 33, 37, 37, 41},
        {"equal bounds off a mid-point give one column", -58.75f, -58.75f, 10.0f, 10.0f, 77, 77, 1, 1},
        {"bounds on mid-points take exactly those cells", 31.25f, 41.25f, -101.25f, -91.25f, 32, 36, 37, 41},
        {"whole grid", -58.75f, 76.25f, -178.75f, 178.75f, 1, 144, 1, 55},
        {"north-east corner cell alone", 76.25f, 76.25f, 178.75f, 178.75f, 144, 144, 55, 55},
        {"south-west corner cell alone", -58.75f, -58.75f, -178.75f, -178.75f, 1, 1, 1, 1},
        {"bounds just above a mid-point step to the next", 31.26f, 31.26f, -98.74f, -98.74f, 34, 34, 38, 38},
        {"zero bounds", 0.0f, 0.0f, 0.0f, 0.0f, 73, 73, 25, 25},
        {"bounds beyond the last mid-points stop at the edge", 80.0f, 80.0f, 179.0f, 179.0f, 144, 144, 55, 55},
    };
    const GridAxes axes;
    for (const Row& row : rows) {
        const Box box = findbox(axes, row.latmin, row.latmax, row.lonmin, row.lonmax);
        EXPECT_EQ(box.ilon1, row.ilon1) << row.name;
        EXPECT_EQ(box.ilon2, row.ilon2) << row.name;
        EXPECT_EQ(box.jlat1, row.jlat1) << row.name;
        EXPECT_EQ(box.jlat2, row.jlat2) << row.name;
    }
}

TEST(Box, CellsRunColumnByColumnSouthToNorth) {
    const Box box{33, 37, 37, 39};  // 5 columns, 3 rows
    ASSERT_EQ(box.nbox(), 15);
    struct Row { int32_t n, i, j; };
    const Row rows[] = {{1, 33, 37}, {2, 33, 38}, {3, 33, 39}, {4, 34, 37}, {15, 37, 39}};
    for (const Row& row : rows) {
        EXPECT_EQ(box.column(row.n), row.i) << row.n;
        EXPECT_EQ(box.row(row.n), row.j) << row.n;
        EXPECT_EQ(box.cell(row.i, row.j), row.n) << row.n;
    }
    EXPECT_EQ((Box{1, 144, 1, 55}).nbox(), 7920);
}

}  // namespace
}  // namespace extract
