#pragma once
// Editors for one field: value to text and text to value. They know nothing
// of layouts; the walker hands them one field at a time.
#include <cstdint>
#include <string>
#include <string_view>

namespace textio {

// Appends exactly w characters: Iw, asterisks when the digits do not fit.
void edit_int(std::string& out, int32_t value, int32_t w);
// Appends exactly w characters: Fw.d rounded half away from zero from the
// exact binary value; asterisks on overflow; NaN / INF for those values.
void edit_real(std::string& out, float value, int32_t w, int32_t d);

// Parses an Iw field (the comma already cut off). Blanks are ignored; an
// empty or all-blank field is 0. Returns false on any other bad character.
bool parse_int(std::string_view field, int32_t& value);
// Parses an Fw.d field with the implied-decimal rule for d. Returns false on
// a bad character, a second point or exponent, or a number without digits.
bool parse_real(std::string_view field, int32_t d, float& value);

}  // namespace textio
