#include "report/report_data.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdlib.h>

#include "qc/input_files.h"
#include "qc/qc_file.h"
#include "textio/errors.h"

namespace report {

namespace fs = std::filesystem;
using runfiles::RunFileError;

namespace {

std::unique_ptr<textio::FileSource> open_file(const fs::path& path) {
    auto in = std::make_unique<textio::FileSource>(path.string());
    if (!in->ok()) throw RunFileError(path.string() + ": cannot be opened");
    return in;
}

// The gap filling writes after reading MonthlyPDSI.tsf: an older file is
// left from an earlier run in the folder.
bool current(const fs::path& file, const fs::path& data_file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return false;
    const auto time = fs::last_write_time(file, ec);
    if (ec) return false;
    const auto data_time = fs::last_write_time(data_file, ec);
    return ec || time >= data_time;
}

int32_t count_coordinates(const fs::path& xy) {
    std::error_code ec;
    if (!fs::is_regular_file(xy, ec)) return -1;
    auto in = open_file(xy);
    std::vector<float> lats, lons;
    qc::read_coordinates(*in, lats, lons);
    return static_cast<int32_t>(lats.size());
}

// The run as far as a stage that stopped at a lone cell got: the
// extraction's files whole, the estimates of the cells before it. The
// extraction's files are read as a run of their own, from a scratch folder
// that links to them alone.
runfiles::RunData read_stopped_run(const fs::path& dir, int32_t ntreated) {
    std::string scratch = (fs::temp_directory_path() / "pdsi-report-XXXXXX").string();
    if (!mkdtemp(scratch.data())) throw RunFileError(scratch + ": cannot make a scratch folder");
    struct Remove {
        fs::path path;
        ~Remove() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } remove{scratch};
    for (const char* name : {"MonthlyPDSI.tsf", "MonthlyPDSI.xy"}) {
        std::error_code ec;
        fs::create_symlink(fs::absolute(dir / name), remove.path / name, ec);
        if (ec) throw RunFileError(scratch + ": cannot link " + name + ": " + ec.message());
    }
    runfiles::RunData data;
    try {
        data = runfiles::read_run(remove.path);
    } catch (const RunFileError& error) {  // name the run's folder, not the scratch one
        std::string text = error.what();
        if (const size_t at = text.find(scratch); at != std::string::npos) text.replace(at, scratch.size(), dir.string());
        throw RunFileError(text);
    }
    const fs::path qc_tsf = dir / "MonthlyPDSI_QC.tsf";
    std::vector<float> lats, lons;
    for (int32_t c = 0; c < ntreated; ++c) {
        lats.push_back(data.cells[c].lat);
        lons.push_back(data.cells[c].lon);
    }
    qc::StageData treated(data.iyr1, data.iyr2);
    treated.set_cells(lats, lons);
    int32_t nread = 0;
    try {
        auto in = open_file(qc_tsf);
        if (!qc::read_back(*in, treated, nread))
            throw RunFileError(qc_tsf.string() + ": holds fewer cells than MonthlyPDSI_QC.out reports");
    } catch (const textio::IoError&) {
        throw RunFileError(qc_tsf.string() + ": a value is not a number");
    }
    for (int32_t c = 0; c < ntreated; ++c) {  // read_back takes the header lines as they come
        const std::string& hdr = treated.hdr[c];
        if (std::strtof(hdr.substr(0, 9).c_str(), nullptr) != data.cells[c].lat ||
            std::strtof(hdr.substr(9, 8).c_str(), nullptr) != data.cells[c].lon)
            throw RunFileError(qc_tsf.string() + ": cell " + std::to_string(c + 1) + " is not at its mid-point in MonthlyPDSI.xy");
    }
    data.estimates.assign(data.values.size(), runfiles::kMissing);
    std::copy(treated.est.begin(), treated.est.end(), data.estimates.begin());
    return data;
}

bool near(float a, float b) { return std::fabs(a - b) <= 0.0011f; }

// Does the span of the last `ncal` months give cell `c` (0-based) the
// listed mean and deviation, once the screen has dropped |value| >= 10?
bool fits_period(const runfiles::RunData& run, int32_t c, int32_t ncal, float xmn, float sig) {
    const float* v = run.series(c) + (run.nmon() - ncal);
    double sum = 0.0;
    int32_t n = 0;
    for (int32_t k = 0; k < ncal; ++k)
        if (v[k] != runfiles::kMissing && std::fabs(v[k]) < 10.0f) sum += v[k], ++n;
    if (n == 0) return near(xmn, runfiles::kMissing);  // the stage's mark for a column with no value
    const double mean = sum / n;
    double squares = 0.0;  // missing months sit at the mean
    for (int32_t k = 0; k < ncal; ++k)
        if (v[k] != runfiles::kMissing && std::fabs(v[k]) < 10.0f) squares += (v[k] - mean) * (v[k] - mean);
    return near(static_cast<float>(mean), xmn) && near(static_cast<float>(std::sqrt(squares / ncal)), sig);
}

}  // namespace

std::optional<std::pair<int32_t, int32_t>> infer_calibration(const runfiles::RunData& run,
                                                             const std::vector<CellFit>& fits) {
    std::optional<int32_t> years;
    int32_t checked = 0;
    for (const CellFit& fit : fits) {
        if (!fit.r || fit.xmn.size() != fit.gpt.size() || fit.sig.size() != fit.gpt.size()) continue;
        std::optional<int32_t> found;
        for (int32_t y = 1; y <= run.nyrs(); ++y) {
            bool all = true;
            for (size_t j = 0; j < fit.gpt.size() && all; ++j) {
                const int32_t c = fit.gpt[j] - 1;
                all = c >= 0 && c < run.ncells() && fits_period(run, c, 12 * y, fit.xmn[j], fit.sig[j]);
            }
            if (!all) continue;
            if (found) {  // two spans agree: this cell cannot tell
                found = std::nullopt;
                break;
            }
            found = y;
        }
        if (!found) continue;
        if (years && *years != *found) return std::nullopt;
        years = found;
        if (++checked == 3) break;
    }
    if (!years) return std::nullopt;
    return std::pair{run.iyr2 - *years + 1, run.iyr2};
}

ReportData read_report_data(const fs::path& dir) {
    const fs::path tsf = dir / "MonthlyPDSI.tsf", qc_out = dir / "MonthlyPDSI_QC.out";
    ReportData report;
    std::error_code ec;
    const bool with_report = fs::is_regular_file(tsf, ec) && current(qc_out, tsf);
    if (with_report) {
        auto in = open_file(qc_out);
        report.fits = read_qc_report(*in, qc_out.string());
    }
    const int32_t ncoords = count_coordinates(dir / "MonthlyPDSI.xy");
    report.stopped_early = with_report && ncoords >= 0 && static_cast<int32_t>(report.fits.size()) < ncoords;
    if (report.stopped_early) {
        report.run = read_stopped_run(dir, static_cast<int32_t>(report.fits.size()));
    } else {
        report.run = runfiles::read_run(dir);
        if (!report.run.filled()) report.fits.clear();
        else if (!with_report)
            throw RunFileError(qc_out.string() + ": missing, or older than MonthlyPDSI.tsf; run the gap filling again");
        else if (static_cast<int32_t>(report.fits.size()) != report.run.ncells())
            throw RunFileError(qc_out.string() + ": reports " + std::to_string(report.fits.size()) +
                               " cells where MonthlyPDSI.xy lists " + std::to_string(report.run.ncells()));
    }
    for (const CellFit& fit : report.fits) {
        const runfiles::Cell& cell = report.run.cells[fit.cell - 1];
        if (fit.lat != cell.lat || fit.lon != cell.lon) {
            char text[160];
            std::snprintf(text, sizeof text, ": grid point %d is at (%.2f, %.2f), cell %d of MonthlyPDSI.xy at (%.2f, %.2f)",
                          fit.cell, fit.lat, fit.lon, fit.cell, cell.lat, cell.lon);
            throw RunFileError(qc_out.string() + text);
        }
    }
    report.files = {"MonthlyPDSI.tsf", "MonthlyPDSI.xy"};
    if (report.run.filled()) {
        report.files.push_back("MonthlyPDSI_QC.tsf");
        report.files.push_back("MonthlyPDSI_QC.out");
        report.calibration = infer_calibration(report.run, report.fits);
    }
    return report;
}

}  // namespace report
