#pragma once
// The home page's template, styles and script, embedded at build time from
// serve/page/.
#include <string_view>

namespace serve::page_assets {

extern const std::string_view kHomeHtml;
extern const std::string_view kHomeCss;
extern const std::string_view kHomeJs;

}  // namespace serve::page_assets
