#pragma once
// FormatLogLine: renders a LogRecord through a line format.
//
// The console targets write each record as one line built from their format.
// A format is plain text in which '#' introduces a code:
//   #D  the record's local time, "2024-03-05T07:08:09.012"
//   #E  the executable's file name
//   #G  the codes of the record's group bits, lowest first, joined by ';'
//       (empty for mask 0; an unregistered bit prints nothing)
//   #H  seconds since the process first read its elapsed time, "000012.345"
//   #L  the level text, "  WARN"
//   #M  the message
//   #T  the id of the calling thread, printed with "%p"
// '#' followed by any other character stands for that character, so "##M" is
// the two characters "#M". A '#' at the very end of the format is kept as is.
// The line always ends with exactly one newline: one is added unless the
// rendered text already ends with one.
//
//   char line[Nalo::kLogBufferSize];
//   std::string_view text = Nalo::FormatLogLine("#L| #M", record, "game", line);

#include <span>
#include <string_view>

#include "diagnostics/LogRecord.h"

namespace Nalo {

// Renders `record` through `format` into `buffer` and returns the rendered line
// (a view into `buffer`, NUL-terminated). Output that does not fit is cut so
// that the line still ends in its newline: at most kLogBufferSize - 2
// characters of text, the newline and the NUL. Never allocates.
std::string_view FormatLogLine(std::string_view format, const LogRecord& record,
                               std::string_view executableName,
                               std::span<char, kLogBufferSize> buffer) noexcept;

}  // namespace Nalo
