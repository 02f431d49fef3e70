#include "qc/neighbour_index.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "qc/findgridpoints.h"

namespace qc {

namespace {

// Bits of a value under exact equality: -0 and +0 are one value.
uint32_t bits(float v) { return v == 0.0f ? 0u : std::bit_cast<uint32_t>(v); }

}  // namespace

uint64_t NeighbourIndex::key(float lat, float lon) {
    return (static_cast<uint64_t>(bits(lat)) << 32) | bits(lon);
}

NeighbourIndex::NeighbourIndex(const float* coord, int32_t ngrid, int32_t ldim)
    : lat_(coord), lon_(coord + std::max(ldim, 0)) {
    for (int32_t j = 1; j <= ngrid; ++j) {
        const float y = lat_[j - 1];
        const float x = lon_[j - 1];
        if (std::isnan(y) || std::isnan(x)) continue;
        at_[key(y, x)].push_back(j);
    }
}

const std::vector<int32_t>* NeighbourIndex::cells_at(float lat, float lon) const {
    if (std::isnan(lat) || std::isnan(lon)) return nullptr;
    auto it = at_.find(key(lat, lon));
    return it == at_.end() ? nullptr : &it->second;
}

void NeighbourIndex::find(int32_t ic, int32_t& nfound, int32_t* gpt, const int32_t* iyrs,
                          int32_t nlist, float dist) const {
    const float c1 = lat_[ic - 1];
    const float c2 = lon_[ic - 1];
    nfound = 0;
    for (int32_t k = 0; k < nlist; ++k) gpt[k] = 0;

    const float south = c1 - dist;
    const float north = c1 + dist;
    const float west = c2 - dist;
    const float east = c2 + dist;
    const float ys[8] = {c1, c1, north, south, north, north, south, south};
    const float xs[8] = {west, east, c2, c2, west, east, west, east};

    // Every cell that can pass a test, plus the centre, in ascending order.
    candidates_.clear();
    candidates_.push_back(ic);
    for (int32_t t = 0; t < 8; ++t) {
        if (const auto* cells = cells_at(ys[t], xs[t])) {
            candidates_.insert(candidates_.end(), cells->begin(), cells->end());
        }
    }
    std::sort(candidates_.begin(), candidates_.end());
    candidates_.erase(std::unique(candidates_.begin(), candidates_.end()), candidates_.end());

    // A cell is listed once per test it passes (more than once only for a
    // zero step), exactly as the linear pass does.
    for (int32_t j : candidates_) {
        if (j == ic) {
            if (iyrs[j - 1] != kExcluded && nfound < nlist) gpt[nfound++] = j;
            continue;
        }
        const float y = lat_[j - 1];
        const float x = lon_[j - 1];
        for (int32_t t = 0; t < 8; ++t) {
            if (y == ys[t] && x == xs[t] && iyrs[j - 1] != kExcluded && nfound < nlist) {
                gpt[nfound++] = j;
            }
        }
    }
}

}  // namespace qc
