#pragma once
// RegionLocale: the host's region and locale (its region-locale resource);
// the locale decides which locale file the game client is launched with.

#include <string>

namespace Nalo::Client::Gameflow::Api {

struct RegionLocale {
  std::string region;
  std::string locale;  // e.g. "en_US"

  bool operator==(const RegionLocale&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
