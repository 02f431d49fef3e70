#pragma once
// One adder per subcommand, each in its own file, and the runs they call.
#include <CLI/CLI.hpp>

#include <optional>

#include "cli/options.h"

namespace cli {

void add_extract(CLI::App& root, ExtractOptions& options);
void add_convert(CLI::App& root, ConvertOptions& options);
void add_report(CLI::App& root, ReportOptions& options);
void add_sample(CLI::App& root, SampleOptions& options);

// The shared `--format` option: a list of netcdf, csv, geotiff.
CLI::Option* add_format_option(CLI::App& sub, std::vector<Format>& formats);
// The shared `--area` flag.
CLI::Option* add_area_option(CLI::App& sub, bool& area);

// Each returns the exit status; the request has passed every check the
// parser makes.
int run_extract(const ExtractOptions& options, const Invocation& invocation);
int run_convert(const ConvertOptions& options, const Invocation& invocation);
int run_report(const ReportOptions& options, const Invocation& invocation);
int run_sample(const SampleOptions& options, const Invocation& invocation);

// The extra formats and the page from the text files of `dir`, after a run
// of either program; return the exit status, messages on standard error.
// `quiet`: no summary lines on standard output. With `area`, the area CSV
// and, among the NetCDF formats, the area NetCDF file; `span` is the
// request's, for a run that kept no cell.
int write_formats(const std::filesystem::path& dir, const std::vector<Format>& formats, const Invocation& invocation,
                  bool quiet, bool area = false, std::optional<YearSpan> span = {});
int write_report(const std::filesystem::path& dir, const Invocation& invocation, bool quiet);

}  // namespace cli
