#pragma once
// Small pieces the fuzz targets share: a display that drops what it is
// shown, a scratch directory made once per process, and line counting.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "textio/sink.h"

namespace fuzz {

class DiscardSink : public textio::Sink {
public:
    DiscardSink() : Sink("console") {}
protected:
    void emit(std::string_view) override {}
};

// A fresh directory under TMPDIR (or /tmp), left behind on purpose: the
// process ends by signal when a target finds something.
inline std::string scratch_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/pdsi-fuzz-XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return dir;
}

// Moves into a fresh scratch folder: the program works in its own.
inline void enter_scratch_dir() {
    const std::string dir = scratch_dir();
    if (chdir(dir.c_str()) != 0) {
        std::perror(dir.c_str());
        std::abort();
    }
}

inline size_t count_lines(std::string_view text) {
    size_t n = 1;
    for (char c : text) n += c == '\n';
    return n;
}

// Every read consumes at least one line: more reads than lines is a hang.
inline void check_progress(size_t reads, size_t lines) {
    if (reads > lines + 1) {
        std::fprintf(stderr, "read made no progress: %zu reads over %zu lines\n", reads, lines);
        std::abort();
    }
}

}  // namespace fuzz
