#pragma once
// The one-line command line a Windows program is started with.
//
// Windows hands a new process a single command line, and the program's C
// runtime (or CommandLineToArgvW) splits it back into arguments. The line is
// the program path, put in double quotes when it holds a space or a tab, then
// each argument after one space:
//   - an argument that begins and ends with a double quote (at least two
//     characters) is taken as already quoted and written unchanged;
//   - any other argument is written in double quotes, with a backslash before
//     each double quote inside it and every run of backslashes that comes
//     before such a quote or before the closing quote doubled.
// So every argument that is not already quoted reaches the program exactly as
// given ("a\"b" stays a"b, "dir\\" stays dir\), and the common case reads
// naturally: -a becomes "-a".
//
//   BuildWindowsCommandLine("C:/Games/Tavora Client/Tavora.exe", {"-a", "\"x y\""})
//     == R"("C:/Games/Tavora Client/Tavora.exe" "-a" "x y")"
//
// A pure function on UTF-8 text, built and tested on every system; the Win32
// process layer converts its result to UTF-16.

#include <span>
#include <string>
#include <string_view>

namespace Nalo {

// The longest command line Windows accepts, in UTF-16 code units, without the
// terminating NUL.
inline constexpr std::size_t kMaxWindowsCommandLineLength = 32767;

// The command line for `executable` started with `arguments` (the arguments
// after the program name).
[[nodiscard]] std::string BuildWindowsCommandLine(std::string_view executable,
                                                  std::span<const std::string> arguments);

}  // namespace Nalo
