#pragma once
// A file read as blocks of whole records, for work handed to other
// threads: a record's bytes stay where they were read until the block is
// cut, and then belong to the block, so nothing is copied twice.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace textio {

// Bytes of whole records; its storage is handed back and forth with the
// scanner, so blocks are not allocated anew.
struct Block {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
    size_t size = 0;
    std::string_view view() const { return {data.get(), size}; }
};

class BlockScanner {
public:
    // Throws nothing: check ok() after construction.
    explicit BlockScanner(const std::string& path);
    ~BlockScanner();
    BlockScanner(const BlockScanner&) = delete;
    BlockScanner& operator=(const BlockScanner&) = delete;
    bool ok() const { return fd_ >= 0; }

    // Where the next raw record lies in the current block (line feed and
    // cleaning not applied), or nullopt at the end of input. A last line
    // without a line feed is a record, as LineSource has it.
    struct Span {
        size_t offset, size;
    };
    std::optional<Span> next();
    // Moves into `block` the bytes of the current block up to the end of
    // the last record returned; the next block starts after it, in the
    // storage `block` held.
    void cut(Block& block);
    // Skips `count` records as next() would, counting the line feeds of the
    // file on `threads` threads; returns how many there were (fewer only at
    // the end of input).
    int64_t skip(int64_t count, int32_t threads);
    // Bytes held by the current block.
    size_t held() const { return scanned_; }
    // The file offset of the next record, or -1 when it cannot be told.
    int64_t tell() const;
    // Goes on from file offset `at` (as tell() gave it), dropping what is
    // held; false if the file cannot be positioned there.
    bool seek(int64_t at);
    // Up to `size` bytes from file offset `at`, fewer only at the end of
    // input; the scanner's own position is left alone. Any thread.
    size_t read_at(char* into, size_t size, int64_t at) const;
    // From now on nothing is kept: a span stays valid only until the next
    // call, as with LineSource, and cut() is not used. For readers that
    // copy out the few records they want.
    void stream() { streaming_ = true; }
    std::string_view view(const Span& span) const { return {buf_.data.get() + span.offset, span.size}; }

private:
    bool fill();
    int64_t skip_in_parallel(int64_t count, int32_t threads);

    int fd_;
    Block buf_;           // [0, buf_.size) read
    size_t& size_ = buf_.size;
    size_t scanned_ = 0;  // bytes handed out as records
    bool at_end_ = false;
    bool streaming_ = false;
};

// A raw record as LineSource::next hands it out: carriage returns dropped,
// tabs expanded to stops every 8 columns. The view is `raw` itself when no
// change is needed, else it points into `scratch`.
std::string_view clean_record(std::string_view raw, std::string& scratch);

}  // namespace textio
