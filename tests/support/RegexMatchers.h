#pragma once
// MatchesPattern(regex): the whole text matches a std::regex (ECMAScript).
// GoogleTest's own MatchesRegex understands only a small subset on Windows
// (no brackets, no counts), so the tests use this one everywhere.

#include <gmock/gmock.h>

#include <regex>
#include <string>

namespace Nalo::Testing {

MATCHER_P(MatchesPattern, pattern, "matches regular expression \"" + std::string(pattern) + "\"") {
  return std::regex_match(std::string(arg), std::regex(pattern));
}

}  // namespace Nalo::Testing
