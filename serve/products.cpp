#include "serve/products.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "cli/extract_checks.h"
#include "extract/grid_axes.h"
#include "extract/screen.h"
#include "extract/writecells.h"
#include "formats/writers.h"
#include "indices/area.h"
#include "qc/orvqc5.h"
#include "report/page.h"
#include "report/report_data.h"
#include "runfiles/run_data.h"
#include "textio/console.h"
#include "textio/errors.h"
#include "textio/sink.h"

#ifndef PDSI_VERSION
#define PDSI_VERSION "0"
#endif

namespace serve {

namespace fs = std::filesystem;

namespace {

const std::string kProgram = std::string("pdsi ") + PDSI_VERSION;

struct TimedOut {};

// Stops a read or a gap filling at its deadline or at the server's stop:
// progress is reported on the thread that commits, so the throw unwinds
// the run as a failed write would. The steps without progress are checked
// between them.
class DeadlineProgress : public textio::Progress {
public:
    explicit DeadlineProgress(const Budget& budget) : budget_(budget) {}
    void advance(int32_t, int32_t) override { check(); }
    void check() const {
        if (budget_.over()) throw TimedOut{};
    }

private:
    const Budget& budget_;
};

// A folder of one job, gone with it whatever happens.
class JobFolder {
public:
    JobFolder(const fs::path& root, uint64_t number) : path_(root / ("job-" + std::to_string(number))) {
        fs::create_directories(path_);
    }
    ~JobFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    JobFolder(const JobFolder&) = delete;
    JobFolder& operator=(const JobFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::shared_ptr<const std::string> slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw HttpError{500, "cannot read back " + path.filename().string()};
    std::ostringstream text;
    text << in.rdbuf();
    return std::make_shared<const std::string>(std::move(text).str());
}

// The job's files could not be written: a full or unwritable temporary
// folder. The client hears why in general; the log has the file.
HttpError no_room(const std::string& detail) {
    std::fprintf(stderr, "pdsi serve: the temporary folder failed a job: %s\n", detail.c_str());
    return HttpError{507, "the server has no room for this request's files now (its temporary folder is full "
                          "or unwritable); try again later"};
}

}  // namespace

bool Producer::needs_folder(const ExtractQuery& query, FileKind wanted) {
    return query.fill.has_value() ||
           (wanted != FileKind::tsf && wanted != FileKind::xy && wanted != FileKind::area_csv);
}

// The area file of `series`; the NetCDF one is written in a folder of its own.
std::shared_ptr<const std::string> Producer::area_file(const indices::AreaSeries& series, const ExtractQuery& query,
                                                       FileKind wanted, const fs::path* dir) const {
    if (wanted == FileKind::area_csv) return std::make_shared<const std::string>(indices::area_csv(series));
    std::optional<JobFolder> own;
    if (!dir) dir = &own.emplace(temp_root_, ++jobs_).path();
    const fs::path path = *dir / "MonthlyPDSI_area.nc";
    indices::write_area_netcdf(
        series, {kProgram, "pdsi serve: /extract/MonthlyPDSI_area.nc?" + query.query_string(), {}}, path);
    return slurp(path);
}

Products Producer::make(const ExtractQuery& query, FileKind wanted, const Budget& budget) const {
    const extract::Request request = query.request();
    const extract::GridAxes axes;
    Products out;
    out.box = extract::findbox(axes, request.latmin, request.latmax, request.lonmin, request.lonmax);
    out.nbox = out.box.nbox();
    DeadlineProgress progress(budget);
    textio::NullSink nowhere;
    textio::Console console(nowhere);
    const std::string grid_name = grid_.name();
    try {
        const BoxData data = grid_.read(request.iyr1, request.iyr2, out.box, budget.threads, &progress);
        const std::vector<int32_t> keep = extract::screencells(data.view, request.pctmiss, budget.threads);
        for (int32_t k : keep) out.nkept += k;
        const bool area = wanted == FileKind::area_csv || wanted == FileKind::area_nc;

        if (area && !query.fill) {
            std::optional<indices::AreaSeries> series;
            try {
                series = indices::area_of_view(data.view, keep, request.iyr1, budget.threads);
            } catch (const indices::NotStorable&) {
                // Through the text files below, whose reader says what is wrong.
            }
            if (series) {
                progress.check();
                out.files[wanted] = area_file(*series, query, wanted, nullptr);
                return out;
            }
        }

        if (!area && !needs_folder(query, wanted)) {
            textio::StringSink tsf, xy;
            // A kept cell is its header line and a record of 90 bytes a year.
            const size_t nyrs = static_cast<size_t>(request.iyr2 - request.iyr1 + 1);
            tsf.reserve(512 + static_cast<size_t>(out.nkept) * (64 + 90 * nyrs));
            xy.reserve(128 + static_cast<size_t>(out.nkept) * 18);
            extract::writecells(console, data.view, keep, axes, request.iyr1, tsf, xy, budget.threads);
            out.files[FileKind::tsf] = std::make_shared<const std::string>(std::move(tsf.text()));
            out.files[FileKind::xy] = std::make_shared<const std::string>(std::move(xy.text()));
            return out;
        }

        progress.check();
        const JobFolder folder(temp_root_, ++jobs_);
        const fs::path& dir = folder.path();
        extract::writecells(console, data.view, keep, axes, request.iyr1, dir, budget.threads);
        qc::StageSeries stage_series;  // what the area files take of the stage
        if (query.fill) {
            qc::StageRequest stage{request.iyr1, request.iyr2, dir,
                                   qc::calibration_period(request.iyr1, request.iyr2, query.fill->first,
                                                          query.fill->last),
                                   &progress, budget.threads, area ? &stage_series : nullptr};
            const qc::StageOutcome outcome = qc::run_stage(console, stage);
            if (outcome.end != qc::StageOutcome::End::complete) throw HttpError{422, cli::stage_failure(outcome)};
            out.filled = outcome.ngrid;
        }
        progress.check();
        const std::string program = kProgram;
        if (area) {
            // The run as its files give it back, from the stage that read
            // them: reading them again would cost what the filling does.
            std::optional<runfiles::RunData> run;
            if (query.fill) {
                run.emplace();
                run->iyr1 = request.iyr1;
                run->iyr2 = request.iyr2;
                for (int32_t n = 1; n <= out.box.nbox(); ++n)
                    if (keep[static_cast<size_t>(n - 1)] != 0)
                        run->cells.push_back({axes.ylat(out.box.row(n)), axes.xlon(out.box.column(n)), ""});
                run->values = std::move(stage_series.pdsi);
                run->estimates = std::move(stage_series.est);
                const size_t size = run->cells.size() * static_cast<size_t>(run->nmon());
                if (run->values.size() != size || run->estimates.size() != size) run.reset();
            }
            if (!run) run = runfiles::read_run(dir);
            progress.check();
            const indices::AreaSeries series =
                indices::area_of_run(*run, std::pair{request.iyr1, request.iyr2}, budget.threads);
            out.files[wanted] = area_file(series, query, wanted, &dir);
        } else if (wanted == FileKind::netcdf || wanted == FileKind::csv || wanted == FileKind::geotiff) {
            const runfiles::RunData run = runfiles::read_run(dir);
            progress.check();
            fs::path path;
            for (const FileInfo& file : output_files())
                if (file.kind == wanted) path = dir / file.name;
            if (wanted == FileKind::netcdf)
                formats::write_netcdf(run, {program, "pdsi serve: /extract/MonthlyPDSI.nc?" + query.query_string(), {}},
                                      path);
            else if (wanted == FileKind::geotiff)
                formats::write_geotiff(run, path);
            else
                formats::write_csv(run, path);
            progress.check();
            out.files[wanted] = slurp(path);
        } else if (wanted == FileKind::report) {
            const report::ReportData data = report::read_report_data(dir);
            progress.check();
            out.files[wanted] = std::make_shared<const std::string>(report::render_page(data, program));
        }
        for (const FileInfo& file : output_files()) {
            if (out.files.count(file.kind) || file.copy) continue;
            if (file.needs_fill && !query.fill) continue;
            out.files[file.kind] = slurp(dir / file.name);
        }
        return out;
    } catch (const extract::GridReadFailure& failure) {
        throw HttpError{422, cli::grid_read_message(grid_name, failure)};
    } catch (const extract::GridEnded& ended) {
        throw HttpError{422, cli::grid_ended_message(grid_name, ended.nrec, request.iyr2)};
    } catch (const TimedOut&) {
        if (budget.cancelled && budget.cancelled->load())
            throw HttpError{503, "the server is stopping; try again"};
        throw HttpError{504, "the request took longer than " + std::to_string(budget.timeout_seconds) +
                                 " s and was stopped"};
    } catch (const runfiles::RunFileError& error) {
        throw HttpError{500, error.what()};
    } catch (const formats::NothingToWrite&) {
        // Its message names the job's folder: the client hears the reason.
        throw HttpError{422, "MonthlyPDSI.tif: no cell of the box was kept, and a GeoTIFF cannot be empty"};
    } catch (const formats::FormatError& error) {
        throw no_room(error.what());
    } catch (const textio::IoError& error) {
        throw no_room(error.what());
    } catch (const fs::filesystem_error& error) {
        throw no_room(error.what());
    }
}

}  // namespace serve
