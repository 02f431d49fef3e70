#include "qc/input_files.h"

#include <cmath>
#include <limits>

#include "qc/findgridpoints.h"
#include "qc/year_record.h"
#include "textio/errors.h"
#include "textio/record_read.h"

namespace qc {

namespace {

bool skip_lines(textio::LineSource& in, int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
        if (!in.skip()) return false;
    }
    return true;
}

// Reads nmon values, twelve to a year record, into `values`: record by
// record as "(5x,12f7.2)" read with reversion would, the plain ones fast.
textio::ReadStatus read_months(textio::LineSource& in, float* values, int32_t nmon) {
    static const textio::Layout year_record("(5x,12f7.2)");
    for (int32_t k = 0; k < nmon; k += 12) {
        const auto line = in.next();
        if (!line) return textio::ReadStatus::end;
        float* v = values + k;
        if (read_plain_year(*line, v)) continue;
        const textio::ReadStatus status = textio::read_record(
            *line, year_record, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]});
        if (status != textio::ReadStatus::ok) return status;
    }
    return textio::ReadStatus::ok;
}

}  // namespace

void read_coordinates(textio::LineSource& in, std::vector<float>& lats, std::vector<float>& lons) {
    lats.clear();
    lons.clear();
    if (!skip_lines(in, 3)) return;
    for (;;) {
        // A line that leaves either value unset (a lone "/" or ",") is no pair.
        float x = std::numeric_limits<float>::quiet_NaN();
        float y = x;
        const textio::ReadStatus status = textio::read_free(in, {x, y});
        if (status == textio::ReadStatus::end) return;
        if (status != textio::ReadStatus::ok || std::isnan(x) || std::isnan(y)) continue;
        lons.push_back(x);
        lats.push_back(y);
    }
}

bool skip_data_header(textio::LineSource& in) { return skip_lines(in, 3); }

CellsRead read_cells(textio::LineSource& in, StageData& data, int32_t& matched) {
    static const textio::Layout position("(f9.2,f8.2)");
    matched = 0;
    for (int32_t c = 1; c <= data.ngrid; ++c) {
        std::string& hdr = data.hdr[c - 1];
        for (;;) {
            blank(hdr);
            const auto line = in.next();
            if (!line) return CellsRead::early_end;
            hdr.replace(0, std::min(line->size(), hdr.size()), line->substr(0, hdr.size()));
            float y = 0.0f;
            float x = 0.0f;
            if (textio::read_record(hdr, position, {y, x}) == textio::ReadStatus::ok) {
                if (y != data.lat(c) || x != data.lon(c)) return CellsRead::mismatch;
                break;
            }
        }
        ++matched;
        switch (read_months(in, data.pdsi_col(c), data.nmon)) {
            case textio::ReadStatus::ok: break;
            case textio::ReadStatus::end: return CellsRead::early_end;
            case textio::ReadStatus::error:
                throw textio::IoError(textio::kIllegalChar, "formatted read", in.name());
        }
    }
    return CellsRead::ok;
}

}  // namespace qc
