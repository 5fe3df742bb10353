#pragma once
// gmock matchers for Failure values and MaybeType results.
//
//   EXPECT_THAT(ParsePort(""), IsFailure(400, "The port is empty."));
//   EXPECT_THAT(ParsePort("80"), HasValue(80));
//   EXPECT_THAT(Save(), Succeeded());
//
// IsFailure compares the code and the whole message (Failure::Message(), the
// filled-in template); pass a string matcher such as HasSubstr only where the
// message holds a system text. It accepts a Failure or a MaybeType. The
// PrintTo overload below makes gtest print results readably.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo {

template <typename T>
void PrintTo(const MaybeType<Failure, T>& result, std::ostream* stream) {
  if (result.HasFailure()) {
    *stream << "failure " << ::testing::PrintToString(result.GetFailure().Text());
  } else if constexpr (std::is_void_v<T>) {
    *stream << "success";
  } else {
    *stream << "value " << ::testing::PrintToString(result.Value());
  }
}

namespace testing_detail {

class IsFailureMatcher {
 public:
  IsFailureMatcher(std::uint32_t code, ::testing::Matcher<std::string_view> message)
      : mCode(code), mMessage(std::move(message)) {}

  template <typename T>
  bool MatchAndExplain(const MaybeType<Failure, T>& result,
                       ::testing::MatchResultListener* listener) const {
    if (!result.HasFailure()) {
      *listener << "which holds a value";
      return false;
    }
    return MatchAndExplain(result.GetFailure(), listener);
  }

  bool MatchAndExplain(const Failure& failure, ::testing::MatchResultListener* listener) const {
    *listener << "which holds the failure with code " << failure.Code() << " and message "
              << ::testing::PrintToString(std::string(failure.Message()));
    return failure.Code() == mCode && mMessage.Matches(failure.Message());
  }

  void DescribeTo(std::ostream* stream) const {
    *stream << "is a failure with code " << mCode << " and a message that ";
    mMessage.DescribeTo(stream);
  }
  void DescribeNegationTo(std::ostream* stream) const {
    *stream << "is not a failure with code " << mCode << " and a message that ";
    mMessage.DescribeTo(stream);
  }

 private:
  std::uint32_t mCode;
  ::testing::Matcher<std::string_view> mMessage;
};

template <typename Result>
class HasValueMatcherImpl : public ::testing::MatcherInterface<Result> {
  using Maybe = std::remove_cvref_t<Result>;
  using Value = typename Maybe::ValueType;

 public:
  template <typename InnerMatcher>
  explicit HasValueMatcherImpl(const InnerMatcher& inner)
      : mInner(::testing::SafeMatcherCast<const Value&>(inner)) {}

  bool MatchAndExplain(Result result, ::testing::MatchResultListener* listener) const override {
    if (result.HasFailure()) {
      *listener << "which holds the failure "
                << ::testing::PrintToString(result.GetFailure().Text());
      return false;
    }
    return mInner.MatchAndExplain(result.Value(), listener);
  }
  void DescribeTo(std::ostream* stream) const override {
    *stream << "holds a value that ";
    mInner.DescribeTo(stream);
  }
  void DescribeNegationTo(std::ostream* stream) const override {
    *stream << "does not hold a value that ";
    mInner.DescribeTo(stream);
  }

 private:
  ::testing::Matcher<const Value&> mInner;
};

template <typename InnerMatcher>
class HasValueMatcher {
 public:
  explicit HasValueMatcher(InnerMatcher inner) : mInner(std::move(inner)) {}

  template <typename Result>
  operator ::testing::Matcher<Result>() const {  // NOLINT(google-explicit-constructor)
    return ::testing::Matcher<Result>(new HasValueMatcherImpl<const Result&>(mInner));
  }

 private:
  InnerMatcher mInner;
};

class SucceededMatcher {
 public:
  template <typename T>
  bool MatchAndExplain(const MaybeType<Failure, T>& result,
                       ::testing::MatchResultListener* listener) const {
    if (result.HasFailure()) {
      *listener << "which holds the failure "
                << ::testing::PrintToString(result.GetFailure().Text());
      return false;
    }
    return true;
  }
  void DescribeTo(std::ostream* stream) const { *stream << "succeeded"; }
  void DescribeNegationTo(std::ostream* stream) const { *stream << "holds a failure"; }
};

}  // namespace testing_detail

// Matches a Failure, or a MaybeType holding one, whose code is `code` and whose
// message matches `message` (a text compares the whole message).
inline ::testing::PolymorphicMatcher<testing_detail::IsFailureMatcher> IsFailure(
    std::uint32_t code, ::testing::Matcher<std::string_view> message) {
  return ::testing::MakePolymorphicMatcher(
      testing_detail::IsFailureMatcher(code, std::move(message)));
}

// Matches a MaybeType holding a value that matches `inner` (a value or a
// matcher).
template <typename InnerMatcher>
testing_detail::HasValueMatcher<InnerMatcher> HasValue(InnerMatcher inner) {
  return testing_detail::HasValueMatcher<InnerMatcher>(std::move(inner));
}

// Matches a MaybeType (of any T, void included) that holds no failure.
inline ::testing::PolymorphicMatcher<testing_detail::SucceededMatcher> Succeeded() {
  return ::testing::MakePolymorphicMatcher(testing_detail::SucceededMatcher());
}

}  // namespace Nalo
