// MonthlyPDSI.tif: the run on the NetCDF copy's rectangle, one Float32
// band a month, north up, written by GDAL as a Cloud Optimized GeoTIFF.
#include <gdal.h>
#include <ogr_srs_api.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "formats/run_grid.h"
#include "formats/temp_output.h"
#include "formats/writers.h"
#include "maps/crs.h"

namespace formats {

namespace {

using runfiles::RunData;

// The COG driver of GDAL 3.6 interleaves by pixel: a tile holds every
// band. One tile for the whole rectangle (at most 144 by 55 cells) keeps
// it to the smallest the driver takes, 128, or the next multiple of 16.
int tile_size(const Rectangle& box) {
    const size_t wide = std::max(box.nlat, box.nlon);
    return static_cast<int>(std::max<size_t>(128, (wide + 15) / 16 * 16));
}

// GDAL's messages go to the thread's own handler, not to standard error:
// the last one says why a call failed.
class GdalCalls {
public:
    GdalCalls() {
        static std::once_flag registered;
        std::call_once(registered, [] { GDALAllRegister(); });
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~GdalCalls() { CPLPopErrorHandler(); }
    GdalCalls(const GdalCalls&) = delete;
    GdalCalls& operator=(const GdalCalls&) = delete;

    static std::string why(const char* call) {
        const char* message = CPLGetLastErrorMsg();
        return std::string(call) + " failed" + (message && *message ? std::string(": ") + message : "");
    }
};

struct Dataset {
    GDALDatasetH handle = nullptr;
    ~Dataset() {
        if (handle) GDALClose(handle);
    }
};

struct SpatialRef {
    OGRSpatialReferenceH handle = OSRNewSpatialReference(nullptr);
    ~SpatialRef() { OSRDestroySpatialReference(handle); }
};

std::string month_name(int32_t year, int32_t month) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", year, month);
    return text;
}

}  // namespace

void write_geotiff(const RunData& data, const std::filesystem::path& out) {
    const Rectangle box(data);
    if (box.nlat == 0 || data.nmon() <= 0)
        throw NothingToWrite(out.string() + ": the run kept no cell, and a GeoTIFF cannot be empty");
    const auto fail = [&](const std::string& why) { throw FormatError(out.string() + ": " + why); };
    const GdalCalls gdal;
    const int nlon = static_cast<int>(box.nlon), nlat = static_cast<int>(box.nlat), nmon = data.nmon();

    // Band after band, rows from the north.
    const Series series = data.filled() ? Series::filled : Series::observed;
    const size_t map = box.nlat * box.nlon;
    std::vector<float> cube(map * static_cast<size_t>(nmon), kFill);
    for (int32_t c = 0; c < data.ncells(); ++c) {
        const size_t at = box.offset(data.cells[c]);
        const size_t north_up = (box.nlat - 1 - at / box.nlon) * box.nlon + at % box.nlon;
        for (int32_t k = 0; k < nmon; ++k) cube[static_cast<size_t>(k) * map + north_up] = value_of(data, series, c, k);
    }

    Dataset mem;
    mem.handle = GDALCreate(GDALGetDriverByName("MEM"), "", nlon, nlat, nmon, GDT_Float32, nullptr);
    if (!mem.handle) fail(GdalCalls::why("GDALCreate (MEM)"));
    double transform[6] = {box.lon(0) - kHalf, kStep, 0.0, box.lat(box.nlat - 1) + kHalf, 0.0, -kStep};
    if (GDALSetGeoTransform(mem.handle, transform) != CE_None) fail(GdalCalls::why("GDALSetGeoTransform"));
    SpatialRef srs;
    if (OSRSetFromUserInput(srs.handle, std::string(maps::kEpsg).c_str()) != OGRERR_NONE)
        fail(GdalCalls::why("OSRSetFromUserInput"));
    OSRSetAxisMappingStrategy(srs.handle, OAMS_TRADITIONAL_GIS_ORDER);
    if (GDALSetSpatialRef(mem.handle, srs.handle) != CE_None) fail(GdalCalls::why("GDALSetSpatialRef"));
    if (GDALDatasetRasterIO(mem.handle, GF_Write, 0, 0, nlon, nlat, cube.data(), nlon, nlat, GDT_Float32, nmon,
                            nullptr, 0, 0, 0) != CE_None)
        fail(GdalCalls::why("GDALDatasetRasterIO"));
    cube = {};
    for (int32_t k = 0; k < nmon; ++k) {
        GDALRasterBandH band = GDALGetRasterBand(mem.handle, k + 1);
        GDALSetDescription(band, month_name(data.iyr1 + k / 12, k % 12 + 1).c_str());
        if (GDALSetRasterNoDataValue(band, kFill) != CE_None) fail(GdalCalls::why("GDALSetRasterNoDataValue"));
    }

    TempOutput temp(out);
    const std::string tile = "BLOCKSIZE=" + std::to_string(tile_size(box));
    const char* options[] = {"COMPRESS=DEFLATE", tile.c_str(), "OVERVIEWS=NONE", nullptr};
    {
        Dataset tif;
        tif.handle = GDALCreateCopy(GDALGetDriverByName("COG"), temp.temp().c_str(), mem.handle, FALSE,
                                    const_cast<char**>(options), nullptr, nullptr);
        if (!tif.handle) fail(GdalCalls::why("GDALCreateCopy (COG)"));
    }
    // GDAL reports a failed flush at the close only through its error state.
    if (CPLGetLastErrorType() == CE_Failure) fail(GdalCalls::why("writing"));
    temp.commit();
}

}  // namespace formats
