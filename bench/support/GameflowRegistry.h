#pragma once
// The gameflow types registered once per process, for the benchmarks that
// convert gameflow records. Header-only, so that bench_support itself does not
// depend on the gameflow model; the programs that include it link it.

#include "binding/BindingTypeRegistry.h"
#include "gameflow/GameflowTypeRegistration.h"
#include "plugin/LcdsClassNames.h"

namespace Nalo::Bench {

// A registry holding the gameflow types, built on first use.
[[nodiscard]] inline const BindingTypeRegistry& GameflowRegistry() {
  struct Registered {
    BindingTypeRegistry registry;
    LcdsClassNames classNames;
    Registered() { Client::Gameflow::RegisterGameflowTypes(registry, classNames); }
  };
  static const Registered registered;
  return registered.registry;
}

}  // namespace Nalo::Bench
