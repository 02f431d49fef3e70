#pragma once
// Helpers for end-to-end tests: a fresh directory, running the real binary
// in it with piped answers, and reading files back.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
private:
    std::filesystem::path path_;
};

struct RunResult {
    std::string out;   // standard output
    std::string err;   // standard error
    int status = -1;   // exit status, or -1 when killed by a signal
};

// The thread count the runs below ask for unless told otherwise: that of
// PDSI_TEST_THREADS, or 0 when it is unset, for the programs as they are
// (pdsiserver, and pdsi without --threads).
int32_t test_threads();

// Runs the built pdsiserver in `dir` with `answers` as its standard input;
// with `threads` above 0, its twin that takes the count as an argument.
RunResult run_program(const std::filesystem::path& dir, const std::string& answers,
                      int32_t threads = test_threads());

// As run_program, but the answers arrive in two parts: once the transcript
// holds `marker`, `between` runs (to change the files under the program's
// feet) and then `after` is sent.
RunResult run_program_interrupted(const std::filesystem::path& dir, const std::string& before,
                                  const std::string& marker, const std::function<void()>& between,
                                  const std::string& after);

// Runs the built pdsi in `dir` with `args` and standard input closed. With
// `threads` above 0 an extraction that names no count gets `--threads`.
RunResult run_pdsi(const std::filesystem::path& dir, const std::vector<std::string>& args,
                   int32_t threads = test_threads());

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& text);
// The file beside the test sources: tests/<relative>.
std::filesystem::path source_path(const std::string& relative);

// A shell command's exit status (-1 when it did not exit) and its output
// and error stream together.
struct Output {
    int status = -1;
    std::string text;
};
Output shell(const std::string& command);

}  // namespace testsupport
