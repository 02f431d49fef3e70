#include "formats/nc_file.h"

#include <vector>

#include "formats/netcdf_library.h"

namespace formats {

NcFile::NcFile(const std::string& path, std::string shown, bool classic) : shown_(std::move(shown)) {
    const int mode = NC_NETCDF4 | NC_CLOBBER | (classic ? NC_CLASSIC_MODEL : 0);
    check(netcdf().create(path.c_str(), mode, &id_), "nc_create", path);
}

NcFile::~NcFile() {
    if (id_ >= 0) netcdf().close(id_);
}

void NcFile::check(int status, const char* call, const std::string& object) const {
    if (status != NC_NOERR)
        throw FormatError(shown_ + ": " + call + "(" + object + "): " + netcdf().strerror(status));
}

void NcFile::close() {
    const int id = id_;
    id_ = -1;
    check(netcdf().close(id), "nc_close", shown_);
}

int NcFile::def_dim(const char* name, size_t length) {
    int dim = -1;
    check(netcdf().def_dim(id_, name, length, &dim), "nc_def_dim", name);
    return dim;
}

int NcFile::def_var(const char* name, nc_type type, std::initializer_list<int> dims) {
    const std::vector<int> ids(dims);
    int var = -1;
    check(netcdf().def_var(id_, name, type, static_cast<int>(ids.size()), ids.data(), &var), "nc_def_var", name);
    return var;
}

void NcFile::put_text(int var, const char* name, const std::string& value) {
    check(netcdf().put_att_text(id_, var, name, value.size(), value.data()), "nc_put_att_text", name);
}

void NcFile::put_float(int var, const char* name, float value) {
    check(netcdf().put_att_float(id_, var, name, NC_FLOAT, 1, &value), "nc_put_att_float", name);
}

void NcFile::put_int(int var, const char* name, int value) {
    check(netcdf().put_att_int(id_, var, name, NC_INT, 1, &value), "nc_put_att_int", name);
}

void NcFile::put_double(int var, const char* name, double value) {
    check(netcdf().put_att_double(id_, var, name, NC_DOUBLE, 1, &value), "nc_put_att_double", name);
}

void NcFile::enddef() { check(netcdf().enddef(id_), "nc_enddef", shown_); }

}  // namespace formats
