#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "extract/fields.h"
#include "textio/editors.h"

namespace extract {
namespace {

// Every text of the plain shape, and a few spellings of it the data set
// does not write, against the full field rules.
TEST(FieldShortcuts, ParseGivesWhatTheFieldRulesGive) {
    std::vector<std::string> texts = {"001.50", "-01.50", "   .05", "  -.50", "-0.00", " -0.00", "000.00",
                                      "  1.5 ", " 1.50 ", "+1.50 ", "1 .50 ", " 1. 50"};
    for (int32_t n = 0; n <= 99999; ++n) {
        std::string text;
        textio::edit_real(text, static_cast<float>(n) / 100.0f, 6, 2);
        texts.push_back(text);
        if (n <= 9999) {
            text.clear();
            textio::edit_real(text, static_cast<float>(-n) / 100.0f, 6, 2);
            texts.push_back(text);
        }
    }
    int32_t plain = 0;
    for (const std::string& text : texts) {
        float fast = 0.0f, slow = 0.0f;
        ASSERT_TRUE(textio::parse_real(text, 2, slow)) << text;
        if (!parse_plain(text.data(), fast)) continue;
        ++plain;
        ASSERT_EQ(std::bit_cast<uint32_t>(fast), std::bit_cast<uint32_t>(slow)) << '"' << text << '"';
    }
    // Everything the writer makes takes the shortcut.
    EXPECT_GE(plain, 100000 + 9999);
}

// Hundredths, their neighbours, exact ties, specials and random bit
// patterns against the F6.2 editor.
TEST(FieldShortcuts, EditGivesWhatTheEditorGives) {
    std::vector<float> values = {0.0f, -0.0f, 0.004999f, 0.005f, -0.005f, 999.99f, 999.995f, -99.99f, -99.995f,
                                 1000.0f, -100.0f, 1e-30f, -1e-30f, 1e30f,
                                 std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::denorm_min()};
    for (int32_t n = -100000; n <= 100000; ++n) {
        const float v = static_cast<float>(n) / 100.0f;
        values.push_back(v);
        values.push_back(std::nextafter(v, 2000.0f));
        values.push_back(std::nextafter(v, -2000.0f));
    }
    for (int32_t k = -8001; k <= 8001; k += 2) values.push_back(static_cast<float>(k) / 8.0f);  // ties at 3 decimals
    uint32_t bits = 12345u;
    for (int32_t k = 0; k < 200000; ++k) {
        bits = bits * 1664525u + 1013904223u;
        values.push_back(std::bit_cast<float>(bits));
        values.push_back(std::bit_cast<float>((bits & 0x807fffffu) | 0x3f800000u) * 37.0f);  // mostly in range
    }
    int32_t plain = 0;
    for (float v : values) {
        std::string slow;
        textio::edit_real(slow, v, 6, 2);
        char fast[6];
        if (!edit_plain(fast, v)) continue;
        ++plain;
        ASSERT_EQ(std::string(fast, 6), slow) << std::bit_cast<uint32_t>(v);
    }
    EXPECT_GE(plain, 2 * 100000);
}

}  // namespace
}  // namespace extract
