#pragma once
// ModuleBase: the event, task and timer layer every plugin shares, between
// the core's raw NaloCoreApi entries and the plugin's handlers.
//
// It keeps the tables of subscriptions and handlers, publishes the plugin's
// own resources, hands platform-server (LCDS) messages to typed handlers,
// pairs service-proxy replies with the requests waiting for them, and runs
// deferred tasks and named repeating timers through the core's PostTask.
// AppModule (AppModule.h) derives from it and adds the handshake, requests
// and Await; plugins derive from AppModule and use these operations from
// their handlers:
//
//   Subscribe("/tav-login/v1/session");
//   AddResourceHandler<LoginSession>("/tav-login/v1/session",
//       [this](std::string_view uri, PluginResourceEventType type, const LoginSession* value) {
//         if (value != nullptr) OnLogin(*value);    // null for a Delete
//       });
//   SubscribeLcds<GameDto>("com.example.GameDTO", [this](GameDto& game) { OnGame(game); });
//   auto timer = SetTimer("tav-gameflow.tick", 0.5, [this] { Tick(); });
//   auto published = Publish("/tav-gameflow/v1/session", mSession);
//
// Threads. Everything here is called on the plugin thread, the one on which
// the core calls the plugin. The task table is guarded by the task mutex and
// the service-proxy tables by the module mutex; neither is held while a task
// or timer callable runs or while the core is called.
//
// Ordering guarantees of PostTask, timers and Pump:
//  1. A posted task runs at most once, on the plugin thread, from a later
//     callback of the core: never inside PostTask. It is moved out of its
//     slot before it runs, so it may post tasks, set or remove timers, or
//     destroy what owns it.
//  2. PostTask hands the core the delay (deadline - now) in whole
//     milliseconds, or 0 when the deadline has passed. Tasks whose deadlines
//     fall on the same millisecond therefore run in the order they were
//     posted (the core runs equal due times in posting order).
//  3. A timer first fires one interval after SetTimer and then every
//     interval, measured from the start of the previous firing, until it is
//     set again or removed.
//  4. SetTimer on a name that exists replaces the callable and interval and
//     voids every firing scheduled before: only the newest schedule fires.
//     This holds when the callable sets its own timer.
//  5. A firing handed to the core before RemoveTimer still comes, finds no
//     timer, logs one WARN line and calls nothing.
//  6. After OnShutdown no task and no timer callable runs, even when the
//     core still calls the trampolines of earlier posts.
//  7. Pump runs only inside Yield, Await and the reading of a streamed
//     response, always between one BeginWait and one EndWait; any callback
//     of this plugin (events, tasks, timers, requests) may run inside it.
//  8. A task, timer callable or event handler that throws is stopped at the
//     edge: the exception is logged at ERROR and the plugin goes on.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "abi/HostAbi.h"
#include "abi/HostValue.h"
#include "binding/BindingConvert.h"
#include "binding/BindingTypeRegistry.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "platform/Clock.h"
#include "plugin/EventNames.h"
#include "plugin/RuntimeTypes.h"

namespace Nalo {

// Receives resource subscriptions. Its two operations are the first slots of
// every plugin object; the defaults do nothing.
class EventSubscriber {
 public:
  EventSubscriber() = default;
  EventSubscriber(const EventSubscriber&) = delete;
  EventSubscriber& operator=(const EventSubscriber&) = delete;
  EventSubscriber(EventSubscriber&&) = delete;
  EventSubscriber& operator=(EventSubscriber&&) = delete;

  virtual void Subscribe(std::string_view /*uri*/) {}
  virtual void Unsubscribe(std::string_view /*uri*/) {}
  virtual ~EventSubscriber() = default;
};

namespace detail {

// A handler of one event name: converts the payload to its type and calls.
class EventHandler {
 public:
  EventHandler() = default;
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;
  EventHandler(EventHandler&&) = delete;
  EventHandler& operator=(EventHandler&&) = delete;
  virtual ~EventHandler() = default;
  // Drops the event silently when the payload doesn't convert.
  virtual void Deliver(const NaloHostValue& payload, const BindingTypeRegistry& registry) = 0;
};

template <class T>
class TypedEventHandler final : public EventHandler {
 public:
  explicit TypedEventHandler(std::function<void(T&)> handler) : mHandler(std::move(handler)) {}
  void Deliver(const NaloHostValue& payload, const BindingTypeRegistry& registry) override {
    BindingResult property = FromHostValue(payload, "<payload>");
    if (property.Failed()) {
      return;
    }
    T value{};
    if (FromProperty(value, property.Value(), "<payload>", registry).Failed()) {
      return;
    }
    mHandler(value);
  }

