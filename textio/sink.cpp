#include "textio/sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "textio/editors.h"
#include "textio/errors.h"
#include "textio/record_write.h"
#include "textio/walker.h"

namespace textio {

namespace {

constexpr const char* kWriteFailed = "Error writing file";

}  // namespace

void RecordWriter::place(std::string_view s) {
    size_t at = start_ + pos_;
    if (at > buf_.size()) buf_.append(at - buf_.size(), ' ');
    if (at == buf_.size()) {
        buf_.append(s);
    } else {
        size_t over = std::min(s.size(), buf_.size() - at);
        buf_.replace(at, over, s.substr(0, over));
        buf_.append(s.substr(over));
    }
    pos_ += s.size();
}

void RecordWriter::field(const FieldSpec& field_spec, const OutValue& value) {
    // The common case edits straight onto the end of the record.
    bool at_end = start_ + pos_ == buf_.size();
    std::string& out = at_end ? buf_ : scratch_;
    if (!at_end) scratch_.clear();
    size_t before = out.size();
    switch (field_spec.kind) {
    case FieldSpec::Int:
        if (const int32_t* i = std::get_if<int32_t>(&value.v)) edit_int(out, *i, field_spec.width);
        else if (const float* f = std::get_if<float>(&value.v)) edit_real(out, *f, field_spec.width, 0);
        else out.append(static_cast<size_t>(field_spec.width), '*');
        break;
    case FieldSpec::Real:
        if (const float* f = std::get_if<float>(&value.v)) edit_real(out, *f, field_spec.width, field_spec.digits);
        else if (const int32_t* i = std::get_if<int32_t>(&value.v))
            edit_real(out, static_cast<float>(*i), field_spec.width, field_spec.digits);
        else out.append(static_cast<size_t>(field_spec.width), '*');
        break;
    case FieldSpec::Text: {
        std::string_view s;
        std::string number;
        if (const std::string_view* t = std::get_if<std::string_view>(&value.v)) s = *t;
        else if (const int32_t* i = std::get_if<int32_t>(&value.v)) { edit_int(number, *i, 12); s = number; }
        else { edit_real(number, std::get<float>(value.v), 15, 6); s = number; }
        size_t w = field_spec.width == 0 ? s.size() : static_cast<size_t>(field_spec.width);
        // Aw right-aligns a short value and keeps the first w characters of a long one.
        if (w > s.size()) out.append(w - s.size(), ' ');
        out.append(s.substr(0, w));
        break;
    }
    }
    if (at_end) pos_ += out.size() - before;
    else place(scratch_);
}

// Appends the records of one write to `out`; true when "$" leaves the last open.
static bool format_records(std::string& out, const Layout& layout, std::span<const OutValue> values) {
    RecordWriter record(out);
    Walker walk(layout);
    for (const OutValue& value : values) {
        const FieldSpec* field_spec = walk.next(record);
        if (!field_spec) break;
        record.field(*field_spec, value);
    }
    walk.finish(record);
    return walk.dollar();
}

void Sink::write(const Layout& layout, std::span<const OutValue> values) {
    if (!format_records(buffer_, layout, values)) buffer_ += '\n';
    if (flush_each_write_) flush();
    else flush_if_full();
}

void Sink::write_free(std::span<const OutValue> values) {
    buffer_ += ' ';
    for (const OutValue& value : values) {
        if (const int32_t* i = std::get_if<int32_t>(&value.v)) {
            edit_int(buffer_, *i, 12);
        } else if (const float* f = std::get_if<float>(&value.v)) {
            // Reals do not occur in free-form writes; 6 decimals show them plainly.
            edit_real(buffer_, *f, 15, 6);
        } else {
            buffer_.append(std::get<std::string_view>(value.v));
        }
    }
    buffer_ += '\n';
    if (flush_each_write_) flush();
    else flush_if_full();
}

void RecordingSink::replay(Sink& out, size_t from, size_t to) const {
    out.write_segments(text_, from == 0 ? 0 : ends_[from - 1], std::span(ends_).subspan(from, to - from));
}

void Sink::write_segments(std::string_view text, size_t start, std::span<const size_t> ends) {
    // Pending: the buffer, then text[start, end).
    for (const size_t end : ends) {
        if (!flush_each_write_ && buffer_.size() + (end - start) < kFlushAt) continue;
        if (buffer_.empty()) {
            emit(text.substr(start, end - start));
        } else {
            buffer_.append(text, start, end - start);
            flush();
        }
        start = end;
    }
    if (!ends.empty()) buffer_.append(text, start, ends.back() - start);
}

void Sink::flush() {
    if (buffer_.empty()) return;
    try {
        emit(buffer_);
    } catch (...) {
        buffer_.clear();
        throw;
    }
    buffer_.clear();
}

FileSink::FileSink(const std::string& name) : Sink(name) {
    // As fopen's "w", but the emptying is left to a thread of its own.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) file_ = ::fdopen(fd, "w");
    if (!file_) {
        if (fd >= 0) ::close(fd);
        throw IoError("Cannot open file", "open", name);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return;
    auto empty = [this, fd] {
        if (::ftruncate(fd, 0) != 0) emptying_error_ = errno;
    };
    try {
        emptying_ = std::thread(empty);
    } catch (const std::system_error&) {
        empty();  // no thread to be had: emptied here, as the open would have
        if (emptying_error_ != 0) {
            std::fclose(file_);
            file_ = nullptr;
            throw IoError("Cannot open file", "open", name);
        }
    }
}

void FileSink::await_emptied() {
    if (!emptying_.joinable()) return;
    emptying_.join();
    if (emptying_error_ != 0) throw IoError(kWriteFailed, "formatted write", name());
}

FileSink::~FileSink() {
    if (!file_) return;
    try {
        flush();
        await_emptied();
    } catch (...) {
        // Destruction during unwinding: the first error is the one reported.
        if (emptying_.joinable()) emptying_.join();
    }
    std::fclose(file_);
}

void FileSink::close() {
    if (!file_) return;
    std::FILE* file = file_;
    try {
        flush();
        await_emptied();
    } catch (...) {
        if (emptying_.joinable()) emptying_.join();
        file_ = nullptr;
        std::fclose(file);
        throw;
    }
    file_ = nullptr;
    if (std::fclose(file) != 0) throw IoError(kWriteFailed, "formatted write", name());
}

void FileSink::emit(std::string_view bytes) {
    await_emptied();
    if (!file_ || std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        throw IoError(kWriteFailed, "formatted write", name());
}

StreamSink::~StreamSink() {
    try {
        flush();
    } catch (...) {
    }
}

void StreamSink::emit(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size() || std::fflush(stream_) != 0)
        throw IoError(kWriteFailed, "formatted write", name());
}

void write_into(std::span<char> slice, const Layout& layout, std::span<const OutValue> values) {
    std::string text;
    format_records(text, layout, values);
    // The slice is one record: whatever a "/" or reversion starts is dropped.
    size_t len = std::min(text.find('\n'), text.size());
    len = std::min(len, slice.size());
    std::memcpy(slice.data(), text.data(), len);
    std::memset(slice.data() + len, ' ', slice.size() - len);
}

}  // namespace textio
