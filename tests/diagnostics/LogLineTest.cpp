#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "diagnostics/LogGroup.h"
#include "diagnostics/LogLine.h"
#include "support/RegexMatchers.h"

namespace Nalo {
namespace {

LogRecord SampleRecord(std::string_view message) {
  return LogRecord{.time = {.year = 2024,
                            .month = 3,
                            .day = 5,
                            .hour = 7,
                            .minute = 8,
                            .second = 9,
                            .millisecond = 12},
                   .level = LogLevel::Warn,
                   .groups = kLogGroupDebug | kLogGroupNetwork,
                   .message = message};
}

std::string Render(std::string_view format, const LogRecord& record) {
  char buffer[kLogBufferSize];
  return std::string(FormatLogLine(format, record, "Tavora.exe", buffer));
}

struct FormatCase {
  std::string_view format;
  std::string_view message;
  std::string_view line;
};

constexpr FormatCase kFormatCases[] = {
    {"#D| #L| #G| #M", "hello", "2024-03-05T07:08:09.012|   WARN| DBG;NET| hello\n"},
    {"#E: #M", "hello", "Tavora.exe: hello\n"},
    // A doubled hash is one hash, so it does not start a code.
    {"##M", "hello", "#M\n"},
    {"#Q#%", "hello", "Q%\n"},
    {"100#", "hello", "100#\n"},
    // The line ends with exactly one newline.
    {"#M", "two\n", "two\n"},
    {"#M\n", "x", "x\n"},
    {"#M", "", "\n"},
    {"", "ignored", "\n"},
};

TEST(LogLine, FormatCodes) {
  for (const FormatCase& testCase : kFormatCases) {
    SCOPED_TRACE(testCase.format);
    EXPECT_EQ(Render(testCase.format, SampleRecord(testCase.message)), testCase.line);
  }
}

TEST(LogLine, LevelAndGroupTexts) {
  struct Case {
    LogLevel level;
    std::uint64_t groups;
    std::string_view line;
  };
  const Case cases[] = {
      {LogLevel::Okay, 0, "  OKAY||\n"},
      {LogLevel::Warn, kLogGroupGeneral, "  WARN|GEN|\n"},
      {LogLevel::Error, kLogGroupTest | kLogGroupDebug | kLogGroupExtra, " ERROR|DBG;XTR;TST|\n"},
      {LogLevel::Always, kLogGroupPerformance | kLogGroupMemory | kLogGroupDisk,
       "ALWAYS|PRF;MEM;DSK|\n"},
      // Bits without a registered code print nothing.
      {static_cast<LogLevel>(7), std::uint64_t{1} << 63, "??????||\n"},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.line);
    LogRecord record = SampleRecord("");
    record.level = testCase.level;
    record.groups = testCase.groups;
    EXPECT_EQ(Render("#L|#G|", record), testCase.line);
  }
}

TEST(LogLine, ElapsedAndThreadCodesHaveTheirShape) {
  const LogRecord record = SampleRecord("m");
  EXPECT_THAT(Render("#H", record), Testing::MatchesPattern("[0-9]{6}\\.[0-9]{3}\n"));
  EXPECT_THAT(Render("#T", record), Testing::MatchesPattern("0x[0-9a-f]+\n"));
}

TEST(LogLine, LongOutputIsCutButKeepsItsNewline) {
  const std::string longMessage(2 * kLogBufferSize, 'a');
  const std::string line = Render("#M#M", SampleRecord(longMessage));
  ASSERT_EQ(line.size(), kLogBufferSize - 1);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find_first_not_of('a'), kLogBufferSize - 2);
}

}  // namespace
}  // namespace Nalo
