// pdsiserver with the thread count of its first argument: the tests' way to
// run the dialogue on a chosen number of threads, as pdsiserver itself
// takes none.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "extract/driver.h"
#include "parallel/pipeline.h"
#include "textio/console.h"

int main(int argc, char** argv) {
    const int32_t threads = argc > 1 ? static_cast<int32_t>(std::atoi(argv[1])) : parallel::hardware_threads();
    if (threads < 1) {
        std::fprintf(stderr, "pdsiserver_threads: the first argument is a thread count of at least 1\n");
        return 125;
    }
    textio::FdSource keyboard(0, "console", false);
    textio::StreamSink display(stdout, "console");
    textio::Console console(keyboard, display);
    return extract::run_program(console, stderr, threads);
}
