#pragma once
// The query string of a request path: the text after the first "?".
//
//   ParseQueryString("/a/b?ids.0=5&ids.1=6&enabled")
//     // {{"ids.0", "5"}, {"ids.1", "6"}, {"enabled", ""}}
//
// The query is split at every "&"; each piece at its first "=" into a key
// and a value (a piece without "=" has an empty value); both are
// percent-decoded (PercentDecoding.h). Empty pieces ("a=1&&b=2", a trailing
// "&") name nothing and are skipped. Pairs keep their order, repeats
// included.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Nalo {

struct QueryParameter {
  std::string key;
  std::string value;

  friend bool operator==(const QueryParameter&, const QueryParameter&) = default;
};

// The path without its query: the text before the first "?".
[[nodiscard]] std::string_view PathWithoutQuery(std::string_view path) noexcept;

// The decoded pairs of the query of `path`; empty when it has none.
[[nodiscard]] std::vector<QueryParameter> ParseQueryString(std::string_view path);

// Calls `visit(key, value)` for each pair of the query of `path`, in order,
// with the key and value as written (not yet decoded), and stops at the
// first call that returns false. Returns whether no call did.
template <class Visit>
[[nodiscard]] bool VisitQueryString(std::string_view path, Visit&& visit) {
  const std::size_t question = path.find('?');
  if (question == std::string_view::npos) {
    return true;
  }
  std::string_view query = path.substr(question + 1);
  while (!query.empty()) {
    const std::size_t ampersand = query.find('&');
    const std::string_view piece = query.substr(0, ampersand);
    query = ampersand == std::string_view::npos ? std::string_view() : query.substr(ampersand + 1);
    if (piece.empty()) {
      continue;
    }
    const std::size_t equals = piece.find('=');
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1);
    if (!visit(piece.substr(0, equals), value)) {
      return false;
    }
  }
  return true;
}

}  // namespace Nalo
