#include "routing/CallResult.h"

#include <utility>

namespace Nalo {

BindingProperty CallResult::ValueTree() const {
  if (!value.IsEmpty()) {
    return value;
  }
  // A value the handler's own conversion wrote always reads back.
  BindingResult read = FromHostValue(written.Record(), "result");
  return read.Succeeded() ? std::move(read.Value()) : BindingProperty();
}

}  // namespace Nalo
