#include "extract/box.h"

namespace extract {

namespace {

// Smallest index whose mid-point is not below `bound`. A bound beyond the
// last mid-point (which the dialogue never lets through) stops at the edge.
template <typename Table>
int32_t first_reaching(Table table, int32_t count, float bound) {
    int32_t k = 1;
    while (k < count && !(table(k) >= bound)) ++k;
    return k;
}

}  // namespace

Box findbox(const GridAxes& axes, float latmin, float latmax, float lonmin, float lonmax) {
    auto xlon = [&](int32_t i) { return axes.xlon(i); };
    auto ylat = [&](int32_t j) { return axes.ylat(j); };
    Box box;
    box.ilon1 = first_reaching(xlon, kColumns, lonmin);
    box.ilon2 = first_reaching(xlon, kColumns, lonmax);
    box.jlat1 = first_reaching(ylat, kRows, latmin);
    box.jlat2 = first_reaching(ylat, kRows, latmax);
    return box;
}

}  // namespace extract
