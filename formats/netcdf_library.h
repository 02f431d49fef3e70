#pragma once
// The netCDF-C library, loaded by the first run that writes NetCDF (see
// shared_library.h).
#include <netcdf.h>

namespace formats {

struct NetcdfLibrary {
    decltype(&::nc_create) create;
    decltype(&::nc_close) close;
    decltype(&::nc_strerror) strerror;
    decltype(&::nc_def_dim) def_dim;
    decltype(&::nc_def_var) def_var;
    decltype(&::nc_def_var_fill) def_var_fill;
    decltype(&::nc_def_var_chunking) def_var_chunking;
    decltype(&::nc_def_var_deflate) def_var_deflate;
    decltype(&::nc_put_att_text) put_att_text;
    decltype(&::nc_put_att_float) put_att_float;
    decltype(&::nc_put_att_int) put_att_int;
    decltype(&::nc_put_att_double) put_att_double;
    decltype(&::nc_enddef) enddef;
    decltype(&::nc_put_var_float) put_var_float;
    decltype(&::nc_put_var_double) put_var_double;
    decltype(&::nc_put_var_int) put_var_int;
    decltype(&::nc_put_vara_float) put_vara_float;
};

// Loaded once; a FormatError says why it cannot be.
const NetcdfLibrary& netcdf();

}  // namespace formats
