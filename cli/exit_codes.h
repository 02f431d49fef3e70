#pragma once
// The command's exit statuses, listed in its help.
namespace cli {

enum ExitCode : int {
    kOk = 0,      // everything asked for was written
    kFailed = 1,  // the data or a file failed the run
    kUsage = 2,   // the request was refused before any work
};

inline constexpr const char* kExitFooter =
    "Exit status: 0 when everything asked for was written, 1 when the data or a file\n"
    "failed the run, 2 when the request was refused before any work.";

}  // namespace cli
