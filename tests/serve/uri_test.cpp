// A path's %XX escapes: decoded when whole and not NUL, kept otherwise.
#include "serve/uri.h"

#include <gtest/gtest.h>

namespace {

TEST(Uri, PathsDecodeTheirEscapes) {
    struct Row {
        const char* raw;
        bool ok;
        const char* path;
    };
    const Row rows[] = {
        {"/a%20b", true, "/a b"},       {"/%41%4a%4A", true, "/AJJ"}, {"/a%zz", true, "/a%zz"},
        {"/a%g0", true, "/a%g0"},       {"/a%2", true, "/a%2"},       {"/a%", true, "/a%"},
        {"/a%2541", true, "/a%41"},     {"/a%00b", false, ""},        {"", true, ""},
    };
    for (const Row& row : rows) {
        std::string path = "left from before";
        ASSERT_EQ(serve::decode_path(row.raw, path), row.ok) << row.raw;
        if (row.ok) { EXPECT_EQ(path, row.path) << row.raw; }
    }
}

}  // namespace
