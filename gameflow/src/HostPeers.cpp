#include "gameflow/src/HostPeers.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "diagnostics/Log.h"
#include "gameflow/GameflowWireNames.h"

namespace Nalo::Client::Gameflow::detail {

using namespace Wire;

namespace {

// The patcher and the data store, reached through the core.
class HostPatcherPeers final : public PatcherPeers {
 public:
  explicit HostPatcherPeers(AppModule& module) : mModule(&module) {}

  MaybeType<Failure, Api::PatcherProductState> ProductState() override {
    return RequestValue<Api::PatcherProductState>(*mModule, RequestMethod::Get, kPatcherStatePath);
  }
  MaybeType<Failure, void> StopChecking() override {
    return mModule->Request(RequestMethod::Post, kStopCheckingPath);
  }
  MaybeType<Failure, void> StartChecking() override {
    return mModule->Request(RequestMethod::Post, kStartCheckingPath);
  }
  MaybeType<Failure, void> StoreLock(std::uint64_t expiry) override {
    return mModule->Request(RequestMethod::Post, kPatcherLockPath, expiry);
  }
  MaybeType<Failure, void> ClearStoredLock() override {
    return mModule->Request(RequestMethod::Post, kPatcherLockPath, std::string());
  }
  MaybeType<Failure, BindingProperty> StoredLock() override {
    return mModule->Request<BindingProperty>(RequestMethod::Get, kPatcherLockPath);
  }
  MaybeType<Failure, Api::PatcherProductState> DetectCorruption() override {
    return RequestValue<Api::PatcherProductState>(*mModule, RequestMethod::Post,
                                                  kDetectCorruptionPath);
  }
  MaybeType<Failure, void> RequestPartialRepair() override {
    return mModule->Request(RequestMethod::Post, kPartialRepairPath);
  }
  MaybeType<Failure, void> StartPatching() override {
    return mModule->Request(RequestMethod::Post, kStartPatchingPath);
  }

 private:
  AppModule* mModule;
};

// The other plugins and the core's timers, as the game client launcher uses them.
class HostLauncherPeers final : public GameClientPeers {
 public:
  explicit HostLauncherPeers(AppModule& module) : mModule(&module) {}

  const BindingTypeRegistry& Types() const override { return mModule->Registry(); }
  MaybeType<Failure, BindingProperty> Get(std::string_view path) override {
    return mModule->Request<BindingProperty>(RequestMethod::Get, path);
  }
  MaybeType<Failure, void> Post(std::string_view path, const BindingProperty* body) override {
    if (body == nullptr) {
      return mModule->Request(RequestMethod::Post, path);
    }
    return mModule->Request(RequestMethod::Post, path, *body);
  }
  MaybeType<Failure, void> SetGameMessage(std::uint64_t gameId, std::string_view message) override {
    return Lcds(kSetClientReceivedGameMessage, gameId, message);
  }
  MaybeType<Failure, void> SetVestoMessage(std::uint64_t gameId,
                                           std::string_view message) override {
    return Lcds(kSetClientReceivedVestoMessage, gameId, message);
  }
  MaybeType<Failure, LCDS::ReconnectInfoDto> RetrieveInProgressGame() override {
    return mModule->Await(
        mModule->LcdsInvoke<LCDS::ReconnectInfoDto>(kGameService, kRetrieveInProgressGameInfo));
  }
  MaybeType<Failure, BindingProperty> RetrieveSpectatorGame(
      const std::optional<std::string>& summonerName) override {
    if (!summonerName.has_value()) {
      return mModule->Await(
          mModule->LcdsInvoke<BindingProperty>(kGameService, kRetrieveInProgressGameInfo));
    }
    return mModule->Await(mModule->LcdsInvoke<BindingProperty>(
        kGameService, kRetrieveInProgressSpectatorGameInfo, *summonerName));
  }
  MaybeType<Failure, LCDS::GameDto> CreateTutorialGame(std::int32_t kind) override {
    return mModule->Await(
        mModule->LcdsInvoke<LCDS::GameDto>(kGameService, kCreateTutorialGame, kind));
  }
  void Publish(std::string_view path, const BindingProperty* value) override {
    auto published =
        value != nullptr ? mModule->Publish(path, *value) : mModule->PublishDeletion(path);
    if (published.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug, "Couldn't publish %.*s: %s",
          static_cast<int>(path.size()), path.data(), published.GetFailure().Text().c_str());
    }
  }
  bool PostTask(std::string_view name, double seconds, std::function<void()> action) override {
    return mModule->PostTask(name,
                             mModule->NowNanoseconds() + static_cast<std::uint64_t>(seconds * 1e9),
                             std::move(action));
  }
  bool SetTimer(std::string_view name, double seconds, std::function<void()> action) override {
    auto timer = mModule->SetTimer(name, seconds, std::move(action));
    if (timer.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug, "The timer %.*s could not be set: %s",
          static_cast<int>(name.size()), name.data(), timer.GetFailure().Text().c_str());
      return false;
    }
    return true;
  }
  void RemoveTimer(std::string_view name) override { mModule->RemoveTimer(name); }
  void SendTelemetry(std::string_view name,
                     std::vector<std::pair<std::string, std::string>> properties) override {
    BindingProperty data;
    for (const auto& [key, value] : properties) {
      data.member(key).SetString(std::string_view(value));
    }
    // The sink delivers on its own; nothing waits for the answer.
    static_cast<void>(mModule->Telemetry().Send(name, data));
  }

 private:
  MaybeType<Failure, void> Lcds(std::string_view method, std::uint64_t gameId,
                                std::string_view message) {
    auto answer = mModule->Await(
        mModule->LcdsInvoke<BindingProperty>(kGameService, method, gameId, std::string(message)));
    if (answer.HasFailure()) {
      return std::move(answer).GetFailure();
    }
    return {};
  }

  AppModule* mModule;
};

}  // namespace

std::unique_ptr<PatcherPeers> CreateHostPatcherPeers(AppModule& module) {
  return std::make_unique<HostPatcherPeers>(module);
}

std::unique_ptr<GameClientPeers> CreateHostLauncherPeers(AppModule& module) {
  return std::make_unique<HostLauncherPeers>(module);
}

}  // namespace Nalo::Client::Gameflow::detail
