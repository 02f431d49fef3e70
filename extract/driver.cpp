#include "extract/driver.h"

#include <cstdint>
#include <new>
#include <vector>

#include "extract/banner.h"
#include "extract/box.h"
#include "extract/dialogue.h"
#include "extract/grid_axes.h"
#include "extract/grid_store.h"
#include "extract/names.h"
#include "extract/readgrid.h"
#include "extract/screen.h"
#include "extract/writecells.h"
#include "qc/orvqc5.h"
#include "textio/errors.h"
#include "textio/layout.h"

namespace extract {

namespace {

// Reads, screens and writes the box; returns nbox. The grid store goes
// out of scope here, before the gap filling needs its own memory.
int32_t extract_cells(textio::Console& console, const Request& request) {
    static const textio::Layout extracting("(/10x,'Extracting Monthly Grid Cell Data.')");
    static const textio::Layout removing("(/10x,'Removing Blank or Incomplete Cells')");
    static const textio::Layout writing("(/10x,'Writing Selected Grid Cells to Output file ',a,/)");

    const GridAxes axes;
    const Box box = findbox(axes, request.latmin, request.latmax, request.lonmin, request.lonmax);
    console.write(extracting, {});
    const GridStore store = readgrid(console, std::string(kInputName), request.iyr1, request.iyr2, box);
    console.write(removing, {});
    const std::vector<int32_t> keep = screencells(store, request.pctmiss);
    console.write(writing, {outfl()});
    writecells(console, store, keep, axes, request.iyr1, {});
    return box.nbox();
}

}  // namespace

void run_driver(textio::Console& console) {
    static const textio::Layout fill_question(
        "(//10x,'Would you like to try and fill some of the remaining'"
        "/10x,'  monthly gaps in the cells selected?',/)");
    static const textio::Layout fill_prompt("(10x,'[t]rue or [f]alse > ',$)");
    static const textio::Layout termination("(//25x,'Normal Termination of Program')");
    static const textio::Layout filled_count("(20x,i8,' Grids Extracted and Filled')");
    static const textio::Layout extracted_count("(20x,i8,' Grids Extracted')");

    show_banner(console);
    check_input_file(console);

    Request request;
    ask_years(console, request);
    ask_box(console, request);
    ask_pctmiss(console, request);

    const int32_t nbox = extract_cells(console, request);

    console.write(fill_question, {});
    console.write(fill_prompt, {});
    const bool fill = read_true_false(console);
    if (fill) qc::orvqc5(console, request.iyr1, request.iyr2);

    console.write(termination, {});
    console.write(fill ? filled_count : extracted_count, {nbox});
    wait(console, "             Hit RETURN to quit");
}

int run_program(textio::Console& console, std::FILE* errors) {
    auto report = [&](const char* line) {
        try {
            console.out().flush();  // what the user saw before the error
        } catch (const textio::IoError&) {
            // A display that is gone: the error line still goes out.
        }
        if (errors) std::fprintf(errors, "%s\n", line);
    };
    int status = 0;
    try {
        run_driver(console);
    } catch (const textio::RunEnd& end) {
        status = end.status;
    } catch (const textio::IoError& error) {
        report(error.what());
        status = 255;
    } catch (const std::bad_alloc&) {
        // Storage follows the input; a hand-made file far beyond the data
        // set's size may still not fit.
        report("Error: Not enough memory for the data (allocate, memory)");
        status = 255;
    }
    return textio::finish_run(console, status);
}

}  // namespace extract
