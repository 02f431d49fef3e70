#include "extract/driver.h"

#include <cstdint>
#include <new>

#include "extract/banner.h"
#include "extract/dialogue.h"
#include "extract/extraction.h"
#include "extract/names.h"
#include "extract/readgrid.h"
#include "qc/orvqc5.h"
#include "textio/errors.h"
#include "textio/layout.h"

namespace extract {

namespace {

// The failed record is record nrec + 1 of the file. Nothing has been
// written yet, so the output files are left as they were.
[[noreturn]] void report_read_failure(textio::Console& console, const GridReadFailure& failure) {
    static const textio::Layout report("(/25x,'Input file Format/Read data')");
    const Box& box = failure.box;
    console.write_free({failure.nrec, box.jlat1, box.jlat2, box.ilon1, box.ilon2});
    console.write(report, {});
    console.pause(" Hit RETURN to EXIT");
    textio::end_run();
}

}  // namespace

void run_driver(textio::Console& console, int32_t threads) {
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

    int32_t nbox = 0;
    try {
        nbox = extract_cells(console, request, {std::string(kInputName), {}, nullptr, threads}).nbox;
    } catch (const GridReadFailure& failure) {
        report_read_failure(console, failure);
    }

    console.write(fill_question, {});
    console.write(fill_prompt, {});
    const bool fill = read_true_false(console);
    if (fill) qc::orvqc5(console, request.iyr1, request.iyr2, threads);

    console.write(termination, {});
    console.write(fill ? filled_count : extracted_count, {nbox});
    wait(console, "             Hit RETURN to quit");
}

int run_program(textio::Console& console, std::FILE* errors, int32_t threads) {
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
        run_driver(console, threads);
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
