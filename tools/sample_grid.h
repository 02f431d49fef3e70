#pragma once
// A synthetic global PDSI data set, deterministic from a seed: continents on
// an ocean of missing cells, persistent series that move with their
// neighbours, regional record starts, gaps, gross outliers, old level shifts
// and a few isolated islands (all south of 40S, far from any other land).
#include <cstdint>
#include <string>
#include <vector>

#include "tools/grid_writer.h"
#include "tools/random.h"

namespace tools {

inline constexpr float kMissing = -99.9f;
// The seed of the sample data set: makegrid's default and `pdsi sample`'s.
inline constexpr uint64_t kSampleSeed = 1;

class SampleGrid {
public:
    explicit SampleGrid(uint64_t seed);

    // Cells are named by column i (1..144) and row j (1..55).
    bool land(int32_t i, int32_t j) const { return cell(i, j).land; }
    bool island(int32_t i, int32_t j) const { return cell(i, j).island; }
    // First year with data (0 for ocean): every month before it is missing.
    int32_t start_year(int32_t i, int32_t j) const { return cell(i, j).start; }
    // Values of the years before shift_year carry `shift` on top (0: none).
    int32_t shift_year(int32_t i, int32_t j) const { return cell(i, j).shift_year; }
    float shift(int32_t i, int32_t j) const { return cell(i, j).shift; }

    // Value in data-set month m (1 = January 1850). Months are made in
    // order; asking for an earlier month than the last restarts from the seed.
    float value(int32_t i, int32_t j, int32_t m);

private:
    struct Cell {
        bool land = false;
        bool island = false;
        int32_t start = 0;
        int32_t shift_year = 0;
        float shift = 0.0f;
        float state = 0.0f;    // the persistent anomaly
        int32_t gap_left = 0;  // months left of a missing run
    };

    const Cell& cell(int32_t i, int32_t j) const { return cells_[index(i, j)]; }
    static size_t index(int32_t i, int32_t j) { return static_cast<size_t>(j - 1) * kColumns + (i - 1); }

    void build_mask(Random& rng);
    void place_islands(Random& rng);
    void assign_records(Random& rng);
    void restart();
    void advance();

    uint64_t seed_;
    std::vector<Cell> cells_;
    std::vector<float> month_;  // values of month `current_`
    int32_t current_ = 0;
    Random climate_;
    Random defects_;
};

// Writes `nmonths` month blocks (all 1932 for the full data set) of the
// sample grid for `seed` to `path`.
void write_sample_grid(const std::string& path, uint64_t seed, int32_t nmonths);

}  // namespace tools
