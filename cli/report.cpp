// `pdsi report`: the report page of an earlier run.
#include <iostream>

#include "cli/exit_codes.h"
#include "cli/subcommands.h"
#include "report/page.h"
#include "runfiles/run_data.h"
#include "textio/errors.h"

namespace cli {

void add_report(CLI::App& root, ReportOptions& o) {
    CLI::App* sub = root.add_subcommand("report", "Write the report page of an earlier run's files");
    sub->add_option("DIR", o.dir, "Folder of the run (default: the current folder)");
    sub->add_flag("-q,--quiet", o.quiet, "Print nothing on success");
}

int run_report(const ReportOptions& o, const Invocation& invocation) {
    return write_report(o.dir.empty() ? std::filesystem::path(".") : o.dir, invocation, o.quiet);
}

int write_report(const std::filesystem::path& dir, const Invocation&, bool quiet) {
    try {
        const uintmax_t bytes = report::write_page(dir, std::string("pdsi ") + PDSI_VERSION);
        if (!quiet) std::cout << "  " << (dir / report::kPageName).string() << "  " << bytes << " bytes\n";
        return kOk;
    } catch (const runfiles::RunFileError& error) {
        std::cerr << "pdsi report: error: " << error.what() << "\n";
    } catch (const textio::IoError& error) {
        std::cerr << "pdsi report: error: " << error.what() << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "pdsi report: error: not enough memory for the page\n";
    }
    return kFailed;
}

}  // namespace cli
