#pragma once
// The `pdsi` command: its subcommands, parsing and the run they start.
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/options.h"

namespace cli {

// What a parse produced: the subcommand chosen and its options.
struct Parsed {
    std::string command;  // "extract", "convert", "report" or "sample"
    ExtractOptions extract;
    ConvertOptions convert;
    ReportOptions report;
    SampleOptions sample;
};

// The whole command, bound to `parsed`; parsing only fills it in.
std::unique_ptr<CLI::App> make_app(Parsed& parsed);

// A subcommand that lives above this library (the server): it adds its
// options to the command and runs when chosen.
struct Extension {
    std::function<CLI::App*(CLI::App&)> add;
    std::function<int()> run;
};

// Parses `args` (without the program name), runs the subcommand and
// returns the exit status; messages go to standard error, the summary to
// standard output. No exception leaves it.
int run_command(const std::vector<std::string>& args, std::span<const Extension> extensions = {});

// A negative bound after a separate option word ("--lat -60:-30") would
// pass for an option; such words are joined to their option as "--lat=...".
std::vector<std::string> join_negative_values(const std::vector<std::string>& args);

}  // namespace cli
