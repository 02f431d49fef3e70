// Entry point: runs the data server's dialogue once on the console.
#include <cstdio>

#include "extract/driver.h"
#include "parallel/pipeline.h"
#include "textio/console.h"

int main() {
    textio::FdSource keyboard(0, "console", false);
    textio::StreamSink display(stdout, "console");
    textio::Console console(keyboard, display);
    return extract::run_program(console, stderr, parallel::hardware_threads());
}
