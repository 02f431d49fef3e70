#pragma once
// A request's files, made on the code path of the other front ends: the
// box, the screen and the writer in memory; the gap filling, the copies and
// the page from a folder of the job's own, as the command makes them.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "extract/box.h"
#include "indices/area.h"
#include "serve/extract_query.h"
#include "serve/loaded_grid.h"

namespace serve {

// What a request may spend.
struct Budget {
    int32_t threads = 1;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    int32_t timeout_seconds = 0;  // for the message
    // Set when the server stops: the work ends at its next step.
    const std::atomic<bool>* cancelled = nullptr;

    bool over() const {
        return std::chrono::steady_clock::now() > deadline || (cancelled && cancelled->load());
    }
};

struct Products {
    extract::Box box;
    int32_t nbox = 0, nkept = 0, filled = 0;
    // Every file the run made on the way, the one asked for among them.
    std::map<FileKind, std::shared_ptr<const std::string>> files;
};

class Producer {
public:
    Producer(const LoadedGrid& grid, std::filesystem::path temp_root) : grid_(grid), temp_root_(std::move(temp_root)) {}

    // Makes `wanted` (and whatever comes with it). Throws HttpError: 422
    // with the command's message when the data cannot give it, 504 past the
    // deadline.
    Products make(const ExtractQuery& query, FileKind wanted, const Budget& budget) const;

    // Whether `make` goes through a folder: the gap filling, the copies and
    // the page do; the two extraction files and the area CSV do not.
    static bool needs_folder(const ExtractQuery& query, FileKind wanted);

private:
    std::shared_ptr<const std::string> area_file(const indices::AreaSeries& series, const ExtractQuery& query,
                                                 FileKind wanted, const std::filesystem::path* dir) const;

    const LoadedGrid& grid_;
    std::filesystem::path temp_root_;
    mutable std::atomic<uint64_t> jobs_{0};
};

}  // namespace serve
