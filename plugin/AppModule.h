#pragma once
// AppModule: the base class of every plugin object. It performs the host
// handshake, hands the core its three callbacks, sends requests to other
// plugins and to the platform server (LCDS), waits cooperatively (Await) and
// owns the plugin's registry, routes, log target and telemetry sink.
//
// A plugin derives from it, registers its types and routes in RegisterApi,
// starts its work in OnInitialize, and exports its entry with
// NALO_PLUGIN_ENTRY (PluginEntry.h):
//
//   class Echo final : public Nalo::AppModule {
//     void RegisterApi() override {
//       auto routes = Routes().Bind(*this);
//       routes.Get("/echo/v1/value", &Echo::Value);
//     }
//     bool OnInitialize() override { Subscribe("/tav-login/v1/session"); return true; }
//   };
//   NALO_PLUGIN_ENTRY(load_echo, Echo, "echo")
//
// Requests. Request<T>(method, url, arguments...) converts each argument to a
// host value, calls the core synchronously and, for a result type T, reads
// the response body (streamed bodies are read in 4096-byte pieces, yielding
// to the core between pieces) and converts it to T. Every failure is
// returned, with code 400 for arguments that don't convert, the response's
// status for an error response, and 0 otherwise:
//
//   auto queues = Request<std::vector<Queue>>(RequestMethod::Get, "/tav-game-queues/v1/queues");
//   if (queues.HasFailure()) return queues.GetFailure();
//
// LCDS. LcdsInvoke<T>(destination, method, arguments...) posts to the login
// plugin's relay, tagging arguments whose types have an LCDS class name
// (LcdsClasses()) with "__class", and checks the reply's class name before
// converting its body. The future it returns is already ready; wait on it
// with Await, which pumps the core only while the future is not ready.
//
// The virtual operations keep the slot order the core's plugins share:
// Subscribe, Unsubscribe, destructor, OnShutdown, HostRequest, HostCall1,
// HostSendEvent, HostSubscribe, HostUnsubscribe, HostPostTask, HostPump,
// HostBeginWait, HostEndWait (ModuleBase.h), then RegisterApi and
// OnInitialize.

#include <chrono>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingConvert.h"
#include "binding/BindingHelp.h"
#include "platform/Clock.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "diagnostics/PluginLogTarget.h"
#include "plugin/LcdsClassNames.h"
#include "plugin/ModuleBase.h"
#include "plugin/PluginVersion.h"
#include "plugin/TelemetrySink.h"
#include "routing/ApiDescription.h"
#include "routing/RequestMethod.h"
#include "routing/RouteTable.h"

namespace Nalo {

inline constexpr std::string_view kLcdsInvokeUrl = "/tav-login/v1/session/invoke";

// Named parameters of a request, sent as one object argument.
using RequestParameters = std::map<std::string, BindingProperty>;

class AppModule : public ModuleBase {
 public:
  explicit AppModule(const TickClock& clock = SystemTickClock());
  ~AppModule() override;
  AppModule(const AppModule&) = delete;
  AppModule& operator=(const AppModule&) = delete;
  AppModule(AppModule&&) = delete;
  AppModule& operator=(AppModule&&) = delete;

  // Slot 13: registers the subclass's types and routes, during Register.
  virtual void RegisterApi() {}
  // Slot 14: starts the plugin's work at the end of Initialize; its result is
  // Initialize's.
  virtual bool OnInitialize() { return true; }

  // --- Handshake ---------------------------------------------------------------

  // The handshake of the export: checks the core's version in `registration`
  // (an incompatible core ends the process with "ALE-EECF0606"), names the
  // plugin, registers the built-in types, calls RegisterApi, describes the
  // routes, and fills the registration's out-words. Exceptions (allocation)
  // pass to the caller, which is LoadPlugin.
  void Register(NaloPluginRegistration& registration, std::string_view shortName);

  // Initialize's work, also reachable through the callbacks table: binds the
  // core, installs the log target (unless one is installed), creates the
  // telemetry sink, subscribes the service-proxy events and calls
  // OnInitialize.
  [[nodiscard]] bool Initialize(const NaloHostServices& services);

  // --- Requests ------------------------------------------------------------------

  template <class Result = void, class... Arguments>
  [[nodiscard]] MaybeType<Failure, Result> Request(RequestMethod method, std::string_view url,
                                                   const Arguments&... arguments) {
    std::vector<BindingProperty> values;
    values.reserve(sizeof...(Arguments));
    std::string error;
    const bool converted = (ConvertArgument(arguments, values, error) && ...);
    if (!converted) {
      return ArgumentFailure(method, url, error);
    }
    return Send<Result>(method, url, values);
  }

