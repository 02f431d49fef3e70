#pragma once
// The text console: records to the display, answers from the keyboard, the
// pause and the end of the run. Reaching the end of console input at any
// question or wait is an input error: it throws IoError.
#include <initializer_list>
#include <span>
#include <string_view>

#include "textio/record_read.h"
#include "textio/sink.h"
#include "textio/source.h"

namespace textio {

class Console {
public:
    Console(LineSource& in, Sink& out) : in_(&in), out_(out) {}
    // A console nobody sits at, for scripted runs: a wait passes at once and
    // a question is a programming error (std::logic_error), never a read.
    explicit Console(Sink& out) : in_(nullptr), out_(out) {}

    void write(const Layout& layout, std::initializer_list<OutValue> values) { out_.write(layout, values); }
    void write(const Layout& layout, std::span<const OutValue> values) { out_.write(layout, values); }
    void write_free(std::initializer_list<OutValue> values) { out_.write_free(values); }

    // Reads one answer (ok or error); the end of input throws IoError.
    ReadStatus read(const Layout& layout, std::initializer_list<InTarget> targets);
    ReadStatus read_free(std::initializer_list<InTarget> targets);
    // A wait: reads one line and ignores it; the end of input throws IoError.
    void wait();
    // The pause: one line of a blank and `text`, then a wait.
    void pause(std::string_view text);

    Sink& out() { return out_; }
    LineSource& in();
    bool attended() const { return in_ != nullptr; }

private:
    LineSource& keyboard(const char* operation);
    LineSource* in_;
    Sink& out_;
};

// The end of the run: shows "Press RETURN to quit the program.", waits for
// one more line (the end of input is no error here) and returns `status`.
int finish_run(Console& console, int status);

}  // namespace textio
