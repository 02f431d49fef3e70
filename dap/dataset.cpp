#include "dap/dataset.h"

#include <libdap/AttrTable.h>
#include <libdap/BaseTypeFactory.h>
#include <libdap/ConstraintEvaluator.h>
#include <libdap/DAS.h>
#include <libdap/DDS.h>
#include <libdap/Error.h>
#include <libdap/Float32.h>
#include <libdap/Float64.h>
#include <libdap/escaping.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

#include "dap/variables.h"
#include "dap/xdr_output.h"
#include "extract/grid_axes.h"
#include "formats/cf_attributes.h"
#include "formats/time_axis.h"
#include "maps/crs.h"
#include "parallel/huge_pages.h"

#ifndef PDSI_VERSION
#define PDSI_VERSION "0"
#endif

namespace dap {

namespace {

using detail::Axis;
using TimeAxis = Axis<libdap::dods_float64, libdap::Float64>;
using SpaceAxis = Axis<libdap::dods_float32, libdap::Float32>;

constexpr const char* kText = "text/plain; charset=utf-8";

// libdap's constraint scanner (flex) and parser (bison) keep their state
// in globals: one parse at a time in the process.
std::mutex& parser_mutex() {
    static std::mutex mutex;
    return mutex;
}


// The coordinates and their bounds, as the NetCDF copy writes them: time
// at the middle of each month, lat and lon at the cells' mid-points.
struct Axes {
    std::vector<libdap::dods_float64> time, time_bnds;
    std::vector<libdap::dods_float32> lat, lon, lat_bnds, lon_bnds;