  // The same with named parameters, sent as one object argument.
  template <class Result = void>
  [[nodiscard]] MaybeType<Failure, Result> RequestWithParameters(
      RequestMethod method, std::string_view url, const RequestParameters& parameters) {
    std::vector<BindingProperty> values(1);
    values.front().MakeStructure();
    for (const auto& [name, value] : parameters) {
      values.front().member(name) = value;
    }
    return Send<Result>(method, url, values);
  }

  // --- LCDS ------------------------------------------------------------------------

  template <class Result = void, class... Arguments>
  [[nodiscard]] std::future<MaybeType<Failure, Result>> LcdsInvoke(std::string_view destination,
                                                                   std::string_view method,
                                                                   const Arguments&... arguments) {
    std::promise<MaybeType<Failure, Result>> promise;
    std::future<MaybeType<Failure, Result>> future = promise.get_future();
    BindingProperty argumentArray;
    argumentArray.MakeCollection();
    std::string error;
    const bool converted = (ConvertLcdsArgument(arguments, argumentArray, error) && ...);
    if (!converted) {
      promise.set_value(LcdsArgumentFailure(error));
      return future;
    }
    MaybeType<Failure, BindingProperty> reply = SendLcds(destination, method, argumentArray);
    if (reply.HasFailure()) {
      promise.set_value(std::move(reply).GetFailure());
    } else if constexpr (std::is_void_v<Result>) {
      promise.set_value(MaybeType<Failure, void>());
    } else {
      promise.set_value(ReadLcdsReply<Result>(destination, method, reply.Value()));
    }
    return future;
  }

  // The LCDS class names of the data types; filled while types are
  // registered (RegisterApi), read afterwards.
  [[nodiscard]] LcdsClassNames& LcdsClasses() noexcept { return mLcdsClassNames; }

  // --- Waiting ---------------------------------------------------------------------

  // Returns the future's result. While it isn't ready: BeginWait("Wait:
  // future<...>") once, then Pump until it is, then EndWait; a ready future
  // pumps nothing. A future without a shared state or with a broken promise
  // ends the process with "ALE-6D828C10".
  template <class T>
  [[nodiscard]] MaybeType<Failure, T> Await(std::future<MaybeType<Failure, T>> future) {
    try {
      if (!future.valid()) {
        throw std::future_error(std::future_errc::no_state);
      }
      bool waiting = false;
      // A deferred future runs on get(): it is as good as ready.
      while (future.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
        if (!waiting) {
          HostBeginWait(WaitLabel<T>().c_str(), 0);
          waiting = true;
        }
        HostPump();
      }
      if (waiting) {
        HostEndWait();
      }
      return future.get();
    } catch (const std::future_error& error) {
      FatalFutureError(error);
    }
  }

  // --- Accessors -------------------------------------------------------------------

  // The plugin's route table; exists from Register on (fatal before).
  [[nodiscard]] RouteTable& Routes();
  // The sink created by Initialize (fatal before).
  [[nodiscard]] TelemetrySink& Telemetry();
  [[nodiscard]] const PluginApiVersion& CoreVersion() const noexcept { return mCoreVersion; }
  [[nodiscard]] const PluginNames& Names() const noexcept { return mNames; }
  // "/<short name>": the prefix of the plugin's resources.
  [[nodiscard]] const std::string& UrlPrefix() const noexcept { return mUrlPrefix; }
  // "NaloClient/<core version> (<short name>)", from Initialize on.
  [[nodiscard]] const std::string& UserAgent() const noexcept { return mUserAgent; }
  [[nodiscard]] const std::vector<std::string>& LogGroupNames() const noexcept {
    return mLogGroupNames;
  }
  // Adds an event the plugin fires to its route description; call it from
  // RegisterApi.
  void DeclareEvent(BindingEventInfo event) { mDeclaredEvents.push_back(std::move(event)); }

  // The table the core receives; its functions take the plugin object.
  [[nodiscard]] const NaloPluginCallbacks& Callbacks() const noexcept { return mCallbacks; }

 private:
  template <class T>
  bool ConvertArgument(const T& argument, std::vector<BindingProperty>& values,
                       std::string& error) {
    BindingResult converted = ToProperty(argument, Registry());
    if (converted.Failed()) {
      error = converted.ErrorMessage();
      return false;
    }
    values.push_back(std::move(converted.Value()));
    return true;
  }

  template <class T>
  bool ConvertLcdsArgument(const T& argument, BindingProperty& argumentArray, std::string& error) {
    BindingResult converted = ToProperty(argument, Registry());
    if (converted.Failed()) {
      error = converted.ErrorMessage();
      return false;
    }
    TagLcdsClasses(converted.Value(), detail::IdentifierOf<T>(Registry()));
    argumentArray.at(argumentArray.size()) = std::move(converted.Value());
    return true;
  }

