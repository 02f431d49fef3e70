// The QC stage's readers of "MonthlyPDSI.xy", "MonthlyPDSI.tsf" and
// "MonthlyPDSI_QC.tsf" on arbitrary text. A line "%%" splits the input:
// before it the coordinate file, after it the data file, which is also
// read as a QC file. Cells read whole must survive a trip through the QC
// file: once written and read back, they write the same text again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "qc/input_files.h"
#include "qc/qc_file.h"
#include "qc/stage_data.h"
#include "textio/errors.h"

namespace {

constexpr int32_t kFirst = 2000, kLast = 2001;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

std::string qc_text(const qc::StageData& data, const std::vector<float>& values) {
    textio::StringSink sink;
    for (int32_t c = 1; c <= data.ngrid; ++c) {
        qc::write_cell_header(sink, data.hdr[c - 1]);
        qc::write_cell_years(sink, values.data() + static_cast<size_t>(c - 1) * data.nmon, data.iyr1, data.nyrs);
    }
    return sink.text();
}

// Reads `text` back as a QC file into `data`; it must read whole.
void read_whole(const std::string& text, qc::StageData& data) {
    textio::StringSource in(text, "MonthlyPDSI_QC.tsf");
    int32_t nread = -1;
    if (!qc::read_back(in, data, nread) || nread != data.ngrid) fail("QC file as written does not read back");
}

void round_trip(qc::StageData& data) {
    const std::string once = qc_text(data, data.pdsi);
    read_whole(once, data);
    const std::string twice = qc_text(data, data.est);
    read_whole(twice, data);
    if (qc_text(data, data.est) != twice) fail("QC file changes on a second trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string xy = text, tsf = text;
    const size_t split = text.find("\n%%\n");
    if (split != std::string::npos) {
        xy = text.substr(0, split + 1);
        tsf = text.substr(split + 4);
    }

    std::vector<float> lats, lons;
    textio::StringSource xy_in(xy, "MonthlyPDSI.xy");
    qc::read_coordinates(xy_in, lats, lons);
    if (lats.size() != lons.size()) fail("coordinate tables of different lengths");

    qc::StageData cells(kFirst, kLast);
    cells.set_cells(lats, lons);
    textio::StringSource tsf_in(tsf, "MonthlyPDSI.tsf");
    if (qc::skip_data_header(tsf_in)) {
        int32_t matched = -1;
        try {
            const qc::CellsRead status = qc::read_cells(tsf_in, cells, matched);
            if (matched < 0 || matched > cells.ngrid) fail("matched count out of range");
            if (status == qc::CellsRead::ok) round_trip(cells);
        } catch (const textio::IoError&) {
            // A year record with a field that is no number.
        }
    }

    qc::StageData back(kFirst, kLast);
    back.set_cells(lats, lons);
    textio::StringSource qc_in(tsf, "MonthlyPDSI_QC.tsf");
    int32_t nread = -1;
    try {
        qc::read_back(qc_in, back, nread);
        if (nread < 0 || nread > back.ngrid) fail("read-back count out of range");
    } catch (const textio::IoError&) {
    }
    return 0;
}
