#pragma once
// The peers of the gameflow as the core reaches them: the patcher and the data
// store for the game-flow gate, the other plugins, the platform server and the
// core's timers for the game client launcher, and one typed request helper.

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "binding/BindingConvert.h"
#include "gameflow/client/GameClientPeers.h"
#include "gameflow/GameFlowGate.h"
#include "plugin/AppModule.h"

namespace Nalo::Client::Gameflow::detail {

// GETs or POSTs `path` through `module` and converts the answer to T; an
// answer without a body fails like one that does not convert.
template <class T>
[[nodiscard]] MaybeType<Failure, T> RequestValue(AppModule& module, RequestMethod method,
                                                 std::string_view path) {
  auto body = module.Request<BindingProperty>(method, path);
  if (body.HasFailure()) {
    return std::move(body).GetFailure();
  }
  if (body.Value().IsEmpty()) {
    return Failure(500, std::string(path) + " answered without a value.");
  }
  T value{};
  BindingResult converted = FromProperty(value, body.Value(), "<result>", module.Registry());
  if (converted.Failed()) {
    return Failure(500, std::string(path) + " answered a value of the wrong shape: " +
                            std::string(converted.ErrorMessage()));
  }
  return value;
}

// The patcher and the data store through `module`, which must outlive them.
[[nodiscard]] std::unique_ptr<PatcherPeers> CreateHostPatcherPeers(AppModule& module);
// The other plugins, the platform server and the core's timers through
// `module`, which must outlive them.
[[nodiscard]] std::unique_ptr<GameClientPeers> CreateHostLauncherPeers(AppModule& module);

}  // namespace Nalo::Client::Gameflow::detail
