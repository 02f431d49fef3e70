#include "formats/gdal_library.h"

#include <string>

#include "formats/shared_library.h"
#include "formats/writers.h"

namespace formats {

namespace {

struct Loaded {
    GdalLibrary calls{};
    std::string error;  // why it could not be loaded; empty when it was
};

Loaded load() {
    Loaded loaded;
    SharedLibrary library(PDSI_GDAL_LIBRARY, "GDAL");
    const auto bind = [&](auto& call, const char* name) { library.bind(call, name); };
    GdalLibrary& c = loaded.calls;
    bind(c.all_register, "GDALAllRegister");
    bind(c.driver_by_name, "GDALGetDriverByName");
    bind(c.create, "GDALCreate");
    bind(c.create_copy, "GDALCreateCopy");
    bind(c.close, "GDALClose");
    bind(c.set_geo_transform, "GDALSetGeoTransform");
    bind(c.set_spatial_ref, "GDALSetSpatialRef");
    bind(c.dataset_raster_io, "GDALDatasetRasterIO");
    bind(c.raster_band, "GDALGetRasterBand");
    bind(c.set_description, "GDALSetDescription");
    bind(c.set_nodata, "GDALSetRasterNoDataValue");
    bind(c.new_srs, "OSRNewSpatialReference");
    bind(c.destroy_srs, "OSRDestroySpatialReference");
    bind(c.srs_from_user_input, "OSRSetFromUserInput");
    bind(c.set_axis_mapping, "OSRSetAxisMappingStrategy");
    bind(c.push_error_handler, "CPLPushErrorHandler");
    bind(c.pop_error_handler, "CPLPopErrorHandler");
    bind(c.quiet_error_handler, "CPLQuietErrorHandler");
    bind(c.error_reset, "CPLErrorReset");
    bind(c.last_error_message, "CPLGetLastErrorMsg");
    bind(c.last_error_type, "CPLGetLastErrorType");
    loaded.error = library.error();
    if (loaded.error.empty()) c.all_register();
    return loaded;
}

}  // namespace

const GdalLibrary& gdal() {
    static const Loaded loaded = load();
    if (!loaded.error.empty()) throw FormatError(loaded.error);
    return loaded.calls;
}

}  // namespace formats