 private:
  std::function<void(T&)> mHandler;
};

// A handler of a resource URI or URI pattern.
class ResourceHandler {
 public:
  ResourceHandler() = default;
  ResourceHandler(const ResourceHandler&) = delete;
  ResourceHandler& operator=(const ResourceHandler&) = delete;
  ResourceHandler(ResourceHandler&&) = delete;
  ResourceHandler& operator=(ResourceHandler&&) = delete;
  virtual ~ResourceHandler() = default;
  virtual void Handle(const Resource& resource, const BindingTypeRegistry& registry) = 0;
};

template <class T>
class TypedResourceHandler final : public ResourceHandler {
 public:
  using Callback = std::function<void(std::string_view, PluginResourceEventType, const T*)>;
  explicit TypedResourceHandler(Callback callback) : mCallback(std::move(callback)) {}
  void Handle(const Resource& resource, const BindingTypeRegistry& registry) override {
    if (resource.eventType == PluginResourceEventType::Delete) {
      mCallback(resource.uri, resource.eventType, nullptr);
      return;
    }
    T value{};
    if (FromProperty(value, resource.data, "<value>", registry).Failed()) {
      return;
    }
    mCallback(resource.uri, resource.eventType, &value);
  }

 private:
  Callback mCallback;
};

// A handler of one LCDS type name.
class LcdsHandler {
 public:
  LcdsHandler() = default;
  LcdsHandler(const LcdsHandler&) = delete;
  LcdsHandler& operator=(const LcdsHandler&) = delete;
  LcdsHandler(LcdsHandler&&) = delete;
  LcdsHandler& operator=(LcdsHandler&&) = delete;
  virtual ~LcdsHandler() = default;
  virtual void Handle(const PluginLcdsEvent& event, const BindingTypeRegistry& registry) = 0;
};

template <class T>
class TypedLcdsHandler final : public LcdsHandler {
 public:
  explicit TypedLcdsHandler(std::function<void(T&)> handler) : mHandler(std::move(handler)) {}
  void Handle(const PluginLcdsEvent& event, const BindingTypeRegistry& registry) override {
    T value{};
    if (FromProperty(value, event.body, "<value>", registry).Failed()) {
      return;
    }
    mHandler(value);
  }

 private:
  std::function<void(T&)> mHandler;
};

// Walks the data of a resource event into `visitor` (a native value through
// VisitNative, a held value through accept). A plain reference to the
// caller's walk: no copy, no allocation.
class ResourceData {
 public:
  template <class Walk>
  explicit ResourceData(const Walk& walk) noexcept
      : mWalk(&walk), mCall([](const void* walk, BindingVisitor& visitor) {
          return (*static_cast<const Walk*>(walk))(visitor);
        }) {}

  [[nodiscard]] BindingResult operator()(BindingVisitor& visitor) const {
    return mCall(mWalk, visitor);
  }

 private:
  const void* mWalk;
  BindingResult (*mCall)(const void*, BindingVisitor&);
};

// The payload of a resource event: the registered Resource record (uri,
// eventType, data) as a host value, built in one walk with `data` written
// straight into the record's "data" member: neither the record nor the data
// becomes a value tree first. `blockHint`, when given, is the block size to
// start with (see HostValueBuilder) and is raised to the size this payload
// used. Fails with 500 when the data doesn't convert.
[[nodiscard]] MaybeType<Failure, HostValue> ResourcePayload(std::string_view uri,
                                                            PluginResourceEventType type,
                                                            const ResourceData& data,
                                                            const BindingTypeRegistry& registry,
                                                            std::size_t* blockHint = nullptr);
[[nodiscard]] MaybeType<Failure, HostValue> ResourcePayload(std::string_view uri,
                                                            PluginResourceEventType type,
                                                            const BindingProperty& data,
                                                            const BindingTypeRegistry& registry);

}  // namespace detail

class ModuleBase : public EventSubscriber {
 public:
  using Task = std::function<void()>;
  // Called with a service-proxy reply, while the module mutex is held: it
  // must not add or remove service-proxy handlers.
  using ServiceProxyHandler = std::function<void(const PluginServiceProxyResponse&)>;
  template <class T>
  using ResourceCallback =
      std::function<void(std::string_view uri, PluginResourceEventType type, const T* value)>;

