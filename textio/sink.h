#pragma once
// Destinations of records: the console, a sequential text file, a string.
// Records are formatted straight into the sink's buffer.
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "textio/layout.h"
#include "textio/values.h"

namespace textio {

class Sink {
public:
    virtual ~Sink() = default;
    Sink() = default;
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    // Formatted write: one or more records, each ended by a line feed unless
    // the layout leaves its last record open with "$".
    void write(const Layout& layout, std::span<const OutValue> values);
    void write(const Layout& layout, std::initializer_list<OutValue> values) {
        write(layout, std::span<const OutValue>(values.begin(), values.size()));
    }
    // Free-form write: one blank, integers right-aligned in 12 characters,
    // texts unchanged; no values gives a line holding one blank.
    void write_free(std::span<const OutValue> values);
    void write_free(std::initializer_list<OutValue> values) {
        write_free(std::span<const OutValue>(values.begin(), values.size()));
    }

    // Raw access for fast writers that format into the buffer themselves.
    std::string& buffer() { return buffer_; }
    void flush_if_full() { if (flush_each_write_ || buffer_.size() >= kFlushAt) flush(); }
    void flush();
    // Writes text[start, ends[0]), text[ends[0], ends[1]), ... as that many
    // writes, the flush checked after each; bytes that would go out in one
    // piece go out from `text` without a copy.
    void write_segments(std::string_view text, size_t start, std::span<const size_t> ends);
    const std::string& name() const { return name_; }

protected:
    explicit Sink(std::string name) : name_(std::move(name)) {}
    virtual void emit(std::string_view bytes) = 0;  // throws IoError on failure
    // The display shows each write at once, not when the buffer fills.
    void flush_each_write() { flush_each_write_ = true; }

private:
    static constexpr size_t kFlushAt = 1 << 20;
    std::string name_;
    std::string buffer_;
    bool flush_each_write_ = false;
};

// Collects everything written; for character buffers and tests.
class StringSink : public Sink {
public:
    StringSink() : Sink("internal") {}
    std::string& text() { flush(); return text_; }
    // Room for what is to come, when its size is known: a large text grown
    // by doubling is copied and its fresh pages touched again and again.
    void reserve(size_t bytes) { text_.reserve(bytes); }
protected:
    void emit(std::string_view bytes) override { text_.append(bytes); }
private:
    std::string text_;
};

// Keeps what is written and where each write ended, so that the writes can
// be made again into another sink later, with that sink's flush checked
// after each: a file then gets the same bytes at the same moments as if
// written directly. For work done on another thread and committed in order.
class RecordingSink : public Sink {
public:
    RecordingSink() : Sink("internal") { flush_each_write(); }
    void clear() { text_.clear(); ends_.clear(); }
    size_t mark() const { return ends_.size(); }  // writes so far
    // Writes from mark `from` up to mark `to` again into `out`.
    void replay(Sink& out, size_t from, size_t to) const;
protected:
    void emit(std::string_view bytes) override {
        text_.append(bytes);
        ends_.push_back(text_.size());
    }
private:
    std::string text_;
    std::vector<size_t> ends_;
};

// Drops everything: the console of a run whose lines nobody reads.
class NullSink : public Sink {
public:
    NullSink() : Sink("internal") { flush_each_write(); }
protected:
    void emit(std::string_view) override {}
};

// A file of the current directory, created or replaced, written in sequence
// and closed by close() or, failing that, by the destructor.
//
// A file being replaced is emptied on a thread of its own while the caller
// goes on formatting: freeing a large file's pages and blocks takes the
// kernel milliseconds. The first write waits for it, so the file holds
// nothing but what was written from then on, as if emptied when opened.
class FileSink : public Sink {
public:
    // Throws IoError when the file cannot be created.
    explicit FileSink(const std::string& name);
    ~FileSink() override;
    void close();  // flushes and closes; throws IoError on a write failure
protected:
    void emit(std::string_view bytes) override;
private:
    void await_emptied();  // throws IoError if the file could not be emptied
    std::FILE* file_ = nullptr;
    std::thread emptying_;
    int emptying_error_ = 0;
};

// Standard output (the console's display side) or standard error.
class StreamSink : public Sink {
public:
    StreamSink(std::FILE* stream, std::string name) : Sink(std::move(name)), stream_(stream) {
        flush_each_write();
    }
    ~StreamSink() override;
protected:
    void emit(std::string_view bytes) override;
private:
    std::FILE* stream_;
};

// Writes into a character buffer: the first record produced by the layout,
// placed from the left of `slice` and blank-padded to its length.
void write_into(std::span<char> slice, const Layout& layout, std::span<const OutValue> values);
inline void write_into(std::span<char> slice, const Layout& layout, std::initializer_list<OutValue> values) {
    write_into(slice, layout, std::span<const OutValue>(values.begin(), values.size()));
}

}  // namespace textio
