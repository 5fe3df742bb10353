// The method names of requests (Response.h) and the names events are
// carried under (EventNames.h).

#include <algorithm>
#include <array>
#include <vector>

#include "abi/HostAbi.h"
#include "host/peers/EventNames.h"
#include "host/peers/Response.h"

namespace Nalo::Host {

namespace {

constexpr std::string_view kLcdsEventPrefix = "OnLcdsEvent_";
constexpr std::string_view kPlatformConfigPiece = "tav-platform-config";

constexpr std::array<std::string_view, 8> kMethodNames = {"",        "DELETE", "GET",  "HEAD",
                                                          "OPTIONS", "PATCH",  "POST", "PUT"};

}  // namespace

std::uint32_t MethodCode(std::string_view name) noexcept {
  for (std::uint32_t code = 1; code < kMethodNames.size(); ++code) {
    if (kMethodNames[code] == name) {
      return code;
    }
  }
  return NALO_METHOD_NONE;
}

std::string_view MethodName(std::uint32_t code) noexcept {
  return code < kMethodNames.size() ? kMethodNames[code] : std::string_view();
}

std::string ResourceEventName(std::string_view uri) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= uri.size()) {
    const std::size_t end = std::min(uri.find('/', start), uri.size());
    if (end > start) {
      pieces.push_back(uri.substr(start, end - start));
    }
    start = end + 1;
  }
  const std::size_t keep = !pieces.empty() && pieces.front() == kPlatformConfigPiece ? 5 : 3;
  std::string name(kResourceEventName);
  for (std::size_t i = 0; i < pieces.size() && i < keep; ++i) {
    name += '_';
    name += pieces[i];
  }
  return name;
}

std::string LcdsEventName(std::string_view typeName) {
  std::string name(kLcdsEventPrefix);
  for (char c : typeName) {
    name += c == '.' ? '_' : c;
  }
  return name;
}

}  // namespace Nalo::Host
