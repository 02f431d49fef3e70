#pragma once
// The quality-control and gap-filling stage, run on the two extraction
// files of a folder.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "qc/period_dialogue.h"
#include "textio/console.h"
#include "textio/progress.h"

namespace qc {

// nmon values a cell, cell after cell, as the files hold them.
struct StageSeries {
    std::vector<float> pdsi, est;
};

struct StageRequest {
    int32_t iyr1 = 0;
    int32_t iyr2 = 0;
    std::filesystem::path dir;                // empty: the working directory
    std::optional<CalibrationPeriod> period;  // none: asked on the console
    textio::Progress* progress = nullptr;     // cells treated
    int32_t threads = 1;                      // the output is the same for any count
    // When set and the stage completes: its data as read and its estimates
    // as read back, sparing a caller that would read the files again.
    StageSeries* series = nullptr;
};

// How the stage ended. Every end but `complete` has been shown on the
// console in the dialogue's words and waited on.
struct StageOutcome {
    enum class End { complete, file_not_found, data_header_missing, mismatch, early_end, lone_cell, qc_read_back };
    End end = End::complete;
    std::string file;      // file_not_found: the file's name
    int32_t ngrid = 0;     // cells in the coordinate file
    int32_t count = 0;     // early_end: headers matched; qc_read_back: cells read back
    int32_t cell = 0;      // lone_cell: the cell without a neighbour
    float lat = 0.0f, lon = 0.0f;  // lone_cell: its mid-point
    CalibrationPeriod period;
};

StageOutcome run_stage(textio::Console& console, const StageRequest& request);

// The dialogue's call: the working directory, the period asked for.
inline void orvqc5(textio::Console& console, int32_t iyr1, int32_t iyr2, int32_t threads = 1) {
    run_stage(console, StageRequest{iyr1, iyr2, {}, std::nullopt, nullptr, threads, nullptr});
}

}  // namespace qc
