// The OPeNDAP constraint expression, as a client sends it after the '?',
// for .dds and .dods: a constraint either fails with a status or its
// answer has exactly the size announced before it was made.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "dap/dataset.h"

namespace {

class Pattern : public dap::Values {
public:
    void read(const dap::Slab& s, float* out) const override {
        for (uint64_t k = 0; k < s.size(); ++k) out[k] = static_cast<float>(k % 977);
    }
};

// Past this a constraint is refused: the fuzzer's memory is the limit.
constexpr uint64_t kMaxBytes = 8u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view query(reinterpret_cast<const char*>(data), size);
    for (const dap::Kind kind : {dap::Kind::dds, dap::Kind::dods}) {
        try {
            dap::Request request(kind, query, kMaxBytes);
            const uint64_t announced = request.bytes();
            const uint64_t made = request.answer(Pattern()).body->size();
            if (made != announced) {
                std::fprintf(stderr, "an answer of %llu bytes announced as %llu\n",
                             static_cast<unsigned long long>(made), static_cast<unsigned long long>(announced));
                std::abort();
            }
        } catch (const dap::Failure& failure) {
            if (failure.status != 400 && failure.status != 413) {
                std::fprintf(stderr, "status %d: %s\n", failure.status, failure.message.c_str());
                std::abort();
            }
        }
    }
    return 0;
}
