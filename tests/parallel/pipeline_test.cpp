// The pipeline: commits in submission order for any thread count, the
// first failing work's error in its place, a failing commit ends the run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "parallel/pipeline.h"

namespace {

struct Outcome {
    std::vector<int> committed;
    std::string error;
};

// Tasks 0..n-1; the work of those in `bad` throws, as does the commit of
// `bad_commit`. Earlier tasks sleep longest, so later ones finish first.
Outcome run(int32_t threads, int n, std::vector<int> bad, int bad_commit = -1) {
    Outcome out;
    std::vector<int> done(static_cast<size_t>(n), 0);
    try {
        parallel::Pipeline pipeline(threads, 3);
        for (int i = 0; i < n; ++i) {
            pipeline.submit(
                [&, i] {
                    std::this_thread::sleep_for(std::chrono::microseconds(200 * (n - i)));
                    for (int b : bad)
                        if (b == i) throw std::runtime_error("work " + std::to_string(i));
                    done[static_cast<size_t>(i)] = 1;
                },
                [&, i] {
                    if (i == bad_commit) throw std::runtime_error("commit " + std::to_string(i));
                    out.committed.push_back(done[static_cast<size_t>(i)] ? i : -i);
                });
        }
        pipeline.finish();
    } catch (const std::runtime_error& e) {
        out.error = e.what();
    }
    return out;
}

TEST(Pipeline, SameCommitsAndErrorsForAnyThreadCount) {
    struct Row {
        const char* name;
        int n;
        std::vector<int> bad;
        int bad_commit;
        std::vector<int> committed;
        std::string error;
    };
    const Row rows[] = {
        {"all good", 6, {}, -1, {0, 1, 2, 3, 4, 5}, ""},
        {"nothing submitted", 0, {}, -1, {}, ""},
        {"first bad work wins, in order", 7, {5, 2}, -1, {0, 1}, "work 2"},
        {"last work bad", 4, {3}, -1, {0, 1, 2}, "work 3"},
        {"a commit fails", 8, {}, 3, {0, 1, 2}, "commit 3"},
        {"bad work after a failed commit is never seen", 8, {6}, 1, {0}, "commit 1"},
    };
    for (const Row& row : rows)
        for (int32_t threads : {1, 2, 7}) {
            SCOPED_TRACE(std::string(row.name) + ", threads " + std::to_string(threads));
            const Outcome out = run(threads, row.n, row.bad, row.bad_commit);
            EXPECT_EQ(out.committed, row.committed);
            EXPECT_EQ(out.error, row.error);
        }
}

TEST(Pipeline, HoldsNoMoreThanItsWindow) {
    std::atomic<int> started{0}, committed{0};
    int most_ahead = 0;
    parallel::Pipeline pipeline(4, 3);
    for (int i = 0; i < 40; ++i) {
        pipeline.submit([&] { ++started; },
                        [&] {
                            most_ahead = std::max(most_ahead, started.load() - committed.load());
                            ++committed;
                        });
    }
    pipeline.finish();
    EXPECT_EQ(committed.load(), 40);
    EXPECT_LE(most_ahead, 3);
}

}  // namespace
