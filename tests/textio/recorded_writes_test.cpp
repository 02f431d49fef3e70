// Writes recorded on one thread and replayed into a file's sink: the bytes
// reach the file in the same pieces as when written there directly, which
// is what makes a full disk end a run at the same record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "textio/sink.h"

namespace {

// Notes every piece the sink lets out.
class PieceSink : public textio::Sink {
public:
    explicit PieceSink(bool each_write) : Sink("pieces") {
        if (each_write) flush_each_write();
    }
    std::vector<std::string> pieces;
protected:
    void emit(std::string_view bytes) override { pieces.emplace_back(bytes); }
};

// Record lengths: a year record, half the flush size, a whole flush size.
std::vector<std::string> records(const std::vector<size_t>& sizes) {
    std::vector<std::string> out;
    char c = 'a';
    for (size_t size : sizes) out.push_back(std::string(size, c++));
    return out;
}

TEST(RecordedWrites, LeaveInTheSamePiecesAsDirectWrites) {
    constexpr size_t M = 1 << 20;
    struct Row {
        const char* name;
        std::vector<size_t> sizes;
        size_t already;  // bytes in the file's buffer before the replay
        size_t from;     // first record replayed
    };
    const Row rows[] = {
        {"small records across the flush size", std::vector<size_t>(30000, 90), 0, 0},
        {"a record of exactly the flush size", {M}, 0, 0},
        {"one byte short, then one", {M - 1, 1, 5}, 0, 0},
        {"buffer already holding bytes", {M / 2, M / 2, 90}, 100, 0},
        {"a replay from a later mark", {M / 2, M / 2 + 1, 90, M}, 0, 2},
        {"nothing replayed", {}, 10, 0},
    };
    for (const Row& row : rows)
        for (bool each_write : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (each_write ? ", display" : ", file"));
            const auto texts = records(row.sizes);
            PieceSink direct(each_write), replayed(each_write);
            textio::RecordingSink recording;
            for (PieceSink* sink : {&direct, &replayed}) sink->buffer().assign(row.already, '-');
            for (size_t k = 0; k < texts.size(); ++k) {
                recording.buffer() += texts[k];
                recording.flush_if_full();
                if (k < row.from) continue;
                direct.buffer() += texts[k];
                direct.flush_if_full();
            }
            recording.replay(replayed, row.from, recording.mark());
            direct.flush();
            replayed.flush();
            EXPECT_EQ(replayed.pieces, direct.pieces);
        }
}

}  // namespace
