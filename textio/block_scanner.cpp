#include "textio/block_scanner.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace textio {

namespace {

constexpr size_t kChunk = 1 << 18;
constexpr size_t kLine = 64;

}  // namespace

BlockScanner::BlockScanner(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

BlockScanner::~BlockScanner() {
    if (fd_ >= 0) ::close(fd_);
}

// Reads another chunk behind what is held; false at the end of input. The
// buffer grows geometrically, so a long line costs amortised linear time.
bool BlockScanner::fill() {
    if (at_end_) return false;
    if (streaming_) {
        // Only the unfinished record stays, placed so that the read behind
        // it lands on a cache line: the kernel copies markedly faster there.
        const size_t kept = size_ - scanned_;
        const uintptr_t end = reinterpret_cast<uintptr_t>(buf_.data.get()) + kept;
        const size_t at = (kLine - end % kLine) % kLine;
        if (at + kept + kChunk <= buf_.capacity) {
            std::memmove(buf_.data.get() + at, buf_.data.get() + scanned_, kept);
            scanned_ = at;
            size_ = at + kept;
        }
    }
    if (buf_.capacity < size_ + kChunk) {
        const size_t capacity = std::max(2 * buf_.capacity, size_ + kChunk);
        auto grown = std::make_unique_for_overwrite<char[]>(capacity);
        std::memcpy(grown.get(), buf_.data.get(), size_);
        buf_.data = std::move(grown);
        buf_.capacity = capacity;
    }
    for (;;) {
        // Reads of a bounded size: the records are scanned while still in cache.
        const ssize_t n = ::read(fd_, buf_.data.get() + size_, std::min(kChunk, buf_.capacity - size_));
        if (n > 0) {
            size_ += static_cast<size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        at_end_ = true;  // a failing device reads as the end of input
        return false;
    }
}

std::optional<BlockScanner::Span> BlockScanner::next() {
    size_t clear = 0;  // bytes from scanned_ on known to hold no line feed
    for (;;) {
        const size_t from = scanned_ + clear;
        if (from < size_) {
            const void* nl = std::memchr(buf_.data.get() + from, '\n', size_ - from);
            if (nl) {
                const size_t end = static_cast<size_t>(static_cast<const char*>(nl) - buf_.data.get());
                const Span span{scanned_, end - scanned_};
                scanned_ = end + 1;
                return span;
            }
            clear = size_ - scanned_;
        }
        if (!fill()) {
            if (scanned_ >= size_) return std::nullopt;
            const Span span{scanned_, size_ - scanned_};
            scanned_ = size_;
            return span;
        }
    }
}

void BlockScanner::cut(Block& block) {
    const size_t rest = size_ - scanned_;
    if (block.capacity < rest + kChunk) {
        block.capacity = std::max(buf_.capacity, rest + kChunk);
        block.data = std::make_unique_for_overwrite<char[]>(block.capacity);
    }
    std::memcpy(block.data.get(), buf_.data.get() + scanned_, rest);
    block.size = rest;
    std::swap(block, buf_);
    block.size = scanned_;
    scanned_ = 0;
}

std::string_view clean_record(std::string_view line, std::string& scratch) {
    // CR LF line ends, the common carriage returns, need no copy.
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!std::memchr(line.data(), '\r', line.size()) && !std::memchr(line.data(), '\t', line.size())) return line;
    scratch.clear();
    for (char c : line) {
        if (c == '\r') continue;
        if (c == '\t') {
            do scratch += ' ';
            while (scratch.size() % 8 != 0);
            continue;
        }
        scratch += c;
    }
    return scratch;
}

}  // namespace textio
