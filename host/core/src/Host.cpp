// Host (Host.h): its own methods, which hand on to Host::Impl (HostImpl.h);
// the core's state, its log and its clocks.

#include "host/core/Host.h"

#include <algorithm>
#include <utility>

#include "abi/HostValue.h"
#include "host/core/src/HostImpl.h"
#include "host/core/src/ResponseStreams.h"
#include "platform/Clock.h"

namespace Nalo::Host {

namespace {

constexpr std::uint64_t kNanosecondsPerMillisecond = 1'000'000;
constexpr std::size_t kMemoryStatisticsWords = 14;

std::uint64_t NALO_ABI_CALL VirtualMonotonic(void* context) noexcept {
  return static_cast<const Host::Impl*>(context)->mQueue.Now();
}

std::uint64_t NALO_ABI_CALL VirtualWall(void* context) noexcept {
  return static_cast<const Host::Impl*>(context)->WallClock();
}

}  // namespace

Host::Impl::Impl(HostOptions options)
    : mOptions(std::move(options)),
      mQueue(mOptions.clock,
             [this](const Stall& stall) { Log(NALO_LOG_ERROR, 0, StallMessage(stall)); }),
      mClockSource{this, &VirtualMonotonic, &VirtualWall},
      mPeers(detail::PeerServices::Settings{mOptions.peers, mOptions.stateFolder,
                                            mOptions.commandLine},
             detail::PeerServices::Wiring{
                 .publish =
                     [this](std::string_view name, std::shared_ptr<const BindingProperty> payload,
                            std::string_view uri, std::string_view eventType) {
                       mEvents.Publish(name, std::move(payload), 0, uri, eventType);
                     },
                 .runDue = [this] { mQueue.RunDue(); },
                 .now = [this] { return mQueue.Now(); },
                 .log = [this](std::uint32_t level, std::string_view text) { Log(level, 0, text); },
             }),
      mEvents(mQueue, mRegistry) {
  if (mOptions.streamPieceSize == 0) {
    mOptions.streamPieceSize = 1;
  }
  if (auto loaded = mPeers.LoadDataStore(); loaded.HasFailure()) {
    Log(NALO_LOG_ERROR, 0, loaded.GetFailure().Message());
  }
}

void Host::Impl::Log(std::uint32_t level, std::uint32_t handle, std::string_view text,
                     std::string_view groups) {
  mLogLines.push_back({level, handle, std::string(text), mQueue.Now(), std::string(groups)});
  if (mOptions.logEcho) {
    mOptions.logEcho(text);
  }
  if (mLogLineEcho) {
    mLogLineEcho(mLogLines.back());
  }
}

std::uint64_t Host::Impl::WallClock() const noexcept {
  if (mQueue.Mode() == ClockMode::Real) {
    return NowMillisecondsSinceEpoch();
  }
  return mOptions.wallClockAtStart + mQueue.Now() / kNanosecondsPerMillisecond;
}

Host::Host(HostOptions options) : mImpl(std::make_unique<Impl>(std::move(options))) {}

Host::~Host() = default;

MaybeType<Failure, void> Host::Load(const std::filesystem::path& path, std::string_view entryName) {
  return mImpl->Load(path, entryName);
}

void Host::Shutdown() {
  mImpl->Shutdown();
}

std::vector<std::string> Host::PluginNames() const {
  std::vector<std::string> names;
  for (const auto& plugin : mImpl->mPlugins) {
    names.push_back(plugin->shortName);
  }
  return names;
}

std::optional<std::vector<std::uint32_t>> Host::MemoryStatistics(std::string_view shortName) const {
  for (const auto& plugin : mImpl->mPlugins) {
    if (plugin->shortName == shortName) {
      std::vector<std::uint32_t> words(kMemoryStatisticsWords, 0);
      plugin->registration.callbacks->getMemoryStatistics(plugin->registration.context,
                                                          words.data());
      return words;
    }
  }
  return std::nullopt;
}

Response Host::Request(std::string_view method, std::string_view path, std::string_view body,
                       std::string_view contentType) {
  const std::uint32_t code = MethodCode(method);
  if (code == NALO_METHOD_NONE) {
    Response response = detail::RefuseMethod(method);
    response.reason = detail::ReasonPhrase(response.status);
    return response;
  }
  Response response = mImpl->Route(code, path, {}, contentType, body, 0);
  mImpl->mQueue.RunDue();
  return response;
}

Response Host::Request(std::string_view method, std::string_view path, std::string_view body,
                       std::string_view contentType, std::span<const Header> headers) {
  mImpl->mOutsideHeaders.clear();
  for (const Header& header : headers) {
    mImpl->mOutsideHeaders.push_back(NaloHeader{header.first.c_str(), header.second.c_str()});
  }
  Response response = Request(method, path, body, contentType);
  mImpl->mOutsideHeaders.clear();
  return response;
}

Response Host::RequestText(std::string_view method, std::string_view path, std::string_view body,
                           std::string_view contentType, std::span<const Header> headers) {
  mImpl->mTextOnly = true;
  Response response = Request(method, path, body, contentType, headers);
  mImpl->mTextOnly = false;
  return response;
}

Response Host::RequestWithArgument(std::string_view method, std::string_view path,
                                   const BindingProperty& argument) {
  const std::uint32_t code = MethodCode(method);
  if (code == NALO_METHOD_NONE) {
    return Request(method, path);
  }
  HostValue value = ToHostValue(argument, mImpl->mRegistry);
  const NaloRequestArgument record{value.Record(), nullptr};
  Response response = mImpl->Route(code, path, std::span(&record, 1), {}, {}, 0);
  mImpl->mQueue.RunDue();
  return response;
}

void Host::Advance(std::chrono::nanoseconds duration) {
  mImpl->mQueue.AdvanceBy(duration);
}

void Host::RunDueTasks() {
  mImpl->mQueue.RunDue();
}

std::uint64_t Host::NowNanoseconds() const noexcept {
  return mImpl->mQueue.Now();
}

std::uint64_t Host::WallClockMilliseconds() const noexcept {
  return mImpl->WallClock();
}

void Host::SetWallClock(std::uint64_t millisecondsSince1970) noexcept {
  const std::uint64_t elapsed = mImpl->mQueue.Now() / kNanosecondsPerMillisecond;
  // Before virtual time 0 can't be said; such a wall clock starts at 0.
  mImpl->mOptions.wallClockAtStart =
      millisecondsSince1970 > elapsed ? millisecondsSince1970 - elapsed : 0;
}

std::optional<std::chrono::nanoseconds> Host::TimeUntilNextTask() const {
  const std::optional<std::uint64_t> due = mImpl->mQueue.NextDue();
  if (!due) {
    return std::nullopt;
  }
  const std::uint64_t now = mImpl->mQueue.Now();
  return std::chrono::nanoseconds(*due > now ? *due - now : 0);
}

std::size_t Host::PendingTaskCount() const noexcept {
  return mImpl->mQueue.Size();
}

std::vector<std::string> Host::PendingTaskLabels() const {
  return mImpl->mQueue.Labels();
}

bool Host::HasSubscriber(std::string_view name) const {
  return mImpl->mEvents.HasSubscriber(name);
}

std::optional<std::string> Host::TakeStall() {
  if (std::optional<Stall> stall = mImpl->mQueue.TakeStall()) {
    return StallMessage(*stall);
  }
  return std::nullopt;
}

Peers& Host::GetPeers() noexcept {
  return mImpl->mPeers;
}

const std::vector<LogLine>& Host::LogLines() const noexcept {
  return mImpl->mLogLines;
}

const std::vector<PublishedEvent>& Host::PublishedEvents() const noexcept {
  return mImpl->mEvents.Published();
}

const std::vector<CoreCall>& Host::CoreCalls() const noexcept {
  return mImpl->mCoreCalls;
}

void Host::ClearRecords() {
  mImpl->mLogLines.clear();
  mImpl->mEvents.ClearPublished();
  mImpl->mCoreCalls.clear();
  mImpl->mPeers.ClearRecords();
}

void Host::WriteLog(std::uint32_t level, std::string_view text) {
  mImpl->Log(level, 0, text);
}

void Host::SetLogEcho(std::function<void(std::string_view line)> echo) {
  mImpl->mOptions.logEcho = std::move(echo);
}

void Host::SetRecordEchoes(std::function<void(const LogLine&)> logLine,
                           std::function<void(const PeerRequest&)> request) {
  mImpl->mLogLineEcho = std::move(logLine);
  mImpl->mRequestEcho = std::move(request);
}

void Host::ImportLogLine(LogLine line) {
  mImpl->mLogLines.push_back(std::move(line));
}

}  // namespace Nalo::Host
