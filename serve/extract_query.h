#pragma once
// `/extract` requests: the parameters as `pdsi extract` takes them, checked
// by the command's own functions, and the files a request can give.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/numbers.h"
#include "extract/request.h"
#include "serve/http_types.h"

namespace serve {

enum class FileKind { tsf, xy, col, qc, qc_col, qc_out, csv, netcdf, geotiff, report, area_csv, area_nc };

struct FileInfo {
    FileKind kind;
    const char* name;
    const char* content_type;
    bool needs_fill;
    bool text;    // worth compressing
    bool dated;   // records when it was made: two makings differ
    // Made from the run's text files when asked for, not on the way.
    bool copy = false;
};

// Every file, in the order the summary lists them.
const std::vector<FileInfo>& output_files();
const FileInfo* find_file(std::string_view name);

struct ExtractQuery {
    cli::YearSpan years;
    std::optional<cli::RealSpan> lat;  // after the clamps; none: every row
    std::optional<cli::RealSpan> lon;
    float max_missing = 0.0f;
    std::optional<cli::YearSpan> fill;

    extract::Request request() const;
    // The same text for every spelling of the same request: the cache's
    // key and part of the entity tag.
    std::string normalised() const;
    // The query string of that request, for the links the server gives.
    std::string query_string() const;
};

// The shortest plain decimal that reads back as `value`.
std::string decimal(float value);

// Throws HttpError 400 naming the parameter.
ExtractQuery parse_extract_query(const Fields& args);

}  // namespace serve
