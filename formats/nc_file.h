#pragma once
// The netCDF-C calls the writer makes, each status checked: a failure is a
// FormatError naming the file, the call and the object.
#include <netcdf.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "formats/writers.h"

namespace formats {

class NcFile {
public:
    // Creates (or replaces) a netCDF-4 file, of the classic model when
    // `classic`. `shown` names the file in messages (the path may be a
    // temporary name).
    NcFile(const std::string& path, std::string shown, bool classic);
    ~NcFile();  // closes quietly when close() was not reached
    NcFile(const NcFile&) = delete;
    NcFile& operator=(const NcFile&) = delete;

    void check(int status, const char* call, const std::string& object) const;
    int id() const { return id_; }
    void close();

    int def_dim(const char* name, size_t length);
    int def_var(const char* name, nc_type type, std::initializer_list<int> dims);
    void put_text(int var, const char* name, const std::string& value);
    void put_float(int var, const char* name, float value);
    void put_int(int var, const char* name, int value);
    void put_double(int var, const char* name, double value);
    void enddef();

private:
    std::string shown_;
    int id_ = -1;
};

// The global `history` of a file made now by `command_line`.
std::string history_line(const std::string& command_line);
// The global `box`: the outermost mid-points of the cells kept.
std::string box_text(float south, float north, float west, float east);

// The time axis of every copy: `time`, each month at its middle in days
// since 1850, and `time_bnds`, its first day and the next month's.
struct TimeAxis {
    int time = -1, bounds = -1;
};
TimeAxis def_time_axis(NcFile& file, int time_dim, int nv_dim);
void put_time_axis(NcFile& file, const TimeAxis& axis, int32_t iyr1, int32_t nmon);

}  // namespace formats
