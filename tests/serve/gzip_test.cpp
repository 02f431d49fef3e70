// Compressed answers, and which clients take them.
#include "serve/gzip.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/serve/gunzip.h"

namespace {

TEST(Gzip, TheStreamEndsWithTheSizeAndNothingAfter) {
    std::string big;
    for (uint32_t k = 0; big.size() < (5u << 20); ++k) big += std::to_string(k * 7919u % 10007u) + "\t";
    for (const std::string& bytes : {std::string("a"), std::string(100000, 'x'), big}) {
        for (const bool fast : {false, true}) {
            const std::string zipped = serve::gzip(bytes, fast);
            EXPECT_EQ(serve_test::gunzip(zipped), bytes);
            // The trailer's last word is the size, least significant byte first.
            uint32_t size = 0;
            for (int k = 0; k < 4; ++k) size |= uint32_t{static_cast<unsigned char>(zipped[zipped.size() - 4 + k])} << (8 * k);
            EXPECT_EQ(size, static_cast<uint32_t>(bytes.size()));
        }
    }
}

TEST(Gzip, AcceptEncodingTakesGzip) {
    struct Row {
        const char* header;
        bool takes;
    };
    for (const Row& row : {Row{"gzip", true}, Row{"deflate, gzip", true}, Row{"deflate,\tGZIP ", true},
                           Row{"x-gzip", true}, Row{"*", true}, Row{"gzip;q=0.5", true}, Row{"gzip; q=0", false},
                           Row{"gzip;Q=0.000", false}, Row{"gzip;q=", true}, Row{"deflate, br", false}, Row{"", false},
                           Row{"gzip;q=0, *", false}, Row{"*;q=0, gzip", true}, Row{"*;q=0", false},
                           Row{"br, *;q=0.1", true}, Row{"gzip;q=0, x-gzip", true}, Row{"gzipped", false}})
        EXPECT_EQ(serve::accepts_gzip(row.header), row.takes) << row.header;
}

}  // namespace
