#include "plugin/ModuleBase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <sstream>

#include "diagnostics/Fatal.h"
#include "diagnostics/Log.h"
#include "plugin/src/PositionalText.h"
#include "plugin/src/RuntimeMessages.h"

namespace Nalo {

namespace {

constexpr std::uint32_t kResourceSubscriptionFlags = 0;
constexpr std::uint32_t kServiceSubscriptionFlags = 1;
constexpr double kNanosecondsPerSecond = 1e9;
constexpr std::uint64_t kNanosecondsPerMillisecond = 1'000'000;
constexpr double kMillisecondsPerSecond = 1e3;
constexpr std::uint64_t kMissingTimerGroups = kLogGroupDebug | kLogGroupNetwork;

std::string ServiceMethodKey(const PluginServiceProxyResponse& reply) {
  return reply.serviceName + "." + reply.methodName;
}

}  // namespace

ModuleBase::ModuleBase(const TickClock& clock)
    : mClock(&clock), mRegistry(std::make_unique<BindingTypeRegistry>()) {}

ModuleBase::~ModuleBase() = default;

// --- The core's entries -----------------------------------------------------------

const NaloCoreApi& ModuleBase::Core() const {
  if (mServices == nullptr || mServices->core == nullptr) {
    FatalWithDescription("mServices != nullptr",
                         "A core entry was called before Initialize handed the core over.");
  }
  return *mServices->core;
}

void ModuleBase::HostRequest(NaloResponse* response, const NaloRequest* request) {
  Core().request(&Core(), response, request);
}

std::uintptr_t ModuleBase::HostCall1(std::uintptr_t first, std::uintptr_t second) {
  return Core().reserved1(&Core(), first, second);
}

void ModuleBase::HostSendEvent(const NaloEvent* event) {
  Core().sendEvent(&Core(), event);
}

void ModuleBase::HostSubscribe(const char* name, std::uint32_t pluginHandle,
                               NaloEventCallback callback, void* userData, std::uint32_t flags) {
  Core().subscribe(&Core(), name, pluginHandle, callback, userData, flags);
}

void ModuleBase::HostUnsubscribe(const char* name, std::uint32_t pluginHandle) {
  Core().unsubscribe(&Core(), name, pluginHandle);
}

std::uint8_t ModuleBase::HostPostTask(const char* label, NaloTaskCallback callback, void* userData,
                                      double delaySeconds, std::uint32_t flags) {
  return Core().postTask(&Core(), label, callback, userData, delaySeconds, flags);
}

void ModuleBase::HostPump() {
  Core().pump(&Core());
}

void ModuleBase::HostBeginWait(const char* label, std::uint32_t reserved) {
  Core().beginWait(&Core(), label, reserved);
}

void ModuleBase::HostEndWait() {
  Core().endWait(&Core());
}

void ModuleBase::AttachHost(const NaloHostServices& services) {
  mServices = &services;
  mPluginHandle = services.pluginHandle;
  SubscribeEvent<PluginServiceProxyResponse>(
      kServiceProxyUuidEventName,
      [this](PluginServiceProxyResponse& reply) { OnServiceProxyReply(reply.uuid, reply); },
      kServiceSubscriptionFlags);
  SubscribeEvent<PluginServiceProxyResponse>(
      kServiceProxyMethodEventName,
      [this](PluginServiceProxyResponse& reply) {
        OnServiceProxyReply(ServiceMethodKey(reply), reply);
      },
      kServiceSubscriptionFlags);
  SubscribeEvent<PluginServiceProxyResponse>(
      kServiceProxyAsyncEventName,
      [this](PluginServiceProxyResponse& reply) { OnServiceProxyAsync(reply); },
      kServiceSubscriptionFlags);
}

void ModuleBase::OnShutdown() {
  if (mServices != nullptr) {
    for (const auto& [name, handler] : mEventHandlers) {
      HostUnsubscribe(name.c_str(), mPluginHandle);
    }
  }
  mEventHandlers.clear();
  mResourceHandlers.clear();
  mPatternHandlers.clear();
  mLcdsHandlers.clear();
  {
    const std::lock_guard lock(mTaskMutex);
    for (auto& [name, timer] : mTimers) {
      DetachTimerRecord(std::move(timer.record), TimerRecord::State::Retired);
    }
    mTimers.clear();
    for (const auto& record : mDetachedTimerRecords) {
      record->state = TimerRecord::State::Retired;
    }
    for (auto& [id, record] : mTasks) {
      record->task = nullptr;
      mRetiredTasks.push_back(std::move(record));
    }
    mTasks.clear();
  }
  mSubscriptionCounts.clear();
  const std::lock_guard lock(mModuleMutex);
  mPendingServiceProxyRequests.clear();
  mAsyncServiceProxyHandlers.clear();
  mStoredServiceProxyReplies.clear();
}

// --- Events -------------------------------------------------------------------------

void ModuleBase::SubscribeRawEvent(std::string_view name,
                                   std::shared_ptr<detail::EventHandler> handler,
                                   std::uint32_t flags) {
  std::string key(name);
  mEventHandlers.insert_or_assign(key, std::move(handler));
  HostSubscribe(key.c_str(), mPluginHandle, &ModuleBase::DeliverEvent, this, flags);
}

void ModuleBase::UnsubscribeEvent(std::string_view name) {
  const auto found = mEventHandlers.find(name);
  if (found == mEventHandlers.end()) {
    return;
  }
  // The handler may be the one running; keep it alive until it returns.
  const std::shared_ptr<detail::EventHandler> keep = std::move(found->second);
  const std::string key = found->first;
  mEventHandlers.erase(found);
  HostUnsubscribe(key.c_str(), mPluginHandle);
}

void NALO_ABI_CALL ModuleBase::DeliverEvent(const NaloEvent* event) noexcept {
  if (event == nullptr || event->userData == nullptr || event->name == nullptr) {
    return;
  }
  auto* module = static_cast<ModuleBase*>(event->userData);
  const auto found = module->mEventHandlers.find(std::string_view(event->name));
  if (found == module->mEventHandlers.end()) {
    return;
  }
  // A copy: the handler may unsubscribe itself.
  const std::shared_ptr<detail::EventHandler> handler = found->second;
  module->RunGuarded(event->name, [&] { handler->Deliver(event->payload, *module->mRegistry); });
}

void ModuleBase::Subscribe(std::string_view uri) {
  const std::string name = ResourceEventName(uri);
  std::size_t& count = mSubscriptionCounts[name];
  if (++count == 1) {
    SubscribeEvent<Resource>(
        name, [this](Resource& resource) { DispatchResource(resource); },
        kResourceSubscriptionFlags);
  }
}

void ModuleBase::Unsubscribe(std::string_view uri) {
  const std::string name = ResourceEventName(uri);
  const auto found = mSubscriptionCounts.find(name);
  if (found == mSubscriptionCounts.end() || found->second == 0) {
    return;
  }
  if (--found->second == 0) {
    mSubscriptionCounts.erase(found);
    UnsubscribeEvent(name);
  }
}

void ModuleBase::AddRawResourceHandler(std::string_view uriOrPattern,
                                       std::shared_ptr<detail::ResourceHandler> handler) {
  auto& table = IsUriPattern(uriOrPattern) ? mPatternHandlers : mResourceHandlers;
  table.insert_or_assign(std::string(uriOrPattern), std::move(handler));
}

void ModuleBase::RemoveResourceHandler(std::string_view uriOrPattern) {
  auto& table = IsUriPattern(uriOrPattern) ? mPatternHandlers : mResourceHandlers;
  if (const auto found = table.find(uriOrPattern); found != table.end()) {
    table.erase(found);
  }
}

void ModuleBase::DispatchResource(Resource& resource) {
  if (resource.uri.empty() || resource.uri.front() != '/') {
    resource.uri.insert(resource.uri.begin(), '/');
  }
  // Collected first: a handler may add or remove handlers.
  std::vector<std::shared_ptr<detail::ResourceHandler>> handlers;
  if (const auto exact = mResourceHandlers.find(resource.uri); exact != mResourceHandlers.end()) {
    handlers.push_back(exact->second);
  }
  for (const auto& [pattern, handler] : mPatternHandlers) {
    if (MatchesUriPattern(pattern, resource.uri)) {
      handlers.push_back(handler);
    }
  }
  for (const auto& handler : handlers) {
    handler->Handle(resource, *mRegistry);
  }
}

namespace {

// Passes the walk of a Resource record (whose data is empty) on to a host
// value builder, with the record's "data" member replaced by the walk of the
// data itself.
class ResourceWalk final : public BindingVisitor {
 public:
  ResourceWalk(HostValueBuilder& target, const detail::ResourceData& data) noexcept
      : mTarget(target), mData(data) {}

