#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define NOGDI
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <cerrno>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "diagnostics/Failure.h"
#include "diagnostics/LogManager.h"
#include "diagnostics/SystemError.h"
#include "tests/diagnostics/RecordingLogTarget.h"

namespace Nalo {
namespace {

struct TemplateCase {
  std::string_view name;
  Failure failure;
  std::string_view message;
};

const TemplateCase kTemplateCases[] = {
    {"text arguments",
     Failure("Error response for {method} {url}", {{"method", "GET"}, {"url", std::string("/a")}}),
     "Error response for GET /a"},
    {"str option",
     Failure("{b:str} {i:str} {u:str} {d:str} {s:str}",
             {{"b", true}, {"i", -5}, {"u", 7U}, {"d", 1.5}, {"s", "t"}}),
     "true -5 7 1.500000 t"},
    {"no option on non-text acts like str",
     Failure("{b} {i} {d}", {{"b", false}, {"i", 42}, {"d", 0.25}}), "false 42 0.250000"},
    {"x option", Failure("{a:x} {b:x} {c:x}", {{"a", 255}, {"b", -1}, {"c", true}}),
     "00000000000000FF FFFFFFFFFFFFFFFF 0000000000000001"},
    {"x on text and double acts like str", Failure("{s:x} {d:x}", {{"s", "id"}, {"d", 2.0}}),
     "id 2.000000"},
    {"unknown option", Failure("{n:wide}", {{"n", 3}}), "3"},
    {"unknown name stays", Failure("No queue {queue} or {}", {{"queueId", 5}}),
     "No queue {queue} or {}"},
    {"type suffix may be left out",
     Failure("{count} {flag} {when}", {{"count_int", 2}, {"flag_bool", true}, {"when_time", 9}}),
     "2 true 9"},
    {"exact name wins over suffix", Failure("{n}", {{"n", "exact"}, {"n_int", 1}}), "exact"},
    {"stray braces stay", Failure("{ {x} }{", {{"x", 1}}), "{ 1 }{"},
    {"later duplicate wins", Failure("{a}", {{"a", 1}, {"a", 2}}), "2"},
};

TEST(Failure, TemplateFilling) {
  for (const TemplateCase& testCase : kTemplateCases) {
    SCOPED_TRACE(testCase.name);
    EXPECT_EQ(testCase.failure.Message(), testCase.message);
    EXPECT_EQ(testCase.failure.Code(), 0U);
  }
}

struct TextCase {
  std::string_view name;
  Failure failure;
  std::string_view text;
};

const TextCase kTextCases[] = {
    {"code", Failure(404, "Not found"), "Not found (404)"},
    {"no code", Failure("Not found"), "Not found"},
    {"no message", Failure(500), ""},
    {"fields as JSON in name order",
     Failure(500, "Error response for {method} {url}: {error}",
             {{"method", "GET"}, {"url", "/x"}, {"error", "timeout"}}),
     R"({"message":"Error response for GET /x: timeout","error":"timeout","method":"GET","url":"/x"})"},
    {"only errorFields_int", Failure(400, "Bad body", {{"errorFields_int", 3}}), "Bad body (400)"},
    {"errorFields_int with another field", Failure("Bad", {{"errorFields_int", 3}, {"a", 1}}),
     R"({"message":"Bad","a":1,"errorFields_int":3})"},
    {"typed JSON values",
     Failure("m", {{"b", true},
                   {"i", -3},
                   {"u", std::numeric_limits<std::uint64_t>::max()},
                   {"d", 0.1},
                   {"e", 1e300},
                   {"s", "q\"\n"}}),
     R"({"message":"m","b":true,"d":0.1,"e":1e300,"i":-3,"s":"q\"\n","u":18446744073709551615})"},
    {"non-finite doubles are null",
     Failure("m", {{"nan", std::nan("")}, {"inf", std::numeric_limits<double>::infinity()}}),
     R"({"message":"m","inf":null,"nan":null})"},
};

TEST(Failure, Text) {
  for (const TextCase& testCase : kTextCases) {
    SCOPED_TRACE(testCase.name);
    EXPECT_EQ(testCase.failure.Text(), testCase.text);
  }
}

TEST(Failure, FromSystemErrors) {
  // ENOENT and ERROR_FILE_NOT_FOUND are both 2.
  const std::string noSuchFile = SystemErrorText(ENOENT);
  const Failure withContext = Failure::FromSystemError(ENOENT, "processSpawnW failed:");
  EXPECT_EQ(withContext.Code(), static_cast<std::uint32_t>(ENOENT));
  EXPECT_EQ(withContext.Message(), "processSpawnW failed:: " + noSuchFile);
  EXPECT_EQ(withContext.Text(), "processSpawnW failed:: " + noSuchFile + " (2)");
  EXPECT_EQ(Failure::FromSystemError(999999, "").Message(), "Failed to get error text");
#ifndef _WIN32
  EXPECT_EQ(noSuchFile, "No such file or directory");
#endif

  // The last error is read, and reading the texts of others does not change it.
#ifdef _WIN32
  SetLastError(ERROR_ACCESS_DENIED);
  const std::uint32_t denied = ERROR_ACCESS_DENIED;
#else
  errno = EACCES;
  const std::uint32_t denied = EACCES;
#endif
  static_cast<void>(SystemErrorText(999999));
  const Failure last = Failure::FromLastSystemError("open");
  EXPECT_EQ(last.Code(), denied);
  EXPECT_EQ(last.Message(), "open: " + SystemErrorText(denied));
}

TEST(Failure, LocatedFailureIsLoggedWhenBuilt) {
  LogManager& manager = LogManager::Instance();
  Testing::RecordingLogTarget target;
  manager.Configure(target, {.minimumLevel = LogLevel::Okay, .format = "#L|#G|#M"});

  const Failure failure =
      Failure::Located("Nalo::Client::Gameflow::GameflowPlugin::GetAndWriteGameLocale",
                       "C:\\src\\gameflow/GameflowLaunch.cpp", 120, "Cannot open locale.cfg");

  constexpr std::string_view kMessage =
      "Nalo::Client::Gameflow::GameflowPlugin::GetAndWriteGameLocale: GameflowLaunch.cpp(120): "
      "Cannot open locale.cfg";
  EXPECT_EQ(failure.Message(), kMessage);
  EXPECT_EQ(failure.Code(), 0U);
  EXPECT_THAT(target.Lines(), testing::ElementsAre(" ERROR|DBG|" + std::string(kMessage) + "\n"));
}

}  // namespace
}  // namespace Nalo
