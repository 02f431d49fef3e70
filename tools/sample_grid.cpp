#include "tools/sample_grid.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tools {
namespace {

// Streams of their own, so that tuning one feature leaves the others alone.
constexpr uint64_t kMaskStream = 0x6d61736b00000001ULL;
constexpr uint64_t kRecordStream = 0x7265636f00000002ULL;
constexpr uint64_t kClimateStream = 0x636c696d00000003ULL;
constexpr uint64_t kDefectStream = 0x6465666500000004ULL;

constexpr int32_t kFirstYear = 1850;

// Persistence and spread: the anomaly follows an AR(1) with phi = 0.9 whose
// innovations are mostly a smooth field shared by neighbours.
constexpr double kPhi = 0.9;
constexpr double kShared = 0.8;
constexpr double kLocal = 0.3;
constexpr double kStateLimit = 8.5;
constexpr double kValueLimit = 9.5;  // so that only injected outliers reach 10
constexpr int32_t kSpinUp = 36;

constexpr double kGapRun = 0.0015;     // a missing run starts
constexpr double kGapSingle = 0.004;   // one missing month
constexpr double kOutlier = 0.0003;    // a gross outlier
constexpr double kShiftedCells = 0.05;

constexpr int32_t kIslands = 5;

// Values at knots every sx columns and sy rows, bilinear in between; the
// longitude wraps so the field has no seam at the dateline.
class SmoothField {
public:
    SmoothField(int32_t sx, int32_t sy)
        : sx_(sx), sy_(sy), nx_(kColumns / sx), ny_((kRows - 1) / sy + 2), knots_(static_cast<size_t>(nx_ * ny_)) {}

    void draw(Random& rng) {
        for (double& k : knots_) k = rng.normal();
    }

    double at(int32_t i, int32_t j) const {
        const int32_t x0 = (i - 1) / sx_, y0 = (j - 1) / sy_;
        const double fx = static_cast<double>((i - 1) - x0 * sx_) / sx_;
        const double fy = static_cast<double>((j - 1) - y0 * sy_) / sy_;
        const int32_t x1 = (x0 + 1) % nx_, y1 = y0 + 1;
        const double south = knot(x0, y0) * (1.0 - fx) + knot(x1, y0) * fx;
        const double north = knot(x0, y1) * (1.0 - fx) + knot(x1, y1) * fx;
        return south * (1.0 - fy) + north * fy;
    }

private:
    double knot(int32_t x, int32_t y) const { return knots_[static_cast<size_t>(y * nx_ + x)]; }
    int32_t sx_, sy_, nx_, ny_;
    std::vector<double> knots_;
};

struct Ellipse {
    double lon, lat, rlon, rlat;
};

// Rough continents, so that boxes named in the README and the benchmarks
// land on land whatever the seed; the seed moves the coasts.
constexpr Ellipse kContinents[] = {
    {-98.0, 50.0, 34.0, 20.0}, {-120.0, 63.0, 28.0, 10.0}, {-84.0, 33.0, 16.0, 10.0},  {-100.0, 20.0, 11.0, 9.0},
    {-42.0, 72.0, 14.0, 6.0},   {-60.0, -8.0, 22.0, 16.0},  {-64.0, -30.0, 12.0, 17.0}, {-70.0, -47.0, 6.0, 9.0},
    {18.0, 52.0, 24.0, 11.0},   {85.0, 60.0, 65.0, 13.0},   {95.0, 40.0, 34.0, 14.0},   {62.0, 45.0, 22.0, 10.0},
    {48.0, 28.0, 16.0, 10.0},   {78.0, 20.0, 9.0, 10.0},    {103.0, 15.0, 9.0, 9.0},    {18.0, 10.0, 30.0, 17.0},
    {25.0, -12.0, 16.0, 22.0},  {134.0, -25.0, 19.0, 11.0},
};

double xlon(int32_t i) { return -178.75 + 2.5 * (i - 1); }
double ylat(int32_t j) { return -58.75 + 2.5 * (j - 1); }

}  // namespace

SampleGrid::SampleGrid(uint64_t seed)
    : seed_(seed),
      cells_(static_cast<size_t>(kColumns * kRows)),
      month_(cells_.size(), kMissing),
      climate_(seed ^ kClimateStream),
      defects_(seed ^ kDefectStream) {
    Random mask(seed ^ kMaskStream);
    build_mask(mask);
    place_islands(mask);
    Random records(seed ^ kRecordStream);
    assign_records(records);
    restart();
}

void SampleGrid::build_mask(Random& rng) {
    SmoothField coast(3, 3);
    coast.draw(rng);
    for (int32_t j = 1; j <= kRows; ++j) {
        for (int32_t i = 1; i <= kColumns; ++i) {
            double nearest = 1e30;
            for (const Ellipse& e : kContinents) {
                double dx = std::fabs(xlon(i) - e.lon);
                dx = std::min(dx, 360.0 - dx);
                const double dy = ylat(j) - e.lat;
                nearest = std::min(nearest, (dx * dx) / (e.rlon * e.rlon) + (dy * dy) / (e.rlat * e.rlat));
            }
            cells_[index(i, j)].land = nearest < 1.0 + 0.3 * coast.at(i, j);
        }
    }
    // A speck of land with no land cell around it would stop a
    // neighbourhood analysis; only the deliberate islands may be alone.
    std::vector<size_t> specks;
    for (int32_t j = 1; j <= kRows; ++j) {
        for (int32_t i = 1; i <= kColumns; ++i) {
            if (!land(i, j)) continue;
            bool alone = true;
            for (int32_t dj = -1; dj <= 1 && alone; ++dj)
                for (int32_t di = -1; di <= 1 && alone; ++di) {
                    const int32_t ni = i + di, nj = j + dj;
                    if ((di || dj) && ni >= 1 && ni <= kColumns && nj >= 1 && nj <= kRows && land(ni, nj))
                        alone = false;
                }
            if (alone) specks.push_back(index(i, j));
        }
    }
    for (size_t k : specks) cells_[k].land = false;
}

