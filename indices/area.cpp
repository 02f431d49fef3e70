#include "indices/area.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <thread>

#include "extract/grid_axes.h"
#include "formats/series.h"

namespace indices {

namespace {

using Span = std::pair<int32_t, int32_t>;

// The kept cells' mid-points, in file order.
struct Cells {
    std::vector<float> lats, lons;
};

// A value as the extraction's text holds it: the hundredths its F6.2 field
// shows (rounded as the editor rounds) and the float the reader makes of
// them. Stored values come back unchanged.
struct Stored {
    uint32_t hundredths;
    bool negative;
    bool fits;  // the width holds it
};

// The widest values a width holds, in hundredths: negative, positive.
struct Width {
    uint32_t negative, positive;
};
constexpr Width kSixColumns{9999, 99999};     // the extraction's F6.2
constexpr Width kAnyText{999999, 999999};    // a value read back: its file held it

inline Stored stored(float v, Width width) {
    const double x = std::fabs(static_cast<double>(v)) * 100.0;
    if (!(x < 1e7)) return {0, false, false};  // also NaN and INF
    auto n = static_cast<uint32_t>(x);
    n += x - static_cast<double>(n) >= 0.5 ? 1 : 0;  // ties away from zero
    const bool negative = v < 0.0f;
    return {n, negative, n <= (negative ? width.negative : width.positive)};
}

inline float value_of(const Stored& s) {
    const auto v = static_cast<float>(static_cast<double>(s.hundredths) * 1e-2);
    return std::bit_cast<float>(std::bit_cast<uint32_t>(v) ^ (s.negative ? 1u << 31 : 0u));
}

constexpr uint32_t kMissingHundredths = 9990;  // -99.90
constexpr int32_t kTableEnd = 500;             // beyond +-5.00 every class is an end one

// The class of every stored value from -5.00 to 5.00, by pdsi_class; the
// classes only grow with the value, so the ends stand for what lies beyond.
struct ClassTable {
    std::array<uint8_t, 2 * kTableEnd + 1> of{};
    ClassTable() {
        for (int32_t n = -kTableEnd; n <= kTableEnd; ++n)
            of[n + kTableEnd] = static_cast<uint8_t>(
                maps::pdsi_class(value_of({static_cast<uint32_t>(std::abs(n)), n < 0, true})));
    }
    int32_t operator()(const Stored& s) const {
        const int32_t n = static_cast<int32_t>(std::min<uint32_t>(s.hundredths, kTableEnd));
        return of[(s.negative ? -n : n) + kTableEnd];
    }
};

const ClassTable& class_table() {
    static const ClassTable table;
    return table;
}

struct Sums {
    int32_t cells = 0;
    double w = 0.0, wx = 0.0;
    std::array<double, maps::kClasses> w_class{};
};

// Months [k0, k1) of every cell, cell after cell: each month's sums take
// the cells in file order whatever the thread count. value(c, k) is month
// k of cell c.
template <typename Value>
bool accumulate(const Value& value, Width width, const std::vector<double>& weights, int32_t k0, int32_t k1,
                Sums* sums) {
    const ClassTable& classes = class_table();
    for (size_t c = 0; c < weights.size(); ++c) {
        const double w = weights[c];
        for (int32_t k = k0; k < k1; ++k) {
            const float x = value(c, k);
            if (x == runfiles::kMissing) continue;  // most of the grid is sea
            const Stored v = stored(x, width);
            if (!v.fits) return false;
            if (v.negative && v.hundredths == kMissingHundredths) continue;
            Sums& m = sums[k];
            ++m.cells;
            m.w += w;
            m.wx += w * static_cast<double>(value_of(v));
            m.w_class[static_cast<size_t>(classes(v))] += w;
        }
    }
    return true;
}

template <typename Value>
AreaSeries compute(const Cells& cells, const Value& value, Width width, int32_t iyr1, int32_t iyr2, bool filled,
                   int32_t threads) {
    AreaSeries out;
    out.iyr1 = iyr1;
    out.iyr2 = iyr2;
    out.filled = filled;
    const int32_t nmon = 12 * (iyr2 - iyr1 + 1);
    if (!cells.lats.empty()) {
        const auto [south, north] = std::minmax_element(cells.lats.begin(), cells.lats.end());
        const auto [west, east] = std::minmax_element(cells.lons.begin(), cells.lons.end());
        out.box = std::array<float, 4>{*south, *north, *west, *east};
    }
    // A 2.5-degree cell's area is proportional to the cosine of its
    // mid-point's latitude.
    std::vector<double> weights(cells.lats.size());
    for (size_t c = 0; c < weights.size(); ++c)
        weights[c] = std::cos(static_cast<double>(cells.lats[c]) * (std::numbers::pi / 180.0));

    std::vector<Sums> sums(static_cast<size_t>(std::max(nmon, 0)));
    const int32_t parts = std::clamp(threads, 1, std::max(nmon / 120, 1));
    std::vector<char> sound(static_cast<size_t>(parts), 1);
    const auto part = [&](int32_t p) {
        const int32_t k0 = nmon * p / parts, k1 = nmon * (p + 1) / parts;
        sound[static_cast<size_t>(p)] = accumulate(value, width, weights, k0, k1, sums.data()) ? 1 : 0;
    };
    {
        std::vector<std::jthread> helpers;
        for (int32_t p = 1; p < parts; ++p) helpers.emplace_back(part, p);
        part(0);
    }
    if (std::find(sound.begin(), sound.end(), 0) != sound.end())
        throw NotStorable("a value of the box has no two-decimal text of its width");

    out.months.resize(sums.size());
    for (size_t k = 0; k < sums.size(); ++k) {
        const Sums& s = sums[k];
        AreaMonth& m = out.months[k];
        m.cells = s.cells;
        if (s.cells == 0) continue;
        m.mean = s.wx / s.w;
        for (size_t c = 0; c < m.share.size(); ++c) m.share[c] = 100.0 * s.w_class[c] / s.w;
    }
    return out;
}

}  // namespace

AreaSeries area_of_run(const runfiles::RunData& run, std::optional<Span> span, int32_t threads) {
    Cells cells;
    for (const runfiles::Cell& cell : run.cells) {
        cells.lats.push_back(cell.lat);
        cells.lons.push_back(cell.lon);
    }
    const Span years = run.cells.empty() && span ? *span : Span{run.iyr1, run.iyr2};
    const formats::Series which = run.filled() ? formats::Series::filled : formats::Series::observed;
    const auto value = [&run, which](size_t c, int32_t k) {
        return formats::value_of(run, which, static_cast<int32_t>(c), k);
    };
    return compute(cells, value, kAnyText, years.first, years.second, run.filled(), threads);
}

AreaSeries area_of_view(const extract::GridView& view, const std::vector<int32_t>& keep, int32_t iyr1,
                        int32_t threads) {
    const extract::GridAxes axes;
    const extract::Box& box = view.box();
    Cells cells;
    std::vector<const float*> series;
    for (int32_t n = 1; n <= box.nbox(); ++n) {
        if (keep[static_cast<size_t>(n - 1)] == 0) continue;
        cells.lats.push_back(axes.ylat(box.row(n)));
        cells.lons.push_back(axes.xlon(box.column(n)));
        series.push_back(view.series(n));
    }
    const auto value = [&series](size_t c, int32_t k) { return series[c][k]; };
    return compute(cells, value, kSixColumns, iyr1, iyr1 + view.nmon() / 12 - 1, false, threads);
}

}  // namespace indices
