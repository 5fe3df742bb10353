#pragma once
// BindingResult: what every conversion, parser and the router return.
//
// On success the result holds the produced value. On failure the value is the
// structure {"error": message} and Succeeded() is false. A fresh result is an
// empty value with success.
//
//   Nalo::BindingResult result = Nalo::ParseJson(text);
//   if (!result.Succeeded()) {
//     Log(..., "%s", std::string(result.ErrorMessage()).c_str());
//   }

#include <string_view>
#include <utility>

#include "binding/BindingProperty.h"

namespace Nalo {

class [[nodiscard]] BindingResult {
 public:
  BindingResult() noexcept = default;
  explicit BindingResult(BindingProperty value) noexcept : mValue(std::move(value)) {}

  // A failed result carrying `message`.
  [[nodiscard]] static BindingResult Error(std::string_view message) {
    BindingResult result;
    result.Fail(message);
    return result;
  }

  [[nodiscard]] bool Succeeded() const noexcept { return mSucceeded; }
  [[nodiscard]] bool Failed() const noexcept { return !mSucceeded; }

  // The produced value, or {"error": message} after a failure.
  [[nodiscard]] BindingProperty& Value() noexcept { return mValue; }
  [[nodiscard]] const BindingProperty& Value() const noexcept { return mValue; }

  // The failure message; empty on success.
  [[nodiscard]] std::string_view ErrorMessage() const noexcept;

  // Resets the value, turns it into {"error": message} and clears the flag.
  void Fail(std::string_view message);
  // Resets the value to empty with success.
  void Clear() noexcept {
    mValue.Reset();
    mSucceeded = true;
  }

 private:
  BindingProperty mValue;
  bool mSucceeded = true;
};

inline constexpr std::string_view kBindingErrorMember = "error";

}  // namespace Nalo
