#pragma once
// The three series a run's copies give of a cell: what the grid holds, the
// gap filling's estimate, and the filled series (the observed value where
// there is one, else the estimate). Every copy takes them from here.
#include <cstdint>

#include "runfiles/run_data.h"

namespace formats {

enum class Series { observed, estimate, filled };

inline float value_of(const runfiles::RunData& data, Series which, int32_t c, int32_t k) {
    const float observed = data.series(c)[k];
    switch (which) {
        case Series::observed: return observed;
        case Series::estimate: return data.estimate(c)[k];
        case Series::filled: return observed != runfiles::kMissing ? observed : data.estimate(c)[k];
    }
    return runfiles::kMissing;
}

}  // namespace formats
