#pragma once
// Builds output records at the end of a string: the ops of the layout walker
// for writes, and the placing of one edited field.
#include <string>
#include <string_view>

#include "textio/layout.h"
#include "textio/values.h"

namespace textio {

class RecordWriter {
public:
    explicit RecordWriter(std::string& buf) : buf_(buf), start_(buf.size()) {}

    bool text(std::string_view s) {
        place(s);
        return true;
    }
    bool skip(int32_t n) {
        pos_ += static_cast<size_t>(n > 0 ? n : 0);
        return true;
    }
    bool column(int32_t n) {
        pos_ = static_cast<size_t>(n > 1 ? n - 1 : 0);
        return true;
    }
    bool slash() {
        buf_ += '\n';
        start_ = buf_.size();
        pos_ = 0;
        ++records_;
        return true;
    }
    void field(const FieldSpec& field_spec, const OutValue& value);

    // Start of the current record; records before it are complete.
    size_t record_start() const { return start_; }
    int32_t records_ended() const { return records_; }

private:
    // Writes s at the position: gaps become blanks, Tn may overwrite.
    void place(std::string_view s);

    std::string& buf_;
    size_t start_;
    size_t pos_ = 0;
    int32_t records_ = 0;
    std::string scratch_;
};

}  // namespace textio
