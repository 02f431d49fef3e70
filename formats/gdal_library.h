#pragma once
// GDAL's calls the GeoTIFF writer makes, loaded by the first run that
// writes one (see shared_library.h).
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

namespace formats {

struct GdalLibrary {
    decltype(&::GDALAllRegister) all_register;
    decltype(&::GDALGetDriverByName) driver_by_name;
    decltype(&::GDALCreate) create;
    decltype(&::GDALCreateCopy) create_copy;
    decltype(&::GDALClose) close;
    decltype(&::GDALSetGeoTransform) set_geo_transform;
    decltype(&::GDALSetSpatialRef) set_spatial_ref;
    decltype(&::GDALDatasetRasterIO) dataset_raster_io;
    decltype(&::GDALGetRasterBand) raster_band;
    decltype(&::GDALSetDescription) set_description;
    decltype(&::GDALSetRasterNoDataValue) set_nodata;
    decltype(&::OSRNewSpatialReference) new_srs;
    decltype(&::OSRDestroySpatialReference) destroy_srs;
    decltype(&::OSRSetFromUserInput) srs_from_user_input;
    decltype(&::OSRSetAxisMappingStrategy) set_axis_mapping;
    decltype(&::CPLPushErrorHandler) push_error_handler;
    decltype(&::CPLPopErrorHandler) pop_error_handler;
    decltype(&::CPLQuietErrorHandler) quiet_error_handler;
    decltype(&::CPLErrorReset) error_reset;
    decltype(&::CPLGetLastErrorMsg) last_error_message;
    decltype(&::CPLGetLastErrorType) last_error_type;
};

// Loaded and its drivers registered once; a FormatError says why it
// cannot be.
const GdalLibrary& gdal();

}  // namespace formats