  [[nodiscard]] const BindingResult& DataResult() const noexcept { return mDataResult; }

  void Null() override {
    if (mDataNext) {
      mDataNext = false;
      mDataResult = mData(mTarget);
      return;
    }
    mTarget.Null();
  }
  void Bool(bool value) override { mTarget.Bool(value); }
  void Int64(std::int64_t value) override { mTarget.Int64(value); }
  void Uint64(std::uint64_t value) override { mTarget.Uint64(value); }
  void Double(double value) override { mTarget.Double(value); }
  void String(std::string_view bytes) override { mTarget.String(bytes); }
  void Blob(std::span<const std::uint8_t> bytes) override { mTarget.Blob(bytes); }
  void Enum(std::int32_t value, const BindingTypeDescriptor* descriptor) override {
    mTarget.Enum(value, descriptor);
  }
  void StartArray(std::size_t count) override {
    ++mDepth;
    mTarget.StartArray(count);
  }
  void EndArray() override {
    --mDepth;
    mTarget.EndArray();
  }
  void StartObject(std::size_t count) override {
    ++mDepth;
    mTarget.StartObject(count);
  }
  void Key(std::string_view name) override {
    mDataNext = mDepth == 1 && name == "data";
    mTarget.Key(name);
  }
  void EndObject() override {
    --mDepth;
    mTarget.EndObject();
  }

