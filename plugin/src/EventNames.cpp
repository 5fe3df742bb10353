#include "plugin/EventNames.h"

#include <cstddef>

namespace Nalo {

namespace {
constexpr std::string_view kPlatformConfigPiece = "tav-platform-config";
constexpr std::size_t kResourcePieces = 3;
constexpr std::size_t kPlatformConfigPieces = 5;
}  // namespace

std::string ResourceEventName(std::string_view uri) {
  std::string name(kJsonApiEventName);
  std::size_t limit = kResourcePieces;
  std::size_t taken = 0;
  std::size_t position = 0;
  while (position <= uri.size() && taken < limit) {
    const std::size_t end = std::min(uri.find('/', position), uri.size());
    const std::string_view piece = uri.substr(position, end - position);
    position = end + 1;
    if (piece.empty()) {
      continue;
    }
    if (taken == 0 && piece == kPlatformConfigPiece) {
      limit = kPlatformConfigPieces;
    }
    name += '_';
    name += piece;
    ++taken;
  }
  return name;
}

std::string LcdsEventName(std::string_view typeName) {
  std::string name(kLcdsEventName);
  name += '_';
  for (const char character : typeName) {
    name += character == '.' ? '_' : character;
  }
  return name;
}

bool MatchesUriPattern(std::string_view pattern, std::string_view uri) noexcept {
  std::size_t p = 0;
  std::size_t u = 0;
  while (p < pattern.size()) {
    if (pattern[p] == '*') {
      // Up to the next "/" (possibly nothing); at the end of the URI only
      // after at least one character.
      if (u >= uri.size()) {
        return false;
      }
      while (u < uri.size() && uri[u] != '/') {
        ++u;
      }
      ++p;
      continue;
    }
    if (u >= uri.size() || pattern[p] != uri[u]) {
      return false;
    }
    ++p;
    ++u;
  }
  return u == uri.size();
}

bool IsUriPattern(std::string_view text) noexcept {
  return text.find('*') != std::string_view::npos;
}

}  // namespace Nalo
