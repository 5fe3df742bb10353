#pragma once
// The stand-in client's control file ("stand-in-client.cfg"): how long it
// waits before opening its window, whether it opens one and brings it to the
// front, and how it ends. Lines "key = value"; docs/processes-and-windows.md
// lists the keys.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Nalo::StandIn {

// How the client ends once its window is up.
struct Ending {
  enum class Kind { Wait, Exit, CrashSegv, CrashAbort, Hang };
  Kind kind = Kind::Wait;
  int exitCode = 0;
};

struct Control {
  std::int64_t windowDelayMilliseconds = 0;
  bool openWindow = true;
  bool bringToForeground = true;
  std::int64_t endDelayMilliseconds = 0;
  Ending ending;
};

// `text` without the spaces, tabs and carriage returns around it.
[[nodiscard]] std::string_view Trim(std::string_view text);

// "wait", "exit <code>", "crash segv", "crash abort" or "hang"; nothing for
// anything else.
[[nodiscard]] std::optional<Ending> ParseEnding(std::string_view text);

// Reads the lines of a control file into `control`; blank lines and lines
// starting with '#' are skipped. The text of the first line it cannot follow,
// on failure.
[[nodiscard]] std::optional<std::string> ParseControl(std::string_view text, Control& control);

}  // namespace Nalo::StandIn
