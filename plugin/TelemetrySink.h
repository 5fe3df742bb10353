#pragma once
// TelemetrySink: where a plugin reports usage and health events.
//
// Each plugin has exactly one, created by Initialize and owned by the module
// (AppModule::Telemetry()). The runtime's sink posts the event to the
// platform's telemetry service; the request is synchronous, so the returned
// future is ready on return. Callers may drop it: failures are only carried
// in the result, never logged.
//
//   BindingProperty data;
//   data.member("delayMs").SetUnsigned(1500);
//   auto sent = Telemetry().Send("gameflow.reconnect", data);   // POST
//   /telemetry/v1/events/gameflow.reconnect

#include <future>
#include <string_view>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo {

inline constexpr std::string_view kTelemetryEventsUrl = "/telemetry/v1/events/";

class TelemetrySink {
 public:
  TelemetrySink() = default;
  TelemetrySink(const TelemetrySink&) = delete;
  TelemetrySink& operator=(const TelemetrySink&) = delete;
  TelemetrySink(TelemetrySink&&) = delete;
  TelemetrySink& operator=(TelemetrySink&&) = delete;
  virtual ~TelemetrySink() = default;

  // Sends the event `eventName` (appended to the URL unchanged) with `data`
  // as its one argument. The result is the request's: success or its
  // Failure.
  [[nodiscard]] virtual std::future<MaybeType<Failure, void>> Send(std::string_view eventName,
                                                                   const BindingProperty& data) = 0;
};

}  // namespace Nalo