 private:
  HostValueBuilder& mTarget;
  const detail::ResourceData& mData;
  std::size_t mDepth = 0;
  bool mDataNext = false;
  BindingResult mDataResult;
};

}  // namespace

MaybeType<Failure, HostValue> detail::ResourcePayload(std::string_view uri,
                                                      PluginResourceEventType type,
                                                      const ResourceData& data,
                                                      const BindingTypeRegistry& registry,
                                                      std::size_t* blockHint) {
  HostValueBuilder builder(registry, blockHint != nullptr ? *blockHint : 0);
  ResourceWalk walk(builder, data);
  const BindingResult record =
      VisitNative(Resource{std::string(uri), type, BindingProperty()}, registry, walk);
  const BindingResult& failed = record.Failed() ? record : walk.DataResult();
  if (failed.Failed()) {
    return Failure(500, kPublishFailed, {{"uri", uri}, {"error", failed.ErrorMessage()}});
  }
  if (blockHint != nullptr) {
    *blockHint = std::max(*blockHint, builder.Used());
  }
  return builder.Take();
}

MaybeType<Failure, HostValue> detail::ResourcePayload(std::string_view uri,
                                                      PluginResourceEventType type,
                                                      const BindingProperty& data,
                                                      const BindingTypeRegistry& registry) {
  const auto walk = [&](BindingVisitor& visitor) {
    data.accept(visitor);
    return BindingResult();
  };
  return ResourcePayload(uri, type, ResourceData(walk), registry);
}

MaybeType<Failure, void> ModuleBase::PublishResource(std::string_view uri,
                                                     PluginResourceEventType type,
                                                     const detail::ResourceData& data) {
  MaybeType<Failure, HostValue> converted =
      detail::ResourcePayload(uri, type, data, *mRegistry, &mPayloadBlockHint);
  if (converted.HasFailure()) {
    return std::move(converted).GetFailure();
  }
  const HostValue& payload = converted.Value();
  const std::string name = ResourceEventName(uri);
  NaloEvent event{};
  event.name = name.c_str();
  event.payload = payload.Record();
  HostSendEvent(&event);
  if (name != kJsonApiEventName) {
    event.name = kJsonApiEventName.data();
    HostSendEvent(&event);
  }
  return {};
}

MaybeType<Failure, void> ModuleBase::PublishDeletion(std::string_view uri) {
  const auto walk = [](BindingVisitor& visitor) {
    visitor.Null();
    return BindingResult();
  };
  return PublishResource(uri, PluginResourceEventType::Delete, detail::ResourceData(walk));
}

void ModuleBase::SubscribeRawLcds(std::string_view typeName,
                                  std::shared_ptr<detail::LcdsHandler> handler) {
  mLcdsHandlers.insert_or_assign(std::string(typeName), std::move(handler));
  SubscribeEvent<PluginLcdsEvent>(
      LcdsEventName(typeName), [this](PluginLcdsEvent& event) { OnLcdsEvent(event); },
      kServiceSubscriptionFlags);
}

void ModuleBase::OnLcdsEvent(PluginLcdsEvent& event) {
  if (mLcdsHandlers.find(event.typeName) == mLcdsHandlers.end()) {
    return;
  }
  const std::string label = detail::FillPositional(detail::kLcdsTaskLabel, {event.typeName});
  // The handler is looked up again when the task runs: it may have been
  // replaced or dropped in between.
  PostTask(label, NowNanoseconds(), [this, copy = std::move(event)] {
    const auto found = mLcdsHandlers.find(copy.typeName);
    if (found == mLcdsHandlers.end()) {
      return;
    }
    const std::shared_ptr<detail::LcdsHandler> handler = found->second;
    handler->Handle(copy, *mRegistry);
  });
}

// --- Service-proxy replies -------------------------------------------------------------

void ModuleBase::AddPendingServiceProxyRequest(std::string key, ServiceProxyHandler handler) {
  const std::lock_guard lock(mModuleMutex);
  mPendingServiceProxyRequests.insert_or_assign(std::move(key), std::move(handler));
}

void ModuleBase::SetAsyncServiceProxyHandler(std::string key, ServiceProxyHandler handler) {
  const std::lock_guard lock(mModuleMutex);
  mAsyncServiceProxyHandlers.insert_or_assign(std::move(key), std::move(handler));
}

std::size_t ModuleBase::StoredServiceProxyReplyCount() const {
  const std::lock_guard lock(mModuleMutex);
  return mStoredServiceProxyReplies.size();
}

void ModuleBase::OnServiceProxyReply(std::string key, PluginServiceProxyResponse& reply) {
  const std::lock_guard lock(mModuleMutex);
  mStoredServiceProxyReplies.insert_or_assign(std::move(key), std::move(reply));
  // One pairing per pass: the first stored reply whose request waits.
  for (auto stored = mStoredServiceProxyReplies.begin(); stored != mStoredServiceProxyReplies.end();
       ++stored) {
    const auto pending = mPendingServiceProxyRequests.find(stored->first);
    if (pending == mPendingServiceProxyRequests.end()) {
      continue;
    }
    pending->second(stored->second);
    Log(LogLevel::Always, kLogGroupDebug, detail::kFulfilledServiceProxyFormat, mShortName.c_str(),
        stored->first.c_str());
    mPendingServiceProxyRequests.erase(pending);
    mStoredServiceProxyReplies.erase(stored);
    break;
  }
}

void ModuleBase::OnServiceProxyAsync(PluginServiceProxyResponse& reply) {
  const std::string key = ServiceMethodKey(reply);
  const std::lock_guard lock(mModuleMutex);
  const auto found = mAsyncServiceProxyHandlers.find(key);
  if (found == mAsyncServiceProxyHandlers.end()) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kMissingAsyncHandlerFormat, mShortName.c_str(),
        key.c_str());
    return;
  }
  found->second(reply);
}

