#include "textio/console.h"

#include <stdexcept>
#include <string>

#include "textio/errors.h"

namespace textio {

namespace {

void fail_at_end(LineSource& in, const char* operation) {
    throw IoError(kReadPastEnd, operation, in.name());
}

}  // namespace

LineSource& Console::keyboard(const char* operation) {
    if (!in_) throw std::logic_error(std::string("unattended console asked for a ") + operation);
    return *in_;
}

LineSource& Console::in() { return keyboard("line"); }

ReadStatus Console::read(const Layout& layout, std::initializer_list<InTarget> targets) {
    out_.flush();
    LineSource& in = keyboard("formatted read");
    ReadStatus status = textio::read(in, layout, targets);
    if (status == ReadStatus::end) fail_at_end(in, "formatted read");
    return status;
}

ReadStatus Console::read_free(std::initializer_list<InTarget> targets) {
    out_.flush();
    LineSource& in = keyboard("free-form read");
    ReadStatus status = textio::read_free(in, targets);
    if (status == ReadStatus::end) fail_at_end(in, "free-form read");
    return status;
}

void Console::wait() {
    out_.flush();
    if (!in_) return;
    if (!in_->skip()) fail_at_end(*in_, "formatted read");
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
