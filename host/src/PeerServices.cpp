#include "host/src/PeerServices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
// Windows has no fchmod: the file's access is what its folder gives.
static int fchmod(int /*descriptor*/, int /*mode*/) {
  return 0;
}
static std::tm* gmtime_r(const std::time_t* time, std::tm* parts) {
  return gmtime_s(parts, time) == 0 ? parts : nullptr;
}
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "binding/Json.h"
#include "host/src/RealisticPeers.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::string_view kDataStorePrefix = "/data-store/v1/install-settings/";
constexpr std::string_view kTelemetryPrefix = "/telemetry/v1/events/";
constexpr std::string_view kLcdsInvokePath = "/tav-login/v1/session/invoke";
constexpr std::string_view kCommandLinePath = "/naloclient/command-line-args";
constexpr std::string_view kDataStoreFile = "data-store.json";

constexpr std::string_view kResourceEvent = "OnJsonApiEvent";
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
constexpr std::string_view kCorruptDataStore =
    "Couldn't read the data store file {file} ({error}): it was kept as {kept} and the data "
    "store starts empty.";
constexpr std::string_view kCorruptDataStoreNotKept =
    "Couldn't read the data store file {file} ({error}), nor move it aside ({moveError}): it is "
    "left untouched and the data store starts empty, in memory only.";
constexpr std::string_view kUnwritableDataStore =
    "Couldn't write the data store file {file}: {error}";
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

PeerServices::PeerServices(const HostOptions& options, Wiring wiring)
    : mOptions(options), mWiring(std::move(wiring)) {
  if (mOptions.peers == PeerSetup::Realistic) {
    for (RealisticValue& value : RealisticValues(mOptions.stateFolder)) {
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
  if (mOptions.peers != PeerSetup::Realistic) {
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

namespace {

// The file's name with a UTC time stamp: "data-store.json.corrupt-20261207T150102Z",
// and a counter after it when that name is taken.
std::filesystem::path CorruptFileName(const std::filesystem::path& file) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &parts);
  std::filesystem::path kept = file;
  kept += std::string(".corrupt-") + stamp;
  std::error_code error;
  for (int counter = 2; std::filesystem::exists(kept, error); ++counter) {
    kept = file;
    kept += std::string(".corrupt-") + stamp + "-" + std::to_string(counter);
  }
  return kept;
}

}  // namespace

MaybeType<Failure, void> PeerServices::LoadDataStore() {
  if (mOptions.stateFolder.empty()) {
    return {};
  }
  const std::filesystem::path file = mOptions.stateFolder / kDataStoreFile;
  std::error_code error;
  if (!std::filesystem::exists(file, error)) {
    return {};
  }
  std::ifstream stream(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(stream)),
                         std::istreambuf_iterator<char>());
  BindingResult parsed = ParseJson(text);
  if (parsed.Failed() || parsed.Value().Kind() != BindingKind::Structure) {
    const std::string problem =
        parsed.Failed() ? std::string(parsed.ErrorMessage()) : "it isn't a JSON object";
    // Moved aside, not overwritten by the next write: nothing is lost unseen.
    const std::filesystem::path kept = CorruptFileName(file);
    std::filesystem::rename(file, kept, error);
    if (error) {
      mDataStoreInMemoryOnly = true;
      return Failure(kInternalError, Message::kCorruptDataStoreNotKept,
                     {{"file", file.string()}, {"error", problem}, {"moveError", error.message()}});
    }
    return Failure(kInternalError, Message::kCorruptDataStore,
                   {{"file", file.string()}, {"error", problem}, {"kept", kept.string()}});
  }
  for (const auto& member : parsed.Value().Members()) {
    mResources[std::string(kDataStorePrefix) + std::string(member.name)] = member.value;
  }
  return {};
}

MaybeType<Failure, void> PeerServices::SaveDataStore() const {
  if (mOptions.stateFolder.empty() || mDataStoreInMemoryOnly) {
    return {};
  }
  BindingProperty contents;
  contents.MakeStructure();
  for (const auto& [path, value] : mResources) {
    if (path.starts_with(kDataStorePrefix)) {
      contents.member(std::string_view(path).substr(kDataStorePrefix.size())) = value;
    }
  }
  const std::filesystem::path file = mOptions.stateFolder / kDataStoreFile;
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  std::error_code error;
  // The store holds secrets (the game's encryption key in the process
  // record): a folder made for it and the file are its owner's alone.
  if (std::filesystem::create_directories(mOptions.stateFolder, error)) {
    std::filesystem::permissions(mOptions.stateFolder, std::filesystem::perms::owner_all, error);
  }
  const std::string text = ToJson(contents);
#ifdef _WIN32
  const int descriptor =
      _wopen(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, _S_IREAD | _S_IWRITE);
#else
  const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
#endif
  bool written = descriptor >= 0 && fchmod(descriptor, 0600) == 0;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t count = write(descriptor, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    written = count > 0;
    done += written ? static_cast<std::size_t>(count) : 0;
  }
  const int writeError = errno;
  if (descriptor >= 0) {
    close(descriptor);
  }
  if (!written) {
    return Failure(kInternalError, Message::kUnwritableDataStore,
                   {{"file", temporary.string()}, {"error", std::strerror(writeError)}});
  }
  // rename() replaces the old file in one step: a reader (or a crash) sees
  // the old contents or the new, never a part.
  std::filesystem::rename(temporary, file, error);
  if (error) {
    return Failure(kInternalError, Message::kUnwritableDataStore,
                   {{"file", file.string()}, {"error", error.message()}});
  }
  return {};
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
  if (name != kResourceEvent) {
    mWiring.publish(kResourceEvent, std::move(payload), path, eventType);
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
    for (const std::string& argument : mOptions.commandLine) {
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
