#pragma once
// Fatal: ends the process when no sound way to continue is left.
//
// Each fatal site passes a fixed code "ALE-" plus eight upper-case hexadecimal
// digits, owned by the module that raises it, so that a report identifies its
// site without a source path. The report is logged at ERROR in group "DBG" and
// the process ends with abort(): no unwinding, no shutdown code. Use this only
// when carrying on would leave the plugin disagreeing with the host or the
// platform; everything else is a Failure.
//
//   inline constexpr std::string_view kIncompatibleCoreFatal = "ALE-EECF0606";
//   if (!compatible) Nalo::Fatal(kIncompatibleCoreFatal);

#include <cstdint>
#include <string>
#include <string_view>

namespace Nalo {

// Builds the report text:
//   "Assertion failed!\n\n"
//   "File: <file>\n"             only when file is not empty
//   "Line: <line>\n\n"           only when line is not 0 (negative keeps its sign)
//   "Function: <function>\n\n"   only when function is not empty
//   "Expression: <expression>"   only when expression is not empty
//   "\n\nDescription: <description>"  only when description is not empty
[[nodiscard]] std::string FatalReportText(std::string_view expression, std::string_view description,
                                          std::string_view file, std::int32_t line,
                                          std::string_view function);

// Logs the report text at ERROR in group "DBG" through LogManager::Instance().
// Never fails; the report may be dropped when no target takes it.
void ReportFatal(std::string_view expression, std::string_view description, std::string_view file,
                 std::int32_t line, std::string_view function) noexcept;

// Reports `code` (ReportFatal(code, "", "", 0, "")), flushes the log targets and
// aborts. The calling thread's last system error is kept in the aborting frame
// for crash dumps. Never returns, even when the report is dropped.
[[noreturn]] void Fatal(std::string_view code) noexcept;

// Reports with a description and aborts; for internal "cannot happen" checks
// whose report should say why (MaybeType uses it when the wrong alternative is
// read).
[[noreturn]] void FatalWithDescription(std::string_view expression,
                                       std::string_view description) noexcept;

}  // namespace Nalo
