#include "plugin/AppModule.h"

#include <cxxabi.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <exception>

#include "binding/BindingLimits.h"
#include "binding/Json.h"
#include "diagnostics/Fatal.h"
#include "diagnostics/Log.h"
#include "plugin/MemoryStatistics.h"
#include "plugin/RuntimeTypes.h"
#include "plugin/SecretRedaction.h"
#include "plugin/src/PositionalText.h"
#include "plugin/src/RuntimeMessages.h"
#include "routing/BoundFunctionName.h"

namespace Nalo {

namespace {

constexpr std::size_t kStreamPieceSize = 4096;
// A response's announced size is outside input: reserve no more than this
// up front, and let the text grow past it only as bytes arrive.
constexpr std::uint64_t kMaxReservedBodySize = 1u << 20;
constexpr std::string_view kLcdsClassMember = "__class";
constexpr std::string_view kPluginsLogGroup = "Plugins";
constexpr std::string_view kPluginLogGroupPrefix = "Plugin ";

std::string_view MethodText(RequestMethod method) {
  return RequestMethodName(method);
}

// Releases a response filled by the core, exactly once, on every path.
class CoreResponse {
 public:
  CoreResponse() : mResponse{} {}
  CoreResponse(const CoreResponse&) = delete;
  CoreResponse& operator=(const CoreResponse&) = delete;
  CoreResponse(CoreResponse&&) = delete;
  CoreResponse& operator=(CoreResponse&&) = delete;
  ~CoreResponse() {
    CloseStream();
    if (mResponse.release != nullptr) {
      mResponse.release(&mResponse);
    }
  }
  NaloResponse& Record() noexcept { return mResponse; }
  void CloseStream() noexcept {
    if (mResponse.stream != nullptr && mResponse.close != nullptr && !mClosed) {
      mClosed = true;
      mResponse.close(mResponse.stream);
    }
  }

 private:
  NaloResponse mResponse;
  bool mClosed = false;
};

// The runtime's sink: posts to the telemetry service through its module.
class ModuleTelemetrySink final : public TelemetrySink {
 public:
  explicit ModuleTelemetrySink(AppModule& module) : mModule(&module) {}
  std::future<MaybeType<Failure, void>> Send(std::string_view eventName,
                                             const BindingProperty& data) override {
    std::promise<MaybeType<Failure, void>> promise;
    std::future<MaybeType<Failure, void>> future = promise.get_future();
    std::string url(kTelemetryEventsUrl);
    url += eventName;
    promise.set_value(mModule->Request(RequestMethod::Post, url, data));
    return future;
  }

 private:
  AppModule* mModule;
};

}  // namespace

AppModule::AppModule(const TickClock& clock)
    : ModuleBase(clock),
      mCallbacks{&AppModule::InitializeCallback, &AppModule::ShutdownCallback,
                 &AppModule::MemoryStatisticsCallback} {}

AppModule::~AppModule() = default;

namespace detail {

void ReportPluginCreationFailure(std::string_view shortName, const char* reason) noexcept {
  try {
    Log(LogLevel::Error, kLogGroupDebug, kPluginCreationFailedFormat,
        std::string(shortName).c_str(), reason != nullptr ? reason : "unknown reason");
  } catch (...) {
    // Out of memory while reporting it: the core sees the empty registration.
  }
}

}  // namespace detail

// --- Handshake ----------------------------------------------------------------------

void AppModule::Register(NaloPluginRegistration& registration, std::string_view shortName) {
  const PluginApiVersion own = RuntimePluginApiVersion();
  const PluginApiVersion core{registration.major, registration.minor, registration.patch, {}, {}};
  if (!IsCompatible(own, core)) {
    const std::string message = detail::FillPositional(detail::kIncompatibleCoreMessage,
                                                       {shortName, own.Text(), core.Text()});
    Log(LogLevel::Error, kLogGroupDebug, "%s", message.c_str());
    Fatal(detail::kIncompatibleCoreFatal);
  }
  mCoreVersion = core;
  mNames = GetFullNameFromShortNameAndType(shortName, kBackendPluginType);
  SetShortName(std::string(shortName));
  mLogGroupNames = {std::string(kPluginsLogGroup),
                    std::string(kPluginLogGroupPrefix) + std::string(shortName)};
  mUrlPrefix = "/" + std::string(shortName);
  RegisterBuiltinTypes(Registry());
  RegisterRuntimeTypes(Registry());
  mRoutes = std::make_unique<RouteTable>(Registry(), JoinedWord(shortName));
  RegisterApi();
  std::vector<BindingEventInfo> events = RuntimeEvents(Registry());
  events.insert(events.end(), mDeclaredEvents.begin(), mDeclaredEvents.end());
  mDescription = describeApi(*mRoutes, events)
                     .OrFatal("the help types the description needs were registered above");
  registration.major = own.major;
  registration.minor = own.minor;
  registration.patch = own.patch;
  registration.callbacks = &mCallbacks;
  registration.context = this;
  registration.shortName = ShortName().c_str();
  registration.description = &mDescription->Record();
}

bool AppModule::Initialize(const NaloHostServices& services) {
  const NaloCoreApi* core = services.core;
  std::unique_ptr<PluginLogTarget> target =
      InstallPluginLogTarget([core](LogLevel level, std::string_view message) {
        // The message is NUL-terminated (PluginLogTarget::Sink).
        core->log(core, static_cast<std::uint32_t>(level), message.data());
      });
  if (target != nullptr) {
    mLogTarget = std::move(target);
  }
  mUserAgent = detail::FillPositional(detail::kUserAgentFormat, {mCoreVersion.Text(), ShortName()});
  mTelemetry = std::make_unique<ModuleTelemetrySink>(*this);
  AttachHost(services);
  return OnInitialize();
}

std::uint8_t NALO_ABI_CALL
AppModule::InitializeCallback(void* context, const NaloHostServices* services) noexcept {
  if (context == nullptr || services == nullptr || services->core == nullptr) {
    return 0;
  }
  auto* module = static_cast<AppModule*>(context);
  try {
    return module->Initialize(*services) ? 1 : 0;
  } catch (const std::exception& exception) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kCallbackExceptionFormat,
        module->ShortName().c_str(), "Initialize", exception.what());
  } catch (...) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kCallbackExceptionFormat,
        module->ShortName().c_str(), "Initialize", "an exception of unknown type");
  }
  return 0;
}

