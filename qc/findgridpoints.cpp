#include "qc/findgridpoints.h"

#include <algorithm>

namespace qc {

void findgridpoints(const float* coord, int32_t ngrid, int32_t ic, int32_t& nfound, int32_t* gpt,
                    const int32_t* iyrs, int32_t ldim, int32_t nlist, float dist) {
    const float* lat = coord;
    const float* lon = coord + std::max(ldim, 0);

    // Centre
    const float c1 = lat[ic - 1];
    const float c2 = lon[ic - 1];

    // Cleared list
    nfound = 0;
    for (int32_t k = 0; k < nlist; ++k) gpt[k] = 0;

    // Shifted coordinates, once, in single precision
    const float south = c1 - dist;
    const float north = c1 + dist;
    const float west = c2 - dist;
    const float east = c2 + dist;

    // Listing stops at nlist: only repeated mid-points can get there.
    auto list = [&](int32_t j) {
        if (iyrs[j - 1] != kExcluded && nfound < nlist) gpt[nfound++] = j;
    };

    // One pass in ascending order, the eight tests in their fixed order
    for (int32_t j = 1; j <= ngrid; ++j) {
        if (j == ic) {
            list(j);
            continue;
        }
        const float y = lat[j - 1];
        const float x = lon[j - 1];
        if (y == c1 && x == west) list(j);
        if (y == c1 && x == east) list(j);
        if (y == north && x == c2) list(j);
        if (y == south && x == c2) list(j);
        if (y == north && x == west) list(j);
        if (y == north && x == east) list(j);
        if (y == south && x == west) list(j);
        if (y == south && x == east) list(j);
    }
}

void blank(std::string& text) { std::fill(text.begin(), text.end(), ' '); }

}  // namespace qc
