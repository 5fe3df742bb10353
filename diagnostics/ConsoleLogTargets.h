#pragma once
// The console log targets: standard error, standard output and the debugger.
//
// Each renders a record through its line format (LogLine.h) and writes the
// line. The log manager owns one of each; at its creation the standard-error
// and debugger targets are attached and the standard-output target is not.
//
//   target          | default format   | include | exclude
//   StdErr          | "#E(#T): #L| #M" | DBG     | GEN
//   StdOut          | "#M"             | GEN     | DBG
//   DebuggerConsole | "#E(#T): #L| #M" | DBG     | -
//
// On POSIX systems there is no debugger console service: the debugger target
// keeps its level, masks and format and renders each line, but writes it
// nowhere.

#include <atomic>
#include <string_view>

#include "diagnostics/LogTarget.h"

namespace Nalo {

inline constexpr std::string_view kConsoleLogLineFormat = "#E(#T): #L| #M";
inline constexpr std::string_view kStdOutLogLineFormat = "#M";

// Renders the record and passes the line to WriteLine.
class BaseConsoleLogTarget : public LogTarget {
 public:
  [[nodiscard]] std::string_view GetName() const override;
  bool Write(const LogRecord& record) final;

 protected:
  BaseConsoleLogTarget() = default;
  // Writes one rendered line (newline included). Returns false on failure.
  virtual bool WriteLine(std::string_view line) = 0;
};

class StdErrLogTarget final : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override;
  StdErrLogTarget(const StdErrLogTarget&) = delete;
  StdErrLogTarget& operator=(const StdErrLogTarget&) = delete;
  StdErrLogTarget(StdErrLogTarget&&) = delete;
  StdErrLogTarget& operator=(StdErrLogTarget&&) = delete;

  [[nodiscard]] std::string_view GetName() const override;
  void Flush() override;

 private:
  bool WriteLine(std::string_view line) override;
};

// Whether the standard-output target flushes after every line.
enum class StdOutFlush { Buffered, EachLine };

class StdOutLogTarget final : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override;
  StdOutLogTarget(const StdOutLogTarget&) = delete;
  StdOutLogTarget& operator=(const StdOutLogTarget&) = delete;
  StdOutLogTarget(StdOutLogTarget&&) = delete;
  StdOutLogTarget& operator=(StdOutLogTarget&&) = delete;

  [[nodiscard]] std::string_view GetName() const override;
  void Flush() override;
  // Buffered by default.
  void SetFlush(StdOutFlush flush);

 private:
  bool WriteLine(std::string_view line) override;

  std::atomic<StdOutFlush> mFlush{StdOutFlush::Buffered};
};

class DebuggerConsoleLogTarget final : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override;
  DebuggerConsoleLogTarget(const DebuggerConsoleLogTarget&) = delete;
  DebuggerConsoleLogTarget& operator=(const DebuggerConsoleLogTarget&) = delete;
  DebuggerConsoleLogTarget(DebuggerConsoleLogTarget&&) = delete;
  DebuggerConsoleLogTarget& operator=(DebuggerConsoleLogTarget&&) = delete;

  [[nodiscard]] std::string_view GetName() const override;

 private:
  bool WriteLine(std::string_view line) override;
};

}  // namespace Nalo
