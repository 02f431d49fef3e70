// `pdsi extract`: the options, each checked as it is parsed.
#include "cli/subcommands.h"

#include <algorithm>

#include "cli/exit_codes.h"
#include "cli/extract_checks.h"

namespace cli {

namespace {

// A check that parses into `target` on success: the validator and the
// conversion are one step, so the run never re-checks the text. `Value`
// is what `parse` makes; the target may be an optional of it.
template <typename Value, typename Target, typename Parse>
CLI::Validator parsed_into(Target& target, Parse parse) {
    return CLI::Validator(
        [&target, parse](std::string& text) {
            Value value{};
            std::string error = parse(text, value);
            if (error.empty()) target = value;
            return error;
        },
        "");  // the option's type name already shows the shape
}

}  // namespace

CLI::Option* add_format_option(CLI::App& sub, std::vector<Format>& formats) {
    struct Named {
        const char* name;
        Format format;
    };
    static constexpr Named kNamed[] = {{"netcdf", Format::netcdf}, {"csv", Format::csv}, {"geotiff", Format::geotiff}};
    auto* option = sub.add_option_function<std::vector<std::string>>(
        "--format",
        [&formats](const std::vector<std::string>& names) {
            for (const std::string& name : names)
                for (const Named& named : kNamed)
                    if (CLI::detail::to_lower(name) == named.name &&
                        std::find(formats.begin(), formats.end(), named.format) == formats.end())
                        formats.push_back(named.format);
        },
        "Also write these formats, comma-separated: netcdf, csv, geotiff");
    return option->delimiter(',')->type_name("FORMAT[,FORMAT]")->check(CLI::Validator(
        [](std::string& name) -> std::string {
            for (const Named& named : kNamed)
                if (CLI::detail::to_lower(name) == named.name) return "";
            return "unknown format \"" + name + "\": netcdf, csv or geotiff";
        },
        ""));
}

CLI::Option* add_area_option(CLI::App& sub, bool& area) {
    return sub.add_flag("--area", area,
                        "Also write MonthlyPDSI_area.csv, and with the NetCDF format MonthlyPDSI_area.nc: month by "
                        "month the area-weighted mean and the share of the area in each drought class");
}

void add_extract(CLI::App& root, ExtractOptions& o) {
    const auto ignore = [](const std::string&) {};  // the checks keep the values
    CLI::App* sub = root.add_subcommand("extract", "Extract a box's monthly series from the grid, optionally filled");
    sub->footer(
        "Example:\n"
        "  pdsi extract --years 1901:2010 --lat=31.25:41.25 --lon=-98.75:-88.75 --max-missing 0.5 --fill 1951:2010\n"
        "Bounds are degrees, south and west negative; a bound between two mid-points takes in the\n"
        "cell beyond it. Write negative bounds as --lat=-60:-30.\n" +
        std::string(kExitFooter));

    sub->add_option_function<std::string>("--years", ignore, "FIRST:LAST, the span of years, 1850-2010")
        ->required()
        ->type_name("FIRST:LAST")
        ->check(parsed_into<YearSpan>(o.years, parse_year_span));
    sub->add_option_function<std::string>("--lat", ignore, "SOUTH:NORTH, degrees (default: every row)")
        ->type_name("SOUTH:NORTH")
        ->check(parsed_into<RealSpan>(o.lat, parse_lat_span));
    sub->add_option_function<std::string>("--lon", ignore, "WEST:EAST, degrees (default: every column)")
        ->type_name("WEST:EAST")
        ->check(parsed_into<RealSpan>(o.lon, parse_lon_span));
    sub->add_option_function<std::string>("--max-missing", ignore, "Fraction of missing months a cell may have: it stays when its fraction is "
                                     "below F (1.01 keeps every cell)")
        ->required()
        ->type_name("F")
        ->check(parsed_into<float>(o.max_missing, parse_fraction));
    sub->add_option_function<std::string>("--fill", ignore, "FIRST:LAST, fill the gaps with this calibration period; only its length counts: "
                              "the period always ends with the span")
        ->type_name("FIRST:LAST")
        ->check(parsed_into<YearSpan>(o.fill, parse_year_span));
    sub->add_option("--grid", o.grid, "The grid file")->capture_default_str()->type_name("FILE")
        ->check(CLI::Validator(CLI::ExistingFile).description(""));
    sub->add_option("--out", o.out, "Folder for the files, created if absent (default: the current folder)")
        ->type_name("DIR");
    add_format_option(*sub, o.formats);
    add_area_option(*sub, o.area);
    sub->add_flag("--report", o.report, "Also write the report page MonthlyPDSI_report.html");
    sub->add_flag("-q,--quiet", o.quiet, "Print nothing on success");
    sub->add_option_function<std::string>("--threads", ignore, "Threads to use, 1 to 1024 (default: one per hardware "
                                 "thread); the files are the same for any count")
        ->type_name("N")
        ->check(parsed_into<int32_t>(o.threads, parse_threads));
}

}  // namespace cli
