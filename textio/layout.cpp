#include "textio/layout.h"

#include <cctype>
#include <stdexcept>

namespace textio {

namespace {

constexpr int32_t kMaxDepth = 20;

// Reads a layout text once, blanks outside quotes ignored, letters in
// either case.
class LayoutParser {
public:
    LayoutParser(std::string_view text, std::vector<LayoutItem>& items) : s_(text), items_(items) {}

    int32_t parse() {
        skip_blanks();
        if (!take('(')) fail("layout must open with '('");
        std::vector<int32_t> open;  // indexes of the GroupOpen items not yet closed
        int32_t reversion = 0;
        for (;;) {
            skip_blanks();
            if (at_end()) fail("layout not closed");
            char c = s_[i_];
            if (c == ',') { ++i_; continue; }
            if (c == ')') {
                ++i_;
                if (open.empty()) break;
                int32_t at = open.back();
                open.pop_back();
                close_group(at);
                if (open.empty() && items_[at].kind == LayoutItem::GroupOpen) reversion = at;
                continue;
            }
            int32_t count = 1;
            bool counted = false;
            if (is_digit(c)) {
                count = number();
                counted = true;
                skip_blanks();
                if (at_end()) fail("count without an item");
                c = s_[i_];
            }
            switch (lower(c)) {
            case '(':
                ++i_;
                if (static_cast<int32_t>(open.size()) >= kMaxDepth) fail("groups nested deeper than 20");
                open.push_back(static_cast<int32_t>(items_.size()));
                push(LayoutItem::GroupOpen, count);
                break;
            case '\'':
            case '"': {
                std::string text = quoted();
                LayoutItem& item = push(LayoutItem::Literal, 1);
                for (int32_t k = 0; k < count; ++k) item.text += text;
                break;
            }
            case 'x':
                ++i_;
                push(LayoutItem::Skip, count);
                break;
            case 't': {
                ++i_;
                if (counted) fail("count before T");
                int32_t column = required_number("column of T");
                push(LayoutItem::Column, column);
                break;
            }
            case '/':
                ++i_;
                for (int32_t k = 0; k < count; ++k) push(LayoutItem::Slash, 1);
                break;
            case '$':
                ++i_;
                push(LayoutItem::Dollar, 1);
                break;
            case 'i': {
                ++i_;
                int32_t w = required_number("width of I");
                push_field(count, FieldSpec{FieldSpec::Int, w, 0});
                break;
            }
            case 'f': {
                ++i_;
                int32_t w = required_number("width of F");
                int32_t d = 0;
                skip_blanks();
                if (take('.')) d = required_number("decimals of F");
                push_field(count, FieldSpec{FieldSpec::Real, w, d});
                break;
            }
            case 'a': {
                ++i_;
                skip_blanks();
                int32_t w = (!at_end() && is_digit(s_[i_])) ? number() : 0;
                push_field(count, FieldSpec{FieldSpec::Text, w, 0});
                break;
            }
            default:
                fail(std::string("unknown item '") + c + "'");
            }
        }
        skip_blanks();
        if (!at_end()) fail("text after the closing ')'");
        return reversion;
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw std::invalid_argument("malformed layout \"" + std::string(s_) + "\": " + why);
    }
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    static char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
    bool at_end() const { return i_ >= s_.size(); }
    void skip_blanks() { while (!at_end() && s_[i_] == ' ') ++i_; }
    bool take(char c) {
        if (at_end() || s_[i_] != c) return false;
        ++i_;
        return true;
    }
    // Digits with blanks among them, as written into run-time layouts.
    int32_t number() {
        int64_t n = 0;
        while (!at_end() && (is_digit(s_[i_]) || s_[i_] == ' ')) {
            if (s_[i_] != ' ') {
                n = n * 10 + (s_[i_] - '0');
                if (n > 1000000000) fail("number too large");
            }
            ++i_;
        }
        return static_cast<int32_t>(n);
    }
    int32_t required_number(const char* what) {
        skip_blanks();
        if (at_end() || !is_digit(s_[i_])) fail(std::string("missing ") + what);
        return number();
    }
    std::string quoted() {
        char q = s_[i_++];
        std::string text;
        for (;;) {
            if (at_end()) fail("quoted text not closed");
            char c = s_[i_++];
            if (c == q) {
                if (!at_end() && s_[i_] == q) { text += q; ++i_; continue; }
                return text;
            }
            text += c;
        }
    }
    LayoutItem& push(LayoutItem::Kind kind, int32_t count) {
        LayoutItem item{};
        item.kind = kind;
        item.count = count;
        items_.push_back(std::move(item));
        return items_.back();
    }
    void push_field(int32_t count, FieldSpec field) {
        if (field.kind != FieldSpec::Text && field.width < 1) fail("field width 0");
        push(LayoutItem::Field, count).field = field;
    }
    // A group of nothing but text, such as 72('='), becomes one literal.
    void close_group(int32_t at) {
        int32_t end = static_cast<int32_t>(items_.size());
        bool only_text = true;
        for (int32_t k = at + 1; k < end; ++k) only_text = only_text && items_[k].kind == LayoutItem::Literal;
        if (only_text) {
            std::string one;
            for (int32_t k = at + 1; k < end; ++k) one += items_[k].text;
            int32_t count = items_[at].count;
            items_.resize(at);
            LayoutItem& item = push(LayoutItem::Literal, 1);
            for (int32_t k = 0; k < count; ++k) item.text += one;
            return;
        }
        LayoutItem& close = push(LayoutItem::GroupClose, 1);
        close.partner = at;
        items_[at].partner = end;
    }

    std::string_view s_;
    std::vector<LayoutItem>& items_;
    size_t i_ = 0;
};

}  // namespace

Layout::Layout(std::string_view text) : text_(text) {
    reversion_ = LayoutParser(text, items_).parse();
    for (const LayoutItem& item : items_) has_fields_ = has_fields_ || item.kind == LayoutItem::Field;
}

}  // namespace textio
