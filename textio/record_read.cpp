#include "textio/record_read.h"

#include <cmath>
#include <cstring>

#include "textio/editors.h"
#include "textio/errors.h"
#include "textio/walker.h"

namespace textio {

namespace {

// The position in the current line of a formatted read, and the walker's
// ops for input: "/" and reversion fetch the next line, if there is a source.
class FieldReader {
public:
    FieldReader(std::string_view line, LineSource* in) : line_(line), in_(in) {}

    bool text(std::string_view s) {
        pos_ += s.size();
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
        std::optional<std::string_view> line = in_ ? in_->next() : std::nullopt;
        if (!line) {
            ended_ = true;
            return false;
        }
        line_ = *line;
        pos_ = 0;
        return true;
    }
    bool ended() const { return ended_; }

    // Reads one variable; false when the field breaks the rules.
    bool field(const FieldSpec& field_spec, const InTarget& target) {
        if (field_spec.kind == FieldSpec::Text) return text_field(field_spec, target);
        std::string_view f = number_field(field_spec.width);
        if (int32_t* const* i = std::get_if<int32_t*>(&target.v)) {
            if (field_spec.kind == FieldSpec::Int) return parse_int(f, **i);
            float x;
            if (!parse_real(f, field_spec.digits, x) || !(std::fabs(x) < 2147483648.0f)) return false;
            **i = static_cast<int32_t>(x);
            return true;
        }
        if (float* const* x = std::get_if<float*>(&target.v)) {
            if (field_spec.kind == FieldSpec::Real) return parse_real(f, field_spec.digits, **x);
            int32_t i;
            if (!parse_int(f, i)) return false;
            **x = static_cast<float>(i);
            return true;
        }
        if (bool* const* b = std::get_if<bool*>(&target.v)) {
            **b = logical(f);
            return true;
        }
        std::string& s = *std::get<std::string*>(target.v);
        s.assign(f);
        return true;
    }

    static bool logical(std::string_view v) {
        size_t k = v.find_first_not_of(' ');
        if (k != std::string_view::npos && v[k] == '.') ++k;
        return k < v.size() && (v[k] == 't' || v[k] == 'T');
    }

private:
    // The next w characters, cut short by a comma; the position moves past
    // the comma, or by w.
    std::string_view number_field(int32_t width) {
        size_t w = static_cast<size_t>(width);
        std::string_view f;
        if (pos_ < line_.size()) f = line_.substr(pos_, w);
        const void* comma = f.empty() ? nullptr : std::memchr(f.data(), ',', f.size());
        if (comma) {
            size_t c = static_cast<size_t>(static_cast<const char*>(comma) - f.data());
            pos_ += c + 1;
            return f.substr(0, c);
        }
        pos_ += w;
        return f;
    }

    bool text_field(const FieldSpec& field_spec, const InTarget& target) {
        std::string* s = nullptr;
        std::string scratch;
        if (std::string* const* t = std::get_if<std::string*>(&target.v)) s = *t;
        else s = &scratch;
        size_t len = s->size();
        size_t w = field_spec.width == 0 ? len : static_cast<size_t>(field_spec.width);
        std::string_view f;
        if (pos_ < line_.size()) f = line_.substr(pos_, w);
        pos_ += w;
        if (s == &scratch) {
            // A number under A: read the text as the field of its kind.
            if (int32_t* const* i = std::get_if<int32_t*>(&target.v)) return parse_int(f, **i);
            if (float* const* x = std::get_if<float*>(&target.v)) return parse_real(f, 0, **x);
            **std::get_if<bool*>(&target.v) = logical(f);
            return true;
        }
        // The field is f padded with blanks to w; a wide field gives its
        // rightmost characters.
        if (w >= len) {
            size_t skip = w - len;  // characters of the padded field dropped on the left
            std::string_view kept = skip < f.size() ? f.substr(skip) : std::string_view();
            s->assign(kept);
        } else {
            s->assign(f);
        }
        s->resize(len, ' ');
        return true;
    }

    std::string_view line_;
    LineSource* in_;
    size_t pos_ = 0;
    bool ended_ = false;
};

ReadStatus read_line(std::string_view line, LineSource* in, const Layout& layout,
                     std::span<const InTarget> targets) {
    FieldReader reader(line, in);
    Walker walk(layout);
    for (const InTarget& target : targets) {
        const FieldSpec* field_spec = walk.next(reader);
        if (!field_spec) return reader.ended() ? ReadStatus::end : ReadStatus::ok;
        if (!reader.field(*field_spec, target)) return ReadStatus::error;
    }
    if (!walk.finish(reader)) return ReadStatus::end;
    return ReadStatus::ok;
}

}  // namespace

ReadStatus read(LineSource& in, const Layout& layout, std::span<const InTarget> targets) {
    std::optional<std::string_view> line = in.next();
    if (!line) return ReadStatus::end;
    return read_line(*line, &in, layout, targets);
}

ReadStatus read_record(std::string_view record, const Layout& layout, std::span<const InTarget> targets) {
    return read_line(record, nullptr, layout, targets);
}

void read_or_fail(LineSource& in, const Layout& layout, std::span<const InTarget> targets) {
    ReadStatus status = read(in, layout, targets);
    if (status == ReadStatus::error) throw IoError(kIllegalChar, "formatted read", in.name());
    if (status == ReadStatus::end) throw IoError(kReadPastEnd, "formatted read", in.name());
}

namespace {

// Splits free-form input into value positions across lines.
class FreeScanner {
public:
    explicit FreeScanner(LineSource& in) : in_(in) {}

