#pragma once
// MaybeType<Failure, T>: a value of T or the Failure that prevented it.
//
// Every fallible operation outside the data layer returns one; operations
// without a value return MaybeType<Failure, void>. Both are [[nodiscard]]:
// dropping a result is a build error. Build a result by returning either
// alternative; test it with HasFailure() before reading either side. Reading
// the alternative that is not there is a bug and ends the process through the
// fatal path with a report saying which read went wrong.
//
//   Nalo::MaybeType<Nalo::Failure, int> ParsePort(std::string_view text) {
//     if (text.empty()) return Nalo::Failure(400, "The port is empty.");
//     return 8080;
//   }
//
//   auto port = ParsePort(text);
//   if (port.HasFailure()) return port.GetFailure();   // propagate in one line
//   Use(port.Value());
//
// OrFatal(why) reads a value whose failure cannot happen, and says why; the
// name is meant to be found by grep:
//
//   int fixed = ParsePort("8080").OrFatal("the text is a constant");
//
// Copying and moving keep the alternative. A moved-from result keeps its
// alternative with a moved-from value.

#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "diagnostics/Failure.h"

namespace Nalo {

namespace detail {
// Fatal reports for reading the wrong alternative; defined in MaybeType.cpp.
[[noreturn]] void FatalValueOfFailure(const Failure& failure) noexcept;
[[noreturn]] void FatalFailureOfValue() noexcept;
[[noreturn]] void FatalUnexpectedFailure(std::string_view why, const Failure& failure) noexcept;
}  // namespace detail

template <typename E, typename T>
class MaybeType;  // defined for E = Failure only

template <typename T>
class [[nodiscard]] MaybeType<Failure, T> {
  static_assert(std::is_object_v<T> && !std::is_array_v<T>,
                "MaybeType holds values, not references or arrays");
  static_assert(!std::is_same_v<std::remove_cv_t<T>, Failure>, "a Failure cannot be the value");

 public:
  using ValueType = T;

  // Holds a value built from `value` (implicit when U converts to T).
  template <typename U = T>
  requires(std::is_constructible_v<T, U&&> && !std::is_same_v<std::remove_cvref_t<U>, MaybeType> &&
           !std::is_same_v<std::remove_cvref_t<U>, Failure> &&
           !std::is_same_v<std::remove_cvref_t<U>,
                           std::in_place_t>) explicit(!std::is_convertible_v<U&&, T>)
      MaybeType(U&& value)  // NOLINT
      : mValue(std::forward<U>(value)), mHasFailure(false) {}
  // Holds a value built in place from `arguments`.
  template <typename... Args>
  explicit MaybeType(std::in_place_t, Args&&... arguments)
      : mValue(std::forward<Args>(arguments)...), mHasFailure(false) {}
  // Holds `failure`.
  MaybeType(Failure failure)  // NOLINT(google-explicit-constructor)
      : mFailure(std::move(failure)), mHasFailure(true) {}

