// Records read in blocks for other threads are the records the line source
// gives: the same lines, cleaned the same, whatever the cuts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/program.h"
#include "textio/block_scanner.h"
#include "textio/source.h"

namespace {

TEST(BlockScanner, GivesTheLineSourcesRecordsAcrossCuts) {
    struct Row {
        const char* name;
        std::string text;
    };
    const Row rows[] = {
        {"plain lines", "one\ntwo\nthree\n"},
        {"no line feed at the end", "one\ntwo"},
        {"CR LF and a lone CR inside", "one\r\ntw\ro\r\r\n\r\n"},
        {"tabs to stops of 8", "a\tb\n\t\tc\t\n"},
        {"empty lines and an empty file's end", "\n\n\nx\n\n"},
        {"nothing at all", ""},
        {"a line longer than a read", std::string(700000, 'x') + "\nshort\n" + std::string(300000, 'y')},
    };
    testsupport::TempDir dir;
    for (const Row& row : rows)
        for (size_t cut_every : {1u, 2u, 1000u}) {
            SCOPED_TRACE(std::string(row.name) + ", cut every " + std::to_string(cut_every));
            const std::string path = (dir / "records.txt").string();
            testsupport::write_file(path, row.text);
            std::vector<std::string> want;
            textio::FileSource lines(path);
            while (const auto line = lines.next()) want.emplace_back(*line);

            std::vector<std::string> got;
            textio::BlockScanner in(path);
            ASSERT_TRUE(in.ok());
            textio::Block block;
            std::vector<textio::BlockScanner::Span> spans;
            std::string scratch;
            auto take = [&] {
                in.cut(block);
                for (const auto& span : spans)
                    got.emplace_back(textio::clean_record(block.view().substr(span.offset, span.size), scratch));
                spans.clear();
            };
            while (const auto span = in.next()) {
                spans.push_back(*span);
                if (spans.size() == cut_every) take();
            }
            take();
            EXPECT_EQ(got, want);
        }
}

}  // namespace