void NALO_ABI_CALL AppModule::ShutdownCallback(void* context) noexcept {
  if (context == nullptr) {
    return;
  }
  std::unique_ptr<AppModule> module(static_cast<AppModule*>(context));
  try {
    module->OnShutdown();
  } catch (const std::exception& exception) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kCallbackExceptionFormat,
        module->ShortName().c_str(), "Shutdown", exception.what());
  } catch (...) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kCallbackExceptionFormat,
        module->ShortName().c_str(), "Shutdown", "an exception of unknown type");
  }
}

void NALO_ABI_CALL AppModule::MemoryStatisticsCallback(void* /*context*/,
                                                       std::uint32_t* words) noexcept {
  if (words != nullptr) {
    WriteMemoryStatisticsWords(
        CurrentMemoryStatistics(),
        std::span<std::uint32_t, kMemoryStatisticsWords>(words, kMemoryStatisticsWords));
  }
}

RouteTable& AppModule::Routes() {
  if (mRoutes == nullptr) {
    FatalWithDescription("mRoutes != nullptr", "Routes() was called before Register.");
  }
  return *mRoutes;
}

TelemetrySink& AppModule::Telemetry() {
  if (mTelemetry == nullptr) {
    FatalWithDescription("mTelemetry != nullptr", "Telemetry() was called before Initialize.");
  }
  return *mTelemetry;
}

// --- Requests ------------------------------------------------------------------------

Failure AppModule::ArgumentFailure(RequestMethod method, std::string_view url,
                                   std::string_view error) {
  return Failure(400, detail::kRequestNotConverted,
                 {{"method", MethodText(method)}, {"url", url}, {"error", error}});
}

Failure AppModule::ResponseFailure(RequestMethod method, std::string_view url,
                                   std::string_view error) {
  return Failure(0, detail::kResponseNotConverted,
                 {{"method", MethodText(method)}, {"url", url}, {"error", error}});
}

MaybeType<Failure, BindingProperty> AppModule::SendRequest(
    RequestMethod method, std::string_view url, const std::vector<BindingProperty>& values,
    ResponseUse use) {
  std::vector<HostValue> hostValues;
  hostValues.reserve(values.size());
  std::vector<NaloRequestArgument> arguments;
  arguments.reserve(values.size());
  for (const BindingProperty& value : values) {
    hostValues.push_back(ToHostValue(value, Registry()));
    arguments.push_back(NaloRequestArgument{hostValues.back().Record(), nullptr});
  }
  const std::string urlText(url);
  NaloRequest request{};
  request.method = static_cast<std::uint32_t>(method);
  request.path = urlText.c_str();
  request.arguments = arguments.empty() ? nullptr : arguments.data();
  request.argumentCount = arguments.size();
  request.pluginHandle = PluginHandle();

  CoreResponse response;
  HostRequest(&response.Record(), &request);
  const NaloResponse& record = response.Record();
  if (record.error != nullptr) {
    return Failure(record.status, detail::kErrorResponse,
                   {{"method", MethodText(method)}, {"url", url}, {"error", record.error}});
  }
  if (use == ResponseUse::Ignore) {
    return BindingProperty();
  }

  const auto streamFailure = [&](std::string_view error) {
    return Failure(0, detail::kStreamedResponseError,
                   {{"method", MethodText(method)}, {"url", url}, {"error", error}});
  };
  if (record.stream == nullptr || record.read == nullptr) {
    BindingResult body = FromHostValue(record.body, "<result>");
    if (body.Failed()) {
      return ResponseFailure(method, url, body.ErrorMessage());
    }
    return std::move(body.Value());
  }

  std::string text;
  // Copied out first: std::min would bind a reference to the packed member.
  const std::uint64_t expectedBodySize = record.expectedBodySize;
  text.reserve(
      static_cast<std::size_t>(std::min<std::uint64_t>(expectedBodySize, kMaxReservedBodySize)));
  std::array<std::uint8_t, kStreamPieceSize> buffer{};
  for (;;) {
    std::size_t count = buffer.size();
    std::uint8_t more = 0;
    if (record.read(record.stream, buffer.data(), &count, &more) == 0 || count > buffer.size()) {
      return streamFailure(detail::kStreamReadError);
    }
    text.append(reinterpret_cast<const char*>(buffer.data()), count);
    if (more == 0) {
      break;
    }
    if (count < buffer.size()) {
      // The rest hasn't arrived: let the core move it along.
      Yield();
    }
  }
  response.CloseStream();
  BindingResult parsed = ParseJson(text);
  if (parsed.Failed()) {
    return streamFailure(parsed.ErrorMessage());
  }
  return std::move(parsed.Value());
}

