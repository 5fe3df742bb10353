#include "diagnostics/PluginLogTarget.h"

#include <utility>

#include "diagnostics/LogGroup.h"
#include "diagnostics/LogManager.h"

namespace Nalo {

PluginLogTarget::PluginLogTarget(Sink sink) : mSink(std::move(sink)) {}

PluginLogTarget::~PluginLogTarget() {
  Detach();
}

std::string_view PluginLogTarget::GetName() const {
  return kPluginLogTargetName;
}

bool PluginLogTarget::Write(const LogRecord& record) {
  if (mSink) {
    mSink(record.level, record.message);
  }
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
