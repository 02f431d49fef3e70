#pragma once
// An index from exact mid-point to the cells that stand there, so that a
// neighbourhood search costs a few look-ups instead of a pass over every
// cell. Its results are those of findgridpoints, entry for entry.
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace qc {

class NeighbourIndex {
public:
    // coord: ldim rows by 2 columns (latitude, longitude), rows 1..ngrid used.
    NeighbourIndex(const float* coord, int32_t ngrid, int32_t ldim);

    // As findgridpoints(coord, ngrid, ic, nfound, gpt, iyrs, ldim, nlist, dist)
    // on the table the index was built from; ic in 1..ngrid.
    void find(int32_t ic, int32_t& nfound, int32_t* gpt, const int32_t* iyrs, int32_t nlist,
              float dist) const;

private:
    static uint64_t key(float lat, float lon);
    const std::vector<int32_t>* cells_at(float lat, float lon) const;

    const float* lat_;
    const float* lon_;
    // Ascending cell numbers per mid-point; NaN coordinates are left out,
    // as they equal nothing.
    std::unordered_map<uint64_t, std::vector<int32_t>> at_;
    mutable std::vector<int32_t> candidates_;
};

}  // namespace qc
