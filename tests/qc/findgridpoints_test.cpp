// The Queens Case search and its index: the listed cells, their order and
// the bounds of the list.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "qc/findgridpoints.h"
#include "qc/neighbour_index.h"

namespace {

struct Cell {
    float lat, lon;
};

// A coordinate table of ldim = n rows: latitudes, then longitudes.
std::vector<float> table(const std::vector<Cell>& cells) {
    std::vector<float> coord;
    for (const Cell& c : cells) coord.push_back(c.lat);
    for (const Cell& c : cells) coord.push_back(c.lon);
    return coord;
}

// A box numbered longitude-major, south to north within a column.
std::vector<Cell> box(float lat0, float lon0, int columns, int rows) {
    std::vector<Cell> cells;
    for (int i = 0; i < columns; ++i)
        for (int j = 0; j < rows; ++j) cells.push_back({lat0 + 2.5f * j, lon0 + 2.5f * i});
    return cells;
}

std::vector<int32_t> search(const std::vector<Cell>& cells, int32_t ic, float dist,
                            std::vector<int32_t> iyrs = {}, int32_t nlist = 20) {
    const std::vector<float> coord = table(cells);
    const int32_t n = static_cast<int32_t>(cells.size());
    if (iyrs.empty()) iyrs.assign(cells.size() + 1, 1901);
    std::vector<int32_t> gpt(nlist + 1, -7);  // one guard entry beyond the list
    int32_t nfound = -1;
    qc::findgridpoints(coord.data(), n, ic, nfound, gpt.data(), iyrs.data(), n, nlist, dist);
    for (int32_t k = nfound; k < nlist; ++k) EXPECT_EQ(gpt[k], 0) << "entry " << k << " not cleared";
    EXPECT_EQ(gpt[nlist], -7) << "wrote beyond nlist";
    gpt.resize(nfound);
    return gpt;
}

TEST(FindGridPoints, Neighbourhoods) {
    const auto b3 = box(-58.75f, -178.75f, 3, 3);
    const auto strip = box(31.25f, -98.75f, 1, 5);
    const std::vector<Cell> lone = {{31.25f, -98.75f}};
    const std::vector<Cell> apart = {{31.25f, -98.75f}, {31.25f, -93.75f}};
    const std::vector<Cell> knight = {{31.25f, -98.75f}, {33.75f, -93.75f}};
    const std::vector<Cell> dateline = {{31.25f, 178.75f}, {31.25f, -178.75f}};
    const std::vector<Cell> twin = {{31.25f, -98.75f}, {31.25f, -98.75f}, {31.25f, -96.25f}};
    struct Row {
        std::string name;
        std::vector<Cell> cells;
        int32_t ic;
        float dist;
        std::vector<int32_t> expected;
    };
    const std::vector<Row> rows = {
        {"3x3 centre", b3, 5, 2.5f, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"3x3 corner", b3, 1, 2.5f, {1, 2, 4, 5}},
        {"3x3 edge", b3, 2, 2.5f, {1, 2, 3, 4, 5, 6}},
        {"3x3 far corner", b3, 9, 2.5f, {5, 6, 8, 9}},
        {"3x3 at 5.0 from corner", b3, 1, 5.0f, {1, 3, 7, 9}},
        {"strip middle", strip, 3, 2.5f, {2, 3, 4}},
        {"strip end", strip, 5, 2.5f, {4, 5}},
        {"lone cell", lone, 1, 2.5f, {1}},
        {"5.0 apart at 2.5", apart, 2, 2.5f, {2}},
        {"5.0 apart at 5.0", apart, 2, 5.0f, {1, 2}},
        {"one north two east never", knight, 1, 5.0f, {1}},
        {"no wrap at the dateline", dateline, 1, 2.5f, {1}},
        {"same mid-point not listed", twin, 1, 2.5f, {1, 3}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(search(row.cells, row.ic, row.dist), row.expected) << row.name;
    }
}

TEST(FindGridPoints, ExclusionsAndBounds) {
    const auto b3 = box(-58.75f, -178.75f, 3, 3);
    std::vector<int32_t> iyrs(10, 1901);
    iyrs[4] = qc::kExcluded;  // cell 5
    EXPECT_EQ(search(b3, 5, 2.5f, iyrs), (std::vector<int32_t>{1, 2, 3, 4, 6, 7, 8, 9})) << "excluded centre";
    EXPECT_EQ(search(b3, 1, 2.5f, iyrs), (std::vector<int32_t>{1, 2, 4})) << "excluded neighbour";

    // No cells: nothing found, the list still cleared.
    std::vector<float> coord(2, 0.0f);
    std::vector<int32_t> gpt(20, 5), none(1, 1901);
    int32_t nfound = -1;
    qc::findgridpoints(coord.data(), 0, 1, nfound, gpt.data(), none.data(), 1, 20, 2.5f);
    EXPECT_EQ(nfound, 0);
    EXPECT_EQ(gpt, std::vector<int32_t>(20, 0));

    // Many cells at one mid-point: the list stops at nlist.
    std::vector<Cell> crowd(30, Cell{31.25f, -96.25f});
    crowd.insert(crowd.begin(), Cell{31.25f, -98.75f});
    const auto bounded = search(crowd, 1, 2.5f, {}, 20);
    ASSERT_EQ(bounded.size(), 20u);
    for (int32_t k = 0; k < 20; ++k) EXPECT_EQ(bounded[k], k + 1);
    EXPECT_EQ(search(crowd, 1, 2.5f, {}, 3), (std::vector<int32_t>{1, 2, 3}));

    // A NaN coordinate equals nothing, but the centre is listed by number.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Cell> odd = {{nan, -98.75f}, {31.25f, -98.75f}, {31.25f, -96.25f}};
    EXPECT_EQ(search(odd, 1, 2.5f), std::vector<int32_t>{1});
    EXPECT_EQ(search(odd, 2, 2.5f), (std::vector<int32_t>{2, 3}));
}

TEST(Blank, FillsTheWholeField) {
    std::string text = "  -58.75 -178.75  Orv";
    qc::blank(text);
    EXPECT_EQ(text, std::string(21, ' '));
    std::string empty;
    qc::blank(empty);
    EXPECT_TRUE(empty.empty());
}

// The index must give what the linear pass gives, entry for entry, also on
// tables with repeated mid-points, NaN, excluded cells and odd steps.
TEST(NeighbourIndex, MatchesTheLinearSearch) {
    std::mt19937 rng(20101231);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float dists[] = {2.5f, 5.0f, 0.0f, -2.5f, 7.5f};
    for (int trial = 0; trial < 60; ++trial) {
        const int32_t ngrid = 1 + static_cast<int32_t>(rng() % 80);
        const int32_t ldim = ngrid + static_cast<int32_t>(rng() % 3);
        std::vector<float> coord(2 * static_cast<size_t>(ldim), 0.0f);
        std::vector<int32_t> iyrs(ngrid, 1901);
        for (int32_t j = 0; j < ngrid; ++j) {
            // A small patch, so that mid-points repeat often.
            coord[j] = -1.25f + 2.5f * static_cast<float>(rng() % 5) - 2.5f;
            coord[ldim + j] = 1.25f + 2.5f * static_cast<float>(rng() % 5) - 5.0f;
            if (rng() % 17 == 0) coord[j] = nan;
            if (rng() % 7 == 0) {
                // Signed zeros are one value under exact equality.
                const float around_zero[] = {-0.0f, 0.0f, 2.5f, -2.5f, 5.0f};
                coord[ldim + j] = around_zero[rng() % 5];
            }
            if (rng() % 11 == 0) iyrs[j] = qc::kExcluded;
        }
        const qc::NeighbourIndex index(coord.data(), ngrid, ldim);
        for (int32_t ic = 1; ic <= ngrid; ++ic) {
            for (float dist : dists) {
                for (int32_t nlist : {20, 4}) {
                    std::vector<int32_t> a(nlist + 1, -2), b(nlist + 1, -2);  // a guard entry each
                    int32_t na = -1, nb = -2;
                    qc::findgridpoints(coord.data(), ngrid, ic, na, a.data(), iyrs.data(), ldim, nlist, dist);
                    index.find(ic, nb, b.data(), iyrs.data(), nlist, dist);
                    ASSERT_EQ(na, nb) << "trial " << trial << " cell " << ic << " dist " << dist;
                    ASSERT_EQ(a, b) << "trial " << trial << " cell " << ic << " dist " << dist;
                }
            }
        }
    }
}

}  // namespace
