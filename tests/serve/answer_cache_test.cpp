#include "serve/answer_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Each step puts ("+key", size in bytes) or finds ("?key"); afterwards the
// keys still held are listed.
struct Step {
    std::string op;
    size_t size = 0;
};

struct Case {
    const char* name;
    size_t capacity;
    std::vector<Step> steps;
    std::vector<std::string> held;
    std::vector<std::string> gone;
};

// Entries cost their bytes plus 128 and the key's length (2 here).
constexpr size_t kOverhead = 130;

TEST(AnswerCache, KeepsWhatIsAskedForAgain) {
    const std::vector<Case> cases = {
        {"one-offs evict each other, not a repeated answer", 10 * (1000 + kOverhead),
         {{"+r0", 1000}, {"?r0"}, {"+a1", 3000}, {"+a2", 3000}, {"+a3", 3000}, {"+a4", 3000}, {"+a5", 3000}},
         {"r0", "a3", "a4", "a5"}, {"a1", "a2"}},
        {"without a repeat the oldest goes first", 3 * (1000 + kOverhead),
         {{"+a1", 1000}, {"+a2", 1000}, {"+a3", 1000}, {"+a4", 1000}},
         {"a2", "a3", "a4"}, {"a1"}},
        {"protected holds four fifths; its oldest back on probation", 5 * (1000 + kOverhead),
         {{"+p1", 1000}, {"?p1"}, {"+p2", 1000}, {"?p2"}, {"+p3", 1000}, {"?p3"}, {"+p4", 1000}, {"?p4"},
          {"+p5", 1000}, {"?p5"}, {"+n1", 1000}, {"+n2", 1000}},
         {"p2", "p3", "p4", "p5", "n2"}, {"p1", "n1"}},
        {"one repeated answer larger than the protected part stays protected", 10000,
         {{"+b", 8500}, {"?b"}, {"+a1", 1000}, {"+a2", 1000}},
         {"b", "a2"}, {"a1"}},
        {"an answer larger than all is not kept and evicts nothing", 2 * (1000 + kOverhead),
         {{"+a1", 1000}, {"+b1", 5000}},
         {"a1"}, {"b1"}},
        {"one byte over the capacity is not kept and evicts nothing", 2 * (1000 + kOverhead),
         {{"+a1", 1000}, {"+b1", 2 * (1000 + kOverhead) - kOverhead + 1}},
         {"a1"}, {"b1"}},
        {"a large one-off may take protected room when probation is empty", 4 * (1000 + kOverhead),
         {{"+p1", 1000}, {"?p1"}, {"+p2", 1000}, {"?p2"}, {"+b1", 2500}},
         {"p2", "b1"}, {"p1"}},
        {"a hit in the protected part makes it the newest there", 5 * (1000 + kOverhead),
         {{"+p1", 1000}, {"?p1"}, {"+p2", 1000}, {"?p2"}, {"+p3", 1000}, {"?p3"}, {"+p4", 1000}, {"?p4"}, {"?p1"},
          {"+p5", 1000}, {"?p5"}, {"+n1", 1000}},
         {"p1", "p3", "p4", "p5", "n1"}, {"p2"}},
        {"the protected part's oldest go back on probation and go first from there", 10 * (1000 + kOverhead),
         {{"+p1", 1000}, {"?p1"}, {"+p2", 1000}, {"?p2"}, {"+p3", 1000}, {"?p3"}, {"+p4", 1000}, {"?p4"},
          {"+p5", 1000}, {"?p5"}, {"+p6", 1000}, {"?p6"}, {"+p7", 1000}, {"?p7"}, {"+p8", 1000}, {"?p8"},
          {"+p9", 1000}, {"?p9"}, {"+n1", 1000}, {"+n2", 1000}, {"?n1"}, {"+n3", 1000}, {"+n4", 1000}},
         {"p3", "p4", "p5", "p6", "p7", "p8", "p9", "n1", "n3", "n4"}, {"p1", "p2", "n2"}},
        {"a hit on a protected answer many times counts it once", 5 * (1000 + kOverhead),
         {{"+p1", 1000}, {"?p1"}, {"?p1"}, {"?p1"}, {"?p1"}, {"?p1"}, {"+p2", 1000}, {"?p2"},
          {"+n1", 1000}, {"+n2", 1000}, {"+n3", 1000}, {"+n4", 1000}},
         {"p1", "p2", "n2", "n3", "n4"}, {"n1"}},
        {"a key put again is replaced, not counted twice", 2 * (1000 + kOverhead),
         {{"+a1", 1000}, {"+a1", 1000}, {"+a2", 1000}},
         {"a1", "a2"}, {}},
        {"an answer of exactly the capacity is kept", 1000 + kOverhead, {{"+a1", 1000}}, {"a1"}, {}},
        {"no capacity keeps nothing", 0, {{"+a1", 10}}, {}, {"a1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serve::AnswerCache cache(c.capacity);
        for (const Step& s : c.steps) {
            const std::string key = s.op.substr(1);
            if (s.op[0] == '+') cache.put(key, std::make_shared<const std::string>(s.size, 'x'));
            else cache.find(key);
        }
        size_t held_bytes = 0;
        for (const std::string& key : c.held) {
            const auto bytes = cache.find(key);
            ASSERT_NE(bytes, nullptr) << key;
            held_bytes += bytes->size() + 128 + key.size();
        }
        for (const std::string& key : c.gone) EXPECT_EQ(cache.find(key), nullptr) << key;
        EXPECT_EQ(cache.size_bytes(), held_bytes);
        EXPECT_LE(cache.size_bytes(), c.capacity);
    }
    serve::AnswerCache cache(10000);
    cache.put("none", nullptr);
    EXPECT_EQ(cache.find("none"), nullptr);
    EXPECT_EQ(cache.size_bytes(), 0u);
}

}  // namespace
