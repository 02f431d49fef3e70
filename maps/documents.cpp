#include <cstdio>

#include "maps/crs.h"
#include "maps/palette.h"
#include "maps/render.h"

namespace maps {

namespace {

std::string xml_escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string two_decimals(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

constexpr std::string_view kTitle = "Monthly Palmer Drought Severity Index on the 2.5-degree land grid";

}  // namespace

std::string_view capabilities_type(Version version) {
    return version == Version::v130 ? "text/xml" : "application/vnd.ogc.wms_xml";
}

std::string_view exception_type(Version version) {
    return version == Version::v130 ? "text/xml" : "application/vnd.ogc.se_xml";
}

std::string capabilities(Version version, std::string_view service_url, std::string_view abstract) {
    const bool v130 = version == Version::v130;
    const std::string url = xml_escape(service_url);
    const std::string get = "<DCPType><HTTP><Get><OnlineResource xlink:type=\"simple\" xlink:href=\"" + url +
                            "?\"/></Get></HTTP></DCPType>";
    const std::string w = number(kWestEdge), e = number(kEastEdge), s = number(kSouthEdge), n = number(kNorthEdge);
    const std::string times = month_name(0) + "/" + month_name(kMonths - 1) + "/P1M";
    const std::string last = month_name(kMonths - 1);
    const LegendSize legend = legend_size();
    const std::string legend_url = url + "?SERVICE=WMS&amp;VERSION=" + (v130 ? "1.3.0" : "1.1.1") +
                                   "&amp;REQUEST=GetLegendGraphic&amp;LAYER=pdsi&amp;STYLE=palmer&amp;FORMAT=image/png";
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (v130) {
        x += "<WMS_Capabilities version=\"1.3.0\" xmlns=\"http://www.opengis.net/wms\" "
             "xmlns:xlink=\"http://www.w3.org/1999/xlink\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
             "xsi:schemaLocation=\"http://www.opengis.net/wms "
             "http://schemas.opengis.net/wms/1.3.0/capabilities_1_3_0.xsd\">\n";
    } else {
        x += "<!DOCTYPE WMT_MS_Capabilities SYSTEM \"http://schemas.opengis.net/wms/1.1.1/WMS_MS_Capabilities.dtd\">\n"
             "<WMT_MS_Capabilities version=\"1.1.1\" xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n";
    }
    x += "<Service>\n<Name>" + std::string(v130 ? "WMS" : "OGC:WMS") + "</Name>\n<Title>" + xml_escape(kTitle) +
         "</Title>\n<Abstract>" + xml_escape(abstract) + "</Abstract>\n"
         "<OnlineResource xlink:type=\"simple\" xlink:href=\"" + url + "\"/>\n<Fees>none</Fees>\n"
         "<AccessConstraints>none</AccessConstraints>\n";
    if (v130)
        x += "<LayerLimit>1</LayerLimit>\n<MaxWidth>" + std::to_string(kMaxPixels) + "</MaxWidth>\n<MaxHeight>" +
             std::to_string(kMaxPixels) + "</MaxHeight>\n";
    x += "</Service>\n<Capability>\n<Request>\n";
    x += "<GetCapabilities><Format>" + std::string(capabilities_type(version)) + "</Format>" + get +
         "</GetCapabilities>\n";
    x += "<GetMap><Format>image/png</Format>" + get + "</GetMap>\n";
    x += "<GetFeatureInfo><Format>text/plain</Format><Format>application/json</Format>" + get + "</GetFeatureInfo>\n";
    x += "</Request>\n<Exception><Format>" + std::string(v130 ? "XML" : "application/vnd.ogc.se_xml") +
         "</Format></Exception>\n";
    x += "<Layer queryable=\"1\" opaque=\"0\">\n<Name>pdsi</Name>\n<Title>" + xml_escape(kTitle) +
         "</Title>\n<Abstract>" + xml_escape(abstract) + "</Abstract>\n";
    if (v130) {
        x += "<CRS>" + std::string(kEpsg) + "</CRS>\n<CRS>CRS:84</CRS>\n";
        x += "<EX_GeographicBoundingBox><westBoundLongitude>" + w + "</westBoundLongitude><eastBoundLongitude>" + e +
             "</eastBoundLongitude><southBoundLatitude>" + s + "</southBoundLatitude><northBoundLatitude>" + n +
             "</northBoundLatitude></EX_GeographicBoundingBox>\n";
        x += "<BoundingBox CRS=\"CRS:84\" minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n +
             "\"/>\n";
        // EPSG:4326 as its authority orders it: latitude first.
        x += "<BoundingBox CRS=\"EPSG:4326\" minx=\"" + s + "\" miny=\"" + w + "\" maxx=\"" + n + "\" maxy=\"" + e +
             "\"/>\n";
        x += "<Dimension name=\"time\" units=\"ISO8601\" default=\"" + last + "\">" + times + "</Dimension>\n";
    } else {
        x += "<SRS>" + std::string(kEpsg) + "</SRS>\n";
        x += "<LatLonBoundingBox minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n + "\"/>\n";
        x += "<BoundingBox SRS=\"EPSG:4326\" minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n +
             "\"/>\n";
        x += "<Dimension name=\"time\" units=\"ISO8601\"/>\n<Extent name=\"time\" default=\"" + last + "\">" + times +
             "</Extent>\n";
    }
    x += "<Style>\n<Name>palmer</Name>\n<Title>Palmer's drought and wet classes</Title>\n"
         "<LegendURL width=\"" + std::to_string(legend.width) + "\" height=\"" + std::to_string(legend.height) +
         "\"><Format>image/png</Format><OnlineResource xlink:type=\"simple\" xlink:href=\"" + legend_url +
         "\"/></LegendURL>\n</Style>\n</Layer>\n</Capability>\n";
    x += v130 ? "</WMS_Capabilities>\n" : "</WMT_MS_Capabilities>\n";
    return x;
}

std::string exception_report(Version version, const WmsError& error) {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    x += version == Version::v130
             ? "<ServiceExceptionReport version=\"1.3.0\" xmlns=\"http://www.opengis.net/ogc\" "
               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
               "xsi:schemaLocation=\"http://www.opengis.net/ogc "
               "http://schemas.opengis.net/wms/1.3.0/exceptions_1_3_0.xsd\">\n"
             : "<ServiceExceptionReport version=\"1.1.1\">\n";
    x += "<ServiceException";
    if (!error.code.empty()) x += " code=\"" + xml_escape(error.code) + "\"";
    x += ">" + xml_escape(error.message) + "</ServiceException>\n</ServiceExceptionReport>\n";
    return x;
}

std::string feature_info(const InfoRequest& request, const GridSource& grid) {
    const MapFrame& f = request.map.frame;
    const int32_t column = f.column_at(request.x), row = f.row_at(request.y);
    const std::string month = month_name(request.map.month);
    const bool cell = column >= 0 && row >= 0;
    const bool land = cell && grid.land(grid.data, column, row);
    const float value = land ? grid.value(grid.data, column, row, request.map.month) : extract::kMissing;
    const bool has_value = value != extract::kMissing;
    const PdsiClass* kind = has_value ? &kPalette[static_cast<size_t>(pdsi_class(value))] : land ? &kNoValue : nullptr;
    const std::string lon = cell ? two_decimals(kWestEdge + (column + 0.5) * kCellDegrees) : "";
    const std::string lat = cell ? two_decimals(kSouthEdge + (row + 0.5) * kCellDegrees) : "";
    if (request.json) {
        std::string j = "{\"layer\": \"pdsi\", \"month\": \"" + month + "\", ";
        if (!cell) return j + "\"cell\": null}\n";
        j += "\"cell\": {\"lon\": " + lon + ", \"lat\": " + lat + ", \"column\": " + std::to_string(column + 1) +
             ", \"row\": " + std::to_string(row + 1) + ", \"land\": " + (land ? "true" : "false") + "}, ";
        j += "\"value\": " + (has_value ? two_decimals(value) : std::string("null")) + ", ";
        if (!kind) return j + "\"class\": null, \"colour\": null}\n";
        return j + "\"class\": \"" + std::string(kind->label) + "\", \"colour\": \"" + std::string(kind->colour) +
               "\"}\n";
    }
    std::string t = "layer: pdsi\nmonth: " + month + "\n";
    if (!cell) return t + "cell: none (outside the grid)\n";
    t += "cell: lon " + lon + ", lat " + lat + " (column " + std::to_string(column + 1) + ", row " +
         std::to_string(row + 1) + ")\n";
    if (!land) return t + "value: none (no land)\n";
    t += "value: " + (has_value ? two_decimals(value) : std::string("none")) + "\n";
    return t + "class: " + std::string(kind->label) + "\n";
}

}  // namespace maps