    Axes() {
        for (int32_t k = 0; k < kTimes; ++k) {
            const int32_t year = extract::kFirstYear + k / 12, month = k % 12 + 1;
            time.push_back(formats::mid_month(year, month));
            time_bnds.insert(time_bnds.end(),
                             {formats::days_since_1850(year, month), formats::days_since_1850(year, month + 1)});
        }
        const extract::GridAxes grid;
        constexpr float kHalf = 1.25f;
        for (int32_t j = 1; j <= kLats; ++j) {
            lat.push_back(grid.ylat(j));
            lat_bnds.insert(lat_bnds.end(), {grid.ylat(j) - kHalf, grid.ylat(j) + kHalf});
        }
        for (int32_t i = 1; i <= kLons; ++i) {
            lon.push_back(grid.xlon(i));
            lon_bnds.insert(lon_bnds.end(), {grid.xlon(i) - kHalf, grid.xlon(i) + kHalf});
        }
    }
};

const Axes& axes() {
    static const Axes built;
    return built;
}

// A fresh DDS: the three coordinates at the top, then the Grid whose maps
// are named like its dimensions. netCDF's DAP client drops a Grid's maps,
// so the top-level copies are what gives it coordinates.
std::unique_ptr<libdap::DDS> make_dds(libdap::BaseTypeFactory& factory, const detail::Source& source) {
    const Axes& a = axes();
    auto dds = std::make_unique<libdap::DDS>(&factory, "pdsi");
    dds->add_var_nocopy(new TimeAxis("time", a.time));
    dds->add_var_nocopy(new SpaceAxis("lat", a.lat));
    dds->add_var_nocopy(new SpaceAxis("lon", a.lon));
    dds->add_var_nocopy(new TimeAxis("time_bnds", a.time_bnds, "time", true));
    dds->add_var_nocopy(new SpaceAxis("lat_bnds", a.lat_bnds, "lat", true));
    dds->add_var_nocopy(new SpaceAxis("lon_bnds", a.lon_bnds, "lon", true));
    dds->add_var_nocopy(new detail::CrsVariable("crs"));
    auto* grid = new detail::FieldGrid("pdsi");
    grid->set_array(new detail::FieldArray(source));
    grid->add_map(new TimeAxis("time", a.time), false);
    grid->add_map(new SpaceAxis("lat", a.lat), false);
    grid->add_map(new SpaceAxis("lon", a.lon), false);
    dds->add_var_nocopy(grid);
    return dds;
}

std::string make_das_text() {
    libdap::DAS das;
    auto table = [&das](const char* name) { return das.add_table(name, new libdap::AttrTable); };
    // The NetCDF copy's attributes, from the one table both read.
    const auto strings = [](libdap::AttrTable* t, const auto& attributes) {
        for (const formats::cf::Attribute& a : attributes) t->append_attr(a.name, "String", a.text);
    };
    strings(table("time"), formats::cf::kTime);
    strings(table("lat"), formats::cf::kLat);
    strings(table("lon"), formats::cf::kLon);
    // GDAL's netCDF driver, through netCDF's DAP client, reads crs_wkt.
    libdap::AttrTable* crs = table("crs");
    const auto real = [](double v) {  // the shortest text that reads back as v
        char text[32];
        return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
    };
    crs->append_attr("grid_mapping_name", "String", std::string(maps::kGridMappingName));
    crs->append_attr("semi_major_axis", "Float64", real(maps::kSemiMajorAxis));
    crs->append_attr("inverse_flattening", "Float64", real(maps::kInverseFlattening));
    crs->append_attr("longitude_of_prime_meridian", "Float64", real(maps::kPrimeMeridian));
    crs->append_attr("crs_wkt", "String", libdap::escattr(std::string(maps::kCrsWkt)));
    libdap::AttrTable* pdsi = table("pdsi");
    pdsi->append_attr("long_name", "String", formats::cf::kPdsiLongName);
    strings(pdsi, formats::cf::kField);
    pdsi->append_attr("grid_mapping", "String", "crs");
    // Written in full: a client that reads "-99.9" as a double never
    // matches the float values it should mask.
    pdsi->append_attr("_FillValue", "Float32", "-99.900001525878906");
    libdap::AttrTable* global = table("NC_GLOBAL");
    global->append_attr("Conventions", "String", formats::cf::kConventions);
    global->append_attr("title", "String", std::string(formats::cf::kTitle) + " (pdsi serve)");
    global->append_attr("source", "String", "pdsi " PDSI_VERSION);
    global->append_attr("comment", "String", "the grid as read by pdsi serve, every month and cell; missing months are -99.9");
    libdap::AttrTable* extra = table("DODS_EXTRA");
    extra->append_attr("Unlimited_Dimension", "String", "time");
    std::ostringstream text;
    das.print(text);
    return text.str();
}

const std::string& das_text() {
    static const std::string text = make_das_text();
    return text;
}

const std::string& dds_text() {
    static const std::string text = [] {
        libdap::BaseTypeFactory factory;
        detail::Source source;
        std::ostringstream out;
        make_dds(factory, source)->print(out);
        return out.str();
    }();
    return text;
}

std::string html_escape(const std::string& text) {
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

const std::string& html_text() {
    static const std::string text =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>pdsi: the grid over OPeNDAP</title>\n</head>\n<body>\n"
        "<h1>pdsi</h1>\n"
        "<p>Monthly Palmer Drought Severity Index on the 2.5-degree land grid, January 1850 to December 2010, "
        "every month and cell as the server read them; missing months are -99.9. Open this page's address "
        "(without <code>.html</code>) in any DAP2 client, which fetches only the slices it indexes:</p>\n"
        "<pre>\nimport xarray as xr\n"
        "ds = xr.open_dataset(\"http://HOST:PORT/dap/pdsi\")\n"
        "ds.pdsi.sel(lat=36.25, lon=-98.75)      # one cell's 1932 months\n\n"
        "ncdump -h http://HOST:PORT/dap/pdsi\n</pre>\n"
        "<p><a href=\"pdsi.dds\">pdsi.dds</a> &middot; <a href=\"pdsi.das\">pdsi.das</a> &middot; "
        "<a href=\"pdsi.ver\">pdsi.ver</a>. A constraint picks and slices variables: "
        "<code>pdsi.dods?pdsi.pdsi[0:1:1931][38][32]</code> is one cell's series, "
        "<code>pdsi.dods?pdsi[1920][0:54][0:143]</code> the map of January 2010 with its coordinates "
        "(indices from 0, stops inclusive).</p>\n"
        "<h2>Structure</h2>\n<pre>\n" +
        html_escape(dds_text()) + "</pre>\n<h2>Attributes</h2>\n<pre>\n" + html_escape(das_text()) +
        "</pre>\n</body>\n</html>\n";
    return text;
}

// libdap's messages may span lines and quote the client's expression;
// the Error's message is a quoted string.
std::string error_message(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            if (!out.empty() && out.back() != ' ') out += ' ';
            continue;
        }
        if (c == '"' || c == '\\') out += '\\';
        out += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out.empty() ? "error" : out;
}

// The arrays the constraint sends, in the order they are sent.
void projected_arrays(libdap::BaseType* var, std::vector<libdap::Array*>& out) {
    if (!var->send_p()) return;
    if (auto* array = dynamic_cast<libdap::Array*>(var)) {
        out.push_back(array);
    } else if (auto* parts = dynamic_cast<libdap::Constructor*>(var)) {
        for (auto part = parts->var_begin(); part != parts->var_end(); ++part) projected_arrays(*part, out);
    }
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// As sent or percent-encoded: libdap's decoding drops an encoded NUL, so
// "lat%00junk" would pass for "latjunk".
// A '%' not followed by two hex digits: decoders disagree on what it
// stands for (libdap drops it), so it is refused.
bool holds_bad_escape(std::string_view raw) {
    for (size_t k = 0; k < raw.size(); ++k)
        if (raw[k] == '%' && (k + 2 >= raw.size() || hex_digit(raw[k + 1]) < 0 || hex_digit(raw[k + 2]) < 0))
            return true;
    return false;
}

bool holds_control(std::string_view raw) {
    for (size_t k = 0; k < raw.size(); ++k) {
        int c = static_cast<unsigned char>(raw[k]);
        if (raw[k] == '%' && k + 2 < raw.size() && hex_digit(raw[k + 1]) >= 0 && hex_digit(raw[k + 2]) >= 0)
            c = hex_digit(raw[k + 1]) * 16 + hex_digit(raw[k + 2]);
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// The projections this dataset answers, checked before libdap's parser
// sees them: its grammar leaks the slices it has built when it meets a
// syntax error after them (an unclosed bracket), and a selection or a
// function has nothing to act on here. "" when well formed.
//   constraint := [projection ("," projection)*]
//   projection := name slice* ("." name slice*)*
//   slice      := "[" number [":" number [":" number]] "]"
std::string syntax_problem(std::string_view text) {
    size_t at = 0;
    const auto blanks = [&] {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    };
    const auto here = [&] { return " at character " + std::to_string(at + 1); };
    const auto number = [&]() -> std::string {
        blanks();
        const size_t first = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        if (at == first) return "an index expected" + here();
        if (at - first > 9) return "an index of " + std::to_string(at - first) + " digits" + here();
        // libdap reads "010" as octal 8, and "09" fails inside its parser.
        if (at - first > 1 && text[first] == '0') return "an index with a leading zero" + here();
        blanks();
        return "";
    };
    blanks();
    if (at == text.size()) return "";
    for (;;) {
        for (;;) {  // one component of a dotted path, with its slices
            blanks();
            const size_t first = at;
            while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '_')) ++at;
            if (at == first || std::isdigit(static_cast<unsigned char>(text[first]))) {
                if (at < text.size() && text[at] == '&') return "a selection (&...): this dataset answers projections only";
                return "a variable name expected" + here();
            }
            blanks();
            while (at < text.size() && text[at] == '[') {
                ++at;
                for (int part = 0;; ++part) {
                    if (std::string problem = number(); !problem.empty()) return problem;
                    if (at < text.size() && text[at] == ']') break;
                    if (part == 2 || at == text.size() || text[at] != ':') return "']' expected" + here();
                    ++at;
                }
                ++at;
                blanks();
            }
            if (at == text.size() || text[at] != '.') break;
            ++at;
        }
        if (at == text.size()) return "";
        if (text[at] == '&') return "a selection (&...): this dataset answers projections only";
        if (text[at] == '(') return "a function call: this dataset answers projections only";
        if (text[at] != ',') return "',' expected" + here();
        ++at;
    }
}

Failure bad(const std::string& what) { return Failure{400, "constraint: " + what}; }

}  // namespace

struct Request::Parsed {
    libdap::BaseTypeFactory factory;
    detail::Source source;
    std::unique_ptr<libdap::DDS> dds;
    libdap::ConstraintEvaluator eval;
};

std::optional<Kind> kind_of(std::string_view name) {
    if (name == "pdsi" || name == "pdsi.html") return Kind::html;
    if (name == "pdsi.das") return Kind::das;
    if (name == "pdsi.dds") return Kind::dds;
    if (name == "pdsi.dods") return Kind::dods;
    if (name == "pdsi.ver") return Kind::ver;
    return std::nullopt;
}

std::string server_version() { return "pdsi/" PDSI_VERSION; }

Answer error_answer(const Failure& failure) {
    std::ostringstream text;
    libdap::Error(failure.status, error_message(failure.message)).print(text);
    return Answer{failure.status, "dods_error", kText, std::make_shared<const std::string>(text.str())};
}

Request::Request(Kind kind, std::string_view raw_query, uint64_t max_bytes) : kind_(kind) {
    switch (kind) {
        case Kind::das: head_ = das_text(); break;
        case Kind::html: head_ = html_text(); break;
        case Kind::ver: head_ = "Core version: DAP/2.0\nServer version: " + server_version() + "\n"; break;
        case Kind::dds:
        case Kind::dods: break;
    }
    if (kind != Kind::dds && kind != Kind::dods) {
        bytes_ = head_.size();
        return;
    }

    // As libdap's own servers decode it: every escape but %20, which names
    // may hold.
    if (holds_bad_escape(raw_query)) throw bad("a '%' not followed by two hex digits");
    if (holds_control(raw_query)) throw bad("holds a control character");
    const std::string constraint = libdap::www2id(std::string(raw_query), "%", "%20");
    if (const std::string problem = syntax_problem(constraint); !problem.empty()) throw bad(problem);
    parsed_ = std::make_unique<Parsed>();
    parsed_->dds = make_dds(parsed_->factory, parsed_->source);
    libdap::DDS& dds = *parsed_->dds;
    try {
        const std::lock_guard<std::mutex> lock(parser_mutex());
        parsed_->eval.parse_constraint(constraint, dds);
    } catch (const libdap::Error& error) {
        throw bad(error.get_error_message());
    }
    // A selection tests values of sequences; this dataset has none.
    if (parsed_->eval.clause_begin() != parsed_->eval.clause_end() || parsed_->eval.functional_expression())
        throw bad("a selection (&...) or a function call: this dataset answers projections only");

    uint64_t data = 0;
    std::vector<libdap::Array*> arrays;
    for (auto var = dds.var_begin(); var != dds.var_end(); ++var) {
        projected_arrays(*var, arrays);
        if ((*var)->send_p() && (*var)->is_simple_type()) data += 4;  // crs: one XDR word
    }
    for (libdap::Array* array : arrays) {
        // libdap checks each index when it applies the constraint; this
        // is what the reads below rely on.
        const Slab slab = detail::slab_of(*array);
        int32_t k = 0;
        for (auto d = array->dim_begin(); d != array->dim_end(); ++d, ++k) {
            if (k >= 3 || slab.start[k] < 0 || slab.stride[k] < 1 || slab.start[k] > slab.stop[k] ||
                slab.stop[k] >= array->dimension_size(d, false))
                throw bad(array->name() + ": a slice outside its dimensions");
        }
        const uint64_t width = array->var()->type() == libdap::dods_float64_c ? 8 : 4;
        data += 8 + width * static_cast<uint64_t>(array->length());
        if (dynamic_cast<detail::FieldArray*>(array)) field_ = slab;
    }

    std::ostringstream text;
    dds.print_constrained(text);
    head_ = text.str();
    bytes_ = head_.size();
    if (kind == Kind::dods) {
        bytes_ += 6 + data;  // "Data:\n"
        if (bytes_ > max_bytes)
            throw Failure{413, "the answer would be " + std::to_string(bytes_) + " bytes, over this server's limit of " +
                                   std::to_string(max_bytes) + " bytes: ask for a smaller slice"};
    }
}

Request::~Request() = default;

Answer Request::answer(const Values& values) {
    Answer answer;
    answer.content_type = kText;
    switch (kind_) {
        case Kind::das: answer.description = "dods_das"; break;
        case Kind::dds: answer.description = "dods_dds"; break;
        case Kind::ver: answer.description = "dods_version"; break;
        case Kind::html: answer.content_type = "text/html; charset=utf-8"; break;
        case Kind::dods: break;
    }
    if (kind_ != Kind::dods) {
        answer.body = std::make_shared<const std::string>(std::move(head_));
        return answer;
    }
    answer.description = "dods_data";
    answer.content_type = "application/octet-stream";
    auto body = std::make_shared<std::string>();
    body->reserve(bytes_);
    parallel::prefer_huge_pages(body->data(), body->capacity());
    *body += head_;
    *body += "Data:\n";
    parsed_->source.values = &values;
    detail::XdrOutput out(*body);
    serialize(out);
    if (body->size() != bytes_)
        throw Failure{500, "the answer came to " + std::to_string(body->size()) + " bytes, not the " +
                               std::to_string(bytes_) + " announced"};
    answer.body = std::move(body);
    return answer;
}

void Request::serialize(detail::XdrOutput& out) {
    libdap::DDS& dds = *parsed_->dds;
    try {
        for (auto var = dds.var_begin(); var != dds.var_end(); ++var)
            if ((*var)->send_p()) (*var)->serialize(parsed_->eval, dds, out, true);
    } catch (const libdap::Error& error) {
        throw Failure{500, "the answer could not be made: " + error.get_error_message()};
    }
}

std::unique_ptr<Stream> Request::stream(std::shared_ptr<const Values> values) {
    if (kind_ != Kind::dods) throw Failure{500, "only a .dods answer is streamed"};
    auto stream = std::make_unique<Stream>();
    std::string text = head_ + "Data:\n";
    std::vector<std::pair<size_t, Slab>> deferred;
    detail::XdrOutput out(text);
    out.deferred = &deferred;
    parsed_->source.deferred = true;
    serialize(out);
    uint64_t at = 0;
    size_t text_at = 0;
    for (const auto& [offset, slab] : deferred) {
        stream->parts_.push_back({at, text_at, offset - text_at, std::nullopt});
        at += offset - text_at;
        text_at = offset;
        stream->parts_.push_back({at, 0, slab.size() * sizeof(float), slab});
        at += slab.size() * sizeof(float);
    }
    stream->parts_.push_back({at, text_at, text.size() - text_at, std::nullopt});
    at += text.size() - text_at;
    if (at != bytes_)
        throw Failure{500, "the answer came to " + std::to_string(at) + " bytes, not the " + std::to_string(bytes_) +
                               " announced"};
    stream->size_ = at;
    stream->text_ = std::move(text);
    stream->values_ = std::move(values);
    return stream;
}

size_t Stream::read(uint64_t at, char* out, size_t max) {
    // About 64 kB of values a block, whole maps at a time.
    constexpr uint64_t kBlockValues = 16 * 1024;
    size_t done = 0;
    while (done < max && at < size_) {
        const auto next = std::upper_bound(parts_.begin(), parts_.end(), at,
                                           [](uint64_t a, const Part& part) { return a < part.start; });
        const Part& part = *std::prev(next);
        const uint64_t in = at - part.start;
        size_t n = 0;
        if (!part.slab) {
            n = static_cast<size_t>(std::min<uint64_t>(max - done, part.length - in));
            std::memcpy(out + done, text_.data() + part.text_at + in, n);
        } else {
            const Slab& slab = *part.slab;
            const uint64_t plane = static_cast<uint64_t>(slab.count(1)) * static_cast<uint64_t>(slab.count(2));
            const uint64_t months = std::max<uint64_t>(1, kBlockValues / plane);
            const uint64_t block_bytes = plane * months * sizeof(float);
            const uint64_t first = in / block_bytes * block_bytes;
            if (block_part_ != &part || block_start_ != first || block_.empty()) {
                Slab some = slab;
                some.start[0] = slab.start[0] + static_cast<int32_t>(first / (plane * sizeof(float))) * slab.stride[0];
                some.stop[0] = std::min(slab.stop[0], some.start[0] + static_cast<int32_t>(months - 1) * slab.stride[0]);
                std::vector<float> values(some.size());
                values_->read(some, values.data());
                block_.clear();
                detail::XdrOutput(block_).put_floats(values.data(), values.size());
                block_part_ = &part;
                block_start_ = first;
            }
            n = static_cast<size_t>(std::min<uint64_t>(max - done, block_.size() - (in - first)));
            std::memcpy(out + done, block_.data() + (in - first), n);
        }
        done += n;
        at += n;
    }
    return done;
}

}  // namespace dap
