#include "qc/orvqc5.h"

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "parallel/pipeline.h"
#include "qc/analysis.h"
#include "qc/columnwise.h"
#include "qc/findgridpoints.h"
#include "qc/input_files.h"
#include "qc/listing.h"
#include "qc/neighbour_index.h"
#include "qc/period_dialogue.h"
#include "qc/qc_file.h"
#include "qc/stage_data.h"
#include "qc/welcome.h"
#include "textio/sink.h"
#include "textio/source.h"

namespace qc {

namespace {

const std::string kCoordFile = "MonthlyPDSI.xy";
const std::string kDataFile = "MonthlyPDSI.tsf";
const std::string kColFile = "MonthlyPDSI_col.tsf";
const std::string kQcFile = "MonthlyPDSI_QC.tsf";
const std::string kQcColFile = "MonthlyPDSI_QC_col.tsf";
const std::string kReportFile = "MonthlyPDSI_QC.out";

constexpr size_t kNameWidth = 40;

std::string name_field(const std::string& name) {
    std::string field = name;
    field.resize(std::max(kNameWidth, name.size()), ' ');
    return field;
}

// The neighbourhood of the cell under treatment, rebuilt for every cell.
struct Neighbourhood {
    explicit Neighbourhood(int32_t nmon)
        : nmon(nmon), nbr(static_cast<size_t>(nmon) * kListCapacity), ctr(nmon) {}

    int32_t nmon;
    int32_t nfound = 0;
    int32_t gpt[kListCapacity] = {};
    float glat[kListCapacity] = {};
    float glon[kListCapacity] = {};
    std::vector<float> nbr;  // nmon by nfound
    std::vector<float> ctr;

    void gather(const StageData& data, int32_t c) {
        const float* centre = data.pdsi_col(c);
        std::copy(centre, centre + nmon, ctr.begin());
        for (int32_t j = 0; j < nfound; ++j) {
            const float* column = data.pdsi_col(gpt[j]);
            std::copy(column, column + nmon, nbr.begin() + static_cast<size_t>(j) * nmon);
            glat[j] = data.lat(gpt[j]);
            glon[j] = data.lon(gpt[j]);
        }
    }
};

// A cell's neighbourhood as found, before it is gathered.
struct Found {
    int32_t nfound = 0;
    int32_t gpt[kListCapacity] = {};
    bool expanded = false;  // found only by the wider search
};

// Some cells analysed on any thread: what they write, kept to be written
// in cell order.
struct CellBatch {
    explicit CellBatch(int32_t nmon) : hood(nmon), analysis(nmon) {}
    struct Marks {
        size_t report = 0, console = 0, qc = 0;
    };
    void clear() {
        report.clear();
        console.clear();
        qc.clear();
        marks.clear();
    }
    int32_t first = 1, count = 0;
    Neighbourhood hood;
    CellAnalysis analysis;
    textio::RecordingSink report, console, qc;
    std::vector<Marks> marks;  // each cell's end in the three
};

class Stage {
public:
    Stage(textio::Console& console, const StageRequest& request)
        : console_(console), request_(request), data_(request.iyr1, request.iyr2) {}

    ~Stage() {
        if (estimates_.joinable()) estimates_.join();
    }