  template <class Result>
  MaybeType<Failure, Result> Send(RequestMethod method, std::string_view url,
                                  std::vector<BindingProperty>& values) {
    if constexpr (std::is_void_v<Result>) {
      MaybeType<Failure, BindingProperty> sent =
          SendRequest(method, url, values, ResponseUse::Ignore);
      if (sent.HasFailure()) {
        return std::move(sent).GetFailure();
      }
      return {};
    } else {
      MaybeType<Failure, BindingProperty> body =
          SendRequest(method, url, values, ResponseUse::ReadBody);
      if (body.HasFailure()) {
        return std::move(body).GetFailure();
      }
      Result result{};
      BindingResult converted = FromProperty(result, body.Value(), "<result>", Registry());
      if (converted.Failed()) {
        return ResponseFailure(method, url, converted.ErrorMessage());
      }
      return result;
    }
  }

  template <class Result>
  MaybeType<Failure, Result> ReadLcdsReply(std::string_view destination, std::string_view method,
                                           const BindingProperty& replyValue) {
    if (replyValue.IsEmpty()) {
      return Failure();
    }
    PluginLcdsResponse reply;
    const BindingTypeDescriptor* descriptor = DescriptorOf<Result>(Registry());
    const std::string_view typeName =
        descriptor != nullptr ? descriptor->FullName() : std::string_view(typeid(Result).name());
    if (FromProperty(reply, replyValue, "<reply>", Registry()).Failed()) {
      return LcdsDtoFailure(typeName, replyValue);
    }
    if (const auto expected = mLcdsClassNames.ForType<Result>();
        expected.has_value() && *expected != reply.typeName) {
      return LcdsClassFailure(*expected, destination, method, reply.typeName);
    }
    Result result{};
    if (FromProperty(result, reply.body, "<value>", Registry()).Failed()) {
      return LcdsDtoFailure(typeName, reply.body);
    }
    return result;
  }

  template <class T>
  static const std::string& WaitLabel() {
    static const std::string label = FutureWaitLabel(typeid(MaybeType<Failure, T>));
    return label;
  }

  enum class ResponseUse { Ignore, ReadBody };

  // Sends the request; with ReadBody, returns the body (empty for none).
  [[nodiscard]] MaybeType<Failure, BindingProperty> SendRequest(
      RequestMethod method, std::string_view url, const std::vector<BindingProperty>& values,
      ResponseUse use);
  [[nodiscard]] MaybeType<Failure, BindingProperty> SendLcds(std::string_view destination,
                                                             std::string_view method,
                                                             const BindingProperty& arguments);
  // Adds "__class" to `value` and, through the registered fields, to nested
  // data types that have an LCDS class name.
  void TagLcdsClasses(BindingProperty& value, const BindingTypeIdentifier& type) const;
  void TagLcdsStructure(BindingProperty& value, const BindingTypeDescriptor& descriptor,
                        std::size_t depth) const;
  void TagLcdsValue(BindingProperty& value, BindingTypeId code, BindingTypeId elementCode,
                    const BindingTypeDescriptor* descriptor, std::size_t depth) const;

  [[nodiscard]] static Failure ArgumentFailure(RequestMethod method, std::string_view url,
                                               std::string_view error);
  [[nodiscard]] static Failure ResponseFailure(RequestMethod method, std::string_view url,
                                               std::string_view error);
  [[nodiscard]] static Failure LcdsArgumentFailure(std::string_view error);
  [[nodiscard]] static Failure LcdsClassFailure(std::string_view expected,
                                                std::string_view destination,
                                                std::string_view method, std::string_view actual);
  [[nodiscard]] Failure LcdsDtoFailure(std::string_view typeName,
                                       const BindingProperty& body) const;
  [[nodiscard]] static std::string FutureWaitLabel(const std::type_info& type);
  [[noreturn]] static void FatalFutureError(const std::future_error& error) noexcept;

  static std::uint8_t NALO_ABI_CALL InitializeCallback(void* context,
                                                       const NaloHostServices* services) noexcept;
  static void NALO_ABI_CALL ShutdownCallback(void* context) noexcept;
  static void NALO_ABI_CALL MemoryStatisticsCallback(void* context, std::uint32_t* words) noexcept;

  NaloPluginCallbacks mCallbacks;
  PluginApiVersion mCoreVersion;
  PluginNames mNames;
  std::string mUrlPrefix;
  std::vector<std::string> mLogGroupNames;
  std::string mUserAgent;
  LcdsClassNames mLcdsClassNames;
  std::vector<BindingEventInfo> mDeclaredEvents;
  std::unique_ptr<RouteTable> mRoutes;
  std::unique_ptr<ApiDescription> mDescription;
  std::unique_ptr<TelemetrySink> mTelemetry;
  std::unique_ptr<PluginLogTarget> mLogTarget;
};

}  // namespace Nalo