    enum class Kind { value, null, slash, end };
    struct Item {
        Kind kind;
        std::string_view text;
    };

    Item next() {
        if (!line_) {
            line_ = in_.next();
            pos_ = 0;
            if (!line_) return {Kind::end, {}};
        }
        // A new line or blanks lead to the next value; an empty line has none.
        for (;;) {
            while (pos_ < line_->size() && (*line_)[pos_] == ' ') ++pos_;
            if (pos_ < line_->size()) break;
            line_ = in_.next();
            pos_ = 0;
            if (!line_) return {Kind::end, {}};
        }
        std::string_view s = *line_;
        char c = s[pos_];
        if (c == ',') {
            ++pos_;
            return {Kind::null, {}};
        }
        if (c == '/') return {Kind::slash, {}};
        size_t begin = pos_;
        if (c == '\'' || c == '"') {
            // A quoted text runs to its closing quote, blanks and commas included.
            ++pos_;
            while (pos_ < s.size()) {
                if (s[pos_] == c) {
                    if (pos_ + 1 < s.size() && s[pos_ + 1] == c) { pos_ += 2; continue; }
                    ++pos_;
                    break;
                }
                ++pos_;
            }
        }
        while (pos_ < s.size() && s[pos_] != ' ' && s[pos_] != ',' && s[pos_] != '/') ++pos_;
        std::string_view text = s.substr(begin, pos_ - begin);
        // The separator after a value: blanks and at most one comma.
        while (pos_ < s.size() && s[pos_] == ' ') ++pos_;
        if (pos_ < s.size() && s[pos_] == ',') ++pos_;
        return {Kind::value, text};
    }

private:
    LineSource& in_;
    std::optional<std::string_view> line_;
    size_t pos_ = 0;
};

std::string unquote(std::string_view v) {
    if (v.empty() || (v[0] != '\'' && v[0] != '"')) return std::string(v);
    char q = v[0];
    std::string s;
    for (size_t k = 1; k < v.size(); ++k) {
        if (v[k] == q) {
            if (k + 1 < v.size() && v[k + 1] == q) { s += q; ++k; continue; }
            break;
        }
        s += v[k];
    }
    return s;
}

bool assign_free(std::string_view v, const InTarget& target) {
    if (bool* const* b = std::get_if<bool*>(&target.v)) {
        size_t k = v.size() > 0 && v[0] == '.' ? 1 : 0;
        **b = k < v.size() && (v[k] == 't' || v[k] == 'T');
        return true;
    }
    if (int32_t* const* i = std::get_if<int32_t*>(&target.v)) {
        if (v.empty()) return false;
        return parse_int(v, **i);
    }
    if (float* const* x = std::get_if<float*>(&target.v)) {
        if (v.empty()) return false;
        return parse_real(v, 0, **x);
    }
    std::string& s = *std::get<std::string*>(target.v);
    size_t len = s.size();
    s = unquote(v);
    s.resize(len, ' ');
    return true;
}

}  // namespace

ReadStatus read_free(LineSource& in, std::span<const InTarget> targets) {
    FreeScanner scan(in);
    size_t k = 0;
    while (k < targets.size()) {
        FreeScanner::Item item = scan.next();
        switch (item.kind) {
        case FreeScanner::Kind::end:
            return ReadStatus::end;
        case FreeScanner::Kind::slash:
            return ReadStatus::ok;
        case FreeScanner::Kind::null:
            ++k;
            continue;
        case FreeScanner::Kind::value:
            break;
        }
        // r*v: r copies of v; r* alone is r null values.
        std::string_view v = item.text;
        size_t repeat = 1;
        size_t star = v.find('*');
        if (star != std::string_view::npos && star > 0 && v[0] != '\'' && v[0] != '"' &&
            v.substr(0, star).find_first_not_of("0123456789") == std::string_view::npos) {
            int32_t r = 0;
            if (!parse_int(v.substr(0, star), r) || r < 1) return ReadStatus::error;
            repeat = static_cast<size_t>(r);
            v = v.substr(star + 1);
            if (v.empty()) {
                k += std::min(repeat, targets.size() - k);
                continue;
            }
        }
        for (size_t n = 0; n < repeat && k < targets.size(); ++n, ++k) {
            if (!assign_free(v, targets[k])) return ReadStatus::error;
        }
    }
    return ReadStatus::ok;
}

}  // namespace textio
