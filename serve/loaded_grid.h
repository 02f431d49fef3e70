#pragma once
// The grid held in memory for the server's life: read once at start with
// the programs' own reader, then every request's span and box served from
// it without touching the file again.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "extract/box.h"
#include "extract/grid_store.h"
#include "textio/progress.h"

namespace serve {

// The span's months of a box, as the reader would have stored them.
struct BoxData {
    std::unique_ptr<extract::GridStore> owned;  // when read anew for this request
    extract::GridView view;
};

class LoadedGrid {
public:
    // Reads the whole grid, every month and cell, on `threads` threads.
    // Throws LoadError when the file cannot be opened or read at all.
    static std::unique_ptr<LoadedGrid> load(const std::string& path, int32_t threads);
    ~LoadedGrid();
    LoadedGrid(const LoadedGrid&) = delete;
    LoadedGrid& operator=(const LoadedGrid&) = delete;

    // Months January iyr1 to December iyr2 of the box's cells. Throws what
    // the reader throws on the file as it was at start (a broken box row,
    // the file cut short), so every request meets the damage the command
    // would meet. `progress` may throw to stop a long read.
    BoxData read(int32_t iyr1, int32_t iyr2, const extract::Box& box, int32_t threads,
                 textio::Progress* progress = nullptr) const;

    const std::string& name() const { return name_; }  // the file's name, without its folder
    // True when the whole grid read without a fault: every request is
    // then a view of the store.
    bool sound() const { return store_ != nullptr; }
    // Changes whenever the file's content may have: size, time and inode.
    const std::string& identity() const { return identity_; }
    std::time_t modified() const { return modified_; }
    uint64_t file_bytes() const { return file_bytes_; }
    double load_seconds() const { return load_seconds_; }
    // Cells that hold any month with a value; the map's land.
    int32_t land_cells() const { return land_cells_; }
    // Whether cell n of the whole grid (box order) is land; none is on a
    // damaged grid.
    bool land(int32_t n) const { return land_.size() > static_cast<size_t>(n - 1) && land_[static_cast<size_t>(n - 1)]; }

private:
    LoadedGrid() = default;

    std::string name_;
    std::unique_ptr<extract::GridStore> store_;  // the whole grid, when sound
    int copy_fd_ = -1;                           // otherwise the file's bytes in memory
    std::string copy_path_;
    std::string identity_;
    std::time_t modified_ = 0;
    uint64_t file_bytes_ = 0;
    double load_seconds_ = 0.0;
    int32_t land_cells_ = 0;
    std::vector<uint8_t> land_;
};

struct LoadError {
    std::string message;
};

}  // namespace serve
