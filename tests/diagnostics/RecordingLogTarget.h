#pragma once
// A log target that keeps every line it is given, rendered through its format.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/LogLine.h"
#include "diagnostics/LogTarget.h"

namespace Nalo::Testing {

class RecordingLogTarget final : public LogTarget {
 public:
  explicit RecordingLogTarget(std::string_view name = "RecordingLogTarget") : mName(name) {}
  ~RecordingLogTarget() override { Detach(); }
  RecordingLogTarget(const RecordingLogTarget&) = delete;
  RecordingLogTarget& operator=(const RecordingLogTarget&) = delete;
  RecordingLogTarget(RecordingLogTarget&&) = delete;
  RecordingLogTarget& operator=(RecordingLogTarget&&) = delete;

  [[nodiscard]] std::string_view GetName() const override { return mName; }
  bool Write(const LogRecord& record) override {
    char buffer[kLogBufferSize];
    const std::string_view line = FormatLogLine(CurrentFormat(), record, ExecutableName(), buffer);
    std::lock_guard lock(mLinesMutex);
    mLines.emplace_back(line);
    return true;
  }

  [[nodiscard]] std::vector<std::string> Lines() const {
    std::lock_guard lock(mLinesMutex);
    return mLines;
  }

 private:
  std::string mName;
  mutable std::mutex mLinesMutex;
  std::vector<std::string> mLines;
};

}  // namespace Nalo::Testing
