#include "formats/netcdf_library.h"

#include <string>

#include "formats/shared_library.h"
#include "formats/writers.h"

namespace formats {

namespace {

struct Loaded {
    NetcdfLibrary calls{};
    std::string error;  // why it could not be loaded; empty when it was
};

Loaded load() {
    Loaded loaded;
    SharedLibrary library(PDSI_NETCDF_LIBRARY, "NetCDF");
    const auto bind = [&](auto& call, const char* name) { library.bind(call, name); };
    NetcdfLibrary& c = loaded.calls;
    bind(c.create, "nc_create");
    bind(c.close, "nc_close");
    bind(c.strerror, "nc_strerror");
    bind(c.def_dim, "nc_def_dim");
    bind(c.def_var, "nc_def_var");
    bind(c.def_var_fill, "nc_def_var_fill");
    bind(c.def_var_chunking, "nc_def_var_chunking");
    bind(c.def_var_deflate, "nc_def_var_deflate");
    bind(c.put_att_text, "nc_put_att_text");
    bind(c.put_att_float, "nc_put_att_float");
    bind(c.put_att_int, "nc_put_att_int");
    bind(c.put_att_double, "nc_put_att_double");
    bind(c.enddef, "nc_enddef");
    bind(c.put_var_float, "nc_put_var_float");
    bind(c.put_var_double, "nc_put_var_double");
    bind(c.put_var_int, "nc_put_var_int");
    bind(c.put_vara_float, "nc_put_vara_float");
    loaded.error = library.error();
    return loaded;
}

}  // namespace

const NetcdfLibrary& netcdf() {
    static const Loaded loaded = load();
    if (!loaded.error.empty()) throw FormatError(loaded.error);
    return loaded.calls;
}

}  // namespace formats