    StageOutcome run() {
        show_welcome(console_);
        report_ = std::make_unique<textio::FileSink>(path(kReportFile));
        if (load()) {
            if (estimates_.joinable()) estimates_.join();
            treat_cells();
        }
        finish();
        // A failure path leaves files open; closing them here, not in a
        // destructor, lets a failed write end the run with its error.
        if (qc_abandoned_) qc_abandoned_->close();
        report_->close();
        outcome_.ngrid = data_.ngrid;
        outcome_.period = period_;
        if (request_.series && outcome_.end == StageOutcome::End::complete)
            *request_.series = {std::move(data_.pdsi), std::move(data_.est)};
        return outcome_;
    }

private:
    // Steps up to the columnwise copy of the input; false after a failure
    // that has been reported and waited on.
    bool load() {
        static const textio::Layout coord_opened("(/1x,'Orv coordinate file opened: ',a)");
        static const textio::Layout coords_read("(/1x,'Orv PDSI grid coordinates read in:  ',i5)");
        static const textio::Layout data_opened("(/1x,'Orv PDSI data file opened:  ',a)");
        static const textio::Layout data_opened_report("(1x,'Orv PDSI data file opened:  ',a)");
        static const textio::Layout mismatch("(/'Lat-Lon mismatch -- ngrid: ',i5)");
        static const textio::Layout early_end("(/'Oops! End of file reading in data',2i5)");
        static const textio::Layout cells_read("(/1x,'Orv PDSI gridded data read in: ',i5)");
        static const textio::Layout saved("(/1x,'Orv PDSI saved in columnwise format')");

        {
            textio::FileSource xy(path(kCoordFile));
            if (!xy.ok()) return not_found(kCoordFile);
            fname_ = name_field(kCoordFile);
            std::vector<float> lats, lons;
            console_.write(coord_opened, {fname_});
            report_->write(coord_opened, {fname_});
            read_coordinates(xy, lats, lons);
            // The estimates' storage is made ready beside the reading of the
            // data: first touches of fresh memory are slow.
            data_.set_cells(lats, lons, request_.threads <= 1);
            if (request_.threads > 1) estimates_ = std::thread([this] { data_.size_estimates(); });
            console_.write(coords_read, {data_.ngrid});
        }

        textio::FileSource tsf(path(kDataFile));
        if (!tsf.ok()) return not_found(kDataFile);
        const bool has_header = skip_data_header(tsf);
        fname_ = name_field(kDataFile);
        if (!has_header) {
            outcome_.end = StageOutcome::End::data_header_missing;
            console_.write(early_end, {data_.ngrid, 0});
            return wait_to_continue();
        }
        console_.write(data_opened, {fname_});
        report_->write(data_opened_report, {fname_});

        period_ = request_.period ? *request_.period : ask_calibration_period(console_, data_.iyr1, data_.iyr2);

        int32_t matched = 0;
        switch (read_cells(tsf, data_, matched, request_.threads)) {
            case CellsRead::ok: break;
            case CellsRead::mismatch:
                outcome_.end = StageOutcome::End::mismatch;
                console_.write(mismatch, {data_.ngrid});
                return wait_to_continue();
            case CellsRead::early_end:
                outcome_.end = StageOutcome::End::early_end;
                outcome_.count = matched;
                console_.write(early_end, {data_.ngrid, matched});
                return wait_to_continue();
        }
        console_.write(cells_read, {data_.ngrid});

        textio::FileSink col(path(kColFile));
        write_columnwise(col, data_.pdsi.data(), data_.nmon, data_.ngrid, data_.iyr1, request_.threads);
        col.close();
        console_.write(saved, {});
        return true;
    }

