#pragma once
// What each subcommand was asked, as parsed and checked at the boundary.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/numbers.h"

namespace cli {

// Files made besides the text files, from the text files.
enum class Format { netcdf, csv, geotiff };

// What every file a run writes may say of how it was made.
struct Invocation {
    std::string command_line;  // the arguments, quoted where needed
};

struct ExtractOptions {
    YearSpan years;
    std::optional<RealSpan> lat;  // south:north; none: every row
    std::optional<RealSpan> lon;  // west:east; none: every column
    float max_missing = 0.0f;
    std::optional<YearSpan> fill;  // calibration period
    std::filesystem::path grid = "pdsisc1850-2010.txt";
    std::filesystem::path out;     // empty: the working directory
    std::vector<Format> formats;
    bool area = false;  // the area files too
    bool report = false;
    bool quiet = false;
    int32_t threads = 0;  // 0: one per hardware thread
};

struct ConvertOptions {
    std::filesystem::path dir;
    std::vector<Format> formats;
    bool area = false;
    bool quiet = false;
};

struct SampleOptions {
    std::filesystem::path out = "pdsisc1850-2010.txt";
    bool quiet = false;
};

struct ReportOptions {
    std::filesystem::path dir;
    bool quiet = false;
};

}  // namespace cli
