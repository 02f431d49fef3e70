// `pdsi extract`: the cross-checks, the run on the library's code path and
// its ends turned into messages and exit statuses.
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "cli/exit_codes.h"
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

constexpr int32_t kBlock = 56;  // month header and 55 rows

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

std::string midpoint(float lat, float lon) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f, %.2f", lat, lon);
    return text;
}

// Record r of the grid file: 1 is the header, then blocks of a month header
// and its rows.
std::string record_place(int32_t record) {
    if (record <= 1) return "the file header";
    const int32_t k = record - 2;
    const int32_t month = k / kBlock;
    const int32_t row = k % kBlock;
    const std::string when = std::string(kMonths[month % 12]) + " " + std::to_string(1850 + month / 12);
    return row == 0 ? "the header of " + when : "grid row " + std::to_string(row) + " of " + when;
}

int usage_error(const std::string& message) {
    std::cerr << "pdsi extract: error: " << message << " (see pdsi extract --help)\n";
    return kUsage;
}

int failed(const std::string& message) {
    std::cerr << "pdsi extract: error: " << message << "\n";
    return kFailed;
}

std::string cells_held(int32_t cell) {
    if (cell <= 1) return "hold no cell";
    if (cell == 2) return "hold cell 1 only";
    return "hold cells 1 to " + std::to_string(cell - 1) + " only";
}

// The stage's failures other than a lone cell need files changed under its
// feet: say what it found.
std::string stage_failure(const qc::StageOutcome& outcome) {
    using End = qc::StageOutcome::End;
    switch (outcome.end) {
        case End::file_not_found: return "the gap filling found no " + outcome.file;
        case End::data_header_missing: return "the gap filling found MonthlyPDSI.tsf without its header";
        case End::mismatch: return "MonthlyPDSI.tsf and MonthlyPDSI.xy do not describe the same cells";
        case End::early_end:
            return "MonthlyPDSI.tsf ends after " + std::to_string(outcome.count) + " of " +
                   std::to_string(outcome.ngrid) + " cells";
        case End::qc_read_back:
            return "MonthlyPDSI_QC.tsf read back only " + std::to_string(outcome.count) + " of " +
                   std::to_string(outcome.ngrid) + " cells";
        case End::lone_cell:
            return "the gap filling stopped at cell " + std::to_string(outcome.cell) + " (" +
                   midpoint(outcome.lat, outcome.lon) +
                   "): it has no neighbour within 5.0 degrees; MonthlyPDSI_QC.tsf and MonthlyPDSI_QC.out " +
                   cells_held(outcome.cell) + ", MonthlyPDSI_QC_col.tsf was not written";
        case End::complete: break;
    }
    return "";
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
    if (o.fill && (o.fill->first < o.years.first || o.fill->last > o.years.last))
        return usage_error("--fill: the calibration period " + std::to_string(o.fill->first) + ":" +
                           std::to_string(o.fill->last) + " lies outside the span " + std::to_string(o.years.first) +
                           ":" + std::to_string(o.years.last));
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
        const int32_t record = failure.nrec + 1;
        return failed(o.grid.string() + ": record " + std::to_string(record) + " (" + record_place(record) +
                      ") cannot be read: " + failure.fault + "; nothing was written");
    } catch (const extract::GridEnded& ended) {
        return failed(o.grid.string() + ": the file ends after record " + std::to_string(ended.nrec) +
                      ", before December " + std::to_string(request.iyr2) + "; it is cut short");
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
    if (!o.formats.empty())
        if (const int rc = write_formats(shown_dir, o.formats, invocation, o.quiet); rc != kOk) return rc;
    if (o.report)
        if (const int rc = write_report(shown_dir, invocation, o.quiet); rc != kOk) return rc;
    return kOk;
}

}  // namespace cli
