// Free-form reads of arbitrary lines into the lists the program reads and
// a few more: one true/false answer, one integer, two reals, mixed lists.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "textio/record_read.h"

namespace {

template <class Targets>
void read_all(std::string_view text, Targets make_targets) {
    textio::StringSource in{std::string(text)};
    const size_t lines = fuzz::count_lines(text);
    for (size_t reads = 1;; ++reads) {
        fuzz::check_progress(reads, lines);
        if (textio::read_free(in, make_targets()) == textio::ReadStatus::end) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    bool b = false;
    int32_t i = 0, j = 0;
    float x = 0.0f, y = 0.0f;
    std::string s(8, ' ');
    read_all(text, [&] { return std::vector<textio::InTarget>{b}; });
    read_all(text, [&] { return std::vector<textio::InTarget>{i}; });
    read_all(text, [&] { return std::vector<textio::InTarget>{x, y}; });
    read_all(text, [&] { return std::vector<textio::InTarget>{i, x, b, s, j}; });
    if (s.size() != 8) std::abort();
    return 0;
}
