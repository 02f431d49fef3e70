#pragma once
// The NetCDF (CF-1.8), CSV and GeoTIFF copies of a run, from its RunData. Each is
// written under a temporary name in the target's folder and renamed onto
// it when complete: a failure leaves no file of either name behind.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "runfiles/run_data.h"

namespace formats {

// What the files say of how they were made. The fraction is no part of the
// text files: only a caller that made the run knows it.
struct Provenance {
    std::string source;        // program and version, "pdsi 1.1.0"
    std::string command_line;  // as typed
    std::optional<float> max_missing;
};

// A file that could not be written: what() names it and the failed call.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The run has nothing the format can hold: no cell kept.
class NothingToWrite : public FormatError {
public:
    using FormatError::FormatError;
};

void write_netcdf(const runfiles::RunData& data, const Provenance& made, const std::filesystem::path& out);
void write_csv(const runfiles::RunData& data, const std::filesystem::path& out);
// The observed series, or with gap filling the filled one. Throws
// NothingToWrite for a run that kept no cell.
void write_geotiff(const runfiles::RunData& data, const std::filesystem::path& out);

}  // namespace formats
