#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "diagnostics/Fatal.h"
#include "diagnostics/LogManager.h"
#include "diagnostics/SystemError.h"

namespace Nalo {
namespace {

struct ReportCase {
  std::string_view name;
  std::string_view expression, description, file;
  std::int32_t line;
  std::string_view function;
  std::string_view text;
};

constexpr ReportCase kReportCases[] = {
    {"fatal site", "ALE-EECF0606", "", "", 0, "", "Assertion failed!\n\nExpression: ALE-EECF0606"},
    {"nothing but the heading", "", "", "", 0, "", "Assertion failed!\n\n"},
    {"every part", "x > 0", "x must be positive", "Launch.cpp", 42, "Launch",
     "Assertion failed!\n\nFile: Launch.cpp\nLine: 42\n\nFunction: Launch\n\n"
     "Expression: x > 0\n\nDescription: x must be positive"},
    {"negative line", "", "", "", -7, "", "Assertion failed!\n\nLine: -7\n\n"},
    {"description without expression", "", "why", "", 0, "",
     "Assertion failed!\n\n\n\nDescription: why"},
};

TEST(Fatal, ReportText) {
  for (const ReportCase& testCase : kReportCases) {
    SCOPED_TRACE(testCase.name);
    EXPECT_EQ(FatalReportText(testCase.expression, testCase.description, testCase.file,
                              testCase.line, testCase.function),
              testCase.text);
  }
}

TEST(FatalDeathTest, ReportsTheCodeAndAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(Fatal("ALE-EECF0606"), "Assertion failed!\n\nExpression: ALE-EECF0606\n");
}

TEST(FatalDeathTest, EndsTheProcessEvenWhenNoTargetTakesTheReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        LogManager::Instance().StdErrTarget().Detach();
        Fatal("ALE-6D828C10");
      },
      "");
}

TEST(SystemError, Text) {
  // The system's own text; the POSIX one is known word for word.
  const std::string noSuchFile = SystemErrorText(ENOENT);
#ifndef _WIN32
  EXPECT_EQ(noSuchFile, "No such file or directory");
  EXPECT_EQ(SystemErrorText(EACCES), "Permission denied");
#endif
  ASSERT_GT(noSuchFile.size(), 5u);
  struct Case {
    std::uint32_t code;
    std::size_t size;
    std::string text;
  };
  const Case cases[] = {
      {ENOENT, 256, noSuchFile},
      {ENOENT, 6, noSuchFile.substr(0, 5)},
      {999999, 256, "Failed to get error text"},
      {999999, 5, "Fail"},
      {999999, 1, ""},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testing::Message() << testCase.code << " into " << testCase.size);
    std::string buffer(testCase.size, '#');
    EXPECT_EQ(SystemErrorText(testCase.code, buffer.data(), buffer.size()), buffer.data());
    EXPECT_EQ(std::string(buffer.c_str()), testCase.text);
  }
}

}  // namespace
}  // namespace Nalo
