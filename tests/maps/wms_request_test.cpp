// The map service's requests as typed values: the axis order of each
// version and CRS, the pixel-to-cell transform GetMap and GetFeatureInfo
// share, and what each bad parameter is refused with.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "maps/wms.h"

namespace {

using Args = std::vector<std::pair<std::string, std::string>>;

Args args_of(const std::string& query) {
    Args args;
    size_t at = 0;
    while (at <= query.size()) {
        size_t end = query.find('&', at);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(at, end - at);
        const size_t eq = pair.find('=');
        if (!pair.empty()) args.emplace_back(pair.substr(0, eq), eq == std::string::npos ? "" : pair.substr(eq + 1));
        at = end + 1;
    }
    return args;
}

const std::string kMap = "SERVICE=WMS&REQUEST=GetMap&LAYERS=pdsi&STYLES=&WIDTH=144&HEIGHT=55&FORMAT=image/png&";

TEST(WmsRequest, AxisOrderFollowsVersionAndCrs) {
    struct Row {
        const char* name;
        const char* query;
        double west, south, east, north;
    } rows[] = {
        {"1.3.0 EPSG:4326 is latitude first", "VERSION=1.3.0&CRS=EPSG:4326&BBOX=10,20,30,40", 20, 10, 40, 30},
        {"1.3.0 CRS:84 is longitude first", "VERSION=1.3.0&CRS=CRS:84&BBOX=10,20,30,40", 10, 20, 30, 40},
        {"1.1.1 EPSG:4326 is longitude first", "VERSION=1.1.1&SRS=EPSG:4326&BBOX=10,20,30,40", 10, 20, 30, 40},
        {"no version is 1.3.0", "CRS=EPSG:4326&BBOX=-60,-180,77.5,180", -180, -60, 180, 77.5},
        {"names in any case", "version=1.3.0&crs=epsg:4326&bbox=10,20,30,40", 20, 10, 40, 30},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const maps::WmsRequest w = maps::parse_wms(args_of(kMap + r.query));
        ASSERT_EQ(w.kind, maps::WmsRequest::Kind::map);
        EXPECT_EQ(w.map.frame.west, r.west);
        EXPECT_EQ(w.map.frame.south, r.south);
        EXPECT_EQ(w.map.frame.east, r.east);
        EXPECT_EQ(w.map.frame.north, r.north);
    }
}

TEST(WmsRequest, PixelsTakeTheCellUnderTheirCentre) {
    const maps::MapFrame whole{-180, -60, 180, 77.5, 144, 55};
    const maps::MapFrame fine{-180, -60, 180, 77.5, 288, 110};
    const maps::MapFrame west_of_grid{-190, -70, -170, -50, 8, 8};  // 2.5 degree pixels, half off the grid
    struct Row {
        const char* name;
        maps::MapFrame frame;
        int32_t pixel, column, row;  // pixel is both x and y
    } rows[] = {
        {"first pixel, north-west cell", whole, 0, 0, 54},
        {"last pixel, south-east cell", whole, 143, 143, -1},
        {"middle", whole, 54, 54, 0},
        {"two pixels a cell: second of the first", fine, 1, 0, 54},
        {"two pixels a cell: first of the second", fine, 2, 1, 53},
        {"west of the grid, on its south row", west_of_grid, 3, -1, 0},
        {"on its west column, south of it", west_of_grid, 4, 0, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.frame.column_at(r.pixel), r.column);
        EXPECT_EQ(r.frame.row_at(r.pixel), r.row);
    }
    // A centre on a cell's edge belongs to the cell east of it and north of it.
    const maps::MapFrame edge{-178.75, -58.75, -176.25, -56.25, 1, 1};  // centre -177.5, -57.5
    EXPECT_EQ(edge.column_at(0), 1);
    EXPECT_EQ(edge.row_at(0), 1);
}

TEST(WmsRequest, TimeIsAMonthAnInstantWithinItOrARangeFromIt) {
    struct Row {
        const char* time;
        int32_t month;  // -1: refused as InvalidDimensionValue
    } rows[] = {
        {"1850-01", 0},
        {"2010-12", maps::kMonths - 1},
        {"1990-06-30", 12 * 140 + 5},
        {"1990-06-15T12:30:00Z", 12 * 140 + 5},
        {"1990-06-01T00:00:00.000Z", 12 * 140 + 5},
        {"1990-06-01T00:00", 12 * 140 + 5},
        {"2000-02-29", 12 * 150 + 1},
        {"1900-02-29", -1},  // not a leap year
        {"1849-12", -1},
        {"2011-01", -1},
        {"1990-13", -1},
        {"1990-6", -1},
        {"1990-06-31", -1},
        {"1990-06-15T25:00Z", -1},
        {"1990-06-15T12:00+01", -1},
        {"1990-06-01T00:00:00Z/1990-07-01T00:00:00Z", 12 * 140 + 5},
        {"2010-12-01/2011-01-01", maps::kMonths - 1},
        {"1990-07/1990-06", -1},
        {"1990-06/", -1},
        {"1849-12/1850-02", -1},
        {"", -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.time);
        const Args args = args_of(kMap + "CRS=CRS:84&BBOX=-180,-60,180,77.5&TIME=" + r.time);
        if (r.month >= 0) {
            EXPECT_EQ(maps::parse_wms(args).map.month, r.month);
            continue;
        }
        try {
            maps::parse_wms(args);
            ADD_FAILURE() << "accepted";
        } catch (const maps::WmsError& e) {
            EXPECT_EQ(e.code, "InvalidDimensionValue");
        }
    }
}

TEST(WmsRequest, EachBadParameterHasItsCode) {
    const std::string map = kMap + "VERSION=1.3.0&CRS=CRS:84&";
    const std::string info =
        "REQUEST=GetFeatureInfo&VERSION=1.3.0&LAYERS=pdsi&CRS=CRS:84&"
        "BBOX=-180,-60,180,77.5&WIDTH=144&HEIGHT=55&";
    const std::string png = "&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=1&HEIGHT=1&FORMAT=image/png";
    struct Row {
        const char* name;
        std::string query;
        const char* code;
    } rows[] = {
        {"no request", "SERVICE=WMS", "MissingParameterValue"},
        {"another operation", "SERVICE=WMS&REQUEST=DescribeLayer", "OperationNotSupported"},
        {"another service", "SERVICE=WFS&REQUEST=GetCapabilities", "InvalidParameterValue"},
        {"unknown layer", "REQUEST=GetMap&LAYERS=rain" + png, "LayerNotDefined"},
        {"two layers", "REQUEST=GetMap&LAYERS=pdsi,pdsi" + png, "LayerNotDefined"},
        {"width 0", "REQUEST=GetMap&LAYERS=pdsi&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=0&HEIGHT=1&FORMAT=image/png",
         "InvalidParameterValue"},
        {"height over the limit",
         "REQUEST=GetMap&LAYERS=pdsi&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=1&HEIGHT=4097&FORMAT=image/png",
         "InvalidParameterValue"},
        {"unknown style", "REQUEST=GetMap&LAYERS=pdsi&STYLES=default" + png, "StyleNotDefined"},
        {"no CRS", kMap + "BBOX=0,0,1,1", "MissingParameterValue"},
        {"another CRS", kMap + "CRS=EPSG:3857&BBOX=0,0,1,1", "InvalidCRS"},
        {"another SRS in 1.1.1", kMap + "VERSION=1.1.1&SRS=EPSG:3857&BBOX=0,0,1,1", "InvalidSRS"},
        {"no bbox", map, "MissingParameterValue"},
        {"bbox of three", map + "BBOX=0,0,1", "InvalidParameterValue"},
        {"bbox of five", map + "BBOX=0,0,1,1,1", "InvalidParameterValue"},
        {"bbox not numbers", map + "BBOX=a,0,1,1", "InvalidParameterValue"},
        {"bbox infinite", map + "BBOX=-inf,0,1,1", "InvalidParameterValue"},
        {"bbox inverted", map + "BBOX=1,0,0,1", "InvalidParameterValue"},
        {"bbox empty", map + "BBOX=0,0,0,1", "InvalidParameterValue"},
        {"width twice", map + "BBOX=0,0,1,1&WIDTH=10", "InvalidParameterValue"},
        {"another format", "REQUEST=GetMap&LAYERS=pdsi&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=1&HEIGHT=1&FORMAT=image/jpeg",
         "InvalidFormat"},
        {"no format", "REQUEST=GetMap&LAYERS=pdsi&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=1&HEIGHT=1", "MissingParameterValue"},
        {"transparent yes", map + "BBOX=0,0,1,1&TRANSPARENT=yes", "InvalidParameterValue"},
        {"bgcolor short", map + "BBOX=0,0,1,1&BGCOLOR=0xFFF", "InvalidParameterValue"},
        {"bgcolor not hex", map + "BBOX=0,0,1,1&BGCOLOR=0xGGGGGG", "InvalidParameterValue"},
        {"a NUL", map + "BBOX=0,0,1,1&TIME=1990-06" + std::string(1, '\0'), "InvalidParameterValue"},
        {"info without query_layers",
         "REQUEST=GetFeatureInfo&LAYERS=pdsi&CRS=CRS:84&BBOX=0,0,1,1&WIDTH=1&HEIGHT=1&I=0&J=0",
         "MissingParameterValue"},
        {"info of another layer", info + "QUERY_LAYERS=rain&I=0&J=0", "LayerNotDefined"},
        {"info format html", info + "QUERY_LAYERS=pdsi&I=0&J=0&INFO_FORMAT=text/html", "InvalidFormat"},
        {"i past the width", info + "QUERY_LAYERS=pdsi&I=144&J=0", "InvalidPoint"},
        {"j negative", info + "QUERY_LAYERS=pdsi&I=0&J=-1", "InvalidPoint"},
        {"i not a number", info + "QUERY_LAYERS=pdsi&I=1.5&J=0", "InvalidPoint"},
        {"no i", info + "QUERY_LAYERS=pdsi&J=0", "MissingParameterValue"},
        {"legend of another layer", "REQUEST=GetLegendGraphic&LAYER=rain", "LayerNotDefined"},
        {"legend as jpeg", "REQUEST=GetLegendGraphic&LAYER=pdsi&FORMAT=image/jpeg", "InvalidFormat"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        try {
            maps::parse_wms(args_of(r.query));
            ADD_FAILURE() << "accepted";
        } catch (const maps::WmsError& e) {
            EXPECT_EQ(e.code, r.code) << e.message;
            EXPECT_FALSE(e.message.empty());
        }
    }
}

TEST(WmsRequest, VersionsAreNegotiatedDownToOneOfTwo) {
    struct Row {
        const char* query;
        maps::Version version;
    } rows[] = {
        {"", maps::Version::v130},
        {"VERSION=1.3.0", maps::Version::v130},
        {"VERSION=1.1.1", maps::Version::v111},
        {"WMTVER=1.0.0", maps::Version::v111},
        {"version=2.0.0", maps::Version::v130},
        {"VERSION=1.2", maps::Version::v111},
    };
    for (const Row& r : rows) EXPECT_EQ(maps::wms_version(args_of(r.query)), r.version) << r.query;
}

}  // namespace
