// A file sink replacing a file leaves exactly what was written, whichever
// way it ends and whatever the file held before.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/program.h"
#include "textio/sink.h"

namespace {

std::string read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(FileSink, LeavesOnlyWhatWasWritten) {
    constexpr size_t M = 1 << 20;
    struct Row {
        const char* name;
        size_t before;   // bytes the file held, 0 for a new file
        size_t written;  // bytes written through the sink
        bool closed;     // close() rather than the destructor alone
        size_t piece = 0;  // written in pieces of this size, 0 for one write
    };
    const Row rows[] = {
        {"new file", 0, 100, true},
        {"longer file replaced by a short one", 3 * M, 100, true},
        {"longer file, nothing written", 3 * M, 0, true},
        {"longer file, left to the destructor", 3 * M, 2 * M + 7, false},
        {"shorter file replaced by more than a flush", 10, 3 * M + 1, true},
        {"empty file", 1, 0, false},
        {"more than the old size, in pieces", 3 * M, 5 * M + 3, true, M},
        {"more than the old size, in pieces, left to the destructor", 2 * M, 4 * M, false, M / 2},
    };
    testsupport::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto path = dir / "out.txt";
        std::filesystem::remove(path);
        if (row.before > 0) std::ofstream(path, std::ios::binary) << std::string(row.before, 'o');
        std::string text(row.written, 'n');
        for (size_t k = 0; k < text.size(); k += 4096) text[k] = static_cast<char>('a' + k / 4096 % 26);
        {
            textio::FileSink sink(path.string());
            const size_t piece = row.piece > 0 ? row.piece : text.size() + 1;
            for (size_t at = 0; at < text.size(); at += piece) {
                sink.buffer() += text.substr(at, piece);
                sink.flush();
            }
            if (row.closed) sink.close();
        }
        EXPECT_EQ(read_all(path), text);
    }
}

TEST(FileSink, WritesThroughToADevice) {
    textio::FileSink sink("/dev/null");
    sink.buffer() += "gone";
    EXPECT_NO_THROW(sink.close());
}

}  // namespace
