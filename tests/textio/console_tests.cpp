// The console: reads that meet the end of input, pauses and the end of a run.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "textio/console.h"
#include "textio/errors.h"

namespace {

using textio::Console;
using textio::Layout;

TEST(Console, EndOfInputThrowsAtEveryKindOfRead) {
    const std::string formatted = "Error: Attempt to read past end of file (formatted read, console)";
    const std::string free_form = "Error: Attempt to read past end of file (free-form read, console)";
    struct Row { const char* name; std::function<void(Console&)> act; std::string message; };
    const Row rows[] = {
        {"number question", [](Console& c) { int32_t v = 0; c.read(Layout("(i4)"), {v}); }, formatted},
        {"true/false question", [](Console& c) { bool v = false; c.read_free({v}); }, free_form},
        {"wait", [](Console& c) { c.wait(); }, formatted},
        {"pause", [](Console& c) { c.pause("Hit RETURN"); }, formatted},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        textio::StringSource in("", "console");
        textio::StringSink out;
        Console console(in, out);
        try {
            row.act(console);
            ADD_FAILURE() << "no error";
        } catch (const textio::IoError& e) {
            EXPECT_EQ(std::string(e.what()), row.message);
        }
    }
}

TEST(Console, BadAnswerIsAnErrorStatusNotAThrow) {
    textio::StringSource in("abc\n1950\n", "console");
    textio::StringSink out;
    Console console(in, out);
    int32_t year = 0;
    EXPECT_EQ(console.read(Layout("(i4)"), {year}), textio::ReadStatus::error);
    EXPECT_EQ(console.read(Layout("(i4)"), {year}), textio::ReadStatus::ok);
    EXPECT_EQ(year, 1950);
}

TEST(Console, PromptPauseAndFinish) {
    textio::StringSource in("1850\n\n", "console");
    textio::StringSink out;
    Console console(in, out);
    int32_t year = 0;
    console.write(Layout("(/10x,'Year : ',$)"), {});
    console.read(Layout("(i4)"), {year});
    console.pause("           Hit RETURN to quit");
    EXPECT_EQ(textio::finish_run(console, 255), 255);  // the input is over: no error
    EXPECT_EQ(out.text(), "\n          Year :             Hit RETURN to quit\nPress RETURN to quit the program.\n");
}

}  // namespace
