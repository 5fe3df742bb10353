// The core's C entry table (NaloCoreApi): what a plugin calls into the core
// for. Every entry is noexcept and refuses null arguments; each call is
// recorded (Host::CoreCalls) before it is carried out. Waits live here too:
// a plugin that waits pumps the core, which runs what is due and, in
// virtual time, lets time move on when nothing is.

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "abi/HostValue.h"
#include "binding/Json.h"
#include "host/core/src/HostImpl.h"
#include "host/core/src/ResponseStreams.h"

namespace Nalo::Host {

namespace {

using Impl = Host::Impl;

// A wait whose pumps find nothing due this many times in a row lets virtual
// time move on to the next task, as wall time would pass on a real core.
constexpr std::uint32_t kIdlePumpsBeforeTimeMoves = 64;
// A wait checks the real time it has taken once per this many pumps.
constexpr std::uint32_t kPumpsBetweenWaitChecks = 1024;
constexpr std::uint64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr int kHungWaitExitCode = 3;

Impl& HostOf(const NaloCoreApi* core) {
  static_assert(std::is_standard_layout_v<Impl::CoreTable>, "the table pointer is the record's");
  return *reinterpret_cast<const Impl::CoreTable*>(core)->host;
}

const Impl::CoreTable& TableOf(const NaloCoreApi* core) {
  return *reinterpret_cast<const Impl::CoreTable*>(core);
}

// The body of `answer` as a stream of its JSON text; a delayed answer's body
// (virtual time only) arrives as a task, so that a wait moves virtual time
// to it, and while it is awaited a wait that finds nothing due moves at once.
void AnswerBody(Impl& host, const Response& answer, const std::string& path,
                NaloResponse& response) {
  detail::BodyArrival arrival;
  const auto delay = static_cast<std::uint64_t>(answer.bodyDelay.count());
  if (delay > 0 && host.mQueue.Mode() == ClockMode::Virtual) {
    arrival.clock = &host.mQueue;
    arrival.readyAt = host.mQueue.Now() + delay;
    ++host.mPendingArrivals;
    arrival.stopAwaiting =
        std::make_shared<std::function<void()>>([&host] { --host.mPendingArrivals; });
    host.mQueue.Post("Answer arrives: " + path, 0, delay, [stop = arrival.stopAwaiting] {
      if (*stop) {
        std::exchange(*stop, nullptr)();
      }
    });
  }
  detail::OpenTextStream(response, ToJson(answer.body), host.mOptions.streamPieceSize,
                         std::move(arrival));
}

void NALO_ABI_CALL CoreRequest(const NaloCoreApi* core, NaloResponse* response,
                               const NaloRequest* request) noexcept {
  if (core == nullptr || response == nullptr || request == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  const std::uint32_t handle = TableOf(core).handle;
  *response = NaloResponse{};
  response->release = &detail::ReleaseHostResponse;
  try {
    const std::string path = request->path != nullptr ? request->path : "";
    host.Record(CoreEntry::Request, handle, std::string(MethodName(request->method)) + " " + path);
    const std::string_view contentType =
        request->contentType != nullptr ? request->contentType : "application/json";
    const std::string_view body(reinterpret_cast<const char*>(request->body),
                                request->body != nullptr ? request->bodyLength : 0);
    Response answer = host.Route(
        request->method, path,
        std::span(request->arguments, request->arguments != nullptr ? request->argumentCount : 0),
        contentType, body, handle);
    response->status = answer.status;
    response->reason = detail::CopyText(answer.reason.empty() ? detail::ReasonPhrase(answer.status)
                                                              : answer.reason);
    if (!answer.error.empty()) {
      response->error = detail::CopyText(answer.error);
      return;
    }
    if (!answer.body.IsEmpty()) {
      response->body = ToHostValue(answer.body, host.mRegistry).Release();
      AnswerBody(host, answer, path, *response);
    }
  } catch (const std::exception& error) {
    detail::ReleaseHostResponse(response);
    response->status = detail::kInternalError;
    response->error = detail::CopyText(std::string("The host failed to answer: ") + error.what());
  }
}

uintptr_t NALO_ABI_CALL CoreReserved(const NaloCoreApi*, uintptr_t, uintptr_t) noexcept {
  return 0;
}

void NALO_ABI_CALL CoreSendEvent(const NaloCoreApi* core, const NaloEvent* event) noexcept {
  if (core == nullptr || event == nullptr || event->name == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  const std::uint32_t handle = TableOf(core).handle;
  host.Record(CoreEntry::SendEvent, handle, event->name);
  auto taken = host.mSentPayloads.Take(event->payload, handle);
  if (taken.HasFailure()) {
    host.Log(NALO_LOG_ERROR, 0,
             "Dropped the event " + std::string(event->name) +
                 " of an unreadable payload: " + std::string(taken.GetFailure().Message()));
    return;
  }
  const std::shared_ptr<EventPayload::State>& state = taken.Value();
  host.mEvents.Publish(event->name, EventPayload(state), handle, state->uri, state->eventType);
}

void NALO_ABI_CALL CoreSubscribe(const NaloCoreApi* core, const char* name,
                                 std::uint32_t pluginHandle, NaloEventCallback callback,
                                 void* userData, std::uint32_t flags) noexcept {
  if (core == nullptr || name == nullptr || callback == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  host.Record(CoreEntry::Subscribe, pluginHandle, name, flags);
  host.mEvents.Subscribe(TableOf(core).handle, name, callback, userData, flags);
}

void NALO_ABI_CALL CoreUnsubscribe(const NaloCoreApi* core, const char* name,
                                   std::uint32_t pluginHandle) noexcept {
  if (core == nullptr || name == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  host.Record(CoreEntry::Unsubscribe, pluginHandle, name);
  host.mEvents.Unsubscribe(TableOf(core).handle, name);
}

std::uint8_t NALO_ABI_CALL CorePostTask(const NaloCoreApi* core, const char* label,
                                        NaloTaskCallback callback, void* userData,
                                        double delaySeconds, std::uint32_t flags) noexcept {
  if (core == nullptr || callback == nullptr) {
    return 0;
  }
  Impl& host = HostOf(core);
  const std::uint32_t handle = TableOf(core).handle;
  const std::string text = label != nullptr ? label : "";
  host.Record(CoreEntry::PostTask, handle, text, flags, delaySeconds);
  const double seconds = delaySeconds > 0 ? delaySeconds : 0;
  // Not negative, so adding a half rounds to the nearest nanosecond.
  // NOLINTNEXTLINE(bugprone-incorrect-roundings)
  const auto delay = static_cast<std::uint64_t>(seconds * kNanosecondsPerSecond + 0.5);
  host.mQueue.Post(text, handle, delay, [callback, userData] { callback(userData); });
  return 1;
}

void NALO_ABI_CALL CorePump(const NaloCoreApi* core) noexcept {
  if (core != nullptr) {
    HostOf(core).Pump(TableOf(core).handle);
  }
}

void NALO_ABI_CALL CoreBeginWait(const NaloCoreApi* core, const char* label,
                                 std::uint32_t /*reserved*/) noexcept {
  if (core == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  host.Record(CoreEntry::BeginWait, TableOf(core).handle, label != nullptr ? label : "");
  if (host.mWaitDepth == 0) {
    host.mWaitStarted = std::chrono::steady_clock::now();
    host.mWaitLabel = label != nullptr ? label : "";
    host.mPumpsInWait = 0;
  }
  ++host.mWaitDepth;
  host.mIdlePumps = 0;
}

void NALO_ABI_CALL CoreEndWait(const NaloCoreApi* core) noexcept {
  if (core == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  host.Record(CoreEntry::EndWait, TableOf(core).handle, {});
  if (host.mWaitDepth > 0) {
    --host.mWaitDepth;
  }
  host.mIdlePumps = 0;
}

void NALO_ABI_CALL CoreLog(const NaloCoreApi* core, std::uint32_t level,
                           const char* message) noexcept {
  if (core == nullptr || message == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  const Impl::CoreTable& table = TableOf(core);
  std::string_view text = message;
  std::string_view groups;
  if (table.logGroups) {
    if (const std::size_t separator = text.find("| "); separator != std::string_view::npos) {
      groups = text.substr(0, separator);
      text.remove_prefix(separator + 2);
    }
  }
  host.Record(CoreEntry::Log, table.handle, text);
  host.Log(level, table.handle, text, groups);
}

}  // namespace

NaloCoreApi Host::Impl::CoreEntries() {
  return NaloCoreApi{&CoreRequest,  &CoreReserved, &CoreSendEvent, &CoreSubscribe, &CoreUnsubscribe,
                     &CorePostTask, &CorePump,     &CoreBeginWait, &CoreEndWait,   &CoreLog};
}

void Host::Impl::Pump(std::uint32_t handle) {
  Record(CoreEntry::Pump, handle, {});
  if (mWaitDepth > 0 && mOptions.waitLimit.count() > 0 &&
      ++mPumpsInWait % kPumpsBetweenWaitChecks == 0 &&
      std::chrono::steady_clock::now() - mWaitStarted > mOptions.waitLimit) {
    EndHungWait(handle);
  }
  if (mQueue.RunOne()) {
    mIdlePumps = 0;
    mQueue.RunDue();
    return;
  }
  if (mQueue.Mode() == ClockMode::Virtual && mPendingArrivals > 0) {
    // A reader waits for a delayed answer: time passes until it arrives.
    static_cast<void>(mQueue.JumpToNext());
    return;
  }
  if (mQueue.Mode() == ClockMode::Virtual && mWaitDepth > 0 &&
      ++mIdlePumps >= kIdlePumpsBeforeTimeMoves) {
    mIdlePumps = 0;
    static_cast<void>(mQueue.JumpToNext());  // false: nothing pending; the wait spins on
  }
}

void Host::Impl::EndHungWait(std::uint32_t handle) {
  const Plugin* plugin = Find(handle);
  const std::string text =
      "The plugin " + (plugin != nullptr ? plugin->shortName : std::to_string(handle)) +
      " has waited more than " + std::to_string(mOptions.waitLimit.count()) + " ms (\"" +
      mWaitLabel + "\") for something that never comes; the host ends the process.";
  Log(NALO_LOG_ERROR, 0, text);
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(nullptr);
  std::_Exit(kHungWaitExitCode);
}

}  // namespace Nalo::Host
