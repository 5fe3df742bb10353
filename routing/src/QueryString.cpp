#include "routing/QueryString.h"

#include "routing/PercentDecoding.h"

namespace Nalo {

std::string_view PathWithoutQuery(std::string_view path) noexcept {
  return path.substr(0, path.find('?'));
}

std::vector<QueryParameter> ParseQueryString(std::string_view path) {
  std::vector<QueryParameter> parameters;
  const std::size_t question = path.find('?');
  if (question == std::string_view::npos) {
    return parameters;
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
    if (equals == std::string_view::npos) {
      parameters.push_back({percentDecode(piece), {}});
    } else {
      parameters.push_back(
          {percentDecode(piece.substr(0, equals)), percentDecode(piece.substr(equals + 1))});
    }
  }
  return parameters;
}

}  // namespace Nalo
