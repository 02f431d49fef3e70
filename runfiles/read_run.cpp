#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <utility>

#include "qc/input_files.h"
#include "qc/qc_file.h"
#include "qc/stage_data.h"
#include "runfiles/layout_check.h"
#include "runfiles/run_data.h"
#include "textio/errors.h"

namespace runfiles {

namespace fs = std::filesystem;

namespace {

constexpr float kSouthMid = -58.75f, kWestMid = -178.75f, kStep = 2.5f;
constexpr int32_t kRows = 55, kColumns = 144;

std::unique_ptr<textio::FileSource> open_file(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        throw RunFileError(path.string() + ": no such file (is this the folder of a run?)");
    auto in = std::make_unique<textio::FileSource>(path.string());
    if (!in->ok()) throw RunFileError(path.string() + ": cannot be opened");
    return in;
}

// The index of `value` among the mid-points first, first + step, ...; -1
// when it is none of them.
int32_t grid_index(float value, float first, int32_t count) {
    const float k = std::round((value - first) / kStep);
    if (!(k >= 0.0f && k < static_cast<float>(count))) return -1;
    const int32_t i = static_cast<int32_t>(k);
    return first + kStep * static_cast<float>(i) == value ? i : -1;
}

void read_cell_table(const fs::path& path, RunData& data) {
    auto in = open_file(path);
    std::vector<float> lats, lons;
    qc::read_coordinates(*in, lats, lons);
    std::set<std::pair<int32_t, int32_t>> seen;
    for (size_t c = 0; c < lats.size(); ++c) {
        Cell cell{lats[c], lons[c], {}};
        const int32_t j = grid_index(cell.lat, kSouthMid, kRows);
        const int32_t i = grid_index(cell.lon, kWestMid, kColumns);
        char text[96];
        std::snprintf(text, sizeof text, "cell %zu (%.2f, %.2f)", c + 1, cell.lat, cell.lon);
        if (i < 0 || j < 0)
            throw RunFileError(path.string() + ": " + text + " is not a mid-point of the 2.5-degree grid");
        if (!seen.insert({i, j}).second) throw RunFileError(path.string() + ": " + text + " is listed twice");
        data.cells.push_back(cell);
    }
}

// The values by the gap filling's own reader of the file.
void read_values(const fs::path& path, RunData& data) {
    qc::StageData stage(data.iyr1, data.iyr2);
    std::vector<float> lats, lons;
    for (const Cell& cell : data.cells) {
        lats.push_back(cell.lat);
        lons.push_back(cell.lon);
    }
    stage.set_cells(lats, lons);
    auto in = open_file(path);
    int32_t matched = 0;
    qc::CellsRead status = qc::CellsRead::early_end;
    try {
        if (qc::skip_data_header(*in)) status = qc::read_cells(*in, stage, matched);
    } catch (const textio::IoError&) {
        auto again = open_file(path);
        throw RunFileError(path.string() + " " + first_unreadable_record(*again, 3) + ": a value is not a number");
    }
    // The line check passed, so only a file changed since can fail here.
    if (status != qc::CellsRead::ok) throw RunFileError(path.string() + ": changed while it was read");
    data.values = std::move(stage.pdsi);
    for (size_t c = 0; c < data.cells.size(); ++c) {
        std::string& header = stage.hdr[c];
        header.erase(header.find_last_not_of(' ') + 1);
        data.cells[c].header = std::move(header);
    }
}

void read_estimates(const fs::path& path, RunData& data) {
    {
        auto in = open_file(path);
        check_qc_file(*in, path.string(), data);
    }
    qc::StageData stage(data.iyr1, data.iyr2);
    std::vector<float> lats(data.cells.size()), lons(data.cells.size());
    stage.set_cells(lats, lons);
    auto in = open_file(path);
    int32_t nread = 0;
    try {
        if (!qc::read_back(*in, stage, nread)) throw RunFileError(path.string() + ": changed while it was read");
    } catch (const textio::IoError&) {
        auto again = open_file(path);
        throw RunFileError(path.string() + " " + first_unreadable_record(*again, 0) + ": a value is not a number");
    }
    data.estimates = std::move(stage.est);
}

// The last line of the file that is not blank, from its tail: the span
// ends with its year. The tail read grows until it holds the line's start,
// however long the line or the blanks after it.
std::string last_line(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::streamoff size = std::max<std::streamoff>(0, in.tellg());
    std::string tail;
    size_t start = std::string::npos;
    for (std::streamoff want = 512;; want *= 2) {
        const std::streamoff from = std::max<std::streamoff>(0, size - want);
        tail.assign(static_cast<size_t>(size - from), '\0');
        in.seekg(from);
        in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
        while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' ')) tail.pop_back();
        start = tail.rfind('\n');
        if (start != std::string::npos || from == 0) break;
    }
    return start == std::string::npos ? tail : tail.substr(start + 1);
}

// The gap filling writes its file after reading MonthlyPDSI.tsf: one older
// than that is left from an earlier run in the folder.
bool current(const fs::path& qc_file, const fs::path& data_file) {
    std::error_code ec1, ec2;
    if (!fs::exists(qc_file, ec1)) return false;
    const auto qc_time = fs::last_write_time(qc_file, ec1);
    const auto data_time = fs::last_write_time(data_file, ec2);
    return ec1 || ec2 || qc_time >= data_time;
}

}  // namespace

RunData read_run(const fs::path& dir) {
    const fs::path tsf = dir / "MonthlyPDSI.tsf";
    const fs::path xy = dir / "MonthlyPDSI.xy";
    const fs::path qc_tsf = dir / "MonthlyPDSI_QC.tsf";
    RunData data;
    open_file(tsf);
    read_cell_table(xy, data);
    if (!data.cells.empty()) {
        auto in = open_file(tsf);
        infer_span(*in, last_line(tsf), tsf.string(), data);
    }
    {
        auto in = open_file(tsf);
        check_data_file(*in, tsf.string(), data);
    }
    if (data.cells.empty()) return data;
    read_values(tsf, data);
    if (current(qc_tsf, tsf)) read_estimates(qc_tsf, data);
    return data;
}

}  // namespace runfiles
