// Fuzz target for ParseScenario: any bytes are read as a scenario file. Reading
// must end with a scenario or a refusal (code 400 and a message naming the
// problem), never a crash, a leak or a hang; a scenario has a name and at least
// one step.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "host/scenario/Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto scenario =
      Nalo::Host::ParseScenario(std::string_view(reinterpret_cast<const char*>(data), size));
  if (scenario.HasFailure()) {
    if (scenario.GetFailure().Code() != 400 || scenario.GetFailure().Message().empty()) {
      std::fputs("scenario reader broken: a refusal without code 400 or a message\n", stderr);
      std::abort();
    }
    return 0;
  }
  if (scenario.Value().name.empty() || scenario.Value().steps.empty()) {
    std::fputs("scenario reader broken: a scenario without a name or a step\n", stderr);
    std::abort();
  }
  return 0;
}
