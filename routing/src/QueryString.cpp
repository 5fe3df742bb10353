#include "routing/QueryString.h"

#include "routing/PercentDecoding.h"

namespace Nalo {

std::string_view PathWithoutQuery(std::string_view path) noexcept {
  return path.substr(0, path.find('?'));
}

std::vector<QueryParameter> ParseQueryString(std::string_view path) {
  std::vector<QueryParameter> parameters;
  // The visitor never stops the walk, so the walk always completes.
  static_cast<void>(VisitQueryString(path, [&](std::string_view key, std::string_view value) {
    parameters.push_back({percentDecode(key), percentDecode(value)});
    return true;
  }));
  return parameters;
}

}  // namespace Nalo
