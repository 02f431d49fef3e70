#pragma once
// Sources of input records. A record is a line up to its line feed, with
// carriage returns dropped and tabs expanded to stops every 8 columns.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace textio {

class LineSource {
public:
    virtual ~LineSource() = default;
    LineSource(const LineSource&) = delete;
    LineSource& operator=(const LineSource&) = delete;

    // The next record, or nullopt at the end of input. The view stays valid
    // until the next call. A last line without a line feed is a record.
    std::optional<std::string_view> next();
    // Skips one record without cleaning it; false at the end of input.
    bool skip();
    const std::string& name() const { return name_; }

protected:
    explicit LineSource(std::string name) : name_(std::move(name)) {}
    // Reads up to `size` more bytes into `dst`; returns 0 at the end of input.
    virtual size_t read_some(char* dst, size_t size) = 0;

private:
    std::optional<std::string_view> raw_line();
    void fill();
    std::string name_;
    struct FreeBuffer {
        void operator()(char* p) const;
    };
    std::unique_ptr<char[], FreeBuffer> buf_;  // bytes read, [0, size_) of capacity_
    size_t capacity_ = 0;
    size_t size_ = 0;
    size_t start_ = 0;      // first byte of buf_ not yet handed out
    size_t scanned_ = 0;    // bytes from start_ on known to hold no line feed
    bool at_end_ = false;
    std::string cleaned_;   // a record after CR removal and tab expansion
};

// Reads from a file descriptor: files, pipes and terminals alike (a read
// returns what is there, so a terminal answer is seen at once).
class FdSource : public LineSource {
public:
    FdSource(int fd, std::string name, bool owns);
    ~FdSource() override;
protected:
    size_t read_some(char* dst, size_t size) override;
    int fd() const { return fd_; }
private:
    int fd_;
    bool owns_;
};

// A file opened for reading; check ok() before use.
class FileSource : public FdSource {
public:
    // Throws nothing: check ok() after construction.
    explicit FileSource(const std::string& path);
    bool ok() const { return ok_; }
private:
    bool ok_;
};

// Input held in memory; for tests and character buffers.
class StringSource : public LineSource {
public:
    explicit StringSource(std::string text, std::string name = "internal")
        : LineSource(std::move(name)), text_(std::move(text)) {}
protected:
    size_t read_some(char* dst, size_t size) override;
private:
    std::string text_;
    size_t pos_ = 0;
};

// True when a file of that name exists in the current directory.
bool file_exists(const std::string& name);

}  // namespace textio
