#pragma once
// Reads the box's columns from one data row of the grid file: value k is
// the F6.2 field of column ilon1 + k - 1, fields 7 characters apart.
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/layout.h"

namespace extract {

// The run-time row layout `rowfmt`, 40 characters: "(    (f6.2,1x))" with
// the count written in for ilon1 = 1, otherwise "(      x,    (f6.2,1x))"
// with the skip and the count written in.
std::string make_rowfmt(int32_t ilon1, int32_t ilon2);

class RowReader {
public:
    RowReader(int32_t ilon1, int32_t ilon2);

    // Reads one row (carriage returns dropped, tabs expanded) into
    // out[0 .. ilon2 - ilon1]; false on a read failure. A row that stops
    // before the end of the last box field is a failure, not zeros: a
    // truncated file must not pass for data.
    bool read(std::string_view row, float* out) const;
    // Why read() refused `row`, in words for an error message.
    std::string fault(std::string_view row) const;
    // The same by the layout alone, never the shortcut: what read() must match.
    bool read_by_layout(std::string_view row, float* out) const;

    const std::string& rowfmt() const { return rowfmt_; }
    int32_t count() const { return n_; }

private:
    bool long_enough(std::string_view row) const { return row.size() >= static_cast<size_t>(7 * ilon2_ - 1); }
    bool read_from(std::string_view row, float* out, int32_t k) const;

    int32_t ilon1_;
    int32_t ilon2_;
    int32_t n_;
    std::string rowfmt_;
    textio::Layout layout_;
};

}  // namespace extract
