#include "qc/year_record.h"

#include <cstring>
#include <string>
#include <vector>

#include "textio/editors.h"

namespace qc {

namespace {

constexpr int32_t kYearWidth = 5;
constexpr int32_t kFieldWidth = 7;
constexpr int32_t kDecimals = 2;
constexpr int32_t kPerRecord = 12;
constexpr size_t kRecordLength = kYearWidth + kPerRecord * kFieldWidth;

}  // namespace

void put_int_slow(char* dst, int32_t value, int32_t w) {
    std::string field;
    textio::edit_int(field, value, w);
    field.copy(dst, static_cast<size_t>(w));
}

void put_real_slow(char* dst, float value, int32_t w, int32_t d) {
    std::string field;
    textio::edit_real(field, value, w, d);
    field.copy(dst, static_cast<size_t>(w));
}

void write_year_record(textio::Sink& out, int32_t year, const float* months) {
    char record[kRecordLength + 1];
    put_int<kYearWidth>(record, year);
    for (int32_t m = 0; m < kPerRecord; ++m) {
        put_real<kFieldWidth, kDecimals>(record + kYearWidth + m * kFieldWidth, months[m]);
    }
    record[kRecordLength] = '\n';
    out.buffer().append(record, sizeof record);
    out.flush_if_full();
}

void write_cell_row(textio::Sink& out, int32_t gpt, const float* row, int32_t n) {
    constexpr int32_t kFields = 20, kWidth = 8;
    if (n > kFields) {
        static const textio::Layout layout("(1x,i3,20f8.3)");
        std::vector<textio::OutValue> values;
        values.emplace_back(gpt);
        for (int32_t j = 0; j < n; ++j) values.emplace_back(row[j]);
        out.write(layout, values);
        return;
    }
    char record[4 + kFields * kWidth + 1];
    record[0] = ' ';
    put_int<3>(record + 1, gpt);
    for (int32_t j = 0; j < n; ++j) put_real<kWidth, 3>(record + 4 + j * kWidth, row[j]);
    const size_t length = 4 + static_cast<size_t>(n) * kWidth;
    record[length] = '\n';
    out.buffer().append(record, length + 1);
    out.flush_if_full();
}

bool read_plain_year(std::string_view record, float* months) {
    // Characters past the twelfth field are never read. A comma, which
    // ends a field early, is no plain field's character: the general
    // reader sees to it.
    if (record.size() < kRecordLength) return false;
    const char* fields = record.data() + kYearWidth;
    float v[kPerRecord];
    for (int32_t m = 0; m < kPerRecord; ++m) {
        if (!textio::parse_plain_real<kFieldWidth, kDecimals>(fields + m * kFieldWidth, v[m])) return false;
    }
    std::memcpy(months, v, sizeof v);
    return true;
}

}  // namespace qc
