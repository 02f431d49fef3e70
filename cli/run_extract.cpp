// `pdsi extract`: the cross-checks, the run on the library's code path and
// its ends turned into messages and exit statuses.
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "cli/exit_codes.h"
#include "cli/extract_checks.h"
#include "cli/progress.h"
#include "cli/subcommands.h"
#include "extract/extraction.h"
#include "extract/readgrid.h"
#include "parallel/pipeline.h"
#include "qc/orvqc5.h"
#include "textio/errors.h"
#include "textio/sink.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

int usage_error(const std::string& message) {
    std::cerr << "pdsi extract: error: " << message << " (see pdsi extract --help)\n";
    return kUsage;
}

int failed(const std::string& message) {
    std::cerr << "pdsi extract: error: " << message << "\n";
    return kFailed;
}

void list_file(const fs::path& dir, const char* name) {
    const fs::path path = dir / name;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    std::cout << "  " << path.string() << "  " << (ec ? 0 : size) << " bytes\n";
}

}  // namespace

int run_extract(const ExtractOptions& o, const Invocation& invocation) {
    // Checks that need two options, before any work.
    if (o.fill)
        if (const std::string error = check_fill_within(*o.fill, o.years); !error.empty())
            return usage_error("--fill: " + error);
    std::error_code ec;
    if (!fs::exists(o.grid, ec)) return usage_error("--grid: File does not exist: " + o.grid.string());
    if (fs::is_directory(o.grid, ec)) return usage_error("--grid: File is actually a directory: " + o.grid.string());
    if (!o.out.empty()) {
        fs::create_directories(o.out, ec);
        if (!fs::is_directory(o.out))
            return usage_error("--out: cannot make the folder " + o.out.string() +
                               (ec ? ": " + ec.message() : ": a file of that name is in the way"));
    }

    extract::Request request;
    request.iyr1 = o.years.first;
    request.iyr2 = o.years.last;
    request.latmin = o.lat ? o.lat->low : extract::kSouthMost;
    request.latmax = o.lat ? o.lat->high : extract::kNorthMost;
    request.lonmin = o.lon ? o.lon->low : extract::kWestMost;
    request.lonmax = o.lon ? o.lon->high : extract::kEastMost;
    request.pctmiss = o.max_missing;

    const int32_t threads = o.threads > 0 ? o.threads : parallel::hardware_threads();
    const fs::path shown_dir = o.out.empty() ? fs::path(".") : o.out;
    const bool terminal = TerminalProgress::stderr_is_terminal();
    textio::NullSink display;  // the dialogue's lines: nobody reads them here
    textio::Console console(display);
    extract::Extraction extraction;
    qc::StageOutcome outcome;
    try {
        {
            TerminalProgress reading("reading the grid: month", terminal);
            extraction = extract::extract_cells(console, request, {o.grid, o.out, &reading, threads});
        }
        if (o.fill) {
            const int32_t years = o.fill->last - o.fill->first + 1;
            const int32_t used = o.years.last - years + 1;
            if (o.fill->last != o.years.last && !o.quiet)
                std::cerr << "pdsi extract: calibration uses " << used << "-" << o.years.last << " (" << years
                          << (years == 1 ? " year" : " years") << " ending with the span)\n";
            TerminalProgress filling("filling: cell", terminal);
            qc::StageRequest stage{request.iyr1, request.iyr2, o.out,
                                   qc::calibration_period(request.iyr1, request.iyr2, o.fill->first, o.fill->last),
                                   &filling, threads};
            outcome = qc::run_stage(console, stage);
        }
    } catch (const extract::GridReadFailure& failure) {
        return failed(grid_read_message(o.grid.string(), failure));
    } catch (const extract::GridEnded& ended) {
        return failed(grid_ended_message(o.grid.string(), ended.nrec, request.iyr2));
    } catch (const textio::IoError& error) {
        std::string text = error.what();
        if (text.rfind("Error: ", 0) == 0) text.erase(0, 7);
        return failed(text);
    }
    if (outcome.end != qc::StageOutcome::End::complete) return failed(stage_failure(outcome));

    if (!o.quiet) {
        std::cout << "pdsi extract: " << extraction.nbox << (extraction.nbox == 1 ? " cell" : " cells")
                  << " in the box, " << extraction.nkept << " kept";
        if (o.fill) std::cout << ", " << outcome.ngrid << " filled";
        std::cout << "\n";
        list_file(shown_dir, "MonthlyPDSI.tsf");
        list_file(shown_dir, "MonthlyPDSI.xy");
        if (o.fill)
            for (const char* name :
                 {"MonthlyPDSI_col.tsf", "MonthlyPDSI_QC.tsf", "MonthlyPDSI_QC_col.tsf", "MonthlyPDSI_QC.out"})
                list_file(shown_dir, name);
    }
    if (!o.formats.empty() || o.area)
        if (const int rc = write_formats(shown_dir, o.formats, invocation, o.quiet, o.area, o.years); rc != kOk)
            return rc;
    if (o.report)
        if (const int rc = write_report(shown_dir, invocation, o.quiet); rc != kOk) return rc;
    return kOk;
}

}  // namespace cli
