// The home page's routes without a socket: the page, its assets and their
// caching, and the map's data checked against the grid's own values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "maps/palette.h"
#include "serve/app.h"
#include "serve/extract_query.h"
#include "serve/loaded_grid.h"
#include "serve/more_routes.h"
#include "tests/serve/gunzip.h"
#include "tests/support/program.h"
#include "tools/grid_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr float kMissing = -99.9f;
// The file's path holds "</script>" across a folder's name: the page must
// show it as text.
constexpr const char* kHostileFolder = "grid <";
constexpr const char* kHostileName = "grid </script><b>&amp;\".txt";

// Ocean cells, cells whose record starts late, and scattered gaps.
int32_t start_year(int32_t i, int32_t j) { return (i + j) % 7 == 0 ? 0 : 1850 + ((3 * i + j) % 5) * 30; }
float value(int32_t i, int32_t j, int32_t m) {
    const int32_t start = start_year(i, j);
    if (start == 0 || 1850 + (m - 1) / 12 < start || (m + i) % 10 == 0) return kMissing;
    return static_cast<float>((i * j + m) % 800) / 100.0f - 4.0f;
}

serve::HttpRequest get(std::string path, serve::Fields args = {}, std::string if_none_match = "",
                       std::string accept_encoding = "") {
    serve::HttpRequest r;
    r.method = "GET";
    r.path = std::move(path);
    r.args = std::move(args);
    r.if_none_match = std::move(if_none_match);
    r.accept_encoding = std::move(accept_encoding);
    return r;
}

std::string header(const serve::Response& r, const std::string& name) {
    const std::string* v = r.header(name);
    return v ? *v : "";
}


std::vector<int32_t> numbers_of(const std::string& json, const std::string& key) {
    std::vector<int32_t> out;
    const size_t open = json.find("\"" + key + "\": [");
    if (open == std::string::npos) return out;
    const size_t close = json.find(']', open);
    const std::string list = json.substr(open + key.size() + 5, close - open - key.size() - 5);
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        out.push_back(std::stoi(list.substr(at, end - at)));
        at = end + 1;
    }
    return out;
}

// Most rows need a grid, not a sound one: a short file (damaged, as it ends
// early) under a hostile name serves them; the whole grid is written only
// for the rows that read the map's data.
class PageRoute : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testsupport::TempDir;
        fs::create_directories(*dir_ / kHostileFolder);
        tools::write_grid_file((*dir_ / kHostileName).string(), 36, value);
        short_ = serve::LoadedGrid::load((*dir_ / kHostileName).string(), 2).release();
    }
    static void TearDownTestSuite() {
        delete short_;
        delete sound_;
        delete dir_;
    }
    static const serve::LoadedGrid* sound() {
        if (!sound_) {
            tools::write_grid_file((*dir_ / "sound.txt").string(), tools::kMonths, value);
            sound_ = serve::LoadedGrid::load((*dir_ / "sound.txt").string(), 2).release();
        }
        return sound_;
    }
    static serve::Response answer(const serve::HttpRequest& request, const serve::LoadedGrid* grid = nullptr) {
        std::optional<serve::Routed> routed = serve::page_route(grid ? *grid : *short_, request);
        if (!routed || !routed->response) return serve::plain(599, "no answer");
        return *routed->response;
    }
    static inline testsupport::TempDir* dir_ = nullptr;
    static inline serve::LoadedGrid* short_ = nullptr;
    static inline serve::LoadedGrid* sound_ = nullptr;
};

