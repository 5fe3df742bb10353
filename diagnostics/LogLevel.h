#pragma once
// LogLevel: how important a log line is.
//
// The log manager and every target keep a minimum level; a line below it is
// dropped before it is formatted. Lines print their level as a six-character
// text ("  OKAY", "  WARN", " ERROR", "ALWAYS") through the "#L" format code.
//
//   Nalo::Log(Nalo::LogLevel::Warn, Nalo::kLogGroupDebug, "retrying %s", uri);

#include <cstdint>
#include <string_view>

namespace Nalo {

// The numeric values cross to the host unchanged, so they are fixed.
enum class LogLevel : std::int32_t {
  Okay = 0,    // routine progress; dropped unless the minimum level is Okay
  Warn = 1,    // something went wrong and was handled
  Error = 2,   // something went wrong and was not handled
  Always = 3,  // written whatever the minimum level (short of a higher one)
};

// The six-character text of `level` used in formatted lines. A value outside
// the four levels (only reachable through a cast) gives "??????".
[[nodiscard]] std::string_view LogLevelText(LogLevel level) noexcept;

}  // namespace Nalo
