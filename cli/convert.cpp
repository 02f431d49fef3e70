// `pdsi convert`: NetCDF and CSV copies of a run's text files.
#include <iostream>

#include "cli/exit_codes.h"
#include "cli/subcommands.h"

namespace cli {

void add_convert(CLI::App& root, ConvertOptions& o) {
    CLI::App* sub = root.add_subcommand("convert", "Write NetCDF and CSV copies of an earlier run's files");
    sub->add_option("DIR", o.dir, "Folder of the run (default: the current folder)");
    add_format_option(*sub, o.formats);
    sub->add_flag("-q,--quiet", o.quiet, "Print nothing on success");
}

int run_convert(const ConvertOptions& o, const Invocation& invocation) {
    return write_formats(o.dir.empty() ? std::filesystem::path(".") : o.dir, o.formats, invocation, o.quiet);
}

int write_formats(const std::filesystem::path&, const std::vector<Format>&, const Invocation&, bool) {
    std::cerr << "pdsi: error: the NetCDF and CSV writers are not in this build\n";
    return kFailed;
}

}  // namespace cli
