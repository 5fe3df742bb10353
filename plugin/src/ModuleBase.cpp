// ModuleBase's core entries, events and resource subscriptions, the
// publication of the plugin's resources, LCDS messages and service-proxy
// replies. Tasks and timers are in ModuleTasks.cpp.

#include "plugin/ModuleBase.h"

#include <algorithm>

#include "diagnostics/Fatal.h"
#include "diagnostics/Log.h"
#include "plugin/src/PositionalText.h"
#include "plugin/src/RuntimeMessages.h"

namespace Nalo {

namespace {

constexpr std::uint32_t kResourceSubscriptionFlags = 0;
constexpr std::uint32_t kServiceSubscriptionFlags = 1;

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

MaybeType<Failure, HostValue> detail::ResourcePayload(std::string_view uri,
                                                      PluginResourceEventType type,
                                                      const ResourceData& data,
                                                      const BindingTypeRegistry& registry,
                                                      std::size_t* blockHint) {
  HostValueBuilder builder(registry, blockHint != nullptr ? *blockHint : 0);
  if (DescriptorOf<Resource>(registry) == nullptr) [[unlikely]] {
    // Fails exactly as converting the record fails.
    const BindingResult record =
        VisitNative(Resource{std::string(uri), type, BindingProperty()}, registry, builder);
    return Failure(500, kPublishFailed, {{"uri", uri}, {"error", record.ErrorMessage()}});
  }
  // The registered record, member by member in name order (data, eventType,
  // uri), written here so that the data goes straight into the builder.
  builder.StartObject(3);
  builder.Key("data");
  const BindingResult walked = data(builder);
  if (walked.Failed()) {
    return Failure(500, kPublishFailed, {{"uri", uri}, {"error", walked.ErrorMessage()}});
  }
  builder.Key("eventType");
  builder.Enum(static_cast<std::int32_t>(type), DescriptorOf<PluginResourceEventType>(registry));
  builder.Key("uri");
  builder.String(uri);
  builder.EndObject();
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
  // Taken out of the cache while the core has it, in case the core delivers
  // to this plugin inside the call and a handler publishes again.
  std::string name = !mPublishedUri.empty() && uri == mPublishedUri ? std::move(mPublishedEventName)
                                                                    : ResourceEventName(uri);
  mPublishedUri.clear();
  NaloEvent event{};
  event.name = name.c_str();
  event.payload = payload.Record();
  HostSendEvent(&event);
  if (name != kJsonApiEventName) {
    event.name = kJsonApiEventName.data();
    HostSendEvent(&event);
  }
  mPublishedUri = uri;
  mPublishedEventName = std::move(name);
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

}  // namespace Nalo
