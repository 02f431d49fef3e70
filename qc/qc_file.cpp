#include "qc/qc_file.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "qc/findgridpoints.h"
#include "qc/year_batches.h"
#include "qc/year_record.h"
#include "textio/errors.h"
#include "textio/record_read.h"

namespace qc {

namespace {

constexpr size_t kSkip = 5;
constexpr size_t kFieldWidth = 7;
constexpr int32_t kPerRecord = 12;

bool equals_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char p, char q) {
               return std::tolower(static_cast<unsigned char>(p)) ==
                      std::tolower(static_cast<unsigned char>(q));
           });
}

// True for what the real editor writes when it cannot show a number.
bool is_unshowable(std::string_view field) {
    if (field.find('*') != std::string_view::npos) return true;
    const size_t first = field.find_first_not_of(' ');
    if (first == std::string_view::npos) return false;
    field = field.substr(first, field.find_last_not_of(' ') - first + 1);
    if (!field.empty() && (field[0] == '-' || field[0] == '+')) field.remove_prefix(1);
    return equals_nocase(field, "nan") || equals_nocase(field, "inf");
}

// Puts the missing value in place of every unshowable field of a record.
void mend_record(std::string& record) {
    for (int32_t m = 0; m < kPerRecord; ++m) {
        const size_t at = kSkip + m * kFieldWidth;
        if (at >= record.size()) break;
        const size_t width = std::min(kFieldWidth, record.size() - at);
        if (is_unshowable(std::string_view(record).substr(at, width))) {
            record.replace(at, width, " -99.90");
        }
    }
}

}  // namespace

void write_cell_header(textio::Sink& out, const std::string& hdr) {
    static const textio::Layout header("(a80)");
    out.write(header, {hdr});
}

void write_cell_years(textio::Sink& out, const float* est, int32_t iyr1, int32_t nyrs) {
    for (int32_t y = 1; y <= nyrs; ++y) write_year_record(out, iyr1 + y - 1, est + kPerRecord * (y - 1));
}

bool read_back(textio::LineSource& in, StageData& data, int32_t& nread, int32_t threads) {
    static const textio::Layout year_record("(5x,12f7.2)");
    const std::string unit = in.name();
    YearBatches years(threads, [&unit](std::string_view text, float* v) {
        if (read_plain_year(text, v)) return;
        std::string record(text);
        mend_record(record);
        const textio::ReadStatus status = textio::read_record(
            record, year_record, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]});
        if (status != textio::ReadStatus::ok) throw textio::IoError(textio::kIllegalChar, "formatted read", unit);
    });
    nread = 0;
    // The values are parsed behind the reading: a bad one found there
    // still ends the read before the file's end does.
    auto read = [&] {
        for (int32_t c = 1; c <= data.ngrid; ++c) {
            std::string& hdr = data.hdr[c - 1];
            blank(hdr);
            const auto line = in.next();
            if (!line) return false;
            hdr.replace(0, std::min(line->size(), hdr.size()), line->substr(0, hdr.size()));
            float* est = data.est_col(c);
            for (int32_t y = 0; y < data.nyrs; ++y) {
                const auto text = in.next();
                if (!text) return false;
                years.add(*text, est + kPerRecord * y);
            }
            ++nread;
        }
        return true;
    };
    const bool whole = read();
    years.finish();
    return whole;
}

}  // namespace qc
