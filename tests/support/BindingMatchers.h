#pragma once
// gmock matchers for BindingResult.
//
//   EXPECT_THAT(FromProperty(port, input, "port"), IsBindingError("A value for 'port' is
//   required.")); EXPECT_THAT(ToProperty(queue), BindingSucceeded());
//
// IsBindingError compares the whole message; both print the result's state
// when they don't match.

#include <gmock/gmock.h>

#include <string>
#include <string_view>

#include "binding/BindingResult.h"

namespace Nalo {

MATCHER_P(IsBindingError, message,
          std::string("is a failed binding result with message \"") + std::string(message) + "\"") {
  if (arg.Succeeded()) {
    *result_listener << "which succeeded";
    return false;
  }
  *result_listener << "which failed with \"" << arg.ErrorMessage() << "\"";
  return arg.ErrorMessage() == std::string_view(message);
}

MATCHER(BindingSucceeded, "is a successful binding result") {
  if (arg.Failed()) {
    *result_listener << "which failed with \"" << arg.ErrorMessage() << "\"";
    return false;
  }
  return true;
}

}  // namespace Nalo
