#include "cli/app.h"

#include <exception>
#include <iostream>
#include <new>

#include "cli/exit_codes.h"
#include "cli/subcommands.h"

namespace cli {

namespace {

// Shell quoting for the history line: plain words stay as they are.
std::string quote(const std::string& word) {
    if (!word.empty() && word.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_=:.,/+@%") == std::string::npos)
        return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool is_negative_value(const std::string& word) {
    return word.size() >= 2 && word[0] == '-' && (std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.');
}

bool names_subcommand(CLI::App& app, const std::string& word) {
    for (const CLI::App* sub : app.get_subcommands({}))
        if (sub->check_name(word)) return true;
    return false;
}

}  // namespace

std::unique_ptr<CLI::App> make_app(Parsed& parsed) {
    auto app = std::make_unique<CLI::App>(
        "Monthly PDSI on the 2.5-degree global land grid, 1850-2010: extraction of a box's series,\n"
        "gap filling, NetCDF, CSV and GeoTIFF copies and a report page.",
        "pdsi");
    app->set_version_flag("--version", "pdsi " PDSI_VERSION);
    app->require_subcommand(1);
    app->footer(kExitFooter);
    add_extract(*app, parsed.extract);
    add_convert(*app, parsed.convert);
    add_report(*app, parsed.report);
    add_sample(*app, parsed.sample);
    for (CLI::App* sub : app->get_subcommands({}))
        sub->callback([&parsed, sub] { parsed.command = sub->get_name(); });
    return app;
}

std::vector<std::string> join_negative_values(const std::vector<std::string>& args) {
    static const char* const kSpans[] = {"--years", "--lat", "--lon", "--fill", "--max-missing"};
    std::vector<std::string> joined;
    for (size_t k = 0; k < args.size(); ++k) {
        bool span = false;
        for (const char* name : kSpans) span = span || args[k] == name;
        if (span && k + 1 < args.size() && is_negative_value(args[k + 1])) {
            joined.push_back(args[k] + "=" + args[k + 1]);
            ++k;
        } else {
            joined.push_back(args[k]);
        }
    }
    return joined;
}

int run_command(const std::vector<std::string>& args, std::span<const Extension> extensions) {
    Invocation invocation{"pdsi"};
    for (const std::string& word : args) invocation.command_line += " " + quote(word);
    try {
        Parsed parsed;
        auto app = make_app(parsed);
        std::vector<std::pair<CLI::App*, const Extension*>> added;
        for (const Extension& extension : extensions) {
            CLI::App* sub = extension.add(*app);
            sub->callback([&parsed, sub] { parsed.command = sub->get_name(); });
            added.emplace_back(sub, &extension);
        }
        if (!args.empty() && !args[0].empty() && args[0][0] != '-' && !names_subcommand(*app, args[0])) {
            std::string names;
            const auto subs = app->get_subcommands({});
            for (size_t k = 0; k < subs.size(); ++k)
                names += (k == 0 ? "" : k + 1 == subs.size() ? " or " : ", ") + subs[k]->get_name();
            std::cerr << "pdsi: error: unknown subcommand \"" << args[0] << "\": " << names << " (see pdsi --help)\n";
            return kUsage;
        }
        const std::vector<std::string> words = join_negative_values(args);
        std::vector<std::string> reversed(words.rbegin(), words.rend());  // CLI11 takes them last first
        try {
            app->parse(reversed);
        } catch (const CLI::ParseError& error) {
            if (error.get_exit_code() == 0) return app->exit(error);  // help, version
            std::string name = "pdsi";
            for (const CLI::App* sub : app->get_subcommands()) name += " " + sub->get_name();
            std::cerr << name << ": error: " << error.what() << " (see " << name << " --help)\n";
            return kUsage;
        }
        if (parsed.command == "extract") return run_extract(parsed.extract, invocation);
        if (parsed.command == "convert") return run_convert(parsed.convert, invocation);
        if (parsed.command == "report") return run_report(parsed.report, invocation);
        if (parsed.command == "sample") return run_sample(parsed.sample, invocation);
        for (const auto& [sub, extension] : added)
            if (parsed.command == sub->get_name()) return extension->run();
        std::cerr << "pdsi: error: no subcommand\n";
        return kUsage;
    } catch (const std::bad_alloc&) {
        std::cerr << "pdsi: error: not enough memory for the data\n";
    } catch (const std::exception& error) {
        std::cerr << "pdsi: error: " << error.what() << "\n";
    }
    return kFailed;
}

}  // namespace cli
