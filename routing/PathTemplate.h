#pragma once
// PathTemplate: a route's path template, compiled once at registration.
//
// Template syntax: literal text with parameters in braces. {name} matches one
// path segment (no "/"), {+name} the rest of the path, "/" included, and
// {#name} a "#" followed by the rest. A template without "{" is literal and
// is compared byte for byte; only a template with parameters builds a
// regular expression (ECMAScript, matching the whole path), and it is built
// here, never per request.
//
//   auto compiled = PathTemplate::Compile("/files/{+rest}").OrFatal("a constant");
//   std::vector<std::string_view> captures;
//   compiled.Match("/files/a/b", captures)  // true, captures {"a/b"} (not yet decoded)
//
// Captures are returned as written; the router percent-decodes them once it
// has chosen an endpoint. Paths longer than kMaxPatternPathLength never match
// a template with parameters: the standard regex engine recurses per input
// character and could exhaust the stack.

#include <cstddef>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo {

// Longest path a template with parameters is matched against, in bytes:
// far beyond any real resource path, and shallow enough for the regex
// engine's recursion on a 1 MB thread stack.
inline constexpr std::size_t kMaxPatternPathLength = 1024;

// What toRegex makes of a template.
struct RegexPattern {
  std::string pattern;
  std::vector<std::string> parameters;  // in template order

  friend bool operator==(const RegexPattern&, const RegexPattern&) = default;
};

// The ECMAScript pattern of `text` and its parameter names. Outside braces
// each of ^ $ . * + ? ( ) [ ] | \ is escaped with a backslash; {name} writes
// "([^/]*)", {+name} "(.*)" and {#name} "#(.*)". A brace left open at the
// end adds nothing.
[[nodiscard]] RegexPattern toRegex(std::string_view text);

class PathTemplate {
 public:
  // The literal template "" (matches only the empty path).
  PathTemplate() = default;

  // Compiles `text`. Fails (code 500) for a template whose braces don't pair
  // up or whose parameter has no name, naming the template; those are
  // mistakes in the route table.
  [[nodiscard]] static MaybeType<Failure, PathTemplate> Compile(std::string_view text);

  [[nodiscard]] std::string_view Text() const noexcept { return mText; }
  [[nodiscard]] bool IsLiteral() const noexcept { return mRegex == nullptr; }
  // The regular expression; empty for a literal template.
  [[nodiscard]] std::string_view Pattern() const noexcept { return mPattern; }
  [[nodiscard]] const std::vector<std::string>& Parameters() const noexcept { return mParameters; }

  // Whether `path` (without a query) matches the whole template. On a match
  // `captures` holds one view into `path` per parameter, in order; otherwise
  // its contents are unspecified.
  [[nodiscard]] bool Match(std::string_view path, std::vector<std::string_view>& captures) const;

 private:
  std::string mText;
  std::string mPattern;
  std::vector<std::string> mParameters;
  // Static text around the parameters, checked before the regex runs.
  std::string mPrefix;
  std::string mSuffix;
  std::shared_ptr<const std::regex> mRegex;  // null for a literal template
};

}  // namespace Nalo
