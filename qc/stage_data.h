#pragma once
// What the stage reads and builds for one call: the span, the cell tables
// and the month-by-cell matrices, all sized from the input.
#include <cstdint>
#include <string>
#include <vector>

#include "parallel/huge_pages.h"

namespace qc {

inline constexpr int32_t kHeaderWidth = 80;  // a cell's header line as kept
inline constexpr int32_t kListCapacity = 20; // room in one neighbourhood list
inline constexpr float kMissing = -99.9f;

struct StageData {
    StageData(int32_t first, int32_t last)
        : iyr1(first), iyr2(last), nyrs(last - first + 1), nmon(12 * (last - first + 1)) {}

    int32_t iyr1, iyr2, nyrs, nmon;
    int32_t ngrid = 0;
    std::vector<float> coord;      // ngrid rows by 2 columns: latitude, longitude
    std::vector<int32_t> iyrs;     // first year of each cell's series
    std::vector<std::string> hdr;  // header lines, blank-padded to kHeaderWidth
    std::vector<float> pdsi;       // nmon by ngrid, as read
    std::vector<float> est;        // nmon by ngrid, the estimates

    float lat(int32_t c) const { return coord[c - 1]; }
    float lon(int32_t c) const { return coord[ngrid + c - 1]; }
    float* pdsi_col(int32_t c) { return pdsi.data() + static_cast<size_t>(c - 1) * nmon; }
    float* est_col(int32_t c) { return est.data() + static_cast<size_t>(c - 1) * nmon; }
    const float* pdsi_col(int32_t c) const { return pdsi.data() + static_cast<size_t>(c - 1) * nmon; }
    const float* est_col(int32_t c) const { return est.data() + static_cast<size_t>(c - 1) * nmon; }

    // Sizes the cell tables once the coordinates are known; the estimates
    // too unless the caller sizes them later with size_estimates.
    void set_cells(const std::vector<float>& lats, const std::vector<float>& lons, bool estimates = true) {
        ngrid = static_cast<int32_t>(lats.size());
        coord = lats;
        coord.insert(coord.end(), lons.begin(), lons.end());
        iyrs.assign(ngrid, iyr1);
        hdr.assign(ngrid, std::string(kHeaderWidth, ' '));
        size_matrix(pdsi);
        if (estimates) size_estimates();
    }
    void size_estimates() { size_matrix(est); }

private:
    void size_matrix(std::vector<float>& matrix) const {
        const size_t size = static_cast<size_t>(nmon) * ngrid;
        matrix.clear();
        matrix.reserve(size);
        parallel::prefer_huge_pages(matrix.data(), size * sizeof(float));
        matrix.assign(size, 0.0f);
    }
};

}  // namespace qc
