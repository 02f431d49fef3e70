// Entry point of the scripted command; everything else lives in the library.
#include <string>
#include <vector>

#include "cli/app.h"

int main(int argc, char** argv) {
    return cli::run_command(std::vector<std::string>(argv + 1, argv + argc));
}
