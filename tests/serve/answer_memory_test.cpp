#include "serve/answer_memory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Bodies a (600 bytes) and b (500) against a bound of 1000: each step's
// outcome and the bytes counted after it.
TEST(AnswerMemory, CountsEachAnswerOnceWithinTheBound) {
    const std::string a(600, 'a'), b(500, 'b');
    struct Step {
        char op;  // h hold, r release, + reserve, - unreserve
        const std::string* body;
        size_t bytes;
        bool fits;
        size_t used;
    };
    const std::vector<Step> steps = {
        {'h', &a, 0, true, 600},      // fits
        {'h', &a, 0, true, 600},      // a second reader of the same answer: counted once
        {'h', &b, 0, false, 600},     // 1100 would pass the bound: nothing held
        {'+', nullptr, 500, false, 600},
        {'r', &a, 0, true, 600},      // one reader of a left
        {'r', &a, 0, true, 0},        // the last
        {'+', nullptr, 5000, true, 5000},  // alone, larger than the bound: let through
        {'+', nullptr, 1, false, 5000},
        {'-', nullptr, 5000, true, 0},
        {'h', &b, 0, true, 500},
    };
    serve::AnswerMemory memory(1000);
    for (size_t k = 0; k < steps.size(); ++k) {
        SCOPED_TRACE(k);
        const Step& s = steps[k];
        bool fits = true;
        if (s.op == 'h') fits = memory.hold(s.body);
        if (s.op == 'r') memory.release(s.body);
        if (s.op == '+') fits = memory.reserve(s.bytes);
        if (s.op == '-') memory.unreserve(s.bytes);
        EXPECT_EQ(fits, s.fits);
        EXPECT_EQ(memory.used(), s.used);
    }
}

}  // namespace
