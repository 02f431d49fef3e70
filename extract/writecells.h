#pragma once
// The extraction writer: the kept cells' monthly series to "MonthlyPDSI.tsf"
// and their mid-points to "MonthlyPDSI.xy", in box order.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/grid_axes.h"
#include "extract/grid_store.h"
#include "textio/console.h"
#include "textio/sink.h"

namespace extract {

// Creates or replaces both files in `dir` (empty: the working directory, so
// that an error names the file as the user knows it), echoes every kept cell on the
// console, and closes both files before it returns.
// The records are formatted on `threads` threads and written in order: the
// files, the console and the points where a full disk is noticed are the
// same for any count.
void writecells(textio::Console& console, const GridView& store, const std::vector<int32_t>& keep,
                const GridAxes& axes, int32_t iyr1, const std::filesystem::path& dir, int32_t threads = 1);
// The same records into any two sinks, flushed but left open.
void writecells(textio::Console& console, const GridView& store, const std::vector<int32_t>& keep,
                const GridAxes& axes, int32_t iyr1, textio::Sink& tsf, textio::Sink& xy, int32_t threads = 1);

// The data set's citation, the three lines that open MonthlyPDSI.tsf.
const textio::Layout& citation_layout();
// The same as one line of text, for documents that quote it.
std::string citation_text();

// Year records " yyyy" and twelve " vvv.vv" fields, formatted straight
// into the sink's buffer: the text of "(1x,i4,12(1x,f6.2))" without the
// layout walk, since the whole grid writes 1.3 million of them.
class YearRecordWriter {
public:
    void write(textio::Sink& sink, int32_t year, const float* months) {
        append(sink.buffer(), year, months);
        sink.flush_if_full();
    }
    static constexpr size_t kRecordSize = 5 + 12 * 7 + 1;
    void append(std::string& out, int32_t year, const float* months);

private:
    // The months of the last record and their text: ocean cells and the
    // years before a record starts repeat whole rows of -99.90.
    float last_[12] = {};
    char text_[12 * 7] = {};
    bool known_ = false;
};

}  // namespace extract
