#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "maps/wms.h"

namespace maps {

namespace {

using Args = std::vector<std::pair<std::string, std::string>>;

// The parameters this service reads; others are a client's own and, as the
// standard asks, passed over.
constexpr std::string_view kKnown[] = {
    "service", "version", "wmtver", "request",     "layers",        "styles",     "crs",  "srs",          "bbox",
    "width",   "height",  "format", "transparent", "bgcolor",       "exceptions", "time", "query_layers", "info_format",
    "i",       "j",       "x",      "y",           "feature_count", "layer",      "style"};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// What the client wrote back, cut short and in printable ASCII, so that
// the refusal stays well-formed XML whatever was sent.
std::string quoted(std::string_view value) {
    std::string out = "\"";
    for (unsigned char c : value.substr(0, 60)) out += c < 0x20 || c >= 0x7f ? '?' : static_cast<char>(c);
    return out + (value.size() > 60 ? "...\"" : "\"");
}

class Params {
public:
    explicit Params(const Args& args) {
        for (const auto& [key, value] : args) {
            const std::string name = lower(key);
            bool known = false;
            for (std::string_view k : kKnown) known = known || name == k;
            if (!known) continue;
            if (key.find('\0') != std::string::npos || value.find('\0') != std::string::npos)
                throw WmsError{"InvalidParameterValue", name + ": holds a NUL"};
            if (!values_.emplace(name, value).second)
                throw WmsError{"InvalidParameterValue", name + ": given more than once"};
        }
    }
    const std::string* find(const std::string& name) const {
        const auto at = values_.find(name);
        return at == values_.end() ? nullptr : &at->second;
    }
    // `name`, or else `other` (the other version's spelling); refused when
    // neither is given.
    const std::string& need(const std::string& name, const std::string& other = "") const {
        if (const std::string* v = find(name)) return *v;
        if (!other.empty())
            if (const std::string* v = find(other)) return *v;
        throw WmsError{"MissingParameterValue", name + ": required"};
    }

private:
    std::map<std::string, std::string> values_;
};

bool parse_int(std::string_view text, int32_t& out) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool parse_real(std::string_view text, double& out) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() && std::isfinite(out);
}

int32_t pixels(const Params& p, const std::string& name) {
    const std::string& text = p.need(name);
    int32_t n = 0;
    if (!parse_int(text, n) || n < 1)
        throw WmsError{"InvalidParameterValue", name + ": " + quoted(text) + " is not a whole number of pixels from 1"};
    if (n > kMaxPixels)
        throw WmsError{"InvalidParameterValue",
                       name + ": " + text + " pixels is over the limit of " + std::to_string(kMaxPixels)};
    return n;
}

int32_t days_in(int32_t year, int32_t month) {
    static constexpr int32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return days[month - 1] + (month == 2 && leap);
}

// YYYY-MM, or an instant within the month: YYYY-MM-DD, with a time of day
// (hh:mm, seconds, fractions, Z) as clients animating a layer send. The
// month counted from the grid's first, which it may lie outside.
int32_t month_of(std::string_view text, const std::string& why) {
    auto digits = [&](size_t at, size_t n, int32_t& out) {
        if (at + n > text.size()) return false;
        out = 0;
        for (size_t k = at; k < at + n; ++k) {
            if (text[k] < '0' || text[k] > '9') return false;
            out = out * 10 + (text[k] - '0');
        }
        return true;
    };
    int32_t year = 0, month = 0, day = 1;
    if (!digits(0, 4, year) || text.size() < 7 || text[4] != '-' || !digits(5, 2, month) || month < 1 || month > 12)
        throw WmsError{"InvalidDimensionValue", why};
    if (text.size() > 7) {
        if (text[7] != '-' || !digits(8, 2, day) || day < 1 || day > days_in(year, month))
            throw WmsError{"InvalidDimensionValue", why};
        if (text.size() > 10) {
            int32_t hh = 0, mm = 0, ss = 0;
            std::string_view rest = text.substr(10);
            if (rest.front() != 'T' || !digits(11, 2, hh) || text.size() < 16 || text[13] != ':' ||
                !digits(14, 2, mm) || hh > 23 || mm > 59)
                throw WmsError{"InvalidDimensionValue", why};
            rest = text.substr(16);
            if (!rest.empty() && rest.front() == ':') {
                if (!digits(17, 2, ss) || ss > 59) throw WmsError{"InvalidDimensionValue", why};
                rest = text.substr(19);
                if (!rest.empty() && rest.front() == '.') {
                    rest.remove_prefix(1);
                    if (rest.empty() || rest.front() < '0' || rest.front() > '9')
                        throw WmsError{"InvalidDimensionValue", why};
                    while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') rest.remove_prefix(1);
                }
            }
            if (rest == "Z") rest.remove_prefix(1);
            if (!rest.empty()) throw WmsError{"InvalidDimensionValue", why};
        }
    }
    return 12 * (year - extract::kFirstYear) + month - 1;
}

// A month, or a range START/END (a time controller's step) drawn as its
// start's month.
int32_t parse_time(std::string_view text) {
    const std::string why = "time: " + quoted(text) + " is not a month from " + month_name(0) + " to " +
                            month_name(kMonths - 1) + " (YYYY-MM, a date within it, or a range from one)";
    const size_t slash = text.find('/');
    const int32_t index = month_of(text.substr(0, slash), why);
    if (index < 0 || index >= kMonths) throw WmsError{"InvalidDimensionValue", why};
    if (slash != std::string_view::npos && month_of(text.substr(slash + 1), why) < index)
        throw WmsError{"InvalidDimensionValue", why};
    return index;
}

MapRequest parse_map(const Params& p, Version version, bool needs_format) {
    MapRequest m;
    m.version = version;
    const std::string& layers = p.need("layers");
    if (layers != kLayer)
        throw WmsError{"LayerNotDefined", "layers: " + quoted(layers) + " is not a layer here: the one layer is pdsi"};
    if (const std::string* styles = p.find("styles"); styles && !styles->empty() && *styles != kStyle)
        throw WmsError{"StyleNotDefined",
                       "styles: " + quoted(*styles) + " is not a style of pdsi: the one style is palmer"};

    const bool v130 = version == Version::v130;
    const std::string& crs = v130 ? p.need("crs", "srs") : p.need("srs", "crs");
    const std::string crs_name = lower(crs);
    if (crs_name != "epsg:4326" && crs_name != "crs:84")
        throw WmsError{v130 ? "InvalidCRS" : "InvalidSRS",
                       (v130 ? "crs: " : "srs: ") + quoted(crs) + " is not offered: EPSG:4326 or CRS:84"};
    // 1.3.0 takes EPSG:4326 as its authority defines it, latitude first.
    const bool latitude_first = v130 && crs_name == "epsg:4326";

    const std::string& bbox = p.need("bbox");
    double v[4];
    std::string_view rest = bbox;
    for (int k = 0; k < 4; ++k) {
        const size_t comma = rest.find(',');
        if ((k < 3) == (comma == std::string_view::npos) || !parse_real(rest.substr(0, comma), v[k]))
            throw WmsError{"InvalidParameterValue",
                           "bbox: " + quoted(bbox) + " is not four numbers minx,miny,maxx,maxy"};
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    if (v[0] >= v[2] || v[1] >= v[3])
        throw WmsError{"InvalidParameterValue", "bbox: " + quoted(bbox) + " has a minimum not below its maximum"};
    m.frame.west = latitude_first ? v[1] : v[0];
    m.frame.south = latitude_first ? v[0] : v[1];
    m.frame.east = latitude_first ? v[3] : v[2];
    m.frame.north = latitude_first ? v[2] : v[3];
    m.frame.width = pixels(p, "width");
    m.frame.height = pixels(p, "height");

    if (needs_format) {
        const std::string& format = p.need("format");
        if (format != "image/png")
            throw WmsError{"InvalidFormat", "format: " + quoted(format) + " is not offered: image/png"};
    }
    if (const std::string* t = p.find("transparent")) {
        const std::string value = lower(*t);
        if (value != "true" && value != "false")
            throw WmsError{"InvalidParameterValue", "transparent: " + quoted(*t) + " is not TRUE or FALSE"};
        m.transparent = value == "true";
    }
    if (const std::string* bg = p.find("bgcolor")) {
        const std::string value = lower(*bg);
        uint32_t colour = 0;
        const bool hex = value.size() == 8 && value.rfind("0x", 0) == 0 &&
                         std::from_chars(value.data() + 2, value.data() + 8, colour, 16).ptr == value.data() + 8;
        if (!hex) throw WmsError{"InvalidParameterValue", "bgcolor: " + quoted(*bg) + " is not 0xRRGGBB"};
        m.background = colour;
    }
    if (const std::string* t = p.find("time")) m.month = parse_time(*t);
    return m;
}

}  // namespace

Version wms_version(const Args& args) {
    for (const auto& [key, value] : args) {
        const std::string name = lower(key);
        if (name != "version" && name != "wmtver") continue;
        int32_t parts[3] = {0, 0, 0};
        std::string_view rest = value;
        for (int k = 0; k < 3 && !rest.empty(); ++k) {
            const size_t dot = rest.find('.');
            if (!parse_int(rest.substr(0, dot), parts[k])) return Version::v130;
            rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        }
        const bool older = parts[0] < 1 || (parts[0] == 1 && (parts[1] < 3));
        return older ? Version::v111 : Version::v130;
    }
    return Version::v130;
}

WmsRequest parse_wms(const Args& args) {
    const Params p(args);
    WmsRequest r;
    r.version = wms_version(args);
    if (const std::string* service = p.find("service"); service && lower(*service) != "wms")
        throw WmsError{"InvalidParameterValue", "service: " + quoted(*service) + " is not WMS"};
    const std::string& request = p.need("request");
    const std::string name = lower(request);
    if (name == "getcapabilities" || name == "capabilities") {
        r.kind = WmsRequest::Kind::capabilities;
    } else if (name == "getmap" || name == "map") {
        r.kind = WmsRequest::Kind::map;
        r.map = parse_map(p, r.version, true);
    } else if (name == "getfeatureinfo") {
        r.kind = WmsRequest::Kind::info;
        r.info.map = parse_map(p, r.version, false);
        const std::string& layers = p.need("query_layers");
        if (layers != kLayer)
            throw WmsError{"LayerNotDefined",
                           "query_layers: " + quoted(layers) + " is not a layer here: the one layer is pdsi"};
        if (const std::string* f = p.find("info_format")) {
            if (*f != "text/plain" && *f != "application/json")
                throw WmsError{"InvalidFormat",
                               "info_format: " + quoted(*f) + " is not offered: text/plain or application/json"};
            r.info.json = *f == "application/json";
        }
        const bool v130 = r.version == Version::v130;
        const std::string& i = v130 ? p.need("i", "x") : p.need("x", "i");
        const std::string& j = v130 ? p.need("j", "y") : p.need("y", "j");
        const MapFrame& f = r.info.map.frame;
        if (!parse_int(i, r.info.x) || !parse_int(j, r.info.y) || r.info.x < 0 || r.info.x >= f.width || r.info.y < 0 ||
            r.info.y >= f.height)
            throw WmsError{"InvalidPoint", std::string(v130 ? "i, j: " : "x, y: ") + quoted(i) + ", " + quoted(j) +
                                               " is not a pixel of the " + std::to_string(f.width) + " by " +
                                               std::to_string(f.height) + " map"};
    } else if (name == "getlegendgraphic") {
        r.kind = WmsRequest::Kind::legend;
        if (const std::string* layer = p.find("layer"); layer && *layer != kLayer)
            throw WmsError{"LayerNotDefined",
                           "layer: " + quoted(*layer) + " is not a layer here: the one layer is pdsi"};
        if (const std::string* style = p.find("style"); style && !style->empty() && *style != kStyle)
            throw WmsError{"StyleNotDefined",
                           "style: " + quoted(*style) + " is not a style of pdsi: the one style is palmer"};
        if (const std::string* format = p.find("format"); format && *format != "image/png")
            throw WmsError{"InvalidFormat", "format: " + quoted(*format) + " is not offered: image/png"};
    } else {
        throw WmsError{
            "OperationNotSupported",
            "request: " + quoted(request) + " is not GetCapabilities, GetMap, GetFeatureInfo or GetLegendGraphic"};
    }
    return r;
}

std::string month_name(int32_t month) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", extract::kFirstYear + month / 12, month % 12 + 1);
    return text;
}

