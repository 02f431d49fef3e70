// The fast field editors and parser against the general ones: wherever a
// fast one answers, its text or value must be theirs to the bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "textio/editors.h"
#include "textio/plain_fields.h"

namespace {

struct RealField {
    const char* name;
    int32_t w, d;
    bool (*edit)(char*, float);
    bool (*parse)(const char*, float&);
    bool files_use;  // the stage's files: whatever the editor makes must parse fast
};

template <int32_t W, int32_t D>
RealField real_field(const char* name, bool files_use = false) {
    return {name, W, D, &textio::edit_plain_real<W, D>, &textio::parse_plain_real<W, D>, files_use};
}

// The stage's shapes, fields with no room for a leading zero, no decimals,
// many decimals and the widest allowed.
const std::vector<RealField>& real_fields() {
    static const std::vector<RealField> fields = {
        real_field<7, 2>("F7.2", true), real_field<8, 3>("F8.3", true), real_field<6, 2>("F6.2"),
        real_field<4, 3>("F4.3"), real_field<5, 3>("F5.3"), real_field<3, 0>("F3.0"),
        real_field<1, 0>("F1.0"), real_field<10, 5>("F10.5"), real_field<12, 9>("F12.9"),
        real_field<20, 2>("F20.2"),
    };
    return fields;
}

std::vector<float> edit_values() {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> values = {0.0f, -0.0f, 0.005f, -0.005f, 0.0005f, 0.5f, -0.5f, 0.4999999f, 9.5f,
                                 99.995f, 999.9951f, 9999.995f, -999.995f, 1e7f, 16777216.0f, 1e15f, 1e16f,
                                 -1e20f, 1e-30f, -1e-30f, std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::max(), inf, -inf, nan, -nan};
    for (int32_t n = -20000; n <= 20000; ++n) {
        const float v = static_cast<float>(n) / 100.0f;
        values.push_back(v);
        values.push_back(std::nextafter(v, inf));
        values.push_back(std::nextafter(v, -inf));
    }
    for (int32_t n = -120000; n <= 120000; n += 7) values.push_back(static_cast<float>(n) / 100.0f);
    // Exact binary ties at 1, 2 and 3 decimals, and around the widths' limits.
    for (int32_t k = -4001; k <= 4001; k += 2) {
        values.push_back(static_cast<float>(k) / 8.0f);
        values.push_back(static_cast<float>(k) / 2.0f);
        values.push_back(static_cast<float>(k) * 25.0f + 0.125f);
    }
    uint32_t bits = 2463534242u;
    for (int32_t k = 0; k < 100000; ++k) {
        bits ^= bits << 13;
        bits ^= bits >> 17;
        bits ^= bits << 5;
        values.push_back(std::bit_cast<float>(bits));
        values.push_back(std::bit_cast<float>((bits & 0x807fffffu) | 0x3f800000u) * 75.0f);
    }
    return values;
}

TEST(PlainFields, EditRealGivesTheEditorsText) {
    const std::vector<float> values = edit_values();
    for (const RealField& field : real_fields()) {
        for (float v : values) {
            std::string slow;
            textio::edit_real(slow, v, field.w, field.d);
            std::string fast(static_cast<size_t>(field.w), '#');
            if (!field.edit(fast.data(), v)) {
                // Only what the general editor cannot show as a plain number.
                EXPECT_TRUE(std::isnan(v) || std::isinf(v) || slow.find('*') != std::string::npos ||
                            std::fabs(static_cast<double>(v)) * std::pow(10.0, field.d) >= 1e15)
                    << field.name << " " << slow;
                continue;
            }
            ASSERT_EQ(fast, slow) << field.name << " bits " << std::bit_cast<uint32_t>(v);
        }
    }
}

TEST(PlainFields, EditIntGivesTheEditorsText) {
    struct IntField {
        const char* name;
        int32_t w;
        bool (*edit)(char*, int32_t);
    };
    const std::vector<IntField> fields = {
        {"I5", 5, &textio::edit_plain_int<5>}, {"I7", 7, &textio::edit_plain_int<7>},
        {"I1", 1, &textio::edit_plain_int<1>}, {"I11", 11, &textio::edit_plain_int<11>},
    };
    std::vector<int32_t> values = {0, -1, 9, 10, -9, -10, 99999, 100000, -9999, -10000, 2147483647,
                                   -2147483647 - 1, 999999, -999999};
    for (int32_t n = -3000; n <= 3000; ++n) values.push_back(n * 37);
    for (const IntField& field : fields) {
        for (int32_t v : values) {
            std::string slow;
            textio::edit_int(slow, v, field.w);
            std::string fast(static_cast<size_t>(field.w), '#');
            if (!field.edit(fast.data(), v)) {
                EXPECT_NE(slow.find('*'), std::string::npos) << field.name << " " << v;
                continue;
            }
            ASSERT_EQ(fast, slow) << field.name << " " << v;
        }
    }
}

// The texts the editor makes, then each of them with one character
// replaced by something a hostile or foreign file could hold there.
// `made` counts the editor's texts at the front.
std::vector<std::string> parse_texts(const RealField& field, size_t& made) {
    std::vector<std::string> texts;
    const std::string w(static_cast<size_t>(field.w), ' ');
    texts.push_back(w);
    for (float v : {0.0f, -0.0f, 0.5f, -0.5f, 1.25f, -99.9f, 123.45f, -7.0f, 16777215.0f, 16777216.0f}) {
        std::string text;
        textio::edit_real(text, v, field.w, field.d);
        texts.push_back(text);
    }
    for (int32_t n = -120000; n <= 120000; n += 7) {
        std::string text;
        textio::edit_real(text, static_cast<float>(n) / 100.0f, field.w, field.d);
        texts.push_back(text);
    }
    made = texts.size();
    // '/' and ':' sit either side of the digits.
    const std::string hostile = " -+.,eEdD09x*N\t/:";
    for (size_t t = 0; t < made; t += 29) {
        for (size_t at = 0; at < static_cast<size_t>(field.w); ++at) {
            for (char c : hostile) {
                std::string text = texts[t];
                text[at] = c;
                texts.push_back(text);
            }
        }
    }
    return texts;
}

TEST(PlainFields, ParseGivesTheParsersValue) {
    for (const RealField& field : real_fields()) {
        size_t made = 0;
        const std::vector<std::string> texts = parse_texts(field, made);
        for (size_t t = 0; t < texts.size(); ++t) {
            const std::string& text = texts[t];
            float fast = 12345.0f;
            if (!field.parse(text.data(), fast)) {
                EXPECT_FALSE(field.files_use && t < made && t > 0 && text.find('*') == std::string::npos)
                    << field.name << " \"" << text << '"';
                continue;
            }
            float slow = 54321.0f;
            ASSERT_TRUE(textio::parse_real(text, field.d, slow)) << field.name << " \"" << text << '"';
            ASSERT_EQ(std::bit_cast<uint32_t>(fast), std::bit_cast<uint32_t>(slow))
                << field.name << " \"" << text << '"';
        }
    }
}

// The shortcut multiplies in double where the general parser divides in
// float: the same float for every mantissa it takes (all of them for the
// stage's two and three decimals, a sample for the rest).
TEST(PlainFields, ParseRoundsAsTheParsersDivision) {
    constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f};
    for (int32_t d = 1; d <= 9; ++d) {
        const uint32_t step = d == 2 || d == 3 ? 1 : 97;
        for (uint32_t m = 0; m < (1u << 24); m += step) {
            const float by_division = static_cast<float>(m) / kPow10[d];
            const float by_product = static_cast<float>(static_cast<double>(m) * textio::plain_detail::kInversePow10d[d]);
            ASSERT_EQ(std::bit_cast<uint32_t>(by_product), std::bit_cast<uint32_t>(by_division)) << m << " d " << d;
        }
    }
}

TEST(PlainFields, ParseLeavesTheUnusualToTheParser) {
    struct Row {
        const char* name;
        const char* text;  // an F7.2 field
    };
    const std::vector<Row> rows = {
        {"all blank", "       "},   {"comma", "  1,.00"}, {"plus sign", "  +1.00"}, {"inner blank", " - 1.00"},
        {"letter", "  1x.00"},      {"NaN", "    NaN"},   {"asterisks", "*******"}, {"tab", "\t  1.00"},
    };
    for (const Row& row : rows) {
        float v = 0.0f;
        EXPECT_FALSE((textio::parse_plain_real<7, 2>(row.text, v))) << row.name;
    }
    // Mantissas from 2^24 up go the general parser's longer way.
    float v = 0.0f;
    EXPECT_FALSE((textio::parse_plain_real<12, 2>("   167772.16", v)));
    EXPECT_TRUE((textio::parse_plain_real<12, 2>("   167772.15", v)));
}

}  // namespace
