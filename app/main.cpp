// Entry point: runs the data server's dialogue once on the console.
#include <cstdio>

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
    }
    return textio::finish_run(console, status);
}
