#include "formats/nc_file.h"

#include "formats/cf_attributes.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "formats/cf_attributes.h"
#include "formats/netcdf_library.h"
#include "formats/time_axis.h"

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

std::string history_line(const std::string& command_line) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text + (" " + command_line);
}

std::string box_text(float south, float north, float west, float east) {
    char text[160];
    std::snprintf(text, sizeof text, "lat=%.2f:%.2f lon=%.2f:%.2f (mid-points of the outermost cells kept)", south,
                  north, west, east);
    return text;
}

TimeAxis def_time_axis(NcFile& file, int time_dim, int nv_dim) {
    TimeAxis axis;
    axis.time = file.def_var("time", NC_DOUBLE, {time_dim});
    for (const auto& [name, text] : cf::kTime) file.put_text(axis.time, name, text);
    axis.bounds = file.def_var("time_bnds", NC_DOUBLE, {time_dim, nv_dim});
    return axis;
}

void put_time_axis(NcFile& file, const TimeAxis& axis, int32_t iyr1, int32_t nmon) {
    std::vector<double> time, bounds;
    for (int32_t k = 0; k < nmon; ++k) {
        const int32_t year = iyr1 + k / 12, month = k % 12 + 1;
        const double start = days_since_1850(year, month), end = days_since_1850(year, month + 1);
        time.push_back((start + end) / 2.0);
        bounds.insert(bounds.end(), {start, end});
    }
    file.check(netcdf().put_var_double(file.id(), axis.time, time.data()), "nc_put_var_double", "time");
    file.check(netcdf().put_var_double(file.id(), axis.bounds, bounds.data()), "nc_put_var_double", "time_bnds");
}

}  // namespace formats