TEST_F(PageRoute, AnswersItsOwnPathsOnly) {
    struct Row {
        const char* path;
        bool mine;
    };
    const Row rows[] = {
        {"/", true},          {"/page/home.js", true}, {"/page/cells", true}, {"/page/other", true},
        {"/page/month", true}, {"/page/series", true}, {"/page/dygraph.js", true},
        {"/page", false},     {"/pages/x", false},     {"/extract", false},   {"/health", false},
        {"//", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(serve::page_route(*short_, get(row.path)).has_value(), row.mine) << row.path;
    EXPECT_EQ(answer(get("/page/other")).status, 404);
}

// The page names its assets by their tags, so a new program never runs an
// old script from a cache.
TEST_F(PageRoute, PageNamesItsAssetsByTheirTags) {
    const serve::Response page = answer(get("/", {{"years", "1901:2010"}}));
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(header(page, "Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(header(page, "Content-Security-Policy").find("connect-src 'self'"), std::string::npos);
    EXPECT_EQ(header(page, "Cache-Control"), "no-cache");
    const std::pair<const char*, const char*> assets[] = {{"/page/home.js", "text/javascript; charset=utf-8"},
                                                         {"/page/home.css", "text/css; charset=utf-8"},
                                                         {"/page/dygraph.js", "text/javascript; charset=utf-8"},
                                                         {"/page/dygraph.css", "text/css; charset=utf-8"}};
    for (const auto& [asset, type] : assets) {
        const std::regex linked(std::string(asset) + "\\?v=([0-9a-f]{16})\"");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(*page.body, m, linked)) << asset;
        const serve::Response pinned = answer(get(asset, {{"v", m[1]}}));
        EXPECT_EQ(header(pinned, "Content-Type"), type);
        EXPECT_EQ(header(pinned, "ETag"), "\"" + std::string(m[1]) + "\"") << asset;
        EXPECT_EQ(header(pinned, "Cache-Control"), "public, max-age=31536000, immutable") << asset;
        EXPECT_EQ(header(answer(get(asset, {{"v", "0123456789abcdef"}})), "Cache-Control"), "no-cache") << asset;
        EXPECT_EQ(header(answer(get(asset)), "Cache-Control"), "no-cache") << asset;
    }
}

TEST_F(PageRoute, ConditionalAndCompressed) {
    const std::vector<std::pair<std::string, serve::Fields>> data = {
        {"/page/cells", {{"years", "1901:1910"}}},
        {"/page/month", {{"month", "1901-07"}}},
        {"/page/series", {{"cell", "-98.75,36.25"}}},
    };
    for (const char* path : {"/", "/page/home.js", "/page/home.css", "/page/cells", "/page/month", "/page/series"}) {
        const auto of = std::find_if(data.begin(), data.end(), [&](const auto& d) { return d.first == path; });
        const serve::Fields args = of == data.end() ? serve::Fields{} : of->second;
        const serve::LoadedGrid* grid = of == data.end() ? nullptr : sound();
        const serve::Response plain = answer(get(path, args), grid);
        ASSERT_EQ(plain.status, 200) << path << ": " << *plain.body;
        EXPECT_EQ(header(plain, "X-Content-Type-Options"), "nosniff") << path;
        const std::string tag = header(plain, "ETag");
        EXPECT_EQ(tag.rfind("\"", 0), 0u) << path << " has a strong tag";
        struct Row {
            const char* name;
            std::string if_none_match;
            int status;
        };
        const Row rows[] = {
            {"its tag", tag, 304},
            {"weak form of its tag", "W/" + tag, 304},
            {"in a list", "\"x\", " + tag, 304},
            {"any", "*", 304},
            {"another tag", "\"0000000000000000\"", 200},
        };
        for (const Row& row : rows) {
            const serve::Response r = answer(get(path, args, row.if_none_match), grid);
            EXPECT_EQ(r.status, row.status) << path << ", " << row.name;
            EXPECT_EQ(header(r, "ETag"), tag) << path << ", " << row.name;
            // A 304 stands for the 200: the same caching.
            for (const char* name : {"Cache-Control", "Vary"})
                EXPECT_EQ(header(r, name), header(plain, name)) << path << ", " << row.name << ": " << name;
        }
        if (std::string(path) == "/") continue;
        const serve::Response zipped = answer(get(path, args, "", "gzip, deflate"), grid);
        EXPECT_EQ(header(zipped, "Content-Encoding"), "gzip") << path;
        EXPECT_NE(header(zipped, "ETag"), tag) << path << ": another representation, another tag";
        EXPECT_EQ(header(zipped, "Vary"), "Accept-Encoding") << path;
        EXPECT_EQ(serve_test::gunzip(*zipped.body), *plain.body) << path;
        EXPECT_EQ(answer(get(path, args, header(zipped, "ETag"), "gzip"), grid).status, 304) << path;
    }
}

// First years from the whole record, missing months from the span only, in
// the grid's cell order; compared with the values the file was written from.
TEST_F(PageRoute, MapDataIsTheGridsOwn) {
    struct Row {
        int32_t first, last;
    };
    int32_t land = 0;  // cells with any value
    for (const Row span : {Row{1850, 2010}, Row{1901, 1910}, Row{2010, 2010}}) {
        const std::string years = std::to_string(span.first) + ":" + std::to_string(span.last);
        const serve::Response r = answer(get("/page/cells", {{"years", years}}), sound());
        ASSERT_EQ(r.status, 200) << *r.body;
        std::vector<int32_t> first, missing;
        for (int32_t i = 1; i <= tools::kColumns; ++i)
            for (int32_t j = 1; j <= tools::kRows; ++j) {
                int32_t start = 0, gaps = 0;
                for (int32_t m = 1; m <= tools::kMonths; ++m) {
                    const bool gap = value(i, j, m) == kMissing;
                    if (!gap && start == 0) start = 1850 + (m - 1) / 12;
                    const int32_t year = 1850 + (m - 1) / 12;
                    if (gap && year >= span.first && year <= span.last) ++gaps;
                }
                first.push_back(start);
                missing.push_back(gaps);
            }
        land = static_cast<int32_t>(std::count_if(first.begin(), first.end(), [](int32_t y) { return y != 0; }));
        EXPECT_EQ(numbers_of(*r.body, "first"), first) << years;
        EXPECT_EQ(numbers_of(*r.body, "missing"), missing) << years;
        EXPECT_NE(r.body->find("\"months\": " + std::to_string(12 * (span.last - span.first + 1))), std::string::npos);
    }
    const std::string page = *answer(get("/"), sound()).body;
    EXPECT_NE(page.find("\"land\": " + std::to_string(land) + ","), std::string::npos) << land;
}

// A month: every cell's hundredths, then its class code; a cell's series:
// every month's hundredths. Both against the values the file was written
// from.
TEST_F(PageRoute, MonthAndSeriesAreTheGridsOwn) {
    const int32_t cells = tools::kColumns * tools::kRows;
    auto hundredths = [](float v) { return v == kMissing ? INT32_MIN : static_cast<int32_t>(std::lround(v * 100.0)); };
    for (const char* text : {"1850-01", "1934-07", "2010-12"}) {
        const int32_t m = 12 * (std::stoi(std::string(text, 4)) - 1850) + std::stoi(std::string(text + 5));
        const serve::Response r = answer(get("/page/month", {{"month", text}}), sound());
        ASSERT_EQ(r.status, 200) << *r.body;
        EXPECT_EQ(header(r, "Content-Type"), "application/octet-stream");
        ASSERT_EQ(r.body->size(), static_cast<size_t>(cells) * 5) << text;
        int32_t wrong = 0;
        for (int32_t i = 1; i <= tools::kColumns; ++i)
            for (int32_t j = 1; j <= tools::kRows; ++j) {
                const size_t n = static_cast<size_t>((i - 1) * tools::kRows + (j - 1));
                int32_t h = 0;
                std::memcpy(&h, r.body->data() + 4 * n, 4);  // the test machine is little-endian too
                const float v = value(i, j, m);
                const int code = static_cast<uint8_t>((*r.body)[static_cast<size_t>(cells) * 4 + n]);
                wrong += h != hundredths(v) || code != (v == kMissing ? 11 : maps::pdsi_class(v));
            }
        EXPECT_EQ(wrong, 0) << text;
    }
    const serve::Response s = answer(get("/page/series", {{"cell", "-98.75,36.25"}}), sound());
    ASSERT_EQ(s.status, 200);
    std::string want = "{\"first_year\": 1850, \"values\": [";
    for (int32_t m = 1; m <= tools::kMonths; ++m) {
        const int32_t h = hundredths(value(33, 39, m));
        want += (m > 1 ? "," : "") + (h == INT32_MIN ? std::string("null") : std::to_string(h));
    }
    EXPECT_EQ(*s.body, want + "]}\n");
    // Any point of the cell names it.
    EXPECT_EQ(*answer(get("/page/series", {{"cell", "-97.6,35.1"}}), sound()).body, *s.body);
}

TEST_F(PageRoute, MonthAndCellRefusals) {
    struct Row {
        const char* name;
        const char* path;
        serve::Fields args;
        std::string line;
    };
    const Row rows[] = {
        {"year before the grid", "/page/month", {{"month", "1849-12"}}, "month: year 1849 is outside 1850-2010\n"},
        {"month 13", "/page/month", {{"month", "1934-13"}}, "month: month 13 is not 01 to 12\n"},
        {"month 00", "/page/month", {{"month", "1934-00"}}, "month: month 00 is not 01 to 12\n"},
        {"one digit", "/page/month", {{"month", "1934-7"}}, "month: \"1934-7\" is not a month (YYYY-MM)\n"},
        {"no year", "/page/month", {{"month", "abcd-07"}}, "month: \"abcd\" is not a year\n"},
        {"empty month", "/page/month", {{"month", ""}}, "month: empty\n"},
        {"no month", "/page/month", {}, "month: required (month=YYYY-MM)\n"},
        {"month twice", "/page/month", {{"month", "1934-07"}, {"month", "1934-07"}}, "month: given more than once\n"},
        {"other key", "/page/month", {{"year", "1934"}}, "unknown parameter: the map data takes month=YYYY-MM only\n"},
        {"no comma", "/page/series", {{"cell", "36.25"}}, "cell: \"36.25\" is not LON,LAT\n"},
        {"north of the cells", "/page/series", {{"cell", "0,77.5"}}, "cell: \"0,77.5\" is outside the grid's cells\n"},
        {"east of 180", "/page/series", {{"cell", "180,0"}}, "cell: \"180,0\" is outside the grid's cells\n"},
        {"no cell", "/page/series", {}, "cell: required (cell=LON,LAT)\n"},
        {"a bad longitude", "/page/series", {{"cell", "x,0"}}, "cell: \"x\" is not a number\n"},
        {"a bad latitude", "/page/series", {{"cell", "0,x"}}, "cell: \"x\" is not a number\n"},
    };
    for (const Row& row : rows) {
        const serve::Response r = answer(get(row.path, row.args), sound());
        EXPECT_EQ(r.status, 400) << row.name;
        EXPECT_EQ(*r.body, row.line) << row.name;
    }
}

// The map's years are refused in the API's words.
TEST_F(PageRoute, MapDataRefusals) {
    auto api = [](const std::string& years) {
        try {
            serve::parse_extract_query({{"years", years}, {"max_missing", "0.5"}});
        } catch (const serve::HttpError& e) {
            return e.message + "\n";
        }
        return std::string("accepted");
    };
    struct Row {
        const char* name;
        serve::Fields args;
        std::string line;
    };
    const Row rows[] = {
        {"year before the grid", {{"years", "1849:2010"}}, api("1849:2010")},
        {"inverted span", {{"years", "2000:1990"}}, api("2000:1990")},
        {"no colon", {{"years", "1990"}}, api("1990")},
        {"empty", {{"years", ""}}, "years: empty\n"},
        {"missing", {}, "years: required (years=FIRST:LAST)\n"},
        {"repeated", {{"years", "1901:1910"}, {"years", "1901:1910"}}, "years: given more than once\n"},
        {"unknown", {{"years", "1901:1910"}, {"lat", "0:10"}},
         "unknown parameter: the map data takes years=FIRST:LAST only\n"},
    };
    for (const Row& row : rows) {
        const serve::Response r = answer(get("/page/cells", row.args));
        EXPECT_EQ(r.status, 400) << row.name;
        EXPECT_EQ(*r.body, row.line) << row.name;
        EXPECT_EQ(header(r, "Cache-Control"), "no-store") << row.name;
    }
}

TEST_F(PageRoute, DamagedGridStillGivesThePage) {
    const serve::Response page = answer(get("/"));
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body->find("\"sound\": false"), std::string::npos);
    EXPECT_EQ(answer(get("/page/cells", {{"years", "1850:1852"}})).status, 422);
    EXPECT_EQ(*answer(get("/page/month", {{"month", "1850-02"}})).body,
              "the map needs the whole grid, and this grid file is damaged\n");
    EXPECT_EQ(answer(get("/page/series", {{"cell", "0,0"}})).status, 422);
}

// The grid's name reaches the page as JSON text that cannot end its block.
TEST_F(PageRoute, GridNameCannotEscapeItsBlock) {
    const std::string page = *answer(get("/")).body;
    const std::string open = "<script type=\"application/json\" id=\"grid-info\">";
    const size_t from = page.find(open) + open.size();
    const std::string block = page.substr(from, page.find("</script>", from) - from);
    EXPECT_EQ(block.find_first_of("<>&"), std::string::npos) << block;
    // The file's name only: its folder, "grid </", is no client's business.
    EXPECT_NE(block.find("\"script\\u003E\\u003Cb\\u003E\\u0026amp;\\\".txt\""), std::string::npos) << block;
}

TEST_F(PageRoute, OtherMethodsGet405FromTheApp) {
    serve::App app(*short_, dir_->path(), serve::ServerConfig{});
    for (const char* path : {"/", "/page/home.js", "/page/cells"}) {
        for (const auto& [method, status] : {std::pair{"POST", 405}, std::pair{"HEAD", 0}}) {
            serve::HttpRequest request = get(path, {{"years", "1850:1851"}});
            request.method = method;
            const serve::Routed routed = app.route(request);
            ASSERT_TRUE(routed.response) << path;
            if (status)
                EXPECT_EQ(routed.response->status, status) << method << " " << path;
            else
                EXPECT_NE(routed.response->status, 405) << method << " " << path;
            EXPECT_EQ(routed.route, std::string(path) == "/" ? "/" : "/page") << path;
        }
    }
}

}  // namespace
