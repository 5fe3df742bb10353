#include "plugin/PluginVersion.h"

#include <string>

#include "diagnostics/Log.h"
#include "plugin/src/PositionalText.h"
#include "plugin/src/RuntimeMessages.h"

namespace Nalo {

std::string PluginApiVersion::Text() const {
  std::string text =
      std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  if (!prerelease.empty()) {
    text += "-" + prerelease;
  }
  if (!build.empty()) {
    text += "+" + build;
  }
  return text;
}

PluginApiVersion RuntimePluginApiVersion() {
  return {NALO_PLUGIN_API_MAJOR, NALO_PLUGIN_API_MINOR, NALO_PLUGIN_API_PATCH, {}, {}};
}

bool IsCompatible(const PluginApiVersion& plugin, const PluginApiVersion& core) noexcept {
  return NaloPluginApiIsCompatible(plugin.major, plugin.minor, plugin.patch, core.major, core.minor,
                                   core.patch) != 0;
}

PluginNames GetFullNameFromShortNameAndType(std::string_view shortName, const PluginType& type) {
  std::string_view prefix = "ncp-xx-";
  if (type.word == kBackendPluginType.word) {
    prefix = "ncp-be-";
  } else if (type.word == kFrontendPluginType.word) {
    prefix = "ncp-fe-";
  } else {
    const std::string message =
        detail::FillPositional(detail::kUnknownTypeMessage, {shortName, type.word});
    Log(LogLevel::Error, kLogGroupDebug, detail::kUnknownTypeLogFormat, message.c_str());
  }
  PluginNames names;
  names.fullName = std::string(prefix) + std::string(shortName);
  names.shortName = shortName;
  names.typeWord = type.word;
  names.typeSecond = type.second;
  return names;
}

}  // namespace Nalo
