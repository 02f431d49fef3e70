#include "serve/loaded_grid.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "extract/grid_axes.h"
#include "extract/readgrid.h"

namespace serve {

namespace {

using extract::kFirstYear;
using extract::kLastYear;

const extract::Box kWholeGrid{1, extract::kColumns, 1, extract::kRows};

// A file descriptor closed on every path out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Pieces of 1 MiB: a few hundred calls for a whole grid file, and a
// test's short file takes more than one.
constexpr size_t kCopyPiece = 1 << 20;

// The file's bytes copied into an anonymous memory file, so that requests
// can run the reader on the file as it was at start.
int copy_into_memory(const std::string& path, uint64_t& size) {
    Fd in{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0) throw LoadError{path + ": " + std::strerror(errno)};
    Fd copy{::memfd_create("pdsi-grid", MFD_CLOEXEC)};
    if (copy.fd < 0) throw LoadError{std::string("cannot hold the grid in memory: ") + std::strerror(errno)};
    size = 0;
    for (;;) {
        const ssize_t sent = ::sendfile(copy.fd, in.fd, nullptr, kCopyPiece);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) throw LoadError{path + ": " + std::strerror(errno)};
        if (sent == 0) break;
        size += static_cast<uint64_t>(sent);
    }
    const int fd = copy.fd;
    copy.fd = -1;
    return fd;
}

}  // namespace

std::unique_ptr<LoadedGrid> LoadedGrid::load(const std::string& path, int32_t threads) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<LoadedGrid> grid(new LoadedGrid);
    // What clients see: where the server keeps its files is no business
    // of theirs.
    grid->name_ = std::filesystem::path(path).filename().string();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw LoadError{path + ": " + std::strerror(errno)};
    if (S_ISDIR(st.st_mode)) throw LoadError{path + ": is a directory"};
    grid->file_bytes_ = static_cast<uint64_t>(st.st_size);
    grid->modified_ = st.st_mtim.tv_sec;
    char id[96];
    std::snprintf(id, sizeof id, "%llx-%llx.%lx-%llx", static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec),
                  static_cast<unsigned long long>(st.st_ino));
    grid->identity_ = id;
    try {
        grid->store_ = std::make_unique<extract::GridStore>(
            extract::readgrid(path, kFirstYear, kLastYear, kWholeGrid, nullptr, threads));
    } catch (const extract::GridReadFailure&) {
    } catch (const extract::GridEnded&) {
    } catch (const textio::IoError& error) {
        throw LoadError{error.what()};
    }
    if (grid->store_) {
        const int32_t nmon = grid->store_->nmon();
        grid->land_.assign(static_cast<size_t>(kWholeGrid.nbox()), 0);
        for (int32_t n = 1; n <= kWholeGrid.nbox(); ++n) {
            const float* series = grid->store_->series(n);
            for (int32_t m = 0; m < nmon; ++m)
                if (series[m] != extract::kMissing) {
                    ++grid->land_cells_;
                    grid->land_[static_cast<size_t>(n - 1)] = 1;
                    break;
                }
        }
    } else {
        // Damaged: each request runs the reader on the start's copy and
        // meets the damage where the command would.
        uint64_t copied = 0;
        grid->copy_fd_ = copy_into_memory(path, copied);
        grid->file_bytes_ = copied;
        grid->copy_path_ = "/proc/self/fd/" + std::to_string(grid->copy_fd_);
    }
    grid->load_seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return grid;
}

LoadedGrid::~LoadedGrid() {
    if (copy_fd_ >= 0) ::close(copy_fd_);
}

BoxData LoadedGrid::read(int32_t iyr1, int32_t iyr2, const extract::Box& box, int32_t threads,
                         textio::Progress* progress) const {
    const int32_t nmon = 12 * (iyr2 - iyr1 + 1);
    if (store_) {
        if (progress) progress->advance(nmon, nmon);
        return BoxData{nullptr, extract::GridView(*store_, box, 12 * (iyr1 - kFirstYear) + 1, nmon)};
    }
    auto owned = std::make_unique<extract::GridStore>(
        extract::readgrid(copy_path_, iyr1, iyr2, box, progress, threads));
    extract::GridView view(*owned);
    return BoxData{std::move(owned), view};
}

}  // namespace serve
