#include "tests/support/program.h"

#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pdsi-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::filesystem::path source_path(const std::string& relative) {
    return std::filesystem::path(PDSI_TESTS_DIR) / relative;
}

RunResult run_program(const std::filesystem::path& dir, const std::string& answers) {
    // Answers and captures go through files: no pipe can fill up and block.
    const auto in_path = dir / ".stdin";
    const auto out_path = dir / ".stdout";
    const auto err_path = dir / ".stderr";
    write_file(in_path, answers);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execl(PDSISERVER_PATH, "pdsiserver", static_cast<char*>(nullptr));
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    std::filesystem::remove(in_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return result;
}

}  // namespace testsupport
