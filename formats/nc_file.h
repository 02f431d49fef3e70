#pragma once
// The netCDF-C calls the writer makes, each status checked: a failure is a
// FormatError naming the file, the call and the object.
#include <netcdf.h>

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

}  // namespace formats
