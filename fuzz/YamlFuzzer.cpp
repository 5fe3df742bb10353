// Fuzz target for ParseYaml: any bytes are read as YAML text. Parsing must
// end with a value or a message, never a crash, a leak or a hang (aliases
// can't expand without bound), and a value must respect the nesting limit.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "binding/BindingLimits.h"
#include "binding/BindingResult.h"
#include "binding/Yaml.h"

namespace {

// Container levels of `value` (0 for a scalar).
std::size_t Depth(const Nalo::BindingProperty& value) {
  std::size_t deepest = 0;
  for (const Nalo::BindingProperty& element : value.Elements()) {
    const std::size_t depth = Depth(element);
    deepest = depth > deepest ? depth : deepest;
  }
  for (const auto member : value.Members()) {
    const std::size_t depth = Depth(member.value);
    deepest = depth > deepest ? depth : deepest;
  }
  const bool isContainer =
      value.Kind() == Nalo::BindingKind::Collection || value.Kind() == Nalo::BindingKind::Structure;
  return deepest + (isContainer ? 1 : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Nalo::BindingResult parsed =
      Nalo::ParseYaml(std::string_view(reinterpret_cast<const char*>(data), size));
  if (parsed.Failed()) {
    if (parsed.ErrorMessage().empty()) {
      std::fputs("YAML reader broken: a failure without a message\n", stderr);
      std::abort();
    }
    return 0;
  }
  if (Depth(parsed.Value()) > Nalo::kMaxNestingDepth) {
    std::fputs("YAML reader broken: a value nested past the limit\n", stderr);
    std::abort();
  }
  return 0;
}
