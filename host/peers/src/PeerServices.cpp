#include "host/peers/PeerServices.h"

#include <utility>

#include "abi/HostAbi.h"
#include "binding/Json.h"
#include "host/peers/src/RealisticPeers.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::string_view kDataStorePrefix = "/data-store/v1/install-settings/";
constexpr std::string_view kTelemetryPrefix = "/telemetry/v1/events/";
constexpr std::string_view kLcdsInvokePath = "/tav-login/v1/session/invoke";
constexpr std::string_view kCommandLinePath = "/naloclient/command-line-args";

constexpr std::string_view kCreate = "Create";
constexpr std::string_view kUpdate = "Update";
constexpr std::string_view kDelete = "Delete";

constexpr std::uint32_t kOk = 200;
constexpr std::uint32_t kNoContent = 204;
constexpr std::uint32_t kBadRequest = 400;
constexpr std::uint32_t kNotFound = 404;
constexpr std::uint32_t kNotAllowed = 405;
constexpr std::uint32_t kInternalError = 500;

namespace Message {
constexpr std::string_view kNoValue = "No value at {path}.";
constexpr std::string_view kMethodNotAllowed = "{method} is not supported at {path}.";
constexpr std::string_view kLcdsArguments =
    "An LCDS invocation takes a destination, a method and an array of arguments.";
constexpr std::string_view kNoLcdsAnswer = "No answer is set for the LCDS call {call}.";
}  // namespace Message

std::string_view WithoutQuery(std::string_view path) {
  return path.substr(0, path.find('?'));
}

Response Answer(std::uint32_t status, BindingProperty body = {}) {
  Response response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

Response Refusal(const Failure& failure) {
  Response response;
  response.status = failure.Code() == 0 ? kInternalError : failure.Code();
  response.error = std::string(failure.Message());
  return response;
}

const char* ServiceProxyEventName(ServiceProxyKind kind) {
  switch (kind) {
    case ServiceProxyKind::Uuid:
      return "OnServiceProxyUuidEvent";
    case ServiceProxyKind::Method:
      return "OnServiceProxyMethodEvent";
    case ServiceProxyKind::Async:
      return "OnServiceProxyAsyncEvent";
  }
  return "OnServiceProxyUuidEvent";
}

}  // namespace

PeerServices::PeerServices(Settings settings, Wiring wiring)
    : mSettings(std::move(settings)),
      mWiring(std::move(wiring)),
      mDataStore(mSettings.stateFolder) {
  if (mSettings.setup == PeerSetup::Realistic) {
    for (RealisticValue& value : RealisticValues(mSettings.stateFolder)) {
      if (value.announced) {
        mAnnounced.push_back(value.path);
      }
      mResources.insert_or_assign(std::move(value.path), std::move(value.value));
    }
    // The platform server acknowledges what the client tells it.
    for (const std::string_view method :
         {"setClientReceivedGameMessage", "setClientReceivedVestoMessage"}) {
      SetLcdsAnswer("gameService", method, LcdsAnswer{});
    }
  }
}

void PeerServices::Announce() {
  for (const std::string& path : mAnnounced) {
    if (auto found = mResources.find(path); found != mResources.end()) {
      Publish(path, kCreate, found->second);
    }
  }
  mWiring.runDue();
}

std::optional<Response> PeerServices::RealisticAnswer(std::uint32_t method,
                                                      std::string_view path) const {
  if (mSettings.setup != PeerSetup::Realistic) {
    return std::nullopt;
  }
  switch (RealisticActionOf(method, path)) {
    case RealisticAction::None:
      return std::nullopt;
    case RealisticAction::Acknowledge:
      return Answer(kNoContent);
    case RealisticAction::AnswerState: {
      auto found = mResources.find(kPatcherStatePath);
      if (found == mResources.end()) {
        return Refusal(Failure(kNotFound, Message::kNoValue, {{"path", kPatcherStatePath}}));
      }
      return Answer(kOk, found->second);
    }
    case RealisticAction::AnswerComputed: {
      if (auto found = mResources.find(path); found != mResources.end()) {
        return Answer(kOk, found->second);
      }
      if (std::optional<BindingProperty> value = RealisticComputedValue(path)) {
        return Answer(kOk, std::move(*value));
      }
      return Refusal(Failure(kNotFound, Message::kNoValue, {{"path", path}}));
    }
  }
  return std::nullopt;
}

MaybeType<Failure, void> PeerServices::LoadDataStore() {
  auto contents = mDataStore.Read();
  if (contents.HasFailure()) {
    return contents.GetFailure();
  }
  if (contents.Value().Kind() == BindingKind::Structure) {
    for (const auto& member : contents.Value().Members()) {
      mResources[std::string(kDataStorePrefix) + std::string(member.name)] = member.value;
    }
  }
  return {};
}

MaybeType<Failure, void> PeerServices::SaveDataStore() const {
  if (!mDataStore.Writes()) {
    return {};
  }
  BindingProperty contents;
  contents.MakeStructure();
  for (const auto& [path, value] : mResources) {
    if (path.starts_with(kDataStorePrefix)) {
      contents.member(std::string_view(path).substr(kDataStorePrefix.size())) = value;
    }
  }
  return mDataStore.Write(contents);
}

