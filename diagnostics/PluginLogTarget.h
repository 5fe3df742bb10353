#pragma once
// PluginLogTarget: hands log lines to the host's log.
//
// Once the host handshake is done, the plugin's lines go to the host, which
// formats them itself: this target passes on only the level and the message.
// The host binding supplies the sink (a call into the host's Log entry).
// InstallPluginLogTarget performs the plugin's logging set-up.
//
//   std::unique_ptr<Nalo::PluginLogTarget> target = Nalo::InstallPluginLogTarget(
//       [core](Nalo::LogLevel level, std::string_view message) {
//         core->Log(core, static_cast<int>(level), message.data());
//       });

#include <functional>
#include <memory>
#include <string_view>

#include "diagnostics/LogLevel.h"
#include "diagnostics/LogTarget.h"

namespace Nalo {

class LogManager;

// Test-only: while on, every PluginLogTarget passes "<groups>| <message>"
// (the line's group codes joined with ";") to its sink instead of the bare
// message, so that a test host learns the groups, which the core's log entry
// doesn't carry. Off by default; process-wide per copy of this library.
void SetPluginLogTargetPassesGroups(bool on) noexcept;

class PluginLogTarget final : public LogTarget {
 public:
  // Receives each record that passes the filters. `message` is NUL-terminated
  // and valid only during the call. Called with the logging locks held: it must
  // not wait for another thread that logs. Must not throw.
  using Sink = std::function<void(LogLevel level, std::string_view message)>;

  // Starts detached, with the default format "#D| #L| #G| #M".
  explicit PluginLogTarget(Sink sink);
  ~PluginLogTarget() override;
  PluginLogTarget(const PluginLogTarget&) = delete;
  PluginLogTarget& operator=(const PluginLogTarget&) = delete;
  PluginLogTarget(PluginLogTarget&&) = delete;
  PluginLogTarget& operator=(PluginLogTarget&&) = delete;

  [[nodiscard]] std::string_view GetName() const override;
  // Passes the level and message to the sink; returns true.
  bool Write(const LogRecord& record) override;

 private:
  Sink mSink;
};

inline constexpr std::string_view kPluginLogTargetName = "PluginLogTarget";

// The plugin's logging set-up. When `manager` has no attached target named
// "PluginLogTarget": detaches its three console targets, sets its minimum level
// to Okay and its excluded groups to "XTR", creates a PluginLogTarget writing to
// `sink` and configures it with {Okay, include 0, exclude 0, "#D| #L| #G| #M"},
// which attaches it. Returns the new target; the caller owns it and destroying
// it detaches it. When such a target is already attached, changes nothing and
// returns nullptr.
[[nodiscard]] std::unique_ptr<PluginLogTarget> InstallPluginLogTarget(PluginLogTarget::Sink sink,
                                                                      LogManager& manager);
// The same on LogManager::Instance().
[[nodiscard]] std::unique_ptr<PluginLogTarget> InstallPluginLogTarget(PluginLogTarget::Sink sink);

}  // namespace Nalo
