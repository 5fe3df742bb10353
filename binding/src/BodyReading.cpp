#include "binding/BodyReading.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "binding/Json.h"
#include "binding/MessagePack.h"
#include "binding/Yaml.h"

namespace Nalo {

BindingResult ReadTypedBody(std::string_view contentType, std::string_view body) {
  // The longest type compared is 21 bytes; the rest is never read.
  std::string type(contentType.substr(0, 32));
  std::transform(type.begin(), type.end(), type.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (type.starts_with("application/x-yaml") || type.starts_with("text/x-yaml")) {
    return ParseYaml(body);
  }
  if (type.starts_with("application/x-msgpack")) {
    MessagePackParse parsed = ParseMessagePack(body);
    if (parsed.result.Succeeded() && parsed.end != body.size()) {
      return BindingResult::Error("The MessagePack body has bytes after its value.");
    }
    return std::move(parsed.result);
  }
  return ParseJson(body);
}

}  // namespace Nalo
