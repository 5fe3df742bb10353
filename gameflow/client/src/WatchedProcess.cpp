#include "gameflow/client/src/WatchedProcess.h"

#include <chrono>
#include <utility>

#include "binding/BindingConvert.h"
#include "diagnostics/Log.h"
#include "gameflow/GameflowWireNames.h"
#include "gameflow/ProcessRecord.h"
#include "gameflow/client/ClientFiles.h"
#include "gameflow/client/src/PeerValue.h"

namespace Nalo::Client::Gameflow {

namespace {

constexpr double kMonitorPeriodSeconds = 0.1;

}  // namespace

std::optional<Api::GameflowProcessInfo> WatchedProcess::Record() {
  auto stored = mPeers->Get(kProcessRecordPath);
  if (stored.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to get process info: %s",
        stored.GetFailure().Text().c_str());
    return std::nullopt;
  }
  if (stored.Value().Kind() != BindingKind::Structure) {
    return std::nullopt;
  }
  auto info = detail::Convert<Api::GameflowProcessInfo>(stored.Value(), mPeers->Types());
  if (info.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to get process info: %s",
        info.GetFailure().Text().c_str());
    return std::nullopt;
  }
  return std::move(info).Value();
}

void WatchedProcess::SetRecord(const std::optional<Api::GameflowProcessInfo>& info) {
  BindingProperty body;
  if (info.has_value()) {
    BindingResult converted = ToProperty(*info, mPeers->Types());
    if (converted.Failed()) {
      Log(LogLevel::Error, kLogGroupDebug, "Failed to set process info: %s",
          std::string(converted.ErrorMessage()).c_str());
      return;
    }
    body = converted.Value();
  }
  auto posted = mPeers->Post(kProcessRecordPath, &body);
  if (posted.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to set process info: %s",
        posted.GetFailure().Text().c_str());
  }
}

bool WatchedProcess::IsRunningGameClient(std::uint32_t pid) {
  if (mProcesses->WaitForProcess(pid, std::chrono::milliseconds(0)) !=
      ProcessWaitOutcome::StillRunning) {
    return false;
  }
  // After a reboot or pid reuse a recorded pid may belong to another program.
  const std::optional<std::string> name = mProcesses->ExecutableFileName(pid);
  return name.has_value() && *name == kGameClientExecutable;
}

MaybeType<Failure, std::uint32_t> WatchedProcess::FindRunning(
    const std::vector<std::string>& args) {
  const std::optional<Api::GameflowProcessInfo> info = Record();
  if (!info.has_value()) {
    return Failure(404, "No game client process is recorded.");
  }
  const std::uint32_t pid = info->pid;
  if (!IsRunningGameClient(pid)) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Did not find running process, pid: \"%u\"", pid);
    return Failure(404, "The recorded game client is not running.");
  }
  if (args.empty() || info->rawArgs == args) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Found running process, pid: \"%u\"", pid);
    return pid;
  }
  Log(LogLevel::Okay, kLogGroupGeneral,
      "Running process, pid: \"%u\", did not have the same player creds", pid);
  Log(LogLevel::Okay, kLogGroupGeneral, "Did not find running process, pid: \"%u\"", pid);
  return Failure(404, "The recorded game client runs another game.");
}

void WatchedProcess::WatchWindow(std::uint32_t pid) {
  mWindowPid = pid;
  mPeers->SetTimer(Wire::kWindowTimer, kMonitorPeriodSeconds, [this] {
    if (!mWindowPid.has_value()) {
      mPeers->RemoveTimer(Wire::kWindowTimer);
      return;
    }
    if (mProcesses->WindowOfProcess(*mWindowPid) == ProcessWindowState::Foreground) {
      mGameflow.model.MarkGameClientVisible();
      mWindowPid.reset();
      mPeers->RemoveTimer(Wire::kWindowTimer);
    }
  });
}

void WatchedProcess::WatchExit(std::string_view mode, std::uint32_t pid,
                               const std::function<void()>& exitAction) {
  static_cast<void>(mPeers->Post(Wire::kUxMinimizePath, nullptr));
  const std::string timer = std::string(Wire::kMonitorTimerPrefix) + std::string(mode);
  mPeers->SetTimer(timer, kMonitorPeriodSeconds, [this, timer, pid, exitAction] {
    if (mProcesses->WaitForProcess(pid, std::chrono::milliseconds(1)) ==
        ProcessWaitOutcome::StillRunning) {
      return;
    }
    Log(LogLevel::Always, kLogGroupDebug, "Client is no longer running.");
    // The callable is destroyed with the timer: keep what runs after.
    const std::function<void()> action = exitAction;
    mPeers->RemoveTimer(timer);
    // A window that never came up belongs to no process any more.
    if (mWindowPid == pid) {
      mWindowPid.reset();
      mPeers->RemoveTimer(Wire::kWindowTimer);
    }
    SetRecord(std::nullopt);
    static_cast<void>(mPeers->Post(Wire::kUxShowPath, nullptr));
    action();
    mGameflow.gate.DetectCorruption();
  });
}

}  // namespace Nalo::Client::Gameflow
