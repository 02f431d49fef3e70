#include "tests/support/program.h"

#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
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

Output shell(const std::string& command) {
    Output out;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.text.append(buf, n);
    const int status = ::pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::filesystem::path source_path(const std::string& relative) {
    return std::filesystem::path(PDSI_TESTS_DIR) / relative;
}

int32_t test_threads() {
    const char* text = std::getenv("PDSI_TEST_THREADS");
    if (!text || !*text) return 0;
    char* end = nullptr;
    const long count = std::strtol(text, &end, 10);
    // A mistyped setting must not quietly test the default instead.
    if (*end || count < 1 || count > 1024) throw std::runtime_error("PDSI_TEST_THREADS is not 1 to 1024");
    return static_cast<int32_t>(count);
}

namespace {

struct Paths {
    std::filesystem::path in, out, err;
    explicit Paths(const std::filesystem::path& dir)
        : in(beside(dir, ".stdin")), out(beside(dir, ".stdout")), err(beside(dir, ".stderr")) {}
    // Beside the folder, not in it: the run may make its folder read-only.
    static std::filesystem::path beside(const std::filesystem::path& dir, const char* what) {
        return dir.parent_path() / (dir.filename().string() + what);
    }
};

// Starts the binary in `dir` reading from `stdin_fd`; captures go to files,
// so no pipe can fill up and block.
pid_t start(const std::filesystem::path& dir, const Paths& paths, int stdin_fd, int close_fd, int32_t threads) {
    const std::string count = std::to_string(threads);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (close_fd >= 0) close(close_fd);
        if (chdir(dir.c_str()) != 0) _exit(127);
        int out = open(paths.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(paths.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (stdin_fd < 0 || out < 0 || err < 0) _exit(127);
        dup2(stdin_fd, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (threads > 0) {
            execl(PDSISERVER_THREADS_PATH, "pdsiserver", count.c_str(), static_cast<char*>(nullptr));
        } else {
            execl(PDSISERVER_PATH, "pdsiserver", static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    return pid;
}

// Waits for the program unless `reaped` says it has been waited for.
RunResult finish(pid_t pid, const Paths& paths, bool reaped = false, int wstatus = 0) {
    if (!reaped) waitpid(pid, &wstatus, 0);
    RunResult result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = read_file(paths.out);
    result.err = read_file(paths.err);
    std::error_code ignored;
    for (const auto* p : {&paths.in, &paths.out, &paths.err}) std::filesystem::remove(*p, ignored);
    return result;
}

void write_all(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;  // the program has gone: what it read is in the transcript
        done += static_cast<size_t>(n);
    }
}

}  // namespace

RunResult run_pdsi(const std::filesystem::path& dir, const std::vector<std::string>& args, int32_t threads) {
    std::vector<std::string> all = args;
    const bool counted = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "--threads" || arg.starts_with("--threads=");
    });
    if (threads > 0 && !all.empty() && all[0] == "extract" && !counted)
        all.insert(all.begin() + 1, {"--threads", std::to_string(threads)});
    const Paths paths(dir);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        int out = open(paths.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(paths.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        close(0);  // nothing may be read from it
        std::vector<char*> argv{const_cast<char*>("pdsi")};
        for (const std::string& arg : all) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(PDSI_PATH, argv.data());
        _exit(127);
    }
    return finish(pid, paths);
}

RunResult run_program(const std::filesystem::path& dir, const std::string& answers, int32_t threads) {
    const Paths paths(dir);
    write_file(paths.in, answers);
    int in = open(paths.in.c_str(), O_RDONLY);
    pid_t pid = start(dir, paths, in, -1, threads);
    close(in);
    return finish(pid, paths);
}

RunResult run_program_interrupted(const std::filesystem::path& dir, const std::string& before,
                                  const std::string& marker, const std::function<void()>& between,
                                  const std::string& after) {
    const Paths paths(dir);
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = start(dir, paths, fds[0], fds[1], test_threads());
    close(fds[0]);
    signal(SIGPIPE, SIG_IGN);
    write_all(fds[1], before);
    // The console is flushed at every write, so the marker shows up as soon
    // as the program has printed it; a run that ends first is left to finish.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int wstatus = 0;
    bool reaped = false;
    while (read_file(paths.out).find(marker) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &wstatus, WNOHANG) == pid) {
            reaped = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    between();
    if (!reaped) write_all(fds[1], after);
    close(fds[1]);
    return finish(pid, paths, reaped, wstatus);
}

}  // namespace testsupport
