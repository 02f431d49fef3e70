#pragma once
// Text from the run's files made safe for the page: as HTML text or
// attribute, and as a JSON string inside a <script> element.
#include <string>
#include <string_view>

namespace report {

// & < > " and ' as character references.
std::string html_escape(std::string_view text);

// A JSON string literal, quotes included. < > & are written \u003C \u003E
// \u0026 so no text closes the element that holds it; control characters
// as \uXXXX; other bytes, UTF-8 included, pass as they are.
std::string json_string(std::string_view text);

}  // namespace report
