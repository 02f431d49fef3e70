#pragma once
// The home page's template, styles and script, embedded at build time from
// serve/page/, and the chart library it draws with.
#include <string_view>

namespace serve::page_assets {

extern const std::string_view kHomeHtml;
extern const std::string_view kHomeCss;
extern const std::string_view kHomeJs;
extern const std::string_view kDygraphJs;
extern const std::string_view kDygraphCss;

}  // namespace serve::page_assets
