#pragma once
// Formatted and free-form reads. Each read starts on a new record and
// discards what is left of its last record when it ends.
#include <initializer_list>
#include <span>
#include <string_view>

#include "textio/layout.h"
#include "textio/source.h"
#include "textio/values.h"

namespace textio {

// Formatted read by a layout. ok: every variable read; error: a field broke
// the rules (variables not yet read keep their values); end: the input ended
// before the read was complete.
ReadStatus read(LineSource& in, const Layout& layout, std::span<const InTarget> targets);
inline ReadStatus read(LineSource& in, const Layout& layout, std::initializer_list<InTarget> targets) {
    return read(in, layout, std::span<const InTarget>(targets.begin(), targets.size()));
}

// Formatted read of one record already in hand (a character buffer); a "/"
// or a reversion needing a further record gives end.
ReadStatus read_record(std::string_view record, const Layout& layout, std::span<const InTarget> targets);
inline ReadStatus read_record(std::string_view record, const Layout& layout, std::initializer_list<InTarget> targets) {
    return read_record(record, layout, std::span<const InTarget>(targets.begin(), targets.size()));
}

// Free-form read: values separated by commas, blanks or tabs; empty lines
// skipped; r*v repeats; a null value or a slash leaves variables unchanged.
ReadStatus read_free(LineSource& in, std::span<const InTarget> targets);
inline ReadStatus read_free(LineSource& in, std::initializer_list<InTarget> targets) {
    return read_free(in, std::span<const InTarget>(targets.begin(), targets.size()));
}

// Unguarded forms: an error or the end of input throws IoError naming the
// operation ("formatted read" / "free-form read") and the source.
void read_or_fail(LineSource& in, const Layout& layout, std::span<const InTarget> targets);
inline void read_or_fail(LineSource& in, const Layout& layout, std::initializer_list<InTarget> targets) {
    read_or_fail(in, layout, std::span<const InTarget>(targets.begin(), targets.size()));
}

}  // namespace textio
