#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "diagnostics/MaybeType.h"
#include "support/FailureMatchers.h"

namespace Nalo {
namespace {

using testing::Not;
using testing::StartsWith;

MaybeType<Failure, int> ParsePort(std::string_view text) {
  if (text.empty()) {
    return Failure(400, "The port is empty.");
  }
  return static_cast<int>(text.size()) * 1000;
}

MaybeType<Failure, void> Save(bool allowed) {
  if (!allowed) {
    return Failure(403, "Saving is not allowed while {phase}.", {{"phase", "InProgress"}});
  }
  return {};
}

TEST(MaybeType, HoldsEitherAlternative) {
  EXPECT_THAT(ParsePort("80"), HasValue(2000));
  EXPECT_THAT(ParsePort(""), IsFailure(400, "The port is empty."));
  EXPECT_THAT(ParsePort(""), Not(IsFailure(400, "The port is empty")));
  EXPECT_THAT(ParsePort(""), Not(HasValue(testing::_)));
  EXPECT_THAT(ParsePort("80"), Not(IsFailure(400, testing::_)));
  EXPECT_THAT(Save(true), Succeeded());
  EXPECT_THAT(Save(false), IsFailure(403, "Saving is not allowed while InProgress."));
  EXPECT_THAT(Failure(404, "Not found"), IsFailure(404, "Not found"));

  EXPECT_EQ(ParsePort("").ValueOr(-1), -1);
  EXPECT_EQ(ParsePort("8").ValueOr(-1), 1000);
}

TEST(MaybeType, CopyAndMoveKeepTheAlternative) {
  MaybeType<Failure, std::string> value = std::string("text");
  MaybeType<Failure, std::string> failure = Failure(500, "broken");
  MaybeType<Failure, std::string> valueCopy = value;
  MaybeType<Failure, std::string> failureCopy = failure;
  EXPECT_THAT(valueCopy, HasValue("text"));
  EXPECT_THAT(failureCopy, IsFailure(500, "broken"));

  MaybeType<Failure, std::string> moved = std::move(value);
  MaybeType<Failure, std::string> movedFailure = std::move(failure);
  EXPECT_THAT(moved, HasValue(StartsWith("te")));
  EXPECT_THAT(movedFailure, IsFailure(500, "broken"));

  valueCopy = failureCopy;
  EXPECT_TRUE(valueCopy.HasFailure());

  MaybeType<Failure, std::unique_ptr<int>> owned = std::make_unique<int>(7);
  std::unique_ptr<int> taken = std::move(owned).Value();
  EXPECT_EQ(*taken, 7);

  MaybeType<Failure, void> saved = Save(false);
  MaybeType<Failure, void> savedCopy = saved;
  EXPECT_THAT(savedCopy, IsFailure(403, "Saving is not allowed while InProgress."));
  EXPECT_EQ(std::move(savedCopy).GetFailure().GetFields().size(), 1U);
}

TEST(MaybeTypeDeathTest, ReadingTheWrongAlternativeIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(static_cast<void>(ParsePort("").Value()),
               "Expression: MaybeType::Value\\(\\)\n\nDescription: Read the value of a result "
               "that holds the failure: The port is empty. \\(400\\)");
  EXPECT_DEATH(static_cast<void>(ParsePort("1").GetFailure()),
               "Description: Read the failure of a result that holds a value.");
  EXPECT_DEATH(static_cast<void>(Save(true).GetFailure()), "holds a value");
  EXPECT_DEATH(static_cast<void>(ParsePort("").OrFatal("the text is a constant")),
               "Description: A result that cannot fail \\(the text is a constant\\) holds the "
               "failure: The port is empty. \\(400\\)");
  EXPECT_DEATH(Save(false).OrFatal("saving is always allowed here"),
               "saving is always allowed here");
  EXPECT_EQ(ParsePort("12").OrFatal("the text is a constant"), 2000);
}

}  // namespace
}  // namespace Nalo