void SampleGrid::place_islands(Random& rng) {
    int32_t placed = 0;
    for (int32_t attempt = 0; attempt < 10000 && placed < kIslands; ++attempt) {
        // Rows 2..8 (56.25S to 41.25S), clear of the grid's edges.
        const int32_t i = rng.between(3, kColumns - 2), j = rng.between(2, 8);
        bool clear = true;
        for (int32_t dj = -2; dj <= 2 && clear; ++dj)
            for (int32_t di = -2; di <= 2 && clear; ++di) {
                const int32_t nj = j + dj;
                if (nj >= 1 && nj <= kRows && land(i + di, nj)) clear = false;
            }
        if (!clear) continue;
        Cell& c = cells_[index(i, j)];
        c.land = true;
        c.island = true;
        ++placed;
    }
}

void SampleGrid::assign_records(Random& rng) {
    // Record starts by regions of 30 by 20 degrees.
    constexpr int32_t kBlockCols = 12, kBlockRows = 8;
    const int32_t nbx = kColumns / kBlockCols, nby = (kRows + kBlockRows - 1) / kBlockRows;
    std::vector<int32_t> start(static_cast<size_t>(nbx * nby));
    for (int32_t& s : start) s = rng.uniform() < 0.35 ? kFirstYear : 1855 + 5 * rng.between(0, 19);
    for (int32_t j = 1; j <= kRows; ++j) {
        for (int32_t i = 1; i <= kColumns; ++i) {
            Cell& c = cells_[index(i, j)];
            const int32_t s = start[static_cast<size_t>(((j - 1) / kBlockRows) * nbx + (i - 1) / kBlockCols)];
            // Draws for every cell, land or not, so the coasts do not move the rest.
            const bool shifted = rng.uniform() < kShiftedCells;
            const int32_t year = rng.between(1880, 1940);
            const double size = 1.0 + 2.0 * rng.uniform();
            const bool down = rng.uniform() < 0.5;
            if (!c.land) continue;
            c.start = s;
            if (shifted && year > s) {
                c.shift_year = year;
                c.shift = static_cast<float>(down ? -size : size);
            }
        }
    }
}

void SampleGrid::restart() {
    climate_ = Random(seed_ ^ kClimateStream);
    defects_ = Random(seed_ ^ kDefectStream);
    for (Cell& c : cells_) {
        c.state = 0.0f;
        c.gap_left = 0;
    }
    std::fill(month_.begin(), month_.end(), kMissing);
    current_ = 0;
    SmoothField shared(6, 5);
    for (int32_t k = 0; k < kSpinUp; ++k) {
        shared.draw(climate_);
        for (int32_t j = 1; j <= kRows; ++j)
            for (int32_t i = 1; i <= kColumns; ++i) {
                Cell& c = cells_[index(i, j)];
                if (!c.land) continue;
                double s = kPhi * c.state + kShared * shared.at(i, j) + kLocal * climate_.normal();
                c.state = static_cast<float>(std::clamp(s, -kStateLimit, kStateLimit));
            }
    }
}

void SampleGrid::advance() {
    ++current_;
    const int32_t year = kFirstYear + (current_ - 1) / 12;
    SmoothField shared(6, 5);
    shared.draw(climate_);
    for (int32_t j = 1; j <= kRows; ++j) {
        for (int32_t i = 1; i <= kColumns; ++i) {
            const size_t k = index(i, j);
            Cell& c = cells_[k];
            if (!c.land) continue;
            const double s = kPhi * c.state + kShared * shared.at(i, j) + kLocal * climate_.normal();
            c.state = static_cast<float>(std::clamp(s, -kStateLimit, kStateLimit));

            month_[k] = kMissing;
            if (year < c.start) continue;
            if (c.gap_left > 0) {
                --c.gap_left;
                continue;
            }
            const double u = defects_.uniform();
            if (u < kGapRun) {
                c.gap_left = defects_.between(1, 23);
                continue;
            }
            if (u < kGapRun + kGapSingle) continue;
            double v;
            if (u < kGapRun + kGapSingle + kOutlier) {
                const bool exact = defects_.uniform() < 0.4;
                const double magnitude = exact ? 10.0 : 10.0 + 15.0 * defects_.uniform();
                v = defects_.uniform() < 0.5 ? -magnitude : magnitude;
            } else {
                v = c.state + (year < c.shift_year ? c.shift : 0.0f);
                v = std::clamp(v, -kValueLimit, kValueLimit);
            }
            // Two decimals, as the file holds them; never a negative zero.
            const long long hundredths = std::llround(v * 100.0);
            month_[k] = hundredths == 0 ? 0.0f : static_cast<float>(hundredths) / 100.0f;
        }
    }
}

float SampleGrid::value(int32_t i, int32_t j, int32_t m) {
    if (i < 1 || i > kColumns || j < 1 || j > kRows || m < 1 || m > kMonths)
        throw std::out_of_range("sample grid cell or month out of range");
    if (m < current_) restart();
    while (current_ < m) advance();
    return month_[index(i, j)];
}

void write_sample_grid(const std::string& path, uint64_t seed, int32_t nmonths) {
    SampleGrid grid(seed);
    write_grid_file(path, nmonths, [&grid](int32_t i, int32_t j, int32_t m) { return grid.value(i, j, m); });
}

}  // namespace tools
