// The dates and validators the answers carry.
#include "serve/http_types.h"

#include <gtest/gtest.h>

namespace {

TEST(HttpTypes, DatesAreInTheProtocolsForm) {
    EXPECT_EQ(serve::http_date(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(serve::http_date(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(serve::http_date(1709251199), "Thu, 29 Feb 2024 23:59:59 GMT");
}

TEST(HttpTypes, IfNoneMatchComparesWeakly) {
    struct Row {
        const char* header;
        bool hits;
    };
    for (const Row& row : {Row{"\"a1\"", true}, Row{"W/\"a1\"", true}, Row{"\"b\", \"a1\"", true},
                           Row{"\"b\",\t\"a1\" ", true}, Row{"*", true}, Row{"", false}, Row{"\"a\"", false},
                           Row{"\"a1\"x", false}, Row{"\"b\",", false}, Row{",,", false}})
        EXPECT_EQ(serve::none_match_hits(row.header, "W/\"a1\""), row.hits) << row.header;
}

}  // namespace
