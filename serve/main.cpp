// Entry point of the scripted command: the command's own subcommands and,
// from above them, the server.
#include <string>
#include <vector>

#include "cli/app.h"
#include "serve/serve_command.h"

int main(int argc, char** argv) {
    serve::ServeOptions serve_options;
    const cli::Extension extensions[] = {serve::serve_extension(serve_options)};
    return cli::run_command(std::vector<std::string>(argv + 1, argv + argc), extensions);
}
