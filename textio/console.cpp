#include "textio/console.h"

#include "textio/errors.h"

namespace textio {

namespace {

void fail_at_end(LineSource& in, const char* operation) {
    throw IoError(kReadPastEnd, operation, in.name());
}

}  // namespace

ReadStatus Console::read(const Layout& layout, std::initializer_list<InTarget> targets) {
    out_.flush();
    ReadStatus status = textio::read(in_, layout, targets);
    if (status == ReadStatus::end) fail_at_end(in_, "formatted read");
    return status;
}

ReadStatus Console::read_free(std::initializer_list<InTarget> targets) {
    out_.flush();
    ReadStatus status = textio::read_free(in_, targets);
    if (status == ReadStatus::end) fail_at_end(in_, "free-form read");
    return status;
}

void Console::wait() {
    out_.flush();
    if (!in_.skip()) fail_at_end(in_, "formatted read");
}

void Console::pause(std::string_view text) {
    std::string& buf = out_.buffer();
    buf += ' ';
    buf.append(text);
    buf += '\n';
    wait();
}

int finish_run(Console& console, int status) {
    console.out().buffer().append("Press RETURN to quit the program.\n");
    try {
        console.out().flush();
    } catch (const IoError&) {
        // A display that is gone cannot show the line; the status stands.
    }
    // The input may already be closed: that ends the wait, not the run.
    console.in().skip();
    return status;
}

}  // namespace textio
