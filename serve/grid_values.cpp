#include "serve/grid_values.h"

#include <algorithm>

#include "cli/extract_checks.h"
#include "extract/grid_axes.h"

namespace serve {

namespace {

struct Stopped {};

// Stops a read of a damaged grid at the request's deadline or the
// server's stop.
class Deadline : public textio::Progress {
public:
    explicit Deadline(const Budget& budget) : budget_(budget) {}
    void advance(int32_t, int32_t) override {
        if (budget_.over()) throw Stopped{};
    }

private:
    const Budget& budget_;
};

}  // namespace

void GridValues::read(const dap::Slab& s, float* out) const {
    if (!held_ || !held_->covers(s)) held_.emplace(load(s));
    const Held& held = *held_;
    const extract::Box& box = held.box;
    const int32_t first = s.start[0] - 12 * (held.iyr1 - extract::kFirstYear);  // month of the view
    const int32_t nt = s.count(0), nj = s.count(1), ni = s.count(2);
    const size_t plane = static_cast<size_t>(nj) * static_cast<size_t>(ni);
    // A few months of every cell at a time: each series is read along
    // its run and each map written along its rows.
    constexpr int32_t kMonths = 16;
    for (int32_t t0 = 0; t0 < nt; t0 += kMonths) {
        const int32_t t1 = std::min(nt, t0 + kMonths);
        for (int32_t b = 0; b < nj; ++b) {
            const int32_t j = s.start[1] + 1 + b * s.stride[1];
            for (int32_t a = 0; a < ni; ++a) {
                const float* series = held.data.view.series(box.cell(s.start[2] + 1 + a * s.stride[2], j)) + first;
                float* to = out + static_cast<size_t>(b) * static_cast<size_t>(ni) + static_cast<size_t>(a);
                for (int32_t t = t0; t < t1; ++t)
                    to[static_cast<size_t>(t) * plane] = series[static_cast<size_t>(t) * s.stride[0]];
            }
        }
    }
}

bool GridValues::Held::covers(const dap::Slab& s) const {
    return extract::kFirstYear + s.start[0] / 12 >= iyr1 && extract::kFirstYear + s.stop[0] / 12 <= iyr2 &&
           s.start[2] + 1 >= box.ilon1 && s.stop[2] + 1 <= box.ilon2 && s.start[1] + 1 >= box.jlat1 &&
           s.stop[1] + 1 <= box.jlat2;
}

GridValues::Held GridValues::load(const dap::Slab& s) const {
    const int32_t iyr1 = extract::kFirstYear + s.start[0] / 12;
    const int32_t iyr2 = extract::kFirstYear + s.stop[0] / 12;
    const extract::Box box{s.start[2] + 1, s.stop[2] + 1, s.start[1] + 1, s.stop[1] + 1};
    Deadline deadline(budget_);
    try {
        return Held{iyr1, iyr2, box, grid_.read(iyr1, iyr2, box, budget_.threads, &deadline)};
    } catch (const extract::GridReadFailure& failure) {
        throw dap::Failure{422, cli::grid_read_message(grid_.name(), failure)};
    } catch (const extract::GridEnded& ended) {
        throw dap::Failure{422, cli::grid_ended_message(grid_.name(), ended.nrec, iyr2)};
    } catch (const Stopped&) {
        if (budget_.cancelled && budget_.cancelled->load())
            throw dap::Failure{503, "the server is stopping; try again"};
        throw dap::Failure{504, "the request took longer than " + std::to_string(budget_.timeout_seconds) +
                                    " s and was stopped"};
    }
}

}  // namespace serve
