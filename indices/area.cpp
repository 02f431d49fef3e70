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

// The kept cells and one series of each, nmon values apiece.
struct Cells {
    std::vector<float> lats, lons;
    std::vector<const float*> series;
};

// A value as the extraction's text holds it: the hundredths its F6.2 field
// shows (rounded as the editor rounds) and the float the reader makes of
// them. Stored values come back unchanged.
struct Stored {
    uint32_t hundredths;
    bool negative;
    bool fits;  // six columns hold it
};

inline Stored stored(float v) {
    const double x = std::fabs(static_cast<double>(v)) * 100.0;
    if (!(x < 1e7)) return {0, false, false};  // also NaN and INF
    auto n = static_cast<uint32_t>(x);
    n += x - static_cast<double>(n) >= 0.5 ? 1 : 0;  // ties away from zero
    const bool negative = v < 0.0f;
    return {n, negative, n <= (negative ? 9999u : 99999u)};
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
// the cells in file order whatever the thread count.
bool accumulate(const Cells& cells, const std::vector<double>& weights, int32_t k0, int32_t k1, Sums* sums) {
    const ClassTable& classes = class_table();
    for (size_t c = 0; c < cells.series.size(); ++c) {
        const double w = weights[c];
        const float* s = cells.series[c];
        for (int32_t k = k0; k < k1; ++k) {
            if (s[k] == runfiles::kMissing) continue;  // most of the grid is sea
            const Stored v = stored(s[k]);
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

AreaSeries compute(const Cells& cells, int32_t iyr1, int32_t iyr2, bool filled, int32_t threads) {
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
        sound[static_cast<size_t>(p)] = accumulate(cells, weights, k0, k1, sums.data()) ? 1 : 0;
    };
    {
        std::vector<std::jthread> helpers;
        for (int32_t p = 1; p < parts; ++p) helpers.emplace_back(part, p);
        part(0);
    }
    if (std::find(sound.begin(), sound.end(), 0) != sound.end())
        throw NotStorable("a value of the box has no two-decimal text of six columns");

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
    std::vector<float> filled;
    if (run.filled()) {
        filled.resize(run.values.size());
        for (int32_t c = 0; c < run.ncells(); ++c)
            for (int32_t k = 0; k < run.nmon(); ++k)
                filled[static_cast<size_t>(c) * run.nmon() + k] = formats::value_of(run, formats::Series::filled, c, k);
    }
    for (int32_t c = 0; c < run.ncells(); ++c) {
        cells.lats.push_back(run.cells[c].lat);
        cells.lons.push_back(run.cells[c].lon);
        cells.series.push_back(run.filled() ? filled.data() + static_cast<size_t>(c) * run.nmon() : run.series(c));
    }
    const Span years = run.cells.empty() && span ? *span : Span{run.iyr1, run.iyr2};
    return compute(cells, years.first, years.second, run.filled(), threads);
}

AreaSeries area_of_view(const extract::GridView& view, const std::vector<int32_t>& keep, int32_t iyr1,
                        int32_t threads) {
    const extract::GridAxes axes;
    const extract::Box& box = view.box();
    Cells cells;
    for (int32_t n = 1; n <= box.nbox(); ++n) {
        if (keep[static_cast<size_t>(n - 1)] == 0) continue;
        cells.lats.push_back(axes.ylat(box.row(n)));
        cells.lons.push_back(axes.xlon(box.column(n)));
        cells.series.push_back(view.series(n));
    }
    return compute(cells, iyr1, iyr1 + view.nmon() / 12 - 1, false, threads);
}

runfiles::RunData run_of_view(const extract::GridView& view, const std::vector<int32_t>& keep, int32_t iyr1) {
    const extract::GridAxes axes;
    const extract::Box& box = view.box();
    runfiles::RunData run;
    run.iyr1 = iyr1;
    run.iyr2 = iyr1 + view.nmon() / 12 - 1;
    run.values.reserve(static_cast<size_t>(std::count_if(keep.begin(), keep.end(), [](int32_t k) { return k != 0; })) *
                       static_cast<size_t>(view.nmon()));
    for (int32_t n = 1; n <= box.nbox(); ++n) {
        if (keep[static_cast<size_t>(n - 1)] == 0) continue;
        run.cells.push_back({axes.ylat(box.row(n)), axes.xlon(box.column(n)), ""});
        const float* series = view.series(n);
        for (int32_t k = 0; k < view.nmon(); ++k) {
            const Stored v = stored(series[k]);
            if (!v.fits) throw NotStorable("a value of the box has no two-decimal text of six columns");
            run.values.push_back(value_of(v));
        }
    }
    return run;
}

}  // namespace indices
