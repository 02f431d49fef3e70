// The sample data set: the same bytes from the same seed, and data with the
// features the server has to cope with, read back from a reduced file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/program.h"
#include "textio/layout.h"
#include "textio/record_read.h"
#include "textio/source.h"
#include "tools/sample_grid.h"

namespace {

constexpr uint64_t kSeed = 7;
constexpr int32_t kMonthsShort = 120;  // 1850 to 1859

// values[m][cell], cell = (j - 1) * 144 + (i - 1), as read by the text layer.
std::vector<std::vector<float>> read_grid(const std::string& path, int32_t nmonths) {
    textio::FileSource in(path);
    EXPECT_TRUE(in.ok());
    const textio::Layout row("( 144(f6.2,1x))");
    std::vector<std::vector<float>> values(static_cast<size_t>(nmonths), std::vector<float>(144 * 55));
    EXPECT_TRUE(in.skip());
    std::vector<textio::InTarget> targets;
    targets.reserve(144);
    for (int32_t m = 0; m < nmonths; ++m) {
        EXPECT_TRUE(in.skip());
        for (int32_t j = 0; j < 55; ++j) {
            targets.clear();
            for (int32_t i = 0; i < 144; ++i) targets.emplace_back(values[static_cast<size_t>(m)][static_cast<size_t>(j * 144 + i)]);
            EXPECT_EQ(textio::read(in, row, targets), textio::ReadStatus::ok);
        }
    }
    EXPECT_FALSE(in.next().has_value());
    return values;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    double ma = 0, mb = 0;
    for (size_t k = 0; k < a.size(); ++k) ma += a[k], mb += b[k];
    ma /= static_cast<double>(a.size());
    mb /= static_cast<double>(b.size());
    double sab = 0, saa = 0, sbb = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        sab += (a[k] - ma) * (b[k] - mb);
        saa += (a[k] - ma) * (a[k] - ma);
        sbb += (b[k] - mb) * (b[k] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

TEST(SampleGrid, SameSeedSameBytes) {
    testsupport::TempDir dir;
    tools::write_sample_grid((dir / "a.txt").string(), kSeed, 24);
    tools::write_sample_grid((dir / "b.txt").string(), kSeed, 24);
    tools::write_sample_grid((dir / "c.txt").string(), kSeed + 1, 24);
    const std::string a = testsupport::read_file(dir / "a.txt");
    EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), 1 + 24 * 56);
    EXPECT_EQ(a, testsupport::read_file(dir / "b.txt"));
    EXPECT_NE(a, testsupport::read_file(dir / "c.txt"));
}

TEST(SampleGrid, RestartingGivesTheSameSeries) {
    tools::SampleGrid grid(kSeed);
    const float late = grid.value(100, 45, 40);
    const float early = grid.value(100, 45, 3);  // goes back: restarts from the seed
    tools::SampleGrid fresh(kSeed);
    EXPECT_EQ(fresh.value(100, 45, 3), early);
    EXPECT_EQ(fresh.value(100, 45, 40), late);
}

TEST(SampleGrid, ReducedFileHasTheDataSetsFeatures) {
    testsupport::TempDir dir;
    const std::string path = (dir / "pdsisc1850-2010.txt").string();
    tools::write_sample_grid(path, kSeed, kMonthsShort);
    const auto values = read_grid(path, kMonthsShort);
    tools::SampleGrid grid(kSeed);

    int32_t land = 0, islands = 0, early_land = 0, late_land = 0;
    for (int32_t j = 1; j <= 55; ++j) {
        for (int32_t i = 1; i <= 144; ++i) {
            if (!grid.land(i, j)) continue;
            ++land;
            (grid.start_year(i, j) == 1850 ? early_land : late_land) += 1;
            if (!grid.island(i, j)) continue;
            ++islands;
            for (int32_t dj = -2; dj <= 2; ++dj) {
                for (int32_t di = -2; di <= 2; ++di) {
                    if ((di || dj) && j + dj >= 1 && j + dj <= 55) {
                        EXPECT_FALSE(grid.land(i + di, j + dj)) << "land near island " << i << "," << j;
                    }
                }
            }
        }
    }
    int64_t present = 0, within6 = 0, plus10 = 0, minus10 = 0, wrong_missing = 0, model_mismatch = 0;
    float largest = 0.0f;
    // Months outermost: the model runs forward once.
    for (int32_t m = 1; m <= kMonthsShort; ++m) {
        const int32_t year = 1850 + (m - 1) / 12;
        for (int32_t j = 1; j <= 55; ++j) {
            for (int32_t i = 1; i <= 144; ++i) {
                const float v = values[static_cast<size_t>(m - 1)][static_cast<size_t>((j - 1) * 144 + (i - 1))];
                if (v != grid.value(i, j, m)) ++model_mismatch;
                if (v == tools::kMissing) continue;
                if (!grid.land(i, j) || year < grid.start_year(i, j)) ++wrong_missing;
                ++present;
                within6 += std::fabs(v) <= 6.0f;
                plus10 += v == 10.0f;
                minus10 += v == -10.0f;
                largest = std::max(largest, std::fabs(v));
            }
        }
    }
    EXPECT_EQ(model_mismatch, 0) << "file and model disagree";
    EXPECT_EQ(wrong_missing, 0) << "a value in the ocean or before a record starts";
    EXPECT_GT(land, 7920 * 20 / 100);
    EXPECT_LT(land, 7920 * 45 / 100);
    EXPECT_GE(islands, 3);
    EXPECT_LE(islands, 10);
    EXPECT_GT(early_land, 0) << "some records start in 1850";
    EXPECT_GT(late_land, 0) << "some records start later";
    EXPECT_GT(present, 0);
    EXPECT_GT(static_cast<double>(within6), 0.99 * static_cast<double>(present));
    EXPECT_GE(plus10, 1);
    EXPECT_GE(minus10, 1);
    EXPECT_LE(largest, 25.0f);
}

TEST(SampleGrid, SeriesPersistAndMoveWithTheirNeighbours) {
    tools::SampleGrid grid(kSeed);
    constexpr int32_t kSpan = 240;
    // Complete 1850 cells with a land neighbour to the east.
    std::vector<std::pair<int32_t, int32_t>> cells;
    for (int32_t j = 1; j <= 55 && cells.size() < 40; ++j)
        for (int32_t i = 1; i < 144 && cells.size() < 40; ++i)
            if (grid.land(i, j) && grid.land(i + 1, j) && grid.start_year(i, j) == 1850 &&
                grid.start_year(i + 1, j) == 1850)
                cells.emplace_back(i, j);
    ASSERT_GE(cells.size(), 10u);
    std::vector<std::vector<double>> a(cells.size()), b(cells.size());
    for (int32_t m = 1; m <= kSpan; ++m)
        for (size_t k = 0; k < cells.size(); ++k) {
            const float x = grid.value(cells[k].first, cells[k].second, m);
            const float y = grid.value(cells[k].first + 1, cells[k].second, m);
            if (x == tools::kMissing || y == tools::kMissing || std::fabs(x) >= 10 || std::fabs(y) >= 10) continue;
            a[k].push_back(x);
            b[k].push_back(y);
        }
    double lag1 = 0, neighbour = 0;
    for (size_t k = 0; k < cells.size(); ++k) {
        std::vector<double> now(a[k].begin() + 1, a[k].end()), before(a[k].begin(), a[k].end() - 1);
        lag1 += correlation(now, before);
        neighbour += correlation(a[k], b[k]);
    }
    lag1 /= static_cast<double>(cells.size());
    neighbour /= static_cast<double>(cells.size());
    EXPECT_GT(lag1, 0.7);
    EXPECT_GT(neighbour, 0.4);
}

TEST(SampleGrid, SomeOldDataAreShifted) {
    tools::SampleGrid grid(kSeed);
    int32_t shifted = 0, land = 0;
    for (int32_t j = 1; j <= 55; ++j)
        for (int32_t i = 1; i <= 144; ++i) {
            if (!grid.land(i, j)) {
                EXPECT_EQ(grid.shift_year(i, j), 0);
                continue;
            }
            ++land;
            if (grid.shift_year(i, j) == 0) continue;
            ++shifted;
            EXPECT_GT(grid.shift_year(i, j), grid.start_year(i, j));
            EXPECT_GE(std::fabs(grid.shift(i, j)), 1.0f);
            EXPECT_LE(std::fabs(grid.shift(i, j)), 3.0f);
        }
    EXPECT_GT(shifted, land / 100);
    EXPECT_LT(shifted, land / 10);
}

}  // namespace
