// `pdsi convert`: NetCDF, CSV and GeoTIFF copies of a run's text files,
// and its area files.
#include <algorithm>
#include <iostream>
#include <system_error>

#include "cli/exit_codes.h"
#include "cli/subcommands.h"
#include "formats/writers.h"
#include "indices/area.h"
#include "runfiles/run_data.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

const char* file_name(Format format) {
    switch (format) {
        case Format::netcdf: return "MonthlyPDSI.nc";
        case Format::csv: return "MonthlyPDSI.csv";
        case Format::geotiff: return "MonthlyPDSI.tif";
    }
    return "";
}

// `every`: no format was named, so a copy the run cannot have (a GeoTIFF
// of no cell) is left out with a note rather than failing the others.
int write_as(const char* who, const fs::path& dir, const std::vector<Format>& formats, const Invocation& invocation,
             bool quiet, bool area, std::optional<YearSpan> span, bool every = false) {
    try {
        const runfiles::RunData data = runfiles::read_run(dir);
        const formats::Provenance made{std::string("pdsi ") + PDSI_VERSION, invocation.command_line, {}};
        std::vector<fs::path> written;
        for (const Format format : formats) {
            const fs::path out = dir / file_name(format);
            try {
                switch (format) {
                    case Format::netcdf: formats::write_netcdf(data, made, out); break;
                    case Format::csv: formats::write_csv(data, out); break;
                    case Format::geotiff: formats::write_geotiff(data, out); break;
                }
            } catch (const formats::NothingToWrite& none) {
                if (!every) throw;
                if (!quiet) std::cerr << who << ": " << none.what() << ": not written\n";
                continue;
            }
            written.push_back(out);
        }
        if (area) {
            const indices::AreaSeries series =
                indices::area_of_run(data, span ? std::optional(std::pair{span->first, span->last}) : std::nullopt);
            written.push_back(dir / "MonthlyPDSI_area.csv");
            indices::write_area_csv(series, written.back());
            if (std::find(formats.begin(), formats.end(), Format::netcdf) != formats.end()) {
                written.push_back(dir / "MonthlyPDSI_area.nc");
                indices::write_area_netcdf(series, made, written.back());
            }
        }
        if (!quiet)
            for (const fs::path& path : written) {
                std::error_code ec;
                const auto size = fs::file_size(path, ec);
                std::cout << "  " << path.string() << "  " << (ec ? 0 : size) << " bytes\n";
            }
    } catch (const std::exception& error) {
        std::cerr << who << ": error: " << error.what() << "\n";
        return kFailed;
    }
    return kOk;
}

}  // namespace

void add_convert(CLI::App& root, ConvertOptions& o) {
    CLI::App* sub = root.add_subcommand(
        "convert", "Write NetCDF, CSV and GeoTIFF copies of an earlier run's files, and its area files");
    sub->add_option("DIR", o.dir, "Folder of the run (default: the current folder)");
    add_format_option(*sub, o.formats);
    add_area_option(*sub, o.area);
    sub->add_flag("-q,--quiet", o.quiet, "Print nothing on success");
}

int run_convert(const ConvertOptions& o, const Invocation& invocation) {
    const std::vector<Format> every{Format::netcdf, Format::csv, Format::geotiff};
    return write_as("pdsi convert", o.dir.empty() ? fs::path(".") : o.dir, o.formats.empty() ? every : o.formats,
                    invocation, o.quiet, o.area, {}, o.formats.empty());
}

// Called by extract after its text files are written.
int write_formats(const fs::path& dir, const std::vector<Format>& formats, const Invocation& invocation, bool quiet,
                  bool area, std::optional<YearSpan> span) {
    return write_as("pdsi extract", dir, formats, invocation, quiet, area, span);
}

}  // namespace cli
