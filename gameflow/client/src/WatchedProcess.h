#pragma once
// WatchedProcess: the game client the gameflow started, as the data store
// records it (its pid and the arguments it was given, so that a restarted
// plugin finds it still running), and the two timers that watch it: one for
// its end, one for its window coming to the front.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "gameflow/Api/GameflowProcessInfo.h"
#include "gameflow/client/GameClientOwner.h"
#include "gameflow/client/GameClientPeers.h"
#include "platform/ProcessSystem.h"

namespace Nalo::Client::Gameflow {

class WatchedProcess {
 public:
  // All three must outlive the object.
  WatchedProcess(ProcessSystem& processes, const GameClientContext& gameflow,
                 GameClientPeers& peers) noexcept
      : mProcesses(&processes), mGameflow(gameflow), mPeers(&peers) {}
  // The timers call back into the object.
  WatchedProcess(const WatchedProcess&) = delete;
  WatchedProcess& operator=(const WatchedProcess&) = delete;
  WatchedProcess(WatchedProcess&&) = delete;
  WatchedProcess& operator=(WatchedProcess&&) = delete;
  ~WatchedProcess() = default;

  // The record in the data store; nothing when there is none or it can't be read.
  [[nodiscard]] std::optional<Api::GameflowProcessInfo> Record();
  // Stores `info` as the record; nothing clears the record.
  void SetRecord(const std::optional<Api::GameflowProcessInfo>& info);

  // Whether `pid` still runs the game client's executable.
  [[nodiscard]] bool IsRunningGameClient(std::uint32_t pid);
  // The recorded client's pid when it runs with `args` (any, when empty).
  [[nodiscard]] MaybeType<Failure, std::uint32_t> FindRunning(const std::vector<std::string>& args);

  // Marks the client visible once the window of `pid` is in front.
  void WatchWindow(std::uint32_t pid);
  // Minimizes the host and looks every 100 ms whether `pid` ended; then clears
  // the record, shows the host, runs `exitAction` and checks for corruption.
  // `mode` names the timer ("game", "spectator", "watch").
  void WatchExit(std::string_view mode, std::uint32_t pid, const std::function<void()>& exitAction);

 private:
  ProcessSystem* mProcesses;
  GameClientContext mGameflow;
  GameClientPeers* mPeers;
  // The pid whose window the visibility check looks for.
  std::optional<std::uint32_t> mWindowPid;
};

}  // namespace Nalo::Client::Gameflow
