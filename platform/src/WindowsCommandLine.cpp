#include "platform/WindowsCommandLine.h"

#include <cstddef>

namespace Nalo {
namespace {

constexpr char kQuote = '"';
constexpr char kBackslash = '\\';

bool IsAlreadyQuoted(std::string_view argument) {
  return argument.size() >= 2 && argument.front() == kQuote && argument.back() == kQuote;
}

// Writes `argument` in double quotes so that the runtime's rules read it back
// unchanged: backslashes are literal except in a run that ends at a double
// quote, where each pair stands for one backslash and an odd one escapes the
// quote.
void AppendQuoted(std::string& line, std::string_view argument) {
  line.push_back(kQuote);
  std::size_t backslashes = 0;
  for (const char character : argument) {
    if (character == kBackslash) {
      ++backslashes;
      continue;
    }
    if (character == kQuote) {
      line.append(2 * backslashes + 1, kBackslash);
    } else {
      line.append(backslashes, kBackslash);
    }
    backslashes = 0;
    line.push_back(character);
  }
  // The closing quote follows the final run, so that run is doubled too.
  line.append(2 * backslashes, kBackslash);
  line.push_back(kQuote);
}

}  // namespace

std::string BuildWindowsCommandLine(std::string_view executable,
                                    std::span<const std::string> arguments) {
  std::string line;
  if (executable.find_first_of(" \t") != std::string_view::npos) {
    line.push_back(kQuote);
    line.append(executable);
    line.push_back(kQuote);
  } else {
    line.append(executable);
  }
  for (const std::string& argument : arguments) {
    line.push_back(' ');
    if (IsAlreadyQuoted(argument)) {
      line.append(argument);
    } else {
      AppendQuoted(line, argument);
    }
  }
  return line;
}

}  // namespace Nalo