  // `clock` is "now" for tasks and timers and must outlive the module.
  explicit ModuleBase(const TickClock& clock = SystemTickClock());
  ~ModuleBase() override;
  ModuleBase(const ModuleBase&) = delete;
  ModuleBase& operator=(const ModuleBase&) = delete;
  ModuleBase(ModuleBase&&) = delete;
  ModuleBase& operator=(ModuleBase&&) = delete;

  // --- Resource subscriptions (slots 0 and 1) ---------------------------------

  // Counts a subscriber of `uri`'s resource event name (EventNames.h); the
  // first one subscribes to the name with the resource dispatcher (flags 0).
  void Subscribe(std::string_view uri) override;
  // Takes one subscriber away; the last one unsubscribes from the name. A
  // name without subscribers is left alone.
  void Unsubscribe(std::string_view uri) override;

  // --- Lifecycle and the core's entries (slots 3 to 12) -------------------------

  // Unsubscribes every event name, clears the handler tables, then, holding
  // the task mutex, the timer and task tables, then the rest. Subclasses that
  // override it call it last.
  virtual void OnShutdown();

  // Each passes the core's table first and its own arguments unchanged. They
  // must not be called before Initialize handed the core's table over: that
  // is a programming error and ends the process.
  virtual void HostRequest(NaloResponse* response, const NaloRequest* request);
  virtual std::uintptr_t HostCall1(std::uintptr_t first, std::uintptr_t second);
  virtual void HostSendEvent(const NaloEvent* event);
  virtual void HostSubscribe(const char* name, std::uint32_t pluginHandle,
                             NaloEventCallback callback, void* userData, std::uint32_t flags);
  virtual void HostUnsubscribe(const char* name, std::uint32_t pluginHandle);
  virtual std::uint8_t HostPostTask(const char* label, NaloTaskCallback callback, void* userData,
                                    double delaySeconds, std::uint32_t flags);
  virtual void HostPump();
  virtual void HostBeginWait(const char* label, std::uint32_t reserved);
  virtual void HostEndWait();

  // --- Events -------------------------------------------------------------------

  // Handles the event `name` with `handler`, which receives the payload
  // converted to T (BindingProperty: as it came); payloads that don't convert
  // are dropped. Replaces an earlier handler of the name and subscribes with
  // the core (flags 0 for resource events, 1 for the others).
  template <class T>
  void SubscribeEvent(std::string_view name, std::function<void(T&)> handler, std::uint32_t flags) {
    SubscribeRawEvent(name, std::make_shared<detail::TypedEventHandler<T>>(std::move(handler)),
                      flags);
  }
  // Unsubscribes from `name` and drops its handler, if any.
  void UnsubscribeEvent(std::string_view name);

  // Handles resource events of the exact URI `uriOrPattern`, or of every URI
  // that matches it when it holds "*" (EventNames.h). The exact handler runs
  // first, then every matching pattern's in ascending pattern order. The
  // callback gets the value converted to T, or null for a Delete; an update
  // whose value doesn't convert is skipped. Replaces an earlier handler of
  // the same text. Handlers receive only what Subscribe asked the core for.
  template <class T>
  void AddResourceHandler(std::string_view uriOrPattern, ResourceCallback<T> callback) {
    AddRawResourceHandler(uriOrPattern,
                          std::make_shared<detail::TypedResourceHandler<T>>(std::move(callback)));
  }
  void RemoveResourceHandler(std::string_view uriOrPattern);

  // Announces a new value of one of the plugin's resources: a Create event
  // under `uri`'s resource event name, then under "OnJsonApiEvent". When the
  // value doesn't convert nothing is sent and the failure (code 500) says why.
  template <class T>
  [[nodiscard]] MaybeType<Failure, void> Publish(std::string_view uri, const T& value) {
    const auto walk = [&](BindingVisitor& visitor) {
      return VisitNative(value, *mRegistry, visitor);
    };
    return PublishResource(uri, PluginResourceEventType::Create, detail::ResourceData(walk));
  }
  // Announces that `uri` is gone: a Delete event with no data, sent the same
  // two ways.
  [[nodiscard]] MaybeType<Failure, void> PublishDeletion(std::string_view uri);