    // The loop over cells, then the columnwise copy of the QC file. Cells
    // are analysed on the request's threads, each with its own copy of its
    // neighbourhood, and their lines are written in cell order.
    void treat_cells() {
        static const textio::Layout rule("(/1x,72('='),/)");
        static const textio::Layout expanded(
            "(5x,'*** QC grid point numbers .le. one, search expanded: ',i4,' ***')");
        static const textio::Layout cell_line("(1x,'Grid point: ',i4,a80)");

        auto qc = std::make_unique<textio::FileSink>(path(kQcFile));
        console_.write(rule, {});

        // The neighbourhoods first: they are quick to find, and the first
        // cell without one ends the loop.
        const NeighbourIndex index(data_.coord.data(), data_.ngrid, data_.ngrid);
        std::vector<Found> found(static_cast<size_t>(data_.ngrid));
        int32_t lone = 0;
        for (int32_t c = 1; c <= data_.ngrid && lone == 0; ++c) {
            Found& f = found[static_cast<size_t>(c - 1)];
            index.find(c, f.nfound, f.gpt, data_.iyrs.data(), kListCapacity, 2.5f);
            if (f.nfound > 1) continue;
            f.expanded = true;
            index.find(c, f.nfound, f.gpt, data_.iyrs.data(), kListCapacity, 5.0f);
            if (f.nfound <= 1) lone = c;
        }
        const int32_t ncells = lone > 0 ? lone - 1 : data_.ngrid;

        // Tasks of some 12000 months of cells: short spans make light cells,
        // and handing over a task has a cost of its own.
        const int32_t kCells = std::max(8, 12000 / data_.nmon);
        const int32_t threads = std::max(1, request_.threads);
        const size_t window = parallel::Pipeline::window_for(threads, 4);
        parallel::Slots<CellBatch> batches(window, data_.nmon);
        auto analyse = [&](CellBatch& batch) {
            batch.clear();
            for (int32_t c = batch.first; c < batch.first + batch.count; ++c) {
                const Found& f = found[static_cast<size_t>(c - 1)];
                Neighbourhood& hood = batch.hood;
                hood.nfound = f.nfound;
                std::copy(f.gpt, f.gpt + kListCapacity, hood.gpt);
                hood.gather(data_, c);
                write_listing(batch.report, c, data_.hdr[c - 1], hood.gpt, hood.glat, hood.glon, hood.nfound);
                float* est = data_.est_col(c);
                batch.analysis.run(numeric::ColumnMatrix<float>(hood.nbr.data(), data_.nmon), hood.ctr.data(),
                                   data_.pdsi_col(c), hood.gpt, hood.nfound, data_.nmon, period_.ncal,
                                   period_.npre, est, batch.report, batch.console);
                write_cell_years(batch.qc, est, data_.iyr1, data_.nyrs);
                batch.marks.push_back({batch.report.mark(), batch.console.mark(), batch.qc.mark()});
            }
        };
        auto commit = [&](const CellBatch& batch) {
            CellBatch::Marks from{};
            for (int32_t k = 0; k < batch.count; ++k) {
                const int32_t c = batch.first + k;
                const CellBatch::Marks& to = batch.marks[static_cast<size_t>(k)];
                write_cell_header(*qc, data_.hdr[c - 1]);
                if (found[static_cast<size_t>(c - 1)].expanded) console_.write(expanded, {c});
                console_.write(cell_line, {c, data_.hdr[c - 1]});
                batch.report.replay(*report_, from.report, to.report);
                batch.console.replay(console_.out(), from.console, to.console);
                batch.qc.replay(*qc, from.qc, to.qc);
                qc->flush_if_full();
                report_->flush_if_full();
                if (request_.progress) request_.progress->advance(c, data_.ngrid);
                from = to;
            }
        };
        {
            parallel::Pipeline pipeline(threads, window);
            for (int32_t first = 1; first <= ncells; first += kCells) {
                CellBatch& batch = batches.next();
                batch.first = first;
                batch.count = std::min(kCells, ncells - first + 1);
                pipeline.submit([&analyse, &batch] { analyse(batch); }, [&commit, &batch] { commit(batch); });
            }
            pipeline.finish();
        }
        if (lone > 0) {
            // The QC and report files are left as they stand.
            write_cell_header(*qc, data_.hdr[lone - 1]);
            console_.write(expanded, {lone});
            console_.write(expanded, {lone});
            outcome_.end = StageOutcome::End::lone_cell;
            outcome_.cell = lone;
            outcome_.lat = data_.lat(lone);
            outcome_.lon = data_.lon(lone);
            qc_abandoned_ = std::move(qc);
            return;
        }
        qc->close();
        report_->close();

        static const textio::Layout qc_early_end("(/'Oops! End of file reading in QC data',2i5)");
        textio::FileSource back(path(kQcFile));
        int32_t nread = 0;
        if (!back.ok() || !read_back(back, data_, nread, request_.threads)) {
            outcome_.end = StageOutcome::End::qc_read_back;
            outcome_.count = nread;
            console_.write(qc_early_end, {data_.ngrid, nread});
            wait_to_continue();
            return;
        }
        textio::FileSink qc_col(path(kQcColFile));
        write_columnwise(qc_col, data_.est.data(), data_.nmon, data_.ngrid, data_.iyr1, request_.threads);
        qc_col.close();
    }

    bool not_found(const std::string& name) {
        static const textio::Layout message("(/'File not found: ',a)");
        outcome_.end = StageOutcome::End::file_not_found;
        outcome_.file = path(name);
        console_.write(message, {name_field(name)});
        return wait_to_continue();
    }

    bool wait_to_continue() {
        static const textio::Layout okay("(1x,'Okay, hit return to continue.')");
        console_.write(okay, {});
        console_.wait();
        return false;
    }

    void finish() {
        static const textio::Layout rule("(/1x,72('='),/)");
        static const textio::Layout complete("(1x,'Process complete. End of Orv_QC')");
        console_.write(rule, {});
        console_.write(complete, {});
        wait_to_continue();
    }

    // Without a folder a file is opened by its name alone, so that an error
    // names it as the dialogue's user knows it.
    std::string path(const std::string& name) const {
        return request_.dir.empty() ? name : (request_.dir / name).string();
    }

    textio::Console& console_;
    const StageRequest& request_;
    StageOutcome outcome_;
    StageData data_;
    CalibrationPeriod period_;
    std::string fname_ = name_field("");
    std::unique_ptr<textio::FileSink> report_;
    std::unique_ptr<textio::FileSink> qc_abandoned_;
    std::thread estimates_;  // sizes data_.est while the data are read
};

}  // namespace

StageOutcome run_stage(textio::Console& console, const StageRequest& request) {
    Stage stage(console, request);
    return stage.run();
}

}  // namespace qc
