#include "textio/block_scanner.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "parallel/pipeline.h"
#include "textio/count_feeds.h"

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
    if (streaming_ && buf_.capacity > 0) {
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
        if (size_ > 0) std::memcpy(grown.get(), buf_.data.get(), size_);
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

int64_t BlockScanner::tell() const {
    const off_t read = ::lseek(fd_, 0, SEEK_CUR);
    return read < 0 ? -1 : static_cast<int64_t>(read) - static_cast<int64_t>(size_ - scanned_);
}

bool BlockScanner::seek(int64_t at) {
    size_ = scanned_ = 0;
    at_end_ = ::lseek(fd_, static_cast<off_t>(at), SEEK_SET) < 0;
    return !at_end_;
}

size_t BlockScanner::read_at(char* into, size_t size, int64_t at) const {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd_, into + got, size - got, static_cast<off_t>(at) + static_cast<off_t>(got));
        if (n > 0) got += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR) break;  // a failing device reads as the end of input
    }
    return got;
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

int64_t BlockScanner::skip(int64_t count, int32_t threads) {
    int64_t skipped = 0;
    // What is read already, then the rest of the file.
    while (skipped < count && scanned_ < size_) {
        const void* nl = std::memchr(buf_.data.get() + scanned_, '\n', size_ - scanned_);
        if (!nl) break;
        scanned_ = static_cast<size_t>(static_cast<const char*>(nl) - buf_.data.get()) + 1;
        ++skipped;
    }
    if (skipped < count && threads > 1 && !at_end_) skipped += skip_in_parallel(count - skipped, threads);
    // Skipped records need not be kept.
    const bool streaming = streaming_;
    streaming_ = true;
    for (; skipped < count && next(); ++skipped) {
    }
    streaming_ = streaming;
    return skipped;
}

// The file from its current offset in chunks, each read and its line feeds
// counted by any thread; the chunk holding the last one wanted becomes the
// buffer. A file that cannot be read at an offset is left to next().
int64_t BlockScanner::skip_in_parallel(int64_t count, int32_t threads) {
    const off_t start = ::lseek(fd_, 0, SEEK_CUR);
    if (start < 0) return 0;
    constexpr size_t kPart = 1 << 20;
    struct Part {
        std::unique_ptr<char[]> bytes = std::make_unique_for_overwrite<char[]>(kPart);
        size_t size = 0;
        int64_t feeds = 0;
    };
    const size_t window = parallel::Pipeline::window_for(threads);
    parallel::Slots<Part> parts(window);
    int64_t skipped = 0;
    bool done = false;
    size_t unfinished = size_ - scanned_;  // bytes of the record under way
    off_t resume = start;
    {
        parallel::Pipeline pipeline(threads, window);
        for (size_t k = 0; !done; ++k) {
            Part& part = parts.next();
            const off_t at = start + static_cast<off_t>(k * kPart);
            pipeline.submit(
                [this, &part = part, at] {
                    part.size = read_at(part.bytes.get(), kPart, at);
                    part.feeds = count_feeds(part.bytes.get(), part.size);
                },
                [&, &part = part, at] {
                    if (done) return;
                    if (part.size == 0) {
                        // The end: a last line without a line feed is a record.
                        if (unfinished > 0) ++skipped;
                        size_ = scanned_ = 0;
                        at_end_ = true;
                        done = true;
                        return;
                    }
                    if (part.feeds < count - skipped) {
                        skipped += part.feeds;
                        if (part.feeds > 0) {
                            const char* last = static_cast<const char*>(
                                ::memrchr(part.bytes.get(), '\n', part.size));
                            unfinished = static_cast<size_t>(part.bytes.get() + part.size - last - 1);
                        } else {
                            unfinished += part.size;
                        }
                        resume = at + static_cast<off_t>(part.size);
                        if (part.size < kPart) {  // the end, within the part
                            if (unfinished > 0) ++skipped;
                            size_ = scanned_ = 0;
                            at_end_ = true;
                            done = true;
                        }
                        return;
                    }
                    // The wanted line feed is in this part: the rest becomes the buffer.
                    const char* p = part.bytes.get();
                    for (int64_t left = count - skipped; left > 0; --left)
                        p = static_cast<const char*>(std::memchr(p, '\n', part.bytes.get() + part.size - p)) + 1;
                    skipped = count;
                    const size_t rest = static_cast<size_t>(part.bytes.get() + part.size - p);
                    if (buf_.capacity < rest + kChunk) {
                        buf_.capacity = rest + kChunk;
                        buf_.data = std::make_unique_for_overwrite<char[]>(buf_.capacity);
                    }
                    if (rest > 0) std::memcpy(buf_.data.get(), p, rest);
                    scanned_ = 0;
                    size_ = rest;
                    resume = at + static_cast<off_t>(part.size);
                    done = true;
                });
        }
        pipeline.finish();
    }
    if (!at_end_ && ::lseek(fd_, resume, SEEK_SET) < 0) at_end_ = true;
    if (at_end_) size_ = scanned_ = 0;
    return skipped;
}

void BlockScanner::cut(Block& block) {
    const size_t rest = size_ - scanned_;
    if (block.capacity < rest + kChunk) {
        block.capacity = std::max(buf_.capacity, rest + kChunk);
        block.data = std::make_unique_for_overwrite<char[]>(block.capacity);
    }
    if (rest > 0) std::memcpy(block.data.get(), buf_.data.get() + scanned_, rest);
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