  // Handles platform-server messages of `typeName`: each is queued as a task
  // (label "Event: OnLcdsEvent (<type name>)") and, when it runs, its body is
  // converted to T and passed to `handler`; a body that doesn't convert is
  // dropped. Subscribes to the type's LCDS event name (flags 1).
  template <class T>
  void SubscribeLcds(std::string_view typeName, std::function<void(T&)> handler) {
    SubscribeRawLcds(typeName, std::make_shared<detail::TypedLcdsHandler<T>>(std::move(handler)));
  }

  // Service-proxy replies. A pending request is answered by the first stored
  // reply of its key (a uuid, or "service.method"); an asynchronous handler
  // receives every OnServiceProxyAsyncEvent of its "service.method" key.
  void AddPendingServiceProxyRequest(std::string key, ServiceProxyHandler handler);
  void SetAsyncServiceProxyHandler(std::string key, ServiceProxyHandler handler);
  // How many replies wait for their request.
  [[nodiscard]] std::size_t StoredServiceProxyReplyCount() const;

  // --- Tasks and timers (see the guarantees above) ------------------------------

  // Lets the core run pending work: BeginWait("Wait: yield"), Pump, EndWait.
  void Yield();
  // Runs `task` once at `deadlineNanoseconds` of this module's clock (now if
  // passed). Returns whether the core accepted it; a refused task is dropped.
  bool PostTask(std::string_view label, std::uint64_t deadlineNanoseconds, Task task);
  // Creates or replaces the timer `name`. The interval is in seconds and must
  // be a finite number above 0: a timer that is always due would keep the
  // core at one instant. Any other interval fails with 400 naming the timer,
  // and leaves an existing timer of that name as it was.
  [[nodiscard]] MaybeType<Failure, void> SetTimer(std::string_view name, double intervalSeconds,
                                                  Task callable);
  // Erases the timer `name`, if any.
  void RemoveTimer(std::string_view name);
  [[nodiscard]] bool HasTimer(std::string_view name) const;

  // --- Accessors ----------------------------------------------------------------

  [[nodiscard]] std::uint64_t NowNanoseconds() const noexcept { return mClock->NowNanoseconds(); }
  // The registry all of the plugin's conversions use, owned by the module.
  [[nodiscard]] BindingTypeRegistry& Registry() noexcept { return *mRegistry; }
  [[nodiscard]] const BindingTypeRegistry& Registry() const noexcept { return *mRegistry; }
  // The short name ("tav-gameflow"), the prefix of the runtime's log lines.
  [[nodiscard]] const std::string& ShortName() const noexcept { return mShortName; }
  // How the core knows this plugin; 0 before Initialize.
  [[nodiscard]] std::uint32_t PluginHandle() const noexcept { return mPluginHandle; }

 protected:
  // Binds the module to the core: keeps `services` and its handle and
  // subscribes to the three service-proxy events. Called by Initialize.
  void AttachHost(const NaloHostServices& services);
  void SetShortName(std::string shortName) { mShortName = std::move(shortName); }
  [[nodiscard]] const NaloCoreApi& Core() const;

 private:
  struct TaskRecord {
    ModuleBase* module;
    std::uint64_t id;
    Task task;
  };
  // What the core holds for one scheduled firing of a timer. A timer keeps
  // one record and posts it again after each firing, so a firing allocates
  // nothing. A record whose firing the core still holds outlives its timer:
  // removing or replacing the timer only detaches it, and the firing, when
  // it comes, finds it detached (or retired by OnShutdown) and frees it.
  struct TimerRecord {
    enum class State : std::uint8_t { Current, Detached, Retired };
    ModuleBase* module;
    std::string name;
    std::string label;  // "Timer: <name>", built once
    std::uint64_t generation = 0;
    bool posted = false;  // the core holds a firing of this record
    bool firing = false;  // its timer's callable runs
    State state = State::Current;
  };
  struct Timer {
    std::shared_ptr<Task> callable;
    std::unique_ptr<TimerRecord> record;
    double intervalSeconds = 0;
    std::uint64_t nextDeadlineNanoseconds = 0;
    std::uint64_t generation = 0;
  };