  MaybeType(const MaybeType& other) requires std::is_copy_constructible_v<T>
      : mHasFailure(other.mHasFailure) {
    ConstructFrom(other);
  }
  MaybeType(MaybeType&& other) noexcept(
      std::is_nothrow_move_constructible_v<T>) requires std::is_move_constructible_v<T>
      : mHasFailure(other.mHasFailure) {
    ConstructFrom(std::move(other));
  }
  MaybeType& operator=(const MaybeType& other) requires std::is_copy_constructible_v<T> {
    if (this != &other) {
      MaybeType copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  MaybeType& operator=(MaybeType&& other) noexcept(
      std::is_nothrow_move_constructible_v<T>) requires std::is_move_constructible_v<T> {
    if (this != &other) {
      Destroy();
      mHasFailure = other.mHasFailure;
      ConstructFrom(std::move(other));
    }
    return *this;
  }
  ~MaybeType() { Destroy(); }

  [[nodiscard]] bool HasFailure() const noexcept { return mHasFailure; }
  [[nodiscard]] bool HasValue() const noexcept { return !mHasFailure; }

  // The value; fatal when the result holds a failure.
  [[nodiscard]] T& Value() & {
    CheckValue();
    return mValue;
  }
  [[nodiscard]] const T& Value() const& {
    CheckValue();
    return mValue;
  }
  // Moves the value out; returned by value so that it cannot dangle.
  [[nodiscard]] T Value() && {
    CheckValue();
    return std::move(mValue);
  }

  // The failure; fatal when the result holds a value.
  [[nodiscard]] const Failure& GetFailure() const& {
    CheckFailure();
    return mFailure;
  }
  [[nodiscard]] Failure GetFailure() && {
    CheckFailure();
    return std::move(mFailure);
  }

  // The value, or `fallback` when the result holds a failure.
  template <typename U>
  [[nodiscard]] T ValueOr(U&& fallback) const& {
    return mHasFailure ? static_cast<T>(std::forward<U>(fallback)) : mValue;
  }
  template <typename U>
  [[nodiscard]] T ValueOr(U&& fallback) && {
    return mHasFailure ? static_cast<T>(std::forward<U>(fallback)) : std::move(mValue);
  }

  // The value of a result that cannot hold a failure; `why` says why. A failure
  // ends the process with a report naming `why` and the failure's text.
  [[nodiscard]] T& OrFatal(std::string_view why) & {
    if (mHasFailure) {
      detail::FatalUnexpectedFailure(why, mFailure);
    }
    return mValue;
  }
  [[nodiscard]] T OrFatal(std::string_view why) && {
    if (mHasFailure) {
      detail::FatalUnexpectedFailure(why, mFailure);
    }
    return std::move(mValue);
  }

 private:
  void CheckValue() const {
    if (mHasFailure) {
      detail::FatalValueOfFailure(mFailure);
    }
  }
  void CheckFailure() const {
    if (!mHasFailure) {
      detail::FatalFailureOfValue();
    }
  }
  // Builds the alternative that mHasFailure names from `other`'s.
  template <typename Other>
  void ConstructFrom(Other&& other) {
    if (mHasFailure) {
      std::construct_at(&mFailure, std::forward<Other>(other).mFailure);
    } else {
      std::construct_at(&mValue, std::forward<Other>(other).mValue);
    }
  }
  void Destroy() noexcept {
    if (mHasFailure) {
      std::destroy_at(&mFailure);
    } else {
      std::destroy_at(&mValue);
    }
  }

  // A union and a flag rather than std::variant: GCC's optimiser reports
  // spurious "may be used uninitialized" warnings for variants of class types.
  union {
    T mValue;
    Failure mFailure;
  };
  bool mHasFailure;  // true: mFailure is alive; false: mValue is
};

template <>
class [[nodiscard]] MaybeType<Failure, void> {
 public:
  using ValueType = void;

  // Success.
  MaybeType() = default;
  // Holds `failure`.
  MaybeType(Failure failure)  // NOLINT(google-explicit-constructor)
      : mFailure(std::move(failure)) {}

  [[nodiscard]] bool HasFailure() const noexcept { return mFailure.has_value(); }
  [[nodiscard]] bool HasValue() const noexcept { return !mFailure.has_value(); }

  // The failure; fatal on success.
  [[nodiscard]] const Failure& GetFailure() const& {
    if (!mFailure) {
      detail::FatalFailureOfValue();
    }
    return *mFailure;
  }
  [[nodiscard]] Failure GetFailure() && {
    if (!mFailure) {
      detail::FatalFailureOfValue();
    }
    return std::move(*mFailure);
  }

  // Asserts success; `why` says why a failure cannot happen.
  void OrFatal(std::string_view why) const {
    if (mFailure) {
      detail::FatalUnexpectedFailure(why, *mFailure);
    }
  }

 private:
  std::optional<Failure> mFailure;
};

}  // namespace Nalo
