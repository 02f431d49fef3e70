#pragma once
// Records of the stage's files formatted and read without the layout walk:
// the QC file alone writes a quarter of a million year records, and the
// columnwise tables three million fields each.
#include <cstdint>
#include <string_view>

#include "textio/plain_fields.h"
#include "textio/sink.h"

namespace qc {

// The general editors, for the fields the fast ones leave.
void put_int_slow(char* dst, int32_t value, int32_t w);
void put_real_slow(char* dst, float value, int32_t w, int32_t d);

// Fields of exactly W characters.
template <int32_t W>
inline void put_int(char* dst, int32_t value) {
    if (!textio::edit_plain_int<W>(dst, value)) put_int_slow(dst, value, W);
}
template <int32_t W, int32_t D>
inline void put_real(char* dst, float value) {
    if (!textio::edit_plain_real<W, D>(dst, value)) put_real_slow(dst, value, W, D);
}

// One year record "(i5,12f7.2)" at the end of the sink's buffer.
void write_year_record(textio::Sink& out, int32_t year, const float* months);

// One record "(1x,i3,20f8.3)" of the report: a cell's number and its row
// of a matrix, n values (at most 20 fit the one record; more take the
// layout's own way).
void write_cell_row(textio::Sink& out, int32_t gpt, const float* row, int32_t n);

// The twelve values of a "(5x,12f7.2)" record when every field has the
// plain shape; false, with `months` untouched, when one has not.
bool read_plain_year(std::string_view record, float* months);

}  // namespace qc
