#pragma once
// The grid reader: one forward pass over the grid file that keeps the
// span's months for the box.
#include <cstdint>
#include <string>

#include "extract/box.h"
#include "extract/grid_store.h"
#include "textio/errors.h"
#include "textio/progress.h"

namespace extract {

// A box row that cannot be read: record nrec + 1 of the file.
struct GridReadFailure {
    int32_t nrec;      // records read before it, the file header included
    Box box;
    std::string fault; // what is wrong with the record
};

// The file ends outside the box's rows, before the span does.
class GridEnded : public textio::IoError {
public:
    GridEnded(const std::string& unit, int32_t nrec)
        : textio::IoError(textio::kReadPastEnd, "formatted read", unit), nrec(nrec) {}
    int32_t nrec;  // records the file holds
};

// Reads months January iyr1 to December iyr2 of the box's cells from the
// grid file at `path`. A box row that cannot be read throws GridReadFailure;
// the file ending anywhere else throws GridEnded. `progress` hears of every
// month read. The rows are parsed on `threads` threads; what it returns or
// throws is the same for any count.
GridStore readgrid(const std::string& path, int32_t iyr1, int32_t iyr2, const Box& box,
                   textio::Progress* progress = nullptr, int32_t threads = 1);

}  // namespace extract