// --- LCDS ---------------------------------------------------------------------------------

Failure AppModule::LcdsArgumentFailure(std::string_view error) {
  return Failure(0, detail::kLcdsParametersNotConverted, {{"error", error}});
}

Failure AppModule::LcdsClassFailure(std::string_view expected, std::string_view destination,
                                    std::string_view method, std::string_view actual) {
  return Failure(0, detail::kLcdsUnexpectedClass,
                 {{"expected", expected},
                  {"destination", destination},
                  {"method", method},
                  {"actual", actual}});
}

Failure AppModule::LcdsDtoFailure(std::string_view typeName, const BindingProperty& body) const {
  // The body may carry the game's keys; the failure text reaches log lines.
  return Failure(0, detail::kLcdsDtoNotConverted,
                 {{"name", typeName}, {"json", ToJson(RedactedSecrets(body), &Registry())}});
}

MaybeType<Failure, BindingProperty> AppModule::SendLcds(std::string_view destination,
                                                        std::string_view method,
                                                        const BindingProperty& arguments) {
  std::vector<BindingProperty> values(3);
  values[0].SetString(destination);
  values[1].SetString(method);
  values[2] = arguments;
  return SendRequest(RequestMethod::Post, kLcdsInvokeUrl, values, ResponseUse::ReadBody);
}

void AppModule::TagLcdsClasses(BindingProperty& value, const BindingTypeIdentifier& type) const {
  TagLcdsValue(value, type.type, type.elementType, type.descriptor, 0);
}

void AppModule::TagLcdsValue(BindingProperty& value, BindingTypeId code, BindingTypeId elementCode,
                             const BindingTypeDescriptor* descriptor, std::size_t depth) const {
  if (descriptor == nullptr || descriptor->IsEnum() || depth > kMaxNestingDepth) {
    return;
  }
  switch (code) {
    case BindingTypeId::Struct:
      if (value.Kind() == BindingKind::Structure) {
        TagLcdsStructure(value, *descriptor, depth);
      }
      break;
    case BindingTypeId::Vector:
      for (BindingProperty& element : value.Elements()) {
        TagLcdsValue(element, elementCode, BindingTypeId::None, descriptor, depth + 1);
      }
      break;
    case BindingTypeId::Map: {
      if (value.Kind() != BindingKind::Structure) {
        break;
      }
      std::vector<std::string> names;
      for (const auto member : value.Members()) {
        names.emplace_back(member.name);
      }
      for (const std::string& name : names) {
        if (BindingProperty* member = value.Find(name); member != nullptr) {
          TagLcdsValue(*member, elementCode, BindingTypeId::None, descriptor, depth + 1);
        }
      }
      break;
    }
    default:
      break;
  }
}

void AppModule::TagLcdsStructure(BindingProperty& value, const BindingTypeDescriptor& descriptor,
                                 std::size_t depth) const {
  if (const auto className = mLcdsClassNames.ForTypeName(descriptor.FullName())) {
    value.member(kLcdsClassMember).SetString(*className);
  }
  for (const BindingFieldDescriptor& field : descriptor.Fields()) {
    if (field.type.descriptor == nullptr || field.type.descriptor->IsEnum()) {
      continue;
    }
    if (BindingProperty* member = value.Find(field.name); member != nullptr) {
      TagLcdsValue(*member, field.type.type, field.type.elementType, field.type.descriptor,
                   depth + 1);
    }
  }
}

// --- Waiting -------------------------------------------------------------------------------

std::string AppModule::FutureWaitLabel(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled != nullptr) ? demangled : type.name();
  std::free(demangled);
  return detail::FillPositional(detail::kFutureWaitLabel, {name});
}

void AppModule::FatalFutureError(const std::future_error& error) noexcept {
  try {
    const std::string message = detail::FillPositional(
        detail::kFutureErrorMessage, {std::to_string(error.code().value()), error.what()});
    Log(LogLevel::Error, kLogGroupDebug, "%s", message.c_str());
  } catch (...) {
    // The fatal report below still names the code.
  }
  Fatal(detail::kFutureErrorFatal);
}

}  // namespace Nalo
