// `pdsi report`: the report page of an earlier run.
#include <iostream>

#include "cli/exit_codes.h"
#include "cli/subcommands.h"

namespace cli {

void add_report(CLI::App& root, ReportOptions& o) {
    CLI::App* sub = root.add_subcommand("report", "Write the report page of an earlier run's files");
    sub->add_option("DIR", o.dir, "Folder of the run (default: the current folder)");
    sub->add_flag("-q,--quiet", o.quiet, "Print nothing on success");
}

int run_report(const ReportOptions& o, const Invocation& invocation) {
    return write_report(o.dir.empty() ? std::filesystem::path(".") : o.dir, invocation, o.quiet);
}

int write_report(const std::filesystem::path&, const Invocation&, bool) {
    std::cerr << "pdsi: error: the report page is not in this build\n";
    return kFailed;
}

}  // namespace cli
