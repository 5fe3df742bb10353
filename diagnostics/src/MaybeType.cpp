#include "diagnostics/MaybeType.h"

#include <string>

#include "diagnostics/Fatal.h"

namespace Nalo::detail {
namespace {

constexpr std::string_view kValueExpression = "MaybeType::Value()";
constexpr std::string_view kFailureExpression = "MaybeType::GetFailure()";
constexpr std::string_view kOrFatalExpression = "MaybeType::OrFatal()";
constexpr std::string_view kValueOfFailure = "Read the value of a result that holds the failure: ";
constexpr std::string_view kFailureOfValue = "Read the failure of a result that holds a value.";
constexpr std::string_view kUnexpectedFailureBefore = "A result that cannot fail (";
constexpr std::string_view kUnexpectedFailureAfter = ") holds the failure: ";

}  // namespace

void FatalValueOfFailure(const Failure& failure) noexcept {
  FatalWithDescription(kValueExpression, std::string(kValueOfFailure) + failure.Text());
}

void FatalFailureOfValue() noexcept {
  FatalWithDescription(kFailureExpression, kFailureOfValue);
}

void FatalUnexpectedFailure(std::string_view why, const Failure& failure) noexcept {
  std::string description(kUnexpectedFailureBefore);
  description.append(why).append(kUnexpectedFailureAfter).append(failure.Text());
  FatalWithDescription(kOrFatalExpression, description);
}

}  // namespace Nalo::detail