std::string request_key(const WmsRequest& r) {
    auto map_key = [](const MapRequest& m) {
        char text[200];
        std::snprintf(text, sizeof text, "%.17g,%.17g,%.17g,%.17g|%dx%d|%d|%d|%06x", m.frame.west, m.frame.south,
                      m.frame.east, m.frame.north, m.frame.width, m.frame.height, m.month, m.transparent ? 1 : 0,
                      m.background);
        return std::string(text);
    };
    const std::string version = r.version == Version::v130 ? "1.3.0" : "1.1.1";
    switch (r.kind) {
        case WmsRequest::Kind::capabilities: return "capabilities|" + version;
        case WmsRequest::Kind::legend: return "legend";
        case WmsRequest::Kind::map: return "map|" + map_key(r.map);
        case WmsRequest::Kind::info:
            return "info|" + map_key(r.info.map) + "|" + std::to_string(r.info.x) + "," + std::to_string(r.info.y) +
                   (r.info.json ? "|json" : "|text");
    }
    return "";
}

int32_t MapFrame::column_at(int32_t x) const {
    const double lon = west + (x + 0.5) * (east - west) / width;
    if (!(lon >= kWestEdge && lon < kEastEdge)) return -1;
    return std::min(static_cast<int32_t>(std::floor((lon - kWestEdge) / kCellDegrees)), extract::kColumns - 1);
}

int32_t MapFrame::row_at(int32_t y) const {
    const double lat = north - (y + 0.5) * (north - south) / height;
    if (!(lat >= kSouthEdge && lat < kNorthEdge)) return -1;
    return std::min(static_cast<int32_t>(std::floor((lat - kSouthEdge) / kCellDegrees)), extract::kRows - 1);
}

}  // namespace maps
