#include "routing/PathTemplate.h"

#include <utility>

#include "binding/PositionalFormat.h"
#include "routing/src/RoutingMessages.h"

namespace Nalo {

namespace {

constexpr std::string_view kRegexSpecials = "^$.*+?()[]|\\";
constexpr std::string_view kSegmentCapture = "([^/]*)";
constexpr std::string_view kRestCapture = "(.*)";
constexpr std::string_view kFragmentCapture = "#(.*)";
constexpr std::uint32_t kTemplateFailureCode = 500;

enum class ParameterKind : std::uint8_t { Segment, Rest, Fragment };

// Why the braces of `text` don't pair up, or empty when they do. Empty
// parameter names are found from toRegex's result.
std::string_view BraceProblem(std::string_view text) {
  bool open = false;
  for (const char c : text) {
    if (c == '{') {
      if (open) {
        return RoutingMessage::kNestedParameter;
      }
      open = true;
    } else if (c == '}') {
      if (!open) {
        return RoutingMessage::kUnopenedParameter;
      }
      open = false;
    }
  }
  return open ? RoutingMessage::kUnclosedParameter : std::string_view();
}

}  // namespace

RegexPattern toRegex(std::string_view text) {
  RegexPattern result;
  result.pattern.reserve(text.size() + 16);
  bool inParameter = false;
  bool atParameterStart = false;
  ParameterKind kind = ParameterKind::Segment;
  std::string name;
  for (const char c : text) {
    if (!inParameter) {
      if (c == '{') {
        inParameter = true;
        atParameterStart = true;
        kind = ParameterKind::Segment;
        name.clear();
      } else {
        if (kRegexSpecials.find(c) != std::string_view::npos) {
          result.pattern += '\\';
        }
        result.pattern += c;
      }
      continue;
    }
    if (c == '}') {
      switch (kind) {
        case ParameterKind::Segment:
          result.pattern += kSegmentCapture;
          break;
        case ParameterKind::Rest:
          result.pattern += kRestCapture;
          break;
        case ParameterKind::Fragment:
          result.pattern += kFragmentCapture;
          break;
      }
      result.parameters.push_back(std::move(name));
      name.clear();
      inParameter = false;
    } else if (atParameterStart && c == '+') {
      kind = ParameterKind::Rest;
    } else if (atParameterStart && c == '#') {
      kind = ParameterKind::Fragment;
    } else {
      name += c;
    }
    atParameterStart = false;
  }
  return result;
}

MaybeType<Failure, PathTemplate> PathTemplate::Compile(std::string_view text) {
  PathTemplate compiled;
  compiled.mText = text;
  const std::size_t open = text.find('{');
  const std::size_t close = text.rfind('}');
  if (open == std::string_view::npos && close == std::string_view::npos) {
    return compiled;
  }
  const RegexPattern pattern = toRegex(text);
  std::string_view problem = BraceProblem(text);
  if (problem.empty()) {
    for (const std::string& parameter : pattern.parameters) {
      if (parameter.empty()) {
        problem = RoutingMessage::kUnnamedParameter;
      }
    }
  }
  if (!problem.empty()) {
    return Failure(kTemplateFailureCode,
                   FormatPositional(RoutingMessage::kBadTemplate, {text, problem}));
  }
  compiled.mPattern = pattern.pattern;
  compiled.mParameters = pattern.parameters;
  compiled.mPrefix = text.substr(0, open);
  compiled.mSuffix = text.substr(close + 1);
  try {
    compiled.mRegex = std::make_shared<const std::regex>(compiled.mPattern, std::regex::ECMAScript);
  } catch (const std::regex_error& error) {
    return Failure(kTemplateFailureCode,
                   FormatPositional(RoutingMessage::kBadTemplate, {text, error.what()}));
  }
  return compiled;
}

bool PathTemplate::Match(std::string_view path, std::vector<std::string_view>& captures) const {
  captures.clear();
  if (mRegex == nullptr) {
    return path == mText;
  }
  if (path.size() > kMaxPatternPathLength || path.size() < mPrefix.size() + mSuffix.size() ||
      !path.starts_with(mPrefix) || !path.ends_with(mSuffix)) {
    return false;
  }
  std::match_results<std::string_view::const_iterator> match;
  if (!std::regex_match(path.begin(), path.end(), match, *mRegex)) {
    return false;
  }
  for (std::size_t i = 1; i < match.size(); ++i) {
    const auto offset = static_cast<std::size_t>(match[i].first - path.begin());
    captures.push_back(path.substr(offset, static_cast<std::size_t>(match[i].length())));
  }
  return true;
}

}  // namespace Nalo