// --- Tasks and timers -------------------------------------------------------------------

void ModuleBase::Yield() {
  HostBeginWait(detail::kYieldLabel.data(), 0);
  HostPump();
  HostEndWait();
}

bool ModuleBase::PostTask(std::string_view label, std::uint64_t deadlineNanoseconds, Task task) {
  const double delay = DelaySecondsUntil(deadlineNanoseconds);
  TaskRecord* record = nullptr;
  std::uint64_t id = 0;
  {
    const std::lock_guard lock(mTaskMutex);
    id = mNextTaskId++;
    auto owned = std::make_unique<TaskRecord>(TaskRecord{this, id, std::move(task)});
    record = owned.get();
    mTasks.emplace(id, std::move(owned));
  }
  const std::string labelText(label);
  if (HostPostTask(labelText.c_str(), &ModuleBase::RunTaskTrampoline, record, delay, 0) != 0) {
    return true;
  }
  const std::lock_guard lock(mTaskMutex);
  mTasks.erase(id);
  return false;
}

double ModuleBase::DelaySecondsUntil(std::uint64_t deadlineNanoseconds) const {
  const std::uint64_t now = NowNanoseconds();
  // Whole milliseconds: deadlines computed a few microseconds apart for the
  // same moment ("now + 1 s" in two handlers of one callback) reach the core
  // as the same delay, so they run in posting order.
  const std::uint64_t delayMilliseconds =
      deadlineNanoseconds > now ? (deadlineNanoseconds - now + kNanosecondsPerMillisecond / 2) /
                                      kNanosecondsPerMillisecond
                                : 0;
  return static_cast<double>(delayMilliseconds) / kMillisecondsPerSecond;
}

