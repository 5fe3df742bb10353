#include "diagnostics/PluginLogTarget.h"

#include <array>
#include <atomic>
#include <utility>

#include "diagnostics/LogGroup.h"
#include "diagnostics/LogLine.h"
#include "diagnostics/LogManager.h"

namespace Nalo {

PluginLogTarget::PluginLogTarget(Sink sink) : mSink(std::move(sink)) {}

PluginLogTarget::~PluginLogTarget() {
  Detach();
}

std::string_view PluginLogTarget::GetName() const {
  return kPluginLogTargetName;
}

namespace {
std::atomic<bool> gPassesGroups{false};
}  // namespace

void SetPluginLogTargetPassesGroups(bool on) noexcept {
  gPassesGroups.store(on, std::memory_order_relaxed);
}

bool PluginLogTarget::Write(const LogRecord& record) {
  if (!mSink) {
    return true;
  }
  if (!gPassesGroups.load(std::memory_order_relaxed)) {
    mSink(record.level, record.message);
    return true;
  }
  // Not cleared: FormatLogLine writes the line and its NUL.
  std::array<char, kLogBufferSize> buffer;  // NOLINT(cppcoreguidelines-pro-type-member-init)
  std::string_view line = FormatLogLine("#G| #M", record, {}, buffer);
  if (line.ends_with('\n')) {
    // The sink takes a message, which ends without the line's newline.
    buffer[line.size() - 1] = '\0';
    line.remove_suffix(1);
  }
  mSink(record.level, line);
  return true;
}

std::unique_ptr<PluginLogTarget> InstallPluginLogTarget(PluginLogTarget::Sink sink,
                                                        LogManager& manager) {
  if (manager.FindTarget(kPluginLogTargetName) != nullptr) {
    return nullptr;
  }
  manager.StdOutTarget().Detach();
  manager.StdErrTarget().Detach();
  manager.DebuggerTarget().Detach();
  manager.SetMinimumLevel(LogLevel::Okay);
  manager.SetExcludedGroups(kLogGroupExtra);
  auto target = std::make_unique<PluginLogTarget>(std::move(sink));
  manager.Configure(*target, LogTargetConfig{.minimumLevel = manager.GetMinimumLevel(),
                                             .includeGroups = 0,
                                             .excludeGroups = 0,
                                             .format = kDefaultLogLineFormat});
  return target;
}

std::unique_ptr<PluginLogTarget> InstallPluginLogTarget(PluginLogTarget::Sink sink) {
  return InstallPluginLogTarget(std::move(sink), LogManager::Instance());
}

}  // namespace Nalo
