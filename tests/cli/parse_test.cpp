// The command's parser in-process: the values a request holds once parsed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/app.h"

namespace cli {
namespace {

Parsed parse(std::vector<std::string> args) {
    Parsed parsed;
    auto app = make_app(parsed);
    args = join_negative_values(args);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app->parse(reversed);
    return parsed;
}

TEST(PdsiParse, NumbersAreDecimalAndClampedAsTheDialogueDoes) {
    struct Row {
        const char* name;
        std::vector<std::string> more;
        float south, north, west, east, fraction;
        int32_t threads = 0;
    };
    const Row rows[] = {
        {"whole numbers carry no implied decimals", {"--lat=-10:50", "--lon=-100:100", "--max-missing", "50"},
         -10.0f, 50.0f, -100.0f, 100.0f, 50.0f},
        {"bounds beyond the grid move onto its outermost mid-points", {"--lat=-90:90", "--lon=-180:180"},
         -58.75f, 76.25f, -178.75f, 178.75f, 0.5f},
        {"a negative span after a separate option word", {"--lat", "-60:-30", "--lon", "-.5:0.25"}, -58.75f,
         -30.0f, -0.5f, 0.25f, 0.5f},
        {"a leading plus and an exponent", {"--lat=+1.25:3.75", "--max-missing", "1e-1"}, 1.25f, 3.75f, -178.75f,
         178.75f, 0.1f},
        {"the dialogue's single-precision value", {"--max-missing", "1.01"}, -58.75f, 76.25f, -178.75f, 178.75f,
         1.01f},
        {"the most threads", {"--threads", "1024"}, -58.75f, 76.25f, -178.75f, 178.75f, 0.5f, 1024},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{"extract", "--years", "1901:2010"};
        args.insert(args.end(), row.more.begin(), row.more.end());
        if (std::find(args.begin(), args.end(), "--max-missing") == args.end()) args.insert(args.end(), {"--max-missing", "0.5"});
        Parsed parsed;
        ASSERT_NO_THROW(parsed = parse(args)) << row.name;
        const ExtractOptions& o = parsed.extract;
        EXPECT_EQ(parsed.command, "extract") << row.name;
        EXPECT_EQ(o.years.first, 1901) << row.name;
        EXPECT_EQ(o.years.last, 2010) << row.name;
        EXPECT_EQ(o.lat ? o.lat->low : -58.75f, row.south) << row.name;
        EXPECT_EQ(o.lat ? o.lat->high : 76.25f, row.north) << row.name;
        EXPECT_EQ(o.lon ? o.lon->low : -178.75f, row.west) << row.name;
        EXPECT_EQ(o.lon ? o.lon->high : 178.75f, row.east) << row.name;
        EXPECT_EQ(o.max_missing, row.fraction) << row.name;
        EXPECT_EQ(o.threads, row.threads) << row.name;
    }
}

TEST(PdsiParse, FormatsAreAListInAnyCase) {
    const Parsed parsed = parse({"convert", "out", "--format", "NetCDF,csv,netcdf"});
    EXPECT_EQ(parsed.command, "convert");
    EXPECT_EQ(parsed.convert.dir, "out");
    EXPECT_EQ(parsed.convert.formats, (std::vector<Format>{Format::netcdf, Format::csv}));
}

}  // namespace
}  // namespace cli
