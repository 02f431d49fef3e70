#pragma once
// The grid as a DAP2 dataset: its DDS and DAS, and the answers to a
// request for .das, .dds, .dods, .ver or .html with its constraint,
// made with libdap from values held in memory. No HTTP here: the server
// adds the headers and sends the bytes.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dap {

namespace detail {
class XdrOutput;
}

inline constexpr int32_t kTimes = 1932, kLats = 55, kLons = 144;

// A hyperslab of pdsi[time][lat][lon], indices from 0, stops inclusive;
// the stop need not be on a stride.
struct Slab {
    std::array<int32_t, 3> start{}, stride{1, 1, 1}, stop{};

    int32_t count(int d) const { return (stop[d] - start[d]) / stride[d] + 1; }
    uint64_t size() const {
        return static_cast<uint64_t>(count(0)) * static_cast<uint64_t>(count(1)) * static_cast<uint64_t>(count(2));
    }
};

// What the server answers with when it cannot: the status doubles as the
// DAP error code.
struct Failure {
    int status;
    std::string message;
};

// Where pdsi's values come from.
class Values {
public:
    virtual ~Values() = default;
    // The slab's values, lon fastest, then lat, then time; the missing
    // marker as it is. Throws Failure when they cannot be had.
    virtual void read(const Slab& slab, float* out) const = 0;
};

enum class Kind { das, dds, dods, ver, html };

// The dataset's answers by name: "pdsi.dds" and so on; "pdsi" alone is
// the page. None for any other name.
std::optional<Kind> kind_of(std::string_view name);

struct Answer {
    int status = 200;
    std::string description;   // Content-Description
    std::string content_type;
    std::shared_ptr<const std::string> body;
};

// "pdsi/VERSION", for XDODS-Server.
std::string server_version();

// The error in the protocol's own form, code and status alike.
Answer error_answer(const Failure& failure);

// A .dods answer made as it is read: its text and coordinates made at
// once, pdsi's values read a few months at a time when their bytes are
// asked for, so that a slow reader holds a block, not the field.
class Stream {
public:
    uint64_t size() const { return size_; }
    // Up to `max` bytes from `at`: how many. Throws Failure from the values.
    size_t read(uint64_t at, char* out, size_t max);

private:
    friend class Request;
    struct Part {
        uint64_t start;  // in the answer
        size_t text_at;  // the text's part before it, when no slab
        uint64_t length;
        std::optional<Slab> slab;
    };
    std::shared_ptr<const Values> values_;
    std::string text_;  // the answer without pdsi's values
    std::vector<Part> parts_;
    uint64_t size_ = 0;
    // The values last read, as sent: one part, a few months.
    const Part* block_part_ = nullptr;
    uint64_t block_start_ = 0;  // in its part, in bytes
    std::string block_;
};

// One request: a fresh DDS with its constraint applied. The constructor
// checks everything that does not need the values, so a request that
// passes it fails afterwards only where the values do.
class Request {
public:
    // `raw_query` as sent, percent-encoded or not. Throws Failure: 400
    // for a constraint that names what the dataset lacks or cannot be
    // applied, 413 when the answer would pass `max_bytes`.
    Request(Kind kind, std::string_view raw_query, uint64_t max_bytes);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    Kind kind() const { return kind_; }
    // The body's size in bytes, known before it is made.
    uint64_t bytes() const { return bytes_; }
    // The slab of pdsi the answer sends, when it sends any.
    const std::optional<Slab>& field() const { return field_; }

    // The answer, made once. Throws Failure from `values`.
    Answer answer(const Values& values);
    // The .dods answer as a stream reading `values` (kept) as it is sent.
    std::unique_ptr<Stream> stream(std::shared_ptr<const Values> values);

private:
    void serialize(detail::XdrOutput& out);

    struct Parsed;
    Kind kind_;
    std::unique_ptr<Parsed> parsed_;
    std::string head_;  // the (constrained) DDS or the whole text answer
    uint64_t bytes_ = 0;
    std::optional<Slab> field_;
};

}  // namespace dap
