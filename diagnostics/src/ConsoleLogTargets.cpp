#include "diagnostics/ConsoleLogTargets.h"

#include <cstdio>

#include "diagnostics/LogGroup.h"
#include "diagnostics/LogLine.h"
#include "platform/Platform.h"

namespace Nalo {
namespace {

constexpr std::string_view kBaseConsoleName = "BaseConsoleLogTarget";
constexpr std::string_view kStdErrName = "StdErrLogTarget";
constexpr std::string_view kStdOutName = "StdOutLogTarget";
constexpr std::string_view kDebuggerName = "DebuggerConsoleLogTarget";

bool WriteToStream(std::FILE* stream, std::string_view line) noexcept {
  return std::fwrite(line.data(), 1, line.size(), stream) == line.size();
}

}  // namespace

std::string_view BaseConsoleLogTarget::GetName() const {
  return kBaseConsoleName;
}

bool BaseConsoleLogTarget::Write(const LogRecord& record) {
  char buffer[kLogBufferSize];
  return WriteLine(FormatLogLine(CurrentFormat(), record, ExecutableName(), buffer));
}

StdErrLogTarget::StdErrLogTarget() {
  SetFormat(kConsoleLogLineFormat);
  SetMasks(kLogGroupDebug, kLogGroupGeneral);
}

StdErrLogTarget::~StdErrLogTarget() {
  Detach();
}

std::string_view StdErrLogTarget::GetName() const {
  return kStdErrName;
}

void StdErrLogTarget::Flush() {
  std::fflush(stderr);
}

bool StdErrLogTarget::WriteLine(std::string_view line) {
  return WriteToStream(stderr, line);
}

StdOutLogTarget::StdOutLogTarget() {
  SetFormat(kStdOutLogLineFormat);
  SetMasks(kLogGroupGeneral, kLogGroupDebug);
}

StdOutLogTarget::~StdOutLogTarget() {
  Detach();
}

std::string_view StdOutLogTarget::GetName() const {
  return kStdOutName;
}

void StdOutLogTarget::Flush() {
  std::fflush(stdout);
}

void StdOutLogTarget::SetFlush(StdOutFlush flush) {
  mFlush.store(flush);
}

bool StdOutLogTarget::WriteLine(std::string_view line) {
  const bool written = WriteToStream(stdout, line);
  if (mFlush.load() == StdOutFlush::EachLine) {
    std::fflush(stdout);
  }
  return written;
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() {
  SetFormat(kConsoleLogLineFormat);
  SetMasks(kLogGroupDebug, 0);
}

DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() {
  Detach();
}

std::string_view DebuggerConsoleLogTarget::GetName() const {
  return kDebuggerName;
}

bool DebuggerConsoleLogTarget::WriteLine(std::string_view line) {
  // The line is NUL-terminated by FormatLogLine.
  detail::Platform::WriteToDebugger(line.data());
  return true;
}

}  // namespace Nalo
