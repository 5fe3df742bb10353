#pragma once
// One registry with the whole gameflow model registered, shared by the tests
// of this folder (registration is meant to happen once per process).

#include "binding/BindingTypeRegistry.h"
#include "gameflow/GameflowTypeRegistration.h"
#include "plugin/LcdsClassNames.h"

namespace Nalo::Client::Gameflow::Testing {

struct RegisteredModel {
  BindingTypeRegistry registry;
  LcdsClassNames classNames;

  RegisteredModel() { RegisterGameflowTypes(registry, classNames); }
};

// Lives until the process ends, like the registry it stands in for: values
// converted in a test keep pointers to its descriptors.
inline RegisteredModel& Model() {
  static RegisteredModel* const model = new RegisteredModel;
  return *model;
}

inline const BindingTypeRegistry& Registry() {
  return Model().registry;
}

}  // namespace Nalo::Client::Gameflow::Testing
