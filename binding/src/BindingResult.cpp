#include "binding/BindingResult.h"

namespace Nalo {

std::string_view BindingResult::ErrorMessage() const noexcept {
  if (mSucceeded) {
    return {};
  }
  const BindingProperty* error = mValue.Find(kBindingErrorMember);
  return error == nullptr ? std::string_view() : error->StringValue();
}

void BindingResult::Fail(std::string_view message) {
  mValue.Reset();
  mValue.member(kBindingErrorMember).SetString(message);
  mSucceeded = false;
}

}  // namespace Nalo
