// Entry point: runs the data server's dialogue once on the console.
#include <cstdio>
#include <new>

#include "extract/driver.h"
#include "textio/console.h"
#include "textio/errors.h"

int main() {
    textio::FdSource keyboard(0, "console", false);
    textio::StreamSink display(stdout, "console");
    textio::Console console(keyboard, display);
    int status = 0;
    try {
        extract::run_driver(console);
    } catch (const textio::RunEnd& end) {
        status = end.status;
    } catch (const textio::IoError& error) {
        display.flush();
        std::fprintf(stderr, "%s\n", error.what());
        status = 255;
    } catch (const std::bad_alloc&) {
        // Storage follows the input; a hand-made file far beyond the data
        // set's size may still not fit.
        display.flush();
        std::fprintf(stderr, "Error: Not enough memory for the data (allocate, memory)\n");
        status = 255;
    }
    return textio::finish_run(console, status);
}