void NALO_ABI_CALL ModuleBase::RunTaskTrampoline(void* userData) noexcept {
  if (userData == nullptr) {
    return;
  }
  const auto* record = static_cast<const TaskRecord*>(userData);
  record->module->RunTask(record->id);
}

void ModuleBase::RunTask(std::uint64_t id) noexcept {
  Task task;
  {
    const std::lock_guard lock(mTaskMutex);
    const auto found = mTasks.find(id);
    if (found == mTasks.end()) {
      return;  // dropped by OnShutdown
    }
    task = std::move(found->second->task);
    mTasks.erase(found);
  }
  if (task) {
    RunGuarded("a task", task);
  }
}

void ModuleBase::RunGuarded(std::string_view what, const std::function<void()>& callable) noexcept {
  try {
    callable();
  } catch (const std::exception& exception) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kCallbackExceptionFormat, mShortName.c_str(),
        std::string(what).c_str(), exception.what());
  } catch (...) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kCallbackExceptionFormat, mShortName.c_str(),
        std::string(what).c_str(), "an exception of unknown type");
  }
}

MaybeType<Failure, void> ModuleBase::SetTimer(std::string_view name, double intervalSeconds,
                                              Task callable) {
  // Written so that NaN fails too. An interval below a nanosecond would
  // round to a deadline of now.
  if (!(intervalSeconds * kNanosecondsPerSecond >= 1) || !std::isfinite(intervalSeconds)) {
    std::ostringstream interval;
    interval << intervalSeconds;
    return Failure(400, detail::kTimerIntervalRefused,
                   {{"name", name}, {"interval", interval.str()}});
  }
  const std::uint64_t deadline =
      NowNanoseconds() +
      static_cast<std::uint64_t>(std::llround(intervalSeconds * kNanosecondsPerSecond));
  const auto [position, inserted] = mTimers.try_emplace(std::string(name));
  Timer& timer = position->second;
  if (timer.record != nullptr && (timer.record->posted || timer.record->firing)) {
    // The core still holds the old schedule's firing: it keeps that record.
    DetachTimerRecord(std::move(timer.record), TimerRecord::State::Detached);
  }
  if (timer.record == nullptr) {
    timer.record = std::make_unique<TimerRecord>(TimerRecord{
        this, position->first, detail::FillPositional(detail::kTimerTaskLabel, {name})});
  }
  timer.callable = std::make_shared<Task>(std::move(callable));
  timer.intervalSeconds = intervalSeconds;
  timer.generation = ++mLastTimerGeneration;
  timer.nextDeadlineNanoseconds = deadline;
  timer.record->generation = timer.generation;
  ScheduleTimer(*timer.record, deadline);
  return {};
}