  static void NALO_ABI_CALL DeliverEvent(const NaloEvent* event) noexcept;
  static void NALO_ABI_CALL RunTaskTrampoline(void* userData) noexcept;
  static void NALO_ABI_CALL FireTimerTrampoline(void* userData) noexcept;

  void SubscribeRawEvent(std::string_view name, std::shared_ptr<detail::EventHandler> handler,
                         std::uint32_t flags);
  void AddRawResourceHandler(std::string_view uriOrPattern,
                             std::shared_ptr<detail::ResourceHandler> handler);
  void SubscribeRawLcds(std::string_view typeName, std::shared_ptr<detail::LcdsHandler> handler);
  void DispatchResource(Resource& resource);
  void OnLcdsEvent(PluginLcdsEvent& event);
  void OnServiceProxyReply(std::string key, PluginServiceProxyResponse& reply);
  void OnServiceProxyAsync(PluginServiceProxyResponse& reply);
  [[nodiscard]] MaybeType<Failure, void> PublishResource(std::string_view uri,
                                                         PluginResourceEventType type,
                                                         const detail::ResourceData& data);
  void RunTask(std::uint64_t id) noexcept;
  // The delay PostTask hands the core for `deadlineNanoseconds` (rule 2).
  [[nodiscard]] double DelaySecondsUntil(std::uint64_t deadlineNanoseconds) const;
  void ScheduleTimer(TimerRecord& record, std::uint64_t deadlineNanoseconds);
  // Keeps `record` alive, inert, until the core's firing of it comes.
  void DetachTimerRecord(std::unique_ptr<TimerRecord> record, TimerRecord::State state);
  void FireTimer(TimerRecord& record);
  // Runs `callable` and logs what escapes it; `what` names it in the line.
  void RunGuarded(std::string_view what, const std::function<void()>& callable) noexcept;

  const TickClock* mClock;
  std::unique_ptr<BindingTypeRegistry> mRegistry;
  // The largest resource payload block published so far: the next one
  // starts at this size and rarely has to grow.
  std::size_t mPayloadBlockHint = 0;
  // The event name of the last URI published, kept for the next publication
  // of the same resource.
  std::string mPublishedUri;
  std::string mPublishedEventName;
  const NaloHostServices* mServices = nullptr;
  std::uint32_t mPluginHandle = 0;
  std::string mShortName;

  // Plugin thread only.
  std::map<std::string, std::size_t, std::less<>> mSubscriptionCounts;
  std::map<std::string, std::shared_ptr<detail::EventHandler>, std::less<>> mEventHandlers;
  std::map<std::string, std::shared_ptr<detail::ResourceHandler>, std::less<>> mResourceHandlers;
  std::map<std::string, std::shared_ptr<detail::ResourceHandler>, std::less<>> mPatternHandlers;
  std::map<std::string, std::shared_ptr<detail::LcdsHandler>, std::less<>> mLcdsHandlers;

  // Guarded by mModuleMutex.
  mutable std::mutex mModuleMutex;
  std::map<std::string, ServiceProxyHandler, std::less<>> mPendingServiceProxyRequests;
  std::map<std::string, ServiceProxyHandler, std::less<>> mAsyncServiceProxyHandlers;
  std::map<std::string, PluginServiceProxyResponse, std::less<>> mStoredServiceProxyReplies;

  // Guarded by mTaskMutex (the timer table too, while it is cleared).
  mutable std::mutex mTaskMutex;
  std::uint64_t mNextTaskId = 1;
  std::unordered_map<std::uint64_t, std::unique_ptr<TaskRecord>> mTasks;
  // Records of tasks dropped by OnShutdown: the core may still hold their
  // addresses, so they live, inert, until the module is destroyed.
  std::vector<std::unique_ptr<TaskRecord>> mRetiredTasks;
  std::map<std::string, Timer, std::less<>> mTimers;
  // Timer records detached or retired while the core held their firing.
  std::vector<std::unique_ptr<TimerRecord>> mDetachedTimerRecords;
  // Generations come from one counter, so a timer removed and set again
  // never reuses a generation an old firing still carries.
  std::uint64_t mLastTimerGeneration = 0;
};

}  // namespace Nalo
