#pragma once
// The completeness screen: which cells of the box have few enough missing
// months to be kept.
#include <cstdint>
#include <vector>

#include "extract/grid_store.h"

namespace extract {

// keep[n - 1] is 1 when cell n's missing fraction of the span is strictly
// below pctmiss, 0 otherwise. Only -99.9 exactly counts as missing.
std::vector<int32_t> screencells(const GridView& store, float pctmiss, int32_t threads = 1);

}  // namespace extract
