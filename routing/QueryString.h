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

}  // namespace Nalo