std::optional<Response> PeerServices::TakeFault(std::string_view path) {
  auto found = mFaults.find(WithoutQuery(path));
  if (found == mFaults.end()) {
    return std::nullopt;
  }
  Response response;
  response.status = found->second.status;
  response.error = found->second.error;
  if (--found->second.count == 0) {
    mFaults.erase(found);
  }
  return response;
}

MaybeType<Failure, void> PeerServices::Store(std::string_view path, const BindingProperty& value,
                                             bool& created) {
  auto [position, inserted] = mResources.try_emplace(std::string(path));
  position->second = value;
  created = inserted;
  if (path.starts_with(kDataStorePrefix)) {
    return SaveDataStore();
  }
  return {};
}

MaybeType<Failure, void> PeerServices::Remove(std::string_view path, bool& removed) {
  auto found = mResources.find(path);
  removed = found != mResources.end();
  if (!removed) {
    return {};
  }
  mResources.erase(found);
  if (path.starts_with(kDataStorePrefix)) {
    return SaveDataStore();
  }
  return {};
}

void PeerServices::Publish(std::string_view path, std::string_view eventType,
                           const BindingProperty& value) {
  auto payload = std::make_shared<BindingProperty>();
  payload->member("uri").SetString(path);
  payload->member("eventType").SetString(eventType);
  payload->member("data") = value;
  const std::string name = ResourceEventName(path);
  mWiring.publish(name, payload, path, eventType);
  if (name != kResourceEventName) {
    mWiring.publish(kResourceEventName, std::move(payload), path, eventType);
  }
}

Response PeerServices::Handle(std::uint32_t method, std::string_view fullPath,
                              std::span<const BindingProperty> arguments) {
  const std::string_view path = WithoutQuery(fullPath);
  const BindingProperty noValue;
  const BindingProperty& value = arguments.empty() ? noValue : arguments.front();

  if (!mAnswers.empty()) {
    const std::string key = std::string(MethodName(method)) + " " + std::string(path);
    if (auto found = mAnswers.find(key); found != mAnswers.end()) {
      const PeerAnswer& canned = found->second.Next();
      Response response = Answer(canned.status, canned.body);
      response.error = canned.error;
      return response;
    }
  }
  if (path == kLcdsInvokePath && method == NALO_METHOD_POST) {
    return InvokeLcds(arguments);
  }
  if (path.starts_with(kTelemetryPrefix) && method == NALO_METHOD_POST) {
    mTelemetry.push_back({std::string(path.substr(kTelemetryPrefix.size())), value, mWiring.now()});
    return Answer(kNoContent);
  }
  if (path == kCommandLinePath && method == NALO_METHOD_GET) {
    BindingProperty line;
    line.MakeCollection();
    for (const std::string& argument : mSettings.commandLine) {
      line.at(line.size()).SetString(std::string_view(argument));
    }
    return Answer(kOk, std::move(line));
  }
  if (std::optional<Response> realistic = RealisticAnswer(method, path)) {
    return std::move(*realistic);
  }
  switch (method) {
    case NALO_METHOD_GET: {
      auto found = mResources.find(path);
      if (found == mResources.end()) {
        return Refusal(Failure(kNotFound, Message::kNoValue, {{"path", path}}));
      }
      return Answer(kOk, found->second);
    }
    case NALO_METHOD_POST:
    case NALO_METHOD_PUT: {
      bool created = false;
      if (auto stored = Store(path, value, created); stored.HasFailure()) {
        mWiring.log(NALO_LOG_ERROR, stored.GetFailure().Message());
        return Refusal(stored.GetFailure());
      }
      Publish(path, created ? kCreate : kUpdate, value);
      return Answer(kNoContent);
    }
    case NALO_METHOD_DELETE: {
      bool removed = false;
      if (auto erased = Remove(path, removed); erased.HasFailure()) {
        mWiring.log(NALO_LOG_ERROR, erased.GetFailure().Message());
        return Refusal(erased.GetFailure());
      }
      if (!removed) {
        return Refusal(Failure(kNotFound, Message::kNoValue, {{"path", path}}));
      }
      Publish(path, kDelete, BindingProperty());
      return Answer(kNoContent);
    }
    default:
      return Refusal(Failure(kNotAllowed, Message::kMethodNotAllowed,
                             {{"method", MethodName(method)}, {"path", path}}));
  }
}

