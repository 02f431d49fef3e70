#include "tools/grid_writer.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "textio/editors.h"
#include "textio/errors.h"

namespace tools {
namespace {

constexpr int32_t kField = 7;  // F6.2 and one blank
constexpr size_t kFlushAt = size_t{1} << 20;

const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

class BlockWriter {
public:
    explicit BlockWriter(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
        if (!file_) throw textio::IoError("Cannot create file", "open", path_);
        buf_.reserve(kFlushAt + 2 * kColumns * kField);
    }

    std::string& buffer() { return buf_; }

    void maybe_flush() {
        if (buf_.size() >= kFlushAt) flush();
    }

    void close() {
        flush();
        std::FILE* f = file_.release();
        if (std::fclose(f) != 0) throw textio::IoError("Write failed", "close", path_);
    }

private:
    void flush() {
        if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), file_.get()) != buf_.size())
            throw textio::IoError("Write failed", "write", path_);
        buf_.clear();
    }

    std::string path_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::string buf_;
};

// Most of a grid is ocean, so the same value follows itself for long
// stretches; reusing its text keeps the editor out of the common case.
class FieldCache {
public:
    void append(std::string& out, float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        if (!valid_ || bits != bits_) {
            text_.clear();
            textio::edit_real(text_, v, 6, 2);
            text_.push_back(' ');
            bits_ = bits;
            valid_ = true;
        }
        out.append(text_);
    }

private:
    bool valid_ = false;
    uint32_t bits_ = 0;
    std::string text_;
};

}  // namespace

void write_grid_file(const std::string& path, int32_t nmonths,
                     const std::function<float(int32_t i, int32_t j, int32_t m)>& value) {
    BlockWriter out(path);
    FieldCache cache;
    std::string& buf = out.buffer();
    buf.append("Monthly PDSI, 2.5 x 2.5 degree grid, 144 columns from 180W, 55 rows from 60S, "
               "January 1850 on; missing = -99.90\n");
    char header[64];
    for (int32_t m = 1; m <= nmonths; ++m) {
        const int32_t year = 1850 + (m - 1) / 12;
        const int32_t month = (m - 1) % 12 + 1;
        std::snprintf(header, sizeof header, " %4d %2d  %s\n", static_cast<int>(year), static_cast<int>(month),
                      kMonthNames[month - 1]);
        buf.append(header);
        for (int32_t j = 1; j <= kRows; ++j) {
            for (int32_t i = 1; i <= kColumns; ++i) cache.append(buf, value(i, j, m));
            buf.push_back('\n');
            out.maybe_flush();
        }
    }
    out.close();
}

}  // namespace tools
