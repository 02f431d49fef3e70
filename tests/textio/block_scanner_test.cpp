// Records read in blocks for other threads are the records the line source
// gives: the same lines, cleaned the same, whatever the cuts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/program.h"
#include "textio/block_scanner.h"
#include "textio/count_feeds.h"
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

TEST(BlockScanner, SkipsAsManyRecordsAsNextWould) {
    // Lines of varying length over several megabytes: the counted parts
    // end anywhere in a line.
    std::string lines;
    for (int k = 0; lines.size() < 3'500'000; ++k) lines += std::string(static_cast<size_t>(k % 997), 'x') + "\n";
    const int64_t nlines = std::count(lines.begin(), lines.end(), '\n');
    struct Row {
        const char* name;
        std::string text;
        int64_t before;  // records read by next() first
        int64_t count;
    };
    const Row rows[] = {
        {"within the file", lines, 3, 5000},
        {"all but the last", lines, 0, nlines - 1},
        {"exactly all", lines, 1, nlines - 1},
        {"more than there are", lines, 0, nlines + 10},
        {"a last line without a line feed is a record", lines + "tail", 0, nlines + 5},
        {"nothing to skip", lines, 2, 0},
        {"an empty file", "", 0, 3},
    };
    testsupport::TempDir dir;
    const std::string path = (dir / "records.txt").string();
    for (const Row& row : rows) {
        testsupport::write_file(path, row.text);
        for (int32_t threads : {1, 2, 7}) {
            SCOPED_TRACE(std::string(row.name) + ", threads " + std::to_string(threads));
            textio::FileSource want(path);
            int64_t want_skipped = 0;
            for (int64_t k = 0; k < row.before; ++k) want.next();
            while (want_skipped < row.count && want.skip()) ++want_skipped;
            const auto want_next = want.next();

            textio::BlockScanner in(path);
            for (int64_t k = 0; k < row.before; ++k) in.next();
            EXPECT_EQ(in.skip(row.count, threads), want_skipped);
            const auto next = in.next();
            ASSERT_EQ(next.has_value(), want_next.has_value());
            if (next) {
                EXPECT_EQ(in.view(*next), *want_next);
            }
        }
    }
}

// The wide count's edges: a lone tail, whole 16-byte blocks, and runs of
// matches long enough to wrap its byte counters (255 blocks of 16).
TEST(CountFeeds, CountsWhatAByteLoopCounts) {
    const struct {
        size_t size;
        size_t every;  // a line feed every so many bytes
        size_t offset;  // where the bytes start past an aligned base
    } rows[] = {
        {0, 1, 0}, {15, 1, 0}, {16, 1, 0}, {17, 1, 3}, {255 * 16, 1, 0}, {255 * 16 + 1, 1, 1},
        {256 * 16, 1, 0}, {10000, 1, 7}, {10000, 7, 5}, {1 << 20, 1009, 0},
    };
    for (const auto& row : rows) {
        std::string bytes(row.size + row.offset, 'x');
        for (size_t k = row.offset; k < bytes.size(); ++k)
            if ((k - row.offset) % row.every == row.every - 1) bytes[k] = '\n';
        const char* data = bytes.data() + row.offset;
        EXPECT_EQ(textio::count_feeds(data, row.size), std::count(data, data + row.size, '\n'))
            << row.size << " bytes, every " << row.every;
    }
}

}  // namespace
