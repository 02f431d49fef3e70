#include "textio/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "textio/block_scanner.h"

namespace textio {

namespace {

constexpr size_t kChunk = 1 << 18;
// Reads land on cache-line boundaries: the kernel copies into an aligned
// buffer markedly faster.
constexpr size_t kLine = 64;
constexpr std::align_val_t kPage{4096};

}  // namespace

std::optional<std::string_view> LineSource::raw_line() {
    for (;;) {
        const char* buf = buf_.get();
        size_t from = start_ + scanned_;
        if (from < size_) {
            const void* nl = std::memchr(buf + from, '\n', size_ - from);
            if (nl) {
                size_t end = static_cast<size_t>(static_cast<const char*>(nl) - buf);
                std::string_view line(buf + start_, end - start_);
                start_ = end + 1;
                scanned_ = 0;
                return line;
            }
        }
        scanned_ = size_ - start_;
        if (at_end_) {
            if (start_ >= size_) return std::nullopt;
            std::string_view line(buf + start_, size_ - start_);
            start_ = size_;
            scanned_ = 0;
            return line;
        }
        fill();
    }
}

void LineSource::FreeBuffer::operator()(char* p) const { ::operator delete[](p, kPage); }

// Keeps the unfinished line, then reads more behind it; the buffer doubles
// when a line fills it, so a long line costs amortised linear time.
void LineSource::fill() {
    const size_t kept = size_ - start_;
    const size_t at = (kLine - kept % kLine) % kLine;  // where the kept bytes go
    if (at + kept + kChunk > capacity_) {
        size_t capacity = std::max(2 * capacity_, at + kept + kChunk);
        std::unique_ptr<char[], FreeBuffer> grown(static_cast<char*>(::operator new[](capacity, kPage)));
        if (kept > 0) std::memcpy(grown.get() + at, buf_.get() + start_, kept);
        buf_ = std::move(grown);
        capacity_ = capacity;
    } else if (kept > 0 && start_ != at) {
        std::memmove(buf_.get() + at, buf_.get() + start_, kept);
    }
    start_ = at;
    size_ = at + kept;
    size_t got = read_some(buf_.get() + size_, capacity_ - size_);
    size_ += got;
    if (got == 0) at_end_ = true;
}

std::optional<std::string_view> LineSource::next() {
    std::optional<std::string_view> raw = raw_line();
    if (!raw) return raw;
    return clean_record(*raw, cleaned_);
}

// Nothing of a skipped record is kept, so a long one needs no room.
bool LineSource::skip() {
    bool seen = false;  // bytes of the record already dropped
    for (;;) {
        size_t from = start_ + scanned_;
        if (from < size_) {
            const void* nl = std::memchr(buf_.get() + from, '\n', size_ - from);
            if (nl) {
                start_ = static_cast<size_t>(static_cast<const char*>(nl) - buf_.get()) + 1;
                scanned_ = 0;
                return true;
            }
        }
        seen = seen || start_ < size_;
        start_ = size_ = scanned_ = 0;
        if (at_end_) return seen;
        fill();
    }
}

FdSource::FdSource(int fd, std::string name, bool owns) : LineSource(std::move(name)), fd_(fd), owns_(owns) {}

FdSource::~FdSource() {
    if (owns_ && fd_ >= 0) ::close(fd_);
}

size_t FdSource::read_some(char* dst, size_t size) {
    if (fd_ < 0) return 0;
    for (;;) {
        ssize_t n = ::read(fd_, dst, size);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) return 0;  // a failing device reads as the end of input
    }
}

FileSource::FileSource(const std::string& path)
    : FdSource(::open(path.c_str(), O_RDONLY | O_CLOEXEC), path, true), ok_(fd() >= 0) {}

size_t StringSource::read_some(char* dst, size_t size) {
    size_t n = std::min(size, text_.size() - pos_);
    std::memcpy(dst, text_.data() + pos_, n);
    pos_ += n;
    return n;
}

bool file_exists(const std::string& name) {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace textio
