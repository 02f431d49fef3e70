#include "qc/input_files.h"

#include <cmath>
#include <limits>

#include "qc/findgridpoints.h"
#include "qc/year_batches.h"
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

// A year record as "(5x,12f7.2)" reads it, the plain ones fast.
void parse_year(std::string_view record, float* v, const std::string& unit) {
    static const textio::Layout year_record("(5x,12f7.2)");
    if (read_plain_year(record, v)) return;
    const textio::ReadStatus status = textio::read_record(
        record, year_record, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]});
    if (status != textio::ReadStatus::ok) throw textio::IoError(textio::kIllegalChar, "formatted read", unit);
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

CellsRead read_cells(textio::LineSource& in, StageData& data, int32_t& matched, int32_t threads) {
    static const textio::Layout position("(f9.2,f8.2)");
    const std::string unit = in.name();
    YearBatches years(threads, [&unit](std::string_view record, float* v) { parse_year(record, v, unit); });
    matched = 0;
    // The values are parsed behind the reading: a bad one found there
    // still ends the read before anything later in the file does.
    auto read = [&]() -> CellsRead {
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
            float* values = data.pdsi_col(c);
            for (int32_t k = 0; k < data.nmon; k += 12) {
                const auto line = in.next();
                if (!line) return CellsRead::early_end;
                years.add(*line, values + k);
            }
        }
        return CellsRead::ok;
    };
    const CellsRead result = read();
    years.finish();
    return result;
}

}  // namespace qc
