#pragma once
// The page's template, styles and scripts, embedded at build time.
#include <string_view>

namespace report::assets {

extern const std::string_view kDygraphJs;
extern const std::string_view kDygraphCss;
extern const std::string_view kPageHtml;
extern const std::string_view kPageCss;
extern const std::string_view kPageJs;

}  // namespace report::assets