Response PeerServices::InvokeLcds(std::span<const BindingProperty> arguments) {
  // A request from outside the plugins sends the three as one array body.
  std::span<const BindingProperty> parts = arguments;
  if (parts.size() == 1 && parts.front().Kind() == BindingKind::Collection) {
    parts = parts.front().Elements();
  }
  if (parts.size() < 2 || parts[0].Kind() != BindingKind::String ||
      parts[1].Kind() != BindingKind::String) {
    return Refusal(Failure(kBadRequest, Message::kLcdsArguments));
  }
  LcdsCall call{std::string(parts[0].StringValue()), std::string(parts[1].StringValue()),
                parts.size() > 2 ? parts[2] : BindingProperty()};
  const std::string key = call.destination + "." + call.method;
  mLcdsCalls.push_back(std::move(call));
  auto found = mLcdsAnswers.find(key);
  if (found == mLcdsAnswers.end()) {
    return Refusal(Failure(kNotFound, Message::kNoLcdsAnswer, {{"call", key}}));
  }
  const LcdsAnswer& answer = found->second.Next();
  if (answer.failure) {
    return Refusal(*answer.failure);
  }
  BindingProperty reply;
  reply.member("typeName").SetString(std::string_view(answer.typeName));
  reply.member("body") = answer.body;
  Response response = Answer(kOk, std::move(reply));
  response.bodyDelay = answer.delay;
  return response;
}

void PeerServices::SetResource(std::string_view path, const BindingProperty& value) {
  bool created = false;
  if (auto stored = Store(path, value, created); stored.HasFailure()) {
    mWiring.log(NALO_LOG_ERROR, stored.GetFailure().Message());
  }
  Publish(path, created ? kCreate : kUpdate, value);
  mWiring.runDue();
}

void PeerServices::SeedResource(std::string_view path, const BindingProperty& value) {
  bool created = false;
  if (auto stored = Store(path, value, created); stored.HasFailure()) {
    mWiring.log(NALO_LOG_ERROR, stored.GetFailure().Message());
  }
}

void PeerServices::PublishResource(std::string_view path, const BindingProperty& value) {
  Publish(path, kUpdate, value);
  mWiring.runDue();
}

void PeerServices::DeleteResource(std::string_view path) {
  bool removed = false;
  if (auto erased = Remove(path, removed); erased.HasFailure()) {
    mWiring.log(NALO_LOG_ERROR, erased.GetFailure().Message());
  }
  Publish(path, kDelete, BindingProperty());
  mWiring.runDue();
}

std::optional<BindingProperty> PeerServices::Resource(std::string_view path) const {
  auto found = mResources.find(path);
  if (found == mResources.end()) {
    return std::nullopt;
  }
  return found->second;
}

void PeerServices::SetLcdsAnswer(std::string_view destination, std::string_view method,
                                 LcdsAnswer answer) {
  std::vector<LcdsAnswer> answers;
  answers.push_back(std::move(answer));
  SetLcdsAnswers(destination, method, std::move(answers));
}

void PeerServices::SetLcdsAnswers(std::string_view destination, std::string_view method,
                                  std::vector<LcdsAnswer> answers) {
  const std::string key = std::string(destination) + "." + std::string(method);
  if (answers.empty()) {
    mLcdsAnswers.erase(key);
    return;
  }
  mLcdsAnswers.insert_or_assign(key, AnswerSequence<LcdsAnswer>{std::move(answers)});
}

void PeerServices::SetAnswers(std::string_view method, std::string_view path,
                              std::vector<PeerAnswer> answers) {
  const std::string key = std::string(method) + " " + std::string(WithoutQuery(path));
  if (answers.empty()) {
    mAnswers.erase(key);
    return;
  }
  mAnswers.insert_or_assign(key, AnswerSequence<PeerAnswer>{std::move(answers)});
}

void PeerServices::Record(std::uint32_t method, std::string_view path, const BindingProperty& value,
                          std::uint32_t sender, std::uint32_t status) {
  mRequests.push_back({std::string(MethodName(method)), std::string(path), value, sender, status});
}

void PeerServices::PushLcds(std::string_view typeName, const BindingProperty& body,
                            std::string_view subtopic, std::string_view clientId) {
  auto payload = std::make_shared<BindingProperty>();
  payload->member("clientId").SetString(clientId);
  payload->member("subtopic").SetString(subtopic);
  payload->member("typeName").SetString(typeName);
  payload->member("body") = body;
  mWiring.publish(LcdsEventName(typeName), std::move(payload), {}, {});
  mWiring.runDue();
}

void PeerServices::SendServiceProxyReply(ServiceProxyKind kind, const ServiceProxyReply& reply) {
  auto payload = std::make_shared<BindingProperty>();
  payload->member("uuid").SetString(std::string_view(reply.uuid));
  payload->member("serviceName").SetString(std::string_view(reply.serviceName));
  payload->member("methodName").SetString(std::string_view(reply.methodName));
  payload->member("payload").SetString(std::string_view(reply.payload));
  payload->member("status").SetString(std::string_view(reply.status));
  payload->member("error").SetString(std::string_view(reply.error));
  mWiring.publish(ServiceProxyEventName(kind), std::move(payload), {}, {});
  mWiring.runDue();
}

void PeerServices::InjectFault(std::string_view path, std::uint32_t count, std::uint32_t status,
                               std::string_view error) {
  if (count == 0) {
    mFaults.erase(std::string(WithoutQuery(path)));
    return;
  }
  mFaults.insert_or_assign(std::string(WithoutQuery(path)),
                           Fault{count, status, std::string(error)});
}

void PeerServices::ClearRecords() {
  mLcdsCalls.clear();
  mTelemetry.clear();
  mRequests.clear();
}

}  // namespace Nalo::Host::detail