void ModuleBase::RemoveTimer(std::string_view name) {
  if (const auto found = mTimers.find(name); found != mTimers.end()) {
    DetachTimerRecord(std::move(found->second.record), TimerRecord::State::Detached);
    mTimers.erase(found);
  }
}

bool ModuleBase::HasTimer(std::string_view name) const {
  return mTimers.contains(name);
}

void ModuleBase::DetachTimerRecord(std::unique_ptr<TimerRecord> record, TimerRecord::State state) {
  if (record == nullptr || !(record->posted || record->firing)) {
    return;  // nothing refers to it any more
  }
  record->state = state;
  mDetachedTimerRecords.push_back(std::move(record));
}

void ModuleBase::ScheduleTimer(TimerRecord& record, std::uint64_t deadlineNanoseconds) {
  if (HostPostTask(record.label.c_str(), &ModuleBase::FireTimerTrampoline, &record,
                   DelaySecondsUntil(deadlineNanoseconds), 0) != 0) {
    record.posted = true;
  }
}

void NALO_ABI_CALL ModuleBase::FireTimerTrampoline(void* userData) noexcept {
  if (userData == nullptr) {
    return;
  }
  auto* record = static_cast<TimerRecord*>(userData);
  record->module->FireTimer(*record);
}

void ModuleBase::FireTimer(TimerRecord& record) {
  record.posted = false;
  const auto forget = [this](const TimerRecord& detached) {
    std::erase_if(mDetachedTimerRecords, [&](const std::unique_ptr<TimerRecord>& owned) {
      return owned.get() == &detached;
    });
  };
  if (record.state != TimerRecord::State::Current) {
    // Removed, set again or shut down since this firing was scheduled. Only
    // a removed timer is worth a line: a replaced one fires on its new
    // schedule.
    if (record.state == TimerRecord::State::Detached && !mTimers.contains(record.name)) {
      Log(LogLevel::Warn, kMissingTimerGroups, detail::kMissingTimerFormat, mShortName.c_str(),
          record.name.c_str());
    }
    forget(record);
    return;
  }
  const auto found = mTimers.find(record.name);
  if (found == mTimers.end() || found->second.record.get() != &record) {
    return;  // not reached: a current record belongs to its timer
  }
  Timer& timer = found->second;
  const std::uint64_t nextDeadline =
      NowNanoseconds() +
      static_cast<std::uint64_t>(std::llround(timer.intervalSeconds * kNanosecondsPerSecond));
  timer.nextDeadlineNanoseconds = nextDeadline;
  // Held by a copy: the callable may set or remove its own timer, which
  // detaches this record (it is firing) instead of freeing it.
  const std::shared_ptr<Task> callable = timer.callable;
  record.firing = true;
  RunGuarded(record.name, *callable);
  record.firing = false;
  if (record.state != TimerRecord::State::Current) {
    forget(record);
    return;
  }
  ScheduleTimer(record, nextDeadline);
}

}  // namespace Nalo
