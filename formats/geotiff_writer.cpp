// MonthlyPDSI.tif: the run on the NetCDF copy's rectangle, one Float32
// band a month, north up, written by GDAL as a Cloud Optimized GeoTIFF.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/gdal_library.h"
#include "formats/run_grid.h"
#include "formats/temp_output.h"
#include "formats/writers.h"
#include "maps/crs.h"

namespace formats {

namespace {

using runfiles::RunData;

// The COG driver of GDAL 3.6 interleaves by pixel: a tile holds every
// band, and GDAL holds a row of tiles while it writes. Tiles of 32 cells
// keep that to a few tens of MB for the whole span (its 512 default, or
// the 128 its option list asks for, cost hundreds, twice the time and a
// larger file), and a cell's series is one small read. The driver warns
// of the size and writes it.
constexpr const char* kTile = "BLOCKSIZE=32";

// GDAL's messages go to the thread's own handler, not to standard error:
// the last one says why a call failed.
class QuietErrors {
public:
    explicit QuietErrors(const GdalLibrary& gdal) : gdal_(gdal) {
        gdal_.push_error_handler(gdal_.quiet_error_handler);
        gdal_.error_reset();
    }
    ~QuietErrors() { gdal_.pop_error_handler(); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

    std::string why(const char* call) const {
        const char* message = gdal_.last_error_message();
        return std::string(call) + " failed" + (message && *message ? std::string(": ") + message : "");
    }

private:
    const GdalLibrary& gdal_;
};

struct Dataset {
    const GdalLibrary& gdal;
    GDALDatasetH handle = nullptr;
    ~Dataset() {
        if (handle) gdal.close(handle);
    }
};

struct SpatialRef {
    const GdalLibrary& gdal;
    OGRSpatialReferenceH handle = gdal.new_srs(nullptr);
    ~SpatialRef() { gdal.destroy_srs(handle); }
};

std::string month_name(int32_t year, int32_t month) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", year, month);
    return text;
}

// A block of months at a time, each a map with rows from the north: the
// cells' series are read in runs, and the block stays small.
template <class Fail>
void write_bands(const GdalLibrary& g, GDALDatasetH mem, const RunData& data, const Rectangle& box, Fail fail) {
    constexpr int32_t kBlockMonths = 64;
    const Series series = data.filled() ? Series::filled : Series::observed;
    const size_t map = box.nlat * box.nlon;
    std::vector<size_t> where(data.cells.size());
    for (size_t c = 0; c < where.size(); ++c) {
        const size_t at = box.offset(data.cells[c]);
        where[c] = (box.nlat - 1 - at / box.nlon) * box.nlon + at % box.nlon;
    }
    std::vector<float> block;
    std::vector<int> bands;
    for (int32_t k0 = 0; k0 < data.nmon(); k0 += kBlockMonths) {
        const int32_t n = std::min(kBlockMonths, data.nmon() - k0);
        fill_months(data, series, where, map, static_cast<size_t>(k0), static_cast<size_t>(n), block);
        bands.resize(static_cast<size_t>(n));
        for (int32_t k = 0; k < n; ++k) bands[static_cast<size_t>(k)] = k0 + k + 1;
        const int nlon = static_cast<int>(box.nlon), nlat = static_cast<int>(box.nlat);
        if (g.dataset_raster_io(mem, GF_Write, 0, 0, nlon, nlat, block.data(), nlon, nlat, GDT_Float32, n, bands.data(),
                                0, 0, 0) != CE_None)
            fail();
    }
}

}  // namespace

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer sees GDAL's mutexes (not its memory: GDAL is not built
// with it) and reports a lock-order cycle inside GDAL itself: its mutex
// creator takes a global lock and the lock it makes in one order, and
// other GDAL code the other. No lock of ours is held around a GDAL call.
extern "C" const char* __tsan_default_suppressions() { return "deadlock:CPLCreateOrAcquireMutexEx\n"; }
#endif

void write_geotiff(const RunData& data, const std::filesystem::path& out) {
    const Rectangle box(data);
    if (box.nlat == 0 || data.nmon() <= 0)
        throw NothingToWrite(out.string() + ": the run kept no cell, and a GeoTIFF cannot be empty");
    const auto fail = [&](const std::string& why) { throw FormatError(out.string() + ": " + why); };
    const GdalLibrary& g = gdal();
    const QuietErrors errors(g);
    const int nlon = static_cast<int>(box.nlon), nlat = static_cast<int>(box.nlat), nmon = data.nmon();

    Dataset mem{g};
    mem.handle = g.create(g.driver_by_name("MEM"), "", nlon, nlat, nmon, GDT_Float32, nullptr);
    if (!mem.handle) fail(errors.why("GDALCreate (MEM)"));
    double transform[6] = {box.lon(0) - kHalf, kStep, 0.0, box.lat(box.nlat - 1) + kHalf, 0.0, -kStep};
    if (g.set_geo_transform(mem.handle, transform) != CE_None) fail(errors.why("GDALSetGeoTransform"));
    SpatialRef srs{g};
    if (g.srs_from_user_input(srs.handle, std::string(maps::kEpsg).c_str()) != OGRERR_NONE)
        fail(errors.why("OSRSetFromUserInput"));
    g.set_axis_mapping(srs.handle, OAMS_TRADITIONAL_GIS_ORDER);
    if (g.set_spatial_ref(mem.handle, srs.handle) != CE_None) fail(errors.why("GDALSetSpatialRef"));
    write_bands(g, mem.handle, data, box, [&] { fail(errors.why("GDALDatasetRasterIO")); });
    for (int32_t k = 0; k < nmon; ++k) {
        GDALRasterBandH band = g.raster_band(mem.handle, k + 1);
        g.set_description(band, month_name(data.iyr1 + k / 12, k % 12 + 1).c_str());
        if (g.set_nodata(band, kFill) != CE_None) fail(errors.why("GDALSetRasterNoDataValue"));
    }

    TempOutput temp(out);
    // Level 1, as the NetCDF copy's: a fifth less time than the default,
    // and no larger here.
    const char* options[] = {"COMPRESS=DEFLATE", "LEVEL=1", kTile, "OVERVIEWS=NONE", nullptr};
    {
        Dataset tif{g};
        tif.handle = g.create_copy(g.driver_by_name("COG"), temp.temp().c_str(), mem.handle, FALSE,
                                   const_cast<char**>(options), nullptr, nullptr);
        if (!tif.handle) fail(errors.why("GDALCreateCopy (COG)"));
    }
    // GDAL reports a failed flush at the close only through its error state.
    if (g.last_error_type() == CE_Failure) fail(errors.why("writing"));
    temp.commit();
}

}  // namespace formats
