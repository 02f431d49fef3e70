#pragma once
// A record layout such as "(1x,i4,12(1x,f6.2))", compiled once into a flat
// list of items so that a layout used for every record is parsed once per run.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

struct FieldSpec {
    enum Kind : uint8_t { Int, Real, Text } kind;
    int32_t width;   // 0 for a bare A: the whole text value / the whole variable
    int32_t digits;  // decimals of Fw.d, 0 otherwise
};

struct LayoutItem {
    enum Kind : uint8_t {
        Literal,     // text: write `text`
        Skip,        // nX: move `count` characters right
        Column,      // Tn: move to column `count`
        Slash,       // end the record, start a new one
        Dollar,      // leave the last record open
        Field,       // `count` times the field `field`
        GroupOpen,   // `count` repeats; `partner` is the index of its GroupClose
        GroupClose,  // `partner` is the index of its GroupOpen
    } kind;
    int32_t count = 1;
    int32_t partner = -1;
    FieldSpec field{FieldSpec::Int, 0, 0};
    std::string text;
};

class Layout {
public:
    // Throws std::invalid_argument for a malformed layout: layouts are the
    // program's own texts, so this is a programming error, not bad input.
    explicit Layout(std::string_view text);

    const std::vector<LayoutItem>& items() const { return items_; }
    // Where walking starts again when the layout ends with values left: the
    // last outermost group, or the start of the layout.
    int32_t reversion_index() const { return reversion_; }
    bool has_fields() const { return has_fields_; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::vector<LayoutItem> items_;
    int32_t reversion_ = 0;
    bool has_fields_ = false;
};

}  // namespace textio
