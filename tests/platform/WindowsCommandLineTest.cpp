#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define NOGDI
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WindowsCommandLine.h"

namespace Nalo {
namespace {

// Splits a command line the way the C runtime's start-up code (and
// CommandLineToArgvW) does: the program name runs to the next space or tab,
// or between double quotes with no escapes; then, in each argument, 2n
// backslashes before a double quote stand for n backslashes and the quote
// opens or closes a quoted part, 2n+1 backslashes before one stand for n
// backslashes and a literal quote, other backslashes are literal, and "" inside
// a quoted part is a literal quote.
std::vector<std::string> ParseCommandLine(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t position = 0;
  std::string program;
  if (!line.empty() && line.front() == '"') {
    const std::size_t close = line.find('"', 1);
    program = std::string(line.substr(1, close - 1));
    position = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    position = std::min(line.find_first_of(" \t"), line.size());
    program = std::string(line.substr(0, position));
  }
  arguments.push_back(program);
  for (;;) {
    while (position < line.size() && (line[position] == ' ' || line[position] == '\t')) {
      ++position;
    }
    if (position == line.size()) {
      return arguments;
    }
    std::string argument;
    bool quoted = false;
    while (position < line.size()) {
      const char character = line[position];
      if (!quoted && (character == ' ' || character == '\t')) {
        break;
      }
      if (character == '\\') {
        std::size_t run = 0;
        while (position < line.size() && line[position] == '\\') {
          ++run;
          ++position;
        }
        if (position < line.size() && line[position] == '"') {
          argument.append(run / 2, '\\');
          if (run % 2 == 1) {
            argument.push_back('"');
            ++position;
          }
        } else {
          argument.append(run, '\\');
        }
      } else if (character == '"') {
        if (quoted && position + 1 < line.size() && line[position + 1] == '"') {
          argument.push_back('"');
          position += 2;
        } else {
          quoted = !quoted;
          ++position;
        }
      } else {
        argument.push_back(character);
        ++position;
      }
    }
    arguments.push_back(std::move(argument));
  }
}

#ifdef _WIN32
// The same split by the system's CommandLineToArgvW, through UTF-16.
std::vector<std::string> SplitBySystem(const std::string& line) {
  const int wideLength = MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, wide.data(), wideLength);
  int count = 0;
  wchar_t** split = CommandLineToArgvW(wide.c_str(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, split[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, split[i], -1, argument.data(), length, nullptr, nullptr);
    argument.pop_back();  // the NUL
    arguments.push_back(std::move(argument));
  }
  LocalFree(split);
  return arguments;
}
#endif

struct LineCase {
  std::string_view name;
  std::string_view executable;
  std::vector<std::string> arguments;
  std::string_view line;
};

const LineCase kLineCases[] = {
    {"path with a space is quoted; an already quoted argument passes unchanged",
     "C:/Games/Tavora Client/Tavora.exe",
     {"-a", "\"x y\""},
     R"("C:/Games/Tavora Client/Tavora.exe" "-a" "x y")"},
    {"path without a space is not quoted", "C:/Games/Tavora.exe", {}, "C:/Games/Tavora.exe"},
    {"path with a tab is quoted", "C:/a\tb.exe", {}, "\"C:/a\tb.exe\""},
    {"plain arguments are quoted",
     "T.exe",
     {"8394", "spectator 1.2.3.4:80 key 7 NA1"},
     R"(T.exe "8394" "spectator 1.2.3.4:80 key 7 NA1")"},
    {"one trailing backslash is doubled", "T.exe", {R"(C:\dir\)"}, R"(T.exe "C:\dir\\")"},
    {"every trailing backslash is doubled", "T.exe", {R"(C:\dir\\)"}, R"(T.exe "C:\dir\\\\")"},
    {"inner backslashes stay single", "T.exe", {R"(a\b\\c)"}, R"(T.exe "a\b\\c")"},
    {"an inner quote is escaped", "T.exe", {R"(a"b)"}, R"(T.exe "a\"b")"},
    {"backslashes before an inner quote are doubled", "T.exe", {R"(a\"b)"}, R"(T.exe "a\\\"b")"},
    {"a lone quote is not taken as already quoted", "T.exe", {"\""}, R"(T.exe "\"")"},
    {"a quote at one end only is escaped", "T.exe", {"\"abc"}, R"(T.exe "\"abc")"},
    {"an empty argument stays an argument", "T.exe", {"", "x"}, R"(T.exe "" "x")"},
};

TEST(WindowsCommandLine, QuotingRules) {
  for (const LineCase& c : kLineCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BuildWindowsCommandLine(c.executable, c.arguments), c.line);
  }
}

// Every argument that is not already quoted reads back exactly as given.
TEST(WindowsCommandLine, ParsesBackToTheArguments) {
  // Whole characters (the last one is two bytes), so that every line is
  // UTF-8 and can also be read back through the system's UTF-16 split.
  constexpr std::string_view kAlphabet[] = {"a",  "b",  " ",  "=",  "\t",
                                            "\"", "\\", "\\", "\"", "\xc3\xa9"};
  constexpr std::string_view kExecutables[] = {"C:/Games/Tavora.exe",
                                               "C:/Games/Tavora Client/Tavora.exe"};
  std::mt19937 random(20261207);
  std::uniform_int_distribution<std::size_t> count(0, 5);
  std::uniform_int_distribution<std::size_t> length(0, 10);
  std::uniform_int_distribution<std::size_t> letter(0, std::size(kAlphabet) - 1);
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::string> arguments(count(random));
    for (std::string& argument : arguments) {
      for (std::size_t size = length(random); argument.size() < size;) {
        argument += kAlphabet[letter(random)];
      }
      if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"') {
        argument.push_back('x');  // already quoted arguments are the caller's business
      }
    }
    const std::string_view executable = kExecutables[round % 2];
    const std::string line = BuildWindowsCommandLine(executable, arguments);
    std::vector<std::string> expected{std::string(executable)};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(ParseCommandLine(line), expected) << "line: " << line;
#ifdef _WIN32
    ASSERT_EQ(SplitBySystem(line), expected) << "line: " << line;
#endif
  }
}

}  // namespace
}  // namespace Nalo
