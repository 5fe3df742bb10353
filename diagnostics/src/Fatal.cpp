#include "diagnostics/Fatal.h"

#include <cstdlib>

#include "diagnostics/Log.h"
#include "diagnostics/LogManager.h"
#include "diagnostics/SystemError.h"

namespace Nalo {
namespace {

constexpr std::string_view kReportHeading = "Assertion failed!\n\n";
constexpr std::string_view kFileLabel = "File: ";
constexpr std::string_view kLineLabel = "Line: ";
constexpr std::string_view kFunctionLabel = "Function: ";
constexpr std::string_view kExpressionLabel = "Expression: ";
constexpr std::string_view kDescriptionLabel = "\n\nDescription: ";

[[noreturn]] void EndProcess() noexcept {
  LogManager::Instance().FlushAll();
  // Kept in the aborting frame, where a crash dump shows it; volatile so that
  // the compiler keeps the store.
  volatile std::uint32_t lastSystemError = LastSystemError();
  static_cast<void>(lastSystemError);
  std::abort();
}

}  // namespace

std::string FatalReportText(std::string_view expression, std::string_view description,
                            std::string_view file, std::int32_t line, std::string_view function) {
  std::string text(kReportHeading);
  if (!file.empty()) {
    text.append(kFileLabel).append(file).append("\n");
  }
  if (line != 0) {
    text.append(kLineLabel).append(std::to_string(line)).append("\n\n");
  }
  if (!function.empty()) {
    text.append(kFunctionLabel).append(function).append("\n\n");
  }
  if (!expression.empty()) {
    text.append(kExpressionLabel).append(expression);
  }
  if (!description.empty()) {
    text.append(kDescriptionLabel).append(description);
  }
  return text;
}

void ReportFatal(std::string_view expression, std::string_view description, std::string_view file,
                 std::int32_t line, std::string_view function) noexcept {
  const std::string text = FatalReportText(expression, description, file, line, function);
  Log(LogLevel::Error, kLogGroupDebug, "%s", text.c_str());
}

void Fatal(std::string_view code) noexcept {
  ReportFatal(code, "", "", 0, "");
  EndProcess();
}

void FatalWithDescription(std::string_view expression, std::string_view description) noexcept {
  ReportFatal(expression, description, "", 0, "");
  EndProcess();
}

}  // namespace Nalo
