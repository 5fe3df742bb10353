// Host (Host.h), in this order: copying the records a plugin publishes into
// kept blocks (measured, copied, read on first use), the response streams,
// then Host::Impl: plugin loading, request routing to the plugins' routes
// and the peers, event delivery, waits, and the NaloCoreApi entries the
// plugins call; last, Host's own methods, which hand on to Host::Impl.

#include "host/Host.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <regex>
#include <span>
#include <utility>

#include "abi/HostValue.h"
#include "binding/BindingLimits.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/BodyReading.h"
#include "binding/Json.h"
#include "platform/Clock.h"
#include "routing/StatusReason.h"
#include "host/TaskQueue.h"
#include "host/src/PeerServices.h"
#include "host/src/PluginLibrary.h"

namespace Nalo::Host {

namespace {

constexpr std::uint32_t kBadRequest = 400;
constexpr std::uint32_t kInternalError = 500;
constexpr std::uint32_t kLoadFailure = 500;
constexpr std::string_view kResourceEventPrefix = "OnJsonApiEvent";
constexpr std::string_view kLcdsEventPrefix = "OnLcdsEvent_";
constexpr std::string_view kPlatformConfigPiece = "tav-platform-config";
// The label of every event delivery in the task queue.
const std::string kDeliveryLabel = "Event delivery";
// A wait whose pumps find nothing due this many times in a row lets virtual
// time move on to the next task, as wall time would pass on a real core.
constexpr std::uint32_t kIdlePumpsBeforeTimeMoves = 64;
constexpr std::uint64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::uint64_t kNanosecondsPerMillisecond = 1'000'000;
// The host reads a plugin's streamed response in blocks of this size.
constexpr std::size_t kDispatchReadBlock = 65536;
constexpr std::size_t kMemoryStatisticsWords = 14;
constexpr int kHungWaitExitCode = 3;

// Whether two records have the same kind and point at the same block: the
// cheap test before SameRecord.
bool SamePlace(const NaloHostValue& left, const NaloHostValue& right) {
  if (left.kind != right.kind) {
    return false;
  }
  switch (left.kind) {
    case NALO_HOST_VALUE_TEXT:
    case NALO_HOST_VALUE_OWNED_TEXT:
      return left.payload.text.data == right.payload.text.data &&
             left.payload.text.length == right.payload.text.length;
    case NALO_HOST_VALUE_BYTES:
    case NALO_HOST_VALUE_OWNED_BYTES:
      return left.payload.bytes.data == right.payload.bytes.data &&
             left.payload.bytes.length == right.payload.bytes.length;
    case NALO_HOST_VALUE_ARRAY:
      return left.payload.array.elements == right.payload.array.elements &&
             left.payload.array.count == right.payload.array.count;
    case NALO_HOST_VALUE_OBJECT:
      return left.payload.object.members == right.payload.object.members &&
             left.payload.object.count == right.payload.object.count;
    default:
      return true;  // a scalar: SameRecord compares it
  }
}

bool PointerFits(const void* data, std::size_t length) noexcept {
  return data != nullptr || length == 0;
}

// The room a copy of a record takes: its element and member arrays, then its
// texts, bytes and names. Measure() is false for anything FromHostValue
// refuses, and (conservatively) for an object of more than
// kMaxCollectionSize members, which is then read at once instead.
struct RecordSize {
  std::size_t records = 0;
  std::size_t bytes = 0;

  bool Measure(const NaloHostValue& record, std::size_t depth) {
    const auto& payload = record.payload;
    switch (record.kind) {
      case NALO_HOST_VALUE_NULL:
      case NALO_HOST_VALUE_BOOL:
      case NALO_HOST_VALUE_SIGNED:
      case NALO_HOST_VALUE_UNSIGNED:
      case NALO_HOST_VALUE_DOUBLE:
        return true;
      case NALO_HOST_VALUE_TEXT:
      case NALO_HOST_VALUE_OWNED_TEXT:
        bytes += payload.text.length;
        return PointerFits(payload.text.data, payload.text.length);
      case NALO_HOST_VALUE_BYTES:
      case NALO_HOST_VALUE_OWNED_BYTES:
        bytes += payload.bytes.length;
        return PointerFits(payload.bytes.data, payload.bytes.length);
      case NALO_HOST_VALUE_ARRAY: {
        const std::size_t count = payload.array.count;
        if (!PointerFits(payload.array.elements, count) || depth >= kMaxNestingDepth ||
            count > kMaxCollectionSize) {
          return false;
        }
        records += count * sizeof(NaloHostValue);
        for (std::size_t i = 0; i < count; ++i) {
          if (!Measure(payload.array.elements[i], depth + 1)) {
            return false;
          }
        }
        return true;
      }
      case NALO_HOST_VALUE_OBJECT: {
        const std::size_t count = payload.object.count;
        if (!PointerFits(payload.object.members, count) || depth >= kMaxNestingDepth ||
            count > kMaxCollectionSize) {
          return false;
        }
        records += count * sizeof(NaloHostMember);
        for (std::size_t i = 0; i < count; ++i) {
          const NaloHostMember& member = payload.object.members[i];
          if (member.name == nullptr) {
            return false;
          }
          bytes += std::strlen(member.name) + 1;
          if (!Measure(member.value, depth + 1)) {
            return false;
          }
        }
        return true;
      }
      default:
        return false;
    }
  }
};

// Copies a record into one block: arrays from `records` on, texts and
// names from `bytes` on. Empty texts and bytes point nowhere. Copy() is
// false, with the copy unfinished, when the record is not one Measure()
// accepts or doesn't fit in the room left.
struct RecordCopier {
  std::byte* records;
  std::byte* recordsEnd;
  std::byte* bytes;
  std::byte* bytesEnd;

  bool Copy(const NaloHostValue& from, NaloHostValue& to, std::size_t depth) {
    to.kind = from.kind;
    const auto& payload = from.payload;
    switch (from.kind) {
      case NALO_HOST_VALUE_NULL:
      case NALO_HOST_VALUE_BOOL:
      case NALO_HOST_VALUE_SIGNED:
      case NALO_HOST_VALUE_UNSIGNED:
      case NALO_HOST_VALUE_DOUBLE:
        to.payload = payload;
        return true;
      case NALO_HOST_VALUE_TEXT:
      case NALO_HOST_VALUE_OWNED_TEXT: {
        const void* copied = nullptr;
        if (!PointerFits(payload.text.data, payload.text.length) ||
            !CopyBytes(payload.text.data, payload.text.length, copied)) {
          return false;
        }
        to.payload.text.data = static_cast<const char*>(copied);
        to.payload.text.length = payload.text.length;
        return true;
      }
      case NALO_HOST_VALUE_BYTES:
      case NALO_HOST_VALUE_OWNED_BYTES: {
        const void* copied = nullptr;
        if (!PointerFits(payload.bytes.data, payload.bytes.length) ||
            !CopyBytes(payload.bytes.data, payload.bytes.length, copied)) {
          return false;
        }
        to.payload.bytes.data = static_cast<const std::uint8_t*>(copied);
        to.payload.bytes.length = payload.bytes.length;
        return true;
      }
      case NALO_HOST_VALUE_ARRAY: {
        const std::size_t count = payload.array.count;
        if (!PointerFits(payload.array.elements, count) || depth >= kMaxNestingDepth ||
            count > kMaxCollectionSize ||
            count > static_cast<std::size_t>(recordsEnd - records) / sizeof(NaloHostValue)) {
          return false;
        }
        auto* elements = count == 0 ? nullptr : new (records) NaloHostValue[count]{};
        records += count * sizeof(NaloHostValue);
        to.payload.array.elements = elements;
        to.payload.array.count = count;
        for (std::size_t i = 0; i < count; ++i) {
          if (!Copy(payload.array.elements[i], elements[i], depth + 1)) {
            return false;
          }
        }
        return true;
      }
      case NALO_HOST_VALUE_OBJECT: {
        const std::size_t count = payload.object.count;
        if (!PointerFits(payload.object.members, count) || depth >= kMaxNestingDepth ||
            count > kMaxCollectionSize ||
            count > static_cast<std::size_t>(recordsEnd - records) / sizeof(NaloHostMember)) {
          return false;
        }
        auto* members = count == 0 ? nullptr : new (records) NaloHostMember[count]{};
        records += count * sizeof(NaloHostMember);
        to.payload.object.members = members;
        to.payload.object.count = count;
        for (std::size_t i = 0; i < count; ++i) {
          const NaloHostMember& source = payload.object.members[i];
          const void* name = nullptr;
          if (source.name == nullptr ||
              !CopyBytes(source.name, std::strlen(source.name) + 1, name)) {
            return false;
          }
          members[i].name = static_cast<const char*>(name);
          members[i].ownsName = 0;
          if (!Copy(source.value, members[i].value, depth + 1)) {
            return false;
          }
        }
        return true;
      }
      default:
        return false;
    }
  }

  bool CopyBytes(const void* data, std::size_t length, const void*& copied) {
    if (length == 0) {
      copied = nullptr;
      return true;
    }
    if (length > static_cast<std::size_t>(bytesEnd - bytes)) {
      return false;
    }
    std::memcpy(bytes, data, length);
    copied = bytes;
    bytes += length;
    return true;
  }
};

// Whether the record a plugin sends (`sent`) is the one kept before
// (`kept`, a RecordCopier copy): the same kinds, scalars, texts, bytes,
// names and counts, in the same order. Anything FromHostValue would refuse
// in `sent` makes it different.
bool SameRecord(const NaloHostValue& sent, const NaloHostValue& kept, std::size_t depth) {
  if (sent.kind != kept.kind) {
    return false;
  }
  const auto& payload = sent.payload;
  const auto& other = kept.payload;
  switch (sent.kind) {
    case NALO_HOST_VALUE_NULL:
      return true;
    case NALO_HOST_VALUE_BOOL:
      return (payload.boolean != 0) == (other.boolean != 0);
    case NALO_HOST_VALUE_SIGNED:
      return payload.signedInteger == other.signedInteger;
    case NALO_HOST_VALUE_UNSIGNED:
      return payload.unsignedInteger == other.unsignedInteger;
    case NALO_HOST_VALUE_DOUBLE:
      return std::bit_cast<std::uint64_t>(payload.floating) ==
             std::bit_cast<std::uint64_t>(other.floating);
    case NALO_HOST_VALUE_TEXT:
    case NALO_HOST_VALUE_OWNED_TEXT:
      return payload.text.length == other.text.length &&
             PointerFits(payload.text.data, payload.text.length) &&
             (payload.text.length == 0 ||
              std::memcmp(payload.text.data, other.text.data, payload.text.length) == 0);
    case NALO_HOST_VALUE_BYTES:
    case NALO_HOST_VALUE_OWNED_BYTES:
      return payload.bytes.length == other.bytes.length &&
             PointerFits(payload.bytes.data, payload.bytes.length) &&
             (payload.bytes.length == 0 ||
              std::memcmp(payload.bytes.data, other.bytes.data, payload.bytes.length) == 0);
    case NALO_HOST_VALUE_ARRAY: {
      const std::size_t count = payload.array.count;
      if (count != other.array.count || !PointerFits(payload.array.elements, count) ||
          depth >= kMaxNestingDepth) {
        return false;
      }
      for (std::size_t i = 0; i < count; ++i) {
        if (!SameRecord(payload.array.elements[i], other.array.elements[i], depth + 1)) {
          return false;
        }
      }
      return true;
    }
    case NALO_HOST_VALUE_OBJECT: {
      const std::size_t count = payload.object.count;
      if (count != other.object.count || !PointerFits(payload.object.members, count) ||
          depth >= kMaxNestingDepth) {
        return false;
      }
      for (std::size_t i = 0; i < count; ++i) {
        const NaloHostMember& member = payload.object.members[i];
        const NaloHostMember& keptMember = other.object.members[i];
        if (member.name == nullptr || std::strcmp(member.name, keptMember.name) != 0 ||
            !SameRecord(member.value, keptMember.value, depth + 1)) {
          return false;
        }
      }
      return true;
    }
    default:
      return false;
  }
}

// The "uri" (with a leading "/") and "eventType" members of a payload, as
// texts; empty when absent.
void ReadEventPlace(const BindingProperty& payload, std::string& uri, std::string& eventType) {
  uri.clear();
  eventType.clear();
  if (const BindingProperty* member = payload.Find("uri")) {
    uri = member->AsString();
    if (!uri.empty() && uri.front() != '/') {
      uri.insert(0, "/");
    }
  }
  if (const BindingProperty* member = payload.Find("eventType")) {
    eventType = member->AsString();
  }
}

namespace Message {
constexpr std::string_view kIncomplete =
    "The plugin {path} left its registration record incomplete: {missing} is missing.";
constexpr std::string_view kIncompatible =
    "The plugin {path} speaks plugin API {plugin}, which a core with {core} can't run.";
constexpr std::string_view kInitializeFailed = "The plugin {name} ({path}) failed to initialise.";
constexpr std::string_view kDuplicate = "A plugin named {name} is already loaded.";
constexpr std::string_view kUnknownMethod = "Unknown method {method}.";
constexpr std::string_view kUnreadableBody = "The request body can't be read: {error}";
constexpr std::string_view kStreamFailed = "The response stream of {path} failed.";
constexpr std::string_view kBadArgument = "A request argument can't be read: {error}";
}  // namespace Message

constexpr std::array<std::string_view, 8> kMethodNames = {"",        "DELETE", "GET",  "HEAD",
                                                          "OPTIONS", "PATCH",  "POST", "PUT"};

char* CopyText(std::string_view text) {
  char* block = new char[text.size() + 1];
  std::memcpy(block, text.data(), text.size());
  block[text.size()] = '\0';
  return block;
}

std::string VersionText(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

std::string_view WithoutQuery(std::string_view path) {
  return path.substr(0, path.find('?'));
}

// A body stream over a text, handed out in pieces of at most `piece` bytes;
// with a clock, none of it before the clock reads `readyAt`.
struct TextStream {
  std::string text;
  std::size_t offset = 0;
  std::size_t piece = 0;
  const TaskQueue* clock = nullptr;
  std::uint64_t readyAt = 0;
  // Set while someone may still wait for this body: cleared (and the host's
  // count of awaited arrivals lowered) by the arrival or by closing.
  std::shared_ptr<std::function<void()>> stopAwaiting = nullptr;
};

std::uint8_t NALO_ABI_CALL ReadTextStream(void* handle, std::uint8_t* buffer, std::size_t* count,
                                          std::uint8_t* more) noexcept {
  if (handle == nullptr || count == nullptr || more == nullptr) {
    return 0;
  }
  auto* stream = static_cast<TextStream*>(handle);
  if (stream->clock != nullptr && stream->clock->Now() < stream->readyAt) {
    *count = 0;  // not arrived yet: the reader yields and asks again
    *more = 1;
    return 1;
  }
  const std::size_t left = stream->text.size() - stream->offset;
  const std::size_t delivered = std::min({*count, stream->piece, left});
  if (delivered > 0) {
    if (buffer == nullptr) {
      return 0;
    }
    std::memcpy(buffer, stream->text.data() + stream->offset, delivered);
  }
  stream->offset += delivered;
  *count = delivered;
  *more = stream->offset < stream->text.size() ? 1 : 0;
  return 1;
}

void NALO_ABI_CALL CloseTextStream(void* handle) noexcept {
  auto* stream = static_cast<TextStream*>(handle);
  if (stream != nullptr && stream->stopAwaiting && *stream->stopAwaiting) {
    std::exchange(*stream->stopAwaiting, nullptr)();
  }
  delete stream;
}

void NALO_ABI_CALL ReleaseHostResponse(NaloResponse* response) noexcept {
  if (response == nullptr) {
    return;
  }
  ReleaseHostValue(response->body);
  delete[] response->error;
  response->error = nullptr;
  delete[] response->reason;
  response->reason = nullptr;
}

// The status's phrase; a status without one reads "OK" below 400, else "Error".
std::string_view ReasonPhrase(std::uint32_t status) {
  const std::string_view phrase = StatusReason(status);
  if (!phrase.empty()) {
    return phrase;
  }
  return status < 400 ? "OK" : "Error";
}

}  // namespace

std::uint32_t MethodCode(std::string_view name) noexcept {
  for (std::uint32_t code = 1; code < kMethodNames.size(); ++code) {
    if (kMethodNames[code] == name) {
      return code;
    }
  }
  return NALO_METHOD_NONE;
}

std::string_view MethodName(std::uint32_t code) noexcept {
  return code < kMethodNames.size() ? kMethodNames[code] : std::string_view();
}

std::string ResourceEventName(std::string_view uri) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= uri.size()) {
    const std::size_t end = std::min(uri.find('/', start), uri.size());
    if (end > start) {
      pieces.push_back(uri.substr(start, end - start));
    }
    start = end + 1;
  }
  const std::size_t keep = !pieces.empty() && pieces.front() == kPlatformConfigPiece ? 5 : 3;
  std::string name(kResourceEventPrefix);
  for (std::size_t i = 0; i < pieces.size() && i < keep; ++i) {
    name += '_';
    name += pieces[i];
  }
  return name;
}

std::string LcdsEventName(std::string_view typeName) {
  std::string name(kLcdsEventPrefix);
  for (char c : typeName) {
    name += c == '.' ? '_' : c;
  }
  return name;
}

// A published payload: the copy of the record a plugin sent, read into
// `value` when first asked for, or a value from the start.
struct EventPayload::State {
  std::unique_ptr<std::byte[]> block;  // the copy's arrays, texts and names
  NaloHostValue record{};              // the copy (kept records only)
  std::shared_ptr<const BindingProperty> value;  // null until read
  // The payload's "uri" (with a leading "/") and "eventType" texts.
  std::string uri;
  std::string eventType;
};

std::shared_ptr<EventPayload::State> EventPayload::MakeState(
    std::shared_ptr<const BindingProperty> value) {
  auto state = std::make_shared<State>();
  state->value = value != nullptr ? std::move(value) : std::make_shared<const BindingProperty>();
  return state;
}

const BindingProperty& EventPayload::Value() const {
  static const BindingProperty kEmpty;
  if (mState == nullptr) {
    return kEmpty;
  }
  if (mState->value == nullptr) {
    // The kept record was measured as FromHostValue reads it: it reads.
    BindingResult read = FromHostValue(mState->record, "payload");
    mState->value = std::make_shared<const BindingProperty>(
        read.Failed() ? BindingProperty() : std::move(read.Value()));
  }
  return *mState->value;
}

bool EventPayload::IsRead() const noexcept { return mState == nullptr || mState->value != nullptr; }

namespace {

// The "uri" and "eventType" of a kept record, when both are plain: the
// record is an object in which each appears at most once, as a text. False
// otherwise (the value read from the record then tells them).
bool ReadKeptPlace(EventPayload::State& state) {
  const NaloHostValue& record = state.record;
  if (record.kind != NALO_HOST_VALUE_OBJECT) {
    return false;
  }
  bool sawUri = false;
  bool sawEventType = false;
  for (std::size_t i = 0; i < record.payload.object.count; ++i) {
    const NaloHostMember& member = record.payload.object.members[i];
    const std::string_view name(member.name);
    std::string* target = nullptr;
    if (name == "uri") {
      target = std::exchange(sawUri, true) ? nullptr : &state.uri;
    } else if (name == "eventType") {
      target = std::exchange(sawEventType, true) ? nullptr : &state.eventType;
    } else {
      continue;
    }
    if (target == nullptr || (member.value.kind != NALO_HOST_VALUE_TEXT &&
                              member.value.kind != NALO_HOST_VALUE_OWNED_TEXT)) {
      return false;
    }
    const auto& text = member.value.payload.text;
    target->assign(text.length == 0 ? "" : text.data, text.length);
  }
  if (!state.uri.empty() && state.uri.front() != '/') {
    state.uri.insert(0, "/");
  }
  return true;
}

// The room the last copy took, and a quarter more: the next copy tries that
// first (a publication is often much like the last one).
struct KeptRoom {
  std::size_t records = 0;
  std::size_t bytes = 0;
};

// A copy of `record` in one block, not yet read; null when the record can't
// be kept as it is (it is then read at once, and may fail to read). Tries
// the room in `room` first, and measures the record when it doesn't fit.
std::shared_ptr<EventPayload::State> KeepRecord(const NaloHostValue& record, KeptRoom& room) {
  auto state = std::make_shared<EventPayload::State>();
  const auto tryCopy = [&](std::size_t records, std::size_t bytes) {
    const std::size_t total = records + bytes;
    state->block = total > 0 ? std::make_unique_for_overwrite<std::byte[]>(total) : nullptr;
    std::byte* start = state->block.get();
    RecordCopier copier{start, start + records, start + records, start + total};
    if (!copier.Copy(record, state->record, 0)) {
      return false;
    }
    // A quarter more, for texts that grow a little from one copy to the next.
    const auto used = [](std::size_t size) { return size + size / 4; };
    room.records = used(static_cast<std::size_t>(copier.records - start));
    room.bytes = used(static_cast<std::size_t>(copier.bytes - (start + records)));
    return true;
  };
  if (room.records + room.bytes == 0 || !tryCopy(room.records, room.bytes)) {
    RecordSize size;
    if (!size.Measure(record, 0) || !tryCopy(size.records, size.bytes)) {
      return nullptr;  // the record doesn't read (a measured one fits)
    }
  }
  if (!ReadKeptPlace(*state)) {
    ReadEventPlace(EventPayload(state).Value(), state->uri, state->eventType);
  }
  return state;
}

}  // namespace

class Host::Impl {
 public:
  explicit Impl(HostOptions options);
  ~Impl() { Shutdown(); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  Impl(Impl&&) = delete;
  Impl& operator=(Impl&&) = delete;

  MaybeType<Failure, void> Load(const std::filesystem::path& path, std::string_view entryName);
  void Shutdown();
  // Routes a request from `caller` (0: from outside every plugin).
  Response Route(std::uint32_t method, std::string_view path,
                 std::span<const NaloRequestArgument> arguments, std::string_view contentType,
                 std::string_view body, std::uint32_t caller);
  void Log(std::uint32_t level, std::uint32_t handle, std::string_view text,
           std::string_view groups = {});
  // Records the event and queues its delivery to each subscriber of `name`.
  // `uri` (with its leading "/") and `eventType` describe a resource event.
  void Publish(std::string_view name, EventPayload payload,
               std::uint32_t sender, std::string_view uri, std::string_view eventType);
  void Pump(std::uint32_t handle);
  // Reports a wait over HostOptions::waitLimit and ends the process.
  [[noreturn]] void EndHungWait(std::uint32_t handle);

  // One table per plugin: `api` first, so that the table pointer the plugin
  // passes back leads to its plugin.
  struct CoreTable {
    NaloCoreApi api;
    Impl* host;
    std::uint32_t handle;
    // The plugin's log lines read "<groups>| <message>".
    bool logGroups;
  };
  struct CompiledRoute {
    const NaloRoute* record;
    std::optional<std::regex> pattern;  // unset for a literal template
  };
  struct Plugin {
    std::optional<detail::PluginLibrary> library;
    NaloPluginRegistration registration{};
    CoreTable core{};
    NaloHostServices services{};
    std::string shortName;
    std::vector<CompiledRoute> routes;
    bool initialized = false;
  };
  struct Subscription {
    std::uint64_t id;
    std::string name;
    std::uint32_t handle;
    NaloEventCallback callback;
    void* userData;
    std::uint32_t flags;
  };

  static Impl& HostOf(const NaloCoreApi* core) { return *AsTable(core)->host; }
  static const CoreTable* AsTable(const NaloCoreApi* core) {
    static_assert(std::is_standard_layout_v<CoreTable>, "the table pointer is the record's");
    return reinterpret_cast<const CoreTable*>(core);
  }
  [[nodiscard]] Plugin* Owner(std::string_view path) const;
  [[nodiscard]] Plugin* Find(std::uint32_t handle) const;
  Response Dispatch(Plugin& plugin, std::uint32_t method, std::string_view path,
                    std::span<const NaloRequestArgument> arguments, std::string_view contentType,
                    std::string_view body, std::uint32_t caller);
  void Unload(Plugin& plugin);
  void Record(CoreEntry entry, std::uint32_t handle, std::string_view text, std::uint32_t flags = 0,
              double delay = 0) {
    mCoreCalls.push_back({entry, handle, std::string(text), flags, delay});
  }

  // NaloCoreApi entries.
  static void NALO_ABI_CALL CoreRequest(const NaloCoreApi* core, NaloResponse* response,
                                        const NaloRequest* request) noexcept;
  static uintptr_t NALO_ABI_CALL CoreReserved(const NaloCoreApi*, uintptr_t, uintptr_t) noexcept {
    return 0;
  }
  static void NALO_ABI_CALL CoreSendEvent(const NaloCoreApi* core, const NaloEvent* event) noexcept;
  static void NALO_ABI_CALL CoreSubscribe(const NaloCoreApi* core, const char* name,
                                          std::uint32_t pluginHandle, NaloEventCallback callback,
                                          void* userData, std::uint32_t flags) noexcept;
  static void NALO_ABI_CALL CoreUnsubscribe(const NaloCoreApi* core, const char* name,
                                            std::uint32_t pluginHandle) noexcept;
  static std::uint8_t NALO_ABI_CALL CorePostTask(const NaloCoreApi* core, const char* label,
                                                 NaloTaskCallback callback, void* userData,
                                                 double delaySeconds, std::uint32_t flags) noexcept;
  static void NALO_ABI_CALL CorePump(const NaloCoreApi* core) noexcept;
  static void NALO_ABI_CALL CoreBeginWait(const NaloCoreApi* core, const char* label,
                                          std::uint32_t reserved) noexcept;
  static void NALO_ABI_CALL CoreEndWait(const NaloCoreApi* core) noexcept;
  static void NALO_ABI_CALL CoreLog(const NaloCoreApi* core, std::uint32_t level,
                                    const char* message) noexcept;

  static std::uint64_t NALO_ABI_CALL VirtualMonotonic(void* context) noexcept {
    return static_cast<const Impl*>(context)->mQueue.Now();
  }
  static std::uint64_t NALO_ABI_CALL VirtualWall(void* context) noexcept {
    return static_cast<const Impl*>(context)->WallClock();
  }
  [[nodiscard]] std::uint64_t WallClock() const noexcept {
    if (mQueue.Mode() == ClockMode::Real) {
      return NowMillisecondsSinceEpoch();
    }
    return mOptions.wallClockAtStart + mQueue.Now() / kNanosecondsPerMillisecond;
  }

  HostOptions mOptions;
  TaskQueue mQueue;
  // What the plugins read as their clocks in virtual time.
  const NaloClockSource mClockSource{this, &VirtualMonotonic, &VirtualWall};
  BindingTypeRegistry mRegistry;
  detail::PeerServices mPeers;
  std::vector<std::unique_ptr<Plugin>> mPlugins;
  std::vector<Subscription> mSubscriptions;
  std::uint64_t mNextSubscription = 1;
  std::uint32_t mNextHandle = 1;
  std::uint32_t mWaitDepth = 0;
  std::uint32_t mIdlePumps = 0;
  // The outermost wait under way: when it began and its label.
  std::chrono::steady_clock::time_point mWaitStarted;
  std::string mWaitLabel;
  std::uint32_t mPumpsInWait = 0;
  // Delayed answers whose body hasn't arrived yet.
  std::uint32_t mPendingArrivals = 0;
  std::vector<LogLine> mLogLines;
  std::function<void(const LogLine&)> mLogLineEcho;
  std::function<void(const PeerRequest&)> mRequestEcho;
  std::vector<PublishedEvent> mEvents;
  std::vector<CoreCall> mCoreCalls;
  // The headers of the outside request being routed, for its dispatch.
  std::vector<NaloHeader> mOutsideHeaders;
  // The payload record of the last event a plugin sent, as sent, and the
  // copy kept of it: a plugin publishes a resource twice in a row (under its
  // event name, then "OnJsonApiEvent") with the same record, which is then
  // kept once. The record's address alone proves nothing (the plugin may
  // have freed it and built another there), so a match is compared with the
  // copy.
  NaloHostValue mLastSentRecord{};
  std::uint32_t mLastSender = 0;
  std::shared_ptr<EventPayload::State> mLastSent;
  KeptRoom mKeptRoom;
};

Host::Impl::Impl(HostOptions options)
    : mOptions(std::move(options)),
      mQueue(mOptions.clock,
             [this](const Stall& stall) { Log(NALO_LOG_ERROR, 0, StallMessage(stall)); }),
      mPeers(mOptions,
             detail::PeerServices::Wiring{
                 .publish =
                     [this](std::string_view name, std::shared_ptr<const BindingProperty> payload,
                            std::string_view uri, std::string_view eventType) {
                       Publish(name, std::move(payload), 0, uri, eventType);
                     },
                 .runDue = [this] { mQueue.RunDue(); },
                 .now = [this] { return mQueue.Now(); },
                 .log = [this](std::uint32_t level, std::string_view text) { Log(level, 0, text); },
             }) {
  if (mOptions.streamPieceSize == 0) {
    mOptions.streamPieceSize = 1;
  }
  if (auto loaded = mPeers.LoadDataStore(); loaded.HasFailure()) {
    Log(NALO_LOG_ERROR, 0, loaded.GetFailure().Message());
  }
}

MaybeType<Failure, void> Host::Impl::Load(const std::filesystem::path& path,
                                          std::string_view entryName) {
  auto library = detail::PluginLibrary::Open(path, entryName);
  if (library.HasFailure()) {
    return library.GetFailure();
  }
  auto plugin = std::make_unique<Plugin>();
  plugin->library.emplace(std::move(library).Value());
  NaloPluginRegistration& registration = plugin->registration;
  registration.major = mOptions.coreMajor;
  registration.minor = mOptions.coreMinor;
  registration.patch = mOptions.corePatch;
  // Until the plugin joins mPlugins (whose Unload takes it back), a failed
  // load takes the clock back here.
  NaloSetClockSource clockExport =
      mQueue.Mode() == ClockMode::Virtual ? plugin->library->ClockSourceExport() : nullptr;
  struct ClockInstallation {
    NaloSetClockSource& install;
    ~ClockInstallation() {
      if (install != nullptr) {
        install(nullptr);
      }
    }
  } clockInstallation{clockExport};
  if (clockExport != nullptr) {
    clockExport(&mClockSource);
  }
  if (plugin->library->LogGroupsExport() != nullptr) {
    plugin->library->LogGroupsExport()(1);
  }
  plugin->library->Entry()(&registration);

  const auto incomplete = [&path](std::string_view missing) {
    return Failure(kLoadFailure, Message::kIncomplete,
                   {{"path", path.string()}, {"missing", missing}});
  };
  if (registration.callbacks == nullptr) {
    return incomplete("the callbacks table");
  }
  if (registration.callbacks->initialize == nullptr ||
      registration.callbacks->shutdown == nullptr ||
      registration.callbacks->getMemoryStatistics == nullptr) {
    return incomplete("a callback");
  }
  if (registration.context == nullptr) {
    return incomplete("the context");
  }
  if (registration.shortName == nullptr || registration.shortName[0] == '\0') {
    return incomplete("the short name");
  }
  if (registration.description == nullptr ||
      (registration.description->routeCount > 0 && registration.description->routes == nullptr)) {
    return incomplete("the route description");
  }
  if (!NaloPluginApiIsCompatible(registration.major, registration.minor, registration.patch,
                                 mOptions.coreMajor, mOptions.coreMinor, mOptions.corePatch)) {
    return Failure(
        kLoadFailure, Message::kIncompatible,
        {{"path", path.string()},
         {"plugin", VersionText(registration.major, registration.minor, registration.patch)},
         {"core", VersionText(mOptions.coreMajor, mOptions.coreMinor, mOptions.corePatch)}});
  }
  plugin->shortName = registration.shortName;
  for (const auto& other : mPlugins) {
    if (other->shortName == plugin->shortName) {
      return Failure(kLoadFailure, Message::kDuplicate, {{"name", plugin->shortName}});
    }
  }
  const NaloApiDescription& description = *registration.description;
  for (std::size_t i = 0; i < description.routeCount; ++i) {
    const NaloRoute& route = description.routes[i];
    if (route.dispatch == nullptr || route.pathTemplate == nullptr) {
      return incomplete("a route's template or dispatch entry");
    }
    CompiledRoute compiled{&route, std::nullopt};
    // Copied out first: the record is packed, so its pointer member may be
    // misaligned and must not be bound to a reference.
    const char* pattern = route.pattern;
    if (pattern != nullptr && pattern[0] != '\0') {
      try {
        compiled.pattern.emplace(pattern, std::regex::ECMAScript);
      } catch (const std::regex_error&) {
        return incomplete("a valid route pattern");
      }
    }
    plugin->routes.push_back(std::move(compiled));
  }

  plugin->core.api =
      NaloCoreApi{&CoreRequest,  &CoreReserved, &CoreSendEvent, &CoreSubscribe, &CoreUnsubscribe,
                  &CorePostTask, &CorePump,     &CoreBeginWait, &CoreEndWait,   &CoreLog};
  plugin->core.host = this;
  plugin->core.handle = mNextHandle++;
  plugin->core.logGroups = plugin->library->LogGroupsExport() != nullptr;
  plugin->services = NaloHostServices{&plugin->core.api, plugin->core.handle};
  Plugin& loaded = *plugin;
  mPlugins.push_back(std::move(plugin));
  clockExport = nullptr;  // Unload takes the clock back from here on
  const std::uint8_t initialized =
      loaded.registration.callbacks->initialize(loaded.registration.context, &loaded.services);
  loaded.initialized = true;
  if (initialized == 0) {
    Failure failure(kLoadFailure, Message::kInitializeFailed,
                    {{"name", loaded.shortName}, {"path", path.string()}});
    Unload(loaded);
    return failure;
  }
  Log(NALO_LOG_OKAY, 0,
      "Loaded the plugin " + loaded.shortName + " from " + path.string() + " as handle " +
          std::to_string(loaded.core.handle) + ".");
  if (mOptions.peers == PeerSetup::Realistic && mOptions.announcePeers) {
    mPeers.Announce();
  }
  mQueue.RunDue();
  return {};
}

void Host::Impl::Unload(Plugin& plugin) {
  const std::uint32_t handle = plugin.core.handle;
  if (plugin.initialized) {
    plugin.initialized = false;
    plugin.registration.callbacks->shutdown(plugin.registration.context);
  }
  mQueue.CancelOwnedBy(handle);
  std::erase_if(mSubscriptions, [handle](const Subscription& s) { return s.handle == handle; });
  if (mQueue.Mode() == ClockMode::Virtual && plugin.library->ClockSourceExport() != nullptr) {
    // The object stays mapped (plugins are never unloaded from memory): it
    // must not keep a clock that points into this host.
    plugin.library->ClockSourceExport()(nullptr);
  }
  if (plugin.library->LogGroupsExport() != nullptr) {
    plugin.library->LogGroupsExport()(0);
  }
  std::erase_if(mPlugins, [&plugin](const auto& p) { return p.get() == &plugin; });
}

void Host::Impl::Shutdown() {
  while (!mPlugins.empty()) {
    Unload(*mPlugins.back());
  }
}

Host::Impl::Plugin* Host::Impl::Owner(std::string_view path) const {
  const std::string bare(WithoutQuery(path));
  for (const auto& plugin : mPlugins) {
    for (const CompiledRoute& route : plugin->routes) {
      if (route.pattern ? std::regex_match(bare, *route.pattern)
                        : bare == route.record->pathTemplate) {
        return plugin.get();
      }
    }
  }
  for (const auto& plugin : mPlugins) {
    if (bare.starts_with("/" + plugin->shortName + "/") && !plugin->routes.empty()) {
      return plugin.get();
    }
  }
  return nullptr;
}

Host::Impl::Plugin* Host::Impl::Find(std::uint32_t handle) const {
  for (const auto& plugin : mPlugins) {
    if (plugin->core.handle == handle) {
      return plugin.get();
    }
  }
  return nullptr;
}

Response Host::Impl::Route(std::uint32_t method, std::string_view path,
                           std::span<const NaloRequestArgument> arguments,
                           std::string_view contentType, std::string_view body,
                           std::uint32_t caller) {
  if (MethodName(method).empty()) {
    Response response;
    response.status = kBadRequest;
    response.error = std::string(
        Failure(kBadRequest, Message::kUnknownMethod, {{"method", std::to_string(method)}})
            .Message());
    return response;
  }
  Plugin* plugin = Owner(path);
  if (plugin != nullptr) {
    if (std::optional<Response> fault = mPeers.TakeFault(path)) {
      fault->reason = ReasonPhrase(fault->status);
      return std::move(*fault);
    }
    return Dispatch(*plugin, method, path, arguments, contentType, body, caller);
  }
  // To the peers: whatever the answer, the request is recorded.
  std::vector<BindingProperty> values;
  Response response;
  for (const NaloRequestArgument& argument : arguments) {
    BindingResult value = FromHostValue(argument.value, "argument");
    if (value.Failed()) {
      response.status = kBadRequest;
      response.error = std::string(
          Failure(kBadRequest, Message::kBadArgument, {{"error", value.ErrorMessage()}}).Message());
      break;
    }
    values.push_back(std::move(value.Value()));
  }
  if (response.status == 0 && values.empty() && !body.empty()) {
    BindingResult parsed = ReadTypedBody(contentType, body);
    if (parsed.Failed()) {
      response.status = kBadRequest;
      response.error = std::string(
          Failure(kBadRequest, Message::kUnreadableBody, {{"error", parsed.ErrorMessage()}})
              .Message());
    } else {
      values.push_back(std::move(parsed.Value()));
    }
  }
  if (response.status == 0) {
    if (std::optional<Response> fault = mPeers.TakeFault(path)) {
      response = std::move(*fault);
    } else {
      response = mPeers.Handle(method, path, values);
    }
  }
  mPeers.Record(method, path, values.empty() ? BindingProperty() : values.front(), caller,
                response.status);
  if (mRequestEcho) {
    mRequestEcho(mPeers.Requests().back());
  }
  response.reason = ReasonPhrase(response.status);
  if (!response.body.IsEmpty()) {
    response.bodyText = ToJson(response.body);
  }
  return response;
}

Response Host::Impl::Dispatch(Plugin& plugin, std::uint32_t method, std::string_view path,
                              std::span<const NaloRequestArgument> arguments,
                              std::string_view contentType, std::string_view body,
                              std::uint32_t caller) {
  const std::string pathText(path);
  const std::string contentTypeText(contentType);
  const std::string bare(WithoutQuery(path));
  const CompiledRoute* chosen = &plugin.routes.front();
  for (const CompiledRoute& route : plugin.routes) {
    if (route.pattern ? std::regex_match(bare, *route.pattern)
                      : bare == route.record->pathTemplate) {
      chosen = &route;
      break;
    }
  }
  NaloRequest request{};
  request.method = method;
  request.path = pathText.c_str();
  request.arguments = arguments.data();
  request.argumentCount = arguments.size();
  request.contentType = body.empty() ? nullptr : contentTypeText.c_str();
  request.body = reinterpret_cast<const std::uint8_t*>(body.data());
  request.bodyLength = body.size();
  request.pluginHandle = caller;
  if (caller == 0 && !mOutsideHeaders.empty()) {
    request.headers = mOutsideHeaders.data();
    request.headerCount = mOutsideHeaders.size();
  }
  NaloResponse raw{};
  chosen->record->dispatch(chosen->record->handlerData, &raw, &request);

  Response response;
  response.status = raw.status;
  response.reason = raw.reason != nullptr ? raw.reason : std::string(ReasonPhrase(raw.status));
  if (raw.error != nullptr) {
    response.error = raw.error;
  }
  if (raw.stream != nullptr && raw.read != nullptr) {
    std::string text;
    std::string block(kDispatchReadBlock, '\0');
    bool failed = false;
    for (;;) {
      std::size_t count = block.size();
      std::uint8_t more = 0;
      if (raw.read(raw.stream, reinterpret_cast<std::uint8_t*>(block.data()), &count, &more) == 0) {
        failed = true;
        break;
      }
      text.append(block.data(), count);
      if (more == 0) {
        break;
      }
    }
    if (raw.close != nullptr) {
      raw.close(raw.stream);
    }
    if (failed) {
      response.status = kInternalError;
      response.error =
          std::string(Failure(kInternalError, Message::kStreamFailed, {{"path", path}}).Message());
    }
    response.bodyText = std::move(text);
    BindingResult parsed = ParseJson(response.bodyText);
    if (parsed.Succeeded()) {
      response.body = std::move(parsed.Value());
    } else {
      response.body.SetString(std::string_view(response.bodyText));
    }
  } else {
    BindingResult value = FromHostValue(raw.body, "<response>");
    if (value.Succeeded()) {
      response.body = std::move(value.Value());
      if (!response.body.IsEmpty()) {
        response.bodyText = ToJson(response.body);
      }
    } else {
      response.error = std::string(value.ErrorMessage());
      response.status = kInternalError;
    }
  }
  if (raw.release != nullptr) {
    raw.release(&raw);
  }
  return response;
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

void Host::Impl::Publish(std::string_view name, EventPayload payload,
                         std::uint32_t sender, std::string_view uri, std::string_view eventType) {
  for (const Subscription& subscription : mSubscriptions) {
    if (subscription.name != name) {
      continue;
    }
    const std::uint64_t id = subscription.id;
    mQueue.Post(kDeliveryLabel, subscription.handle, 0, [this, id, payload] {
      auto found = std::find_if(mSubscriptions.begin(), mSubscriptions.end(),
                                [id](const Subscription& s) { return s.id == id; });
      if (found == mSubscriptions.end()) {
        return;  // unsubscribed since the event was sent
      }
      const Subscription target = *found;
      HostValue value = ToHostValue(*payload, mRegistry);
      NaloEvent record{};
      record.name = target.name.c_str();
      record.payload = value.Record();
      record.userData = target.userData;
      target.callback(&record);
    });
  }
  PublishedEvent& event = mEvents.emplace_back();
  event.name = name;
  event.payload = std::move(payload);
  event.uri = uri;
  event.eventType = eventType;
  event.atNanoseconds = mQueue.Now();
  event.senderHandle = sender;
}

void Host::Impl::Pump(std::uint32_t handle) {
  Record(CoreEntry::Pump, handle, {});
  constexpr std::uint32_t kPumpsBetweenWaitChecks = 1024;
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

void NALO_ABI_CALL Host::Impl::CoreRequest(const NaloCoreApi* core, NaloResponse* response,
                                           const NaloRequest* request) noexcept {
  if (core == nullptr || response == nullptr || request == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  const std::uint32_t handle = AsTable(core)->handle;
  *response = NaloResponse{};
  response->release = &ReleaseHostResponse;
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
    response->reason =
        CopyText(answer.reason.empty() ? ReasonPhrase(answer.status) : answer.reason);
    if (!answer.error.empty()) {
      response->error = CopyText(answer.error);
      return;
    }
    if (!answer.body.IsEmpty()) {
      response->body = ToHostValue(answer.body, host.mRegistry).Release();
      auto* stream =
          new TextStream{.text = ToJson(answer.body), .piece = host.mOptions.streamPieceSize};
      const auto delay = static_cast<std::uint64_t>(answer.bodyDelay.count());
      if (delay > 0 && host.mQueue.Mode() == ClockMode::Virtual) {
        stream->clock = &host.mQueue;
        stream->readyAt = host.mQueue.Now() + delay;
        // The arrival is a task, so that a wait moves virtual time to it;
        // while it is awaited, a wait that finds nothing due moves at once.
        ++host.mPendingArrivals;
        stream->stopAwaiting =
            std::make_shared<std::function<void()>>([&host] { --host.mPendingArrivals; });
        host.mQueue.Post("Answer arrives: " + path, 0, delay, [stop = stream->stopAwaiting] {
          if (*stop) {
            std::exchange(*stop, nullptr)();
          }
        });
      }
      response->expectedBodySize = stream->text.size();
      response->stream = stream;
      response->read = &ReadTextStream;
      response->close = &CloseTextStream;
    }
  } catch (const std::exception& error) {
    ReleaseHostResponse(response);
    response->status = kInternalError;
    response->error = CopyText(std::string("The host failed to answer: ") + error.what());
  }
}

void NALO_ABI_CALL Host::Impl::CoreSendEvent(const NaloCoreApi* core,
                                             const NaloEvent* event) noexcept {
  if (core == nullptr || event == nullptr || event->name == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  const std::uint32_t handle = AsTable(core)->handle;
  host.Record(CoreEntry::SendEvent, handle, event->name);
  std::shared_ptr<EventPayload::State> state;
  if (host.mLastSent != nullptr && handle == host.mLastSender &&
      SamePlace(event->payload, host.mLastSentRecord) &&
      SameRecord(event->payload, host.mLastSent->record, 0)) {
    state = host.mLastSent;
  } else if ((state = KeepRecord(event->payload, host.mKeptRoom)) != nullptr) {
    host.mLastSentRecord = event->payload;
    host.mLastSender = handle;
    host.mLastSent = state;
  } else {
    BindingResult payload = FromHostValue(event->payload, "payload");
    if (payload.Failed()) {
      host.Log(NALO_LOG_ERROR, 0,
               "Dropped the event " + std::string(event->name) +
                   " of an unreadable payload: " + std::string(payload.ErrorMessage()));
      return;
    }
    state = std::make_shared<EventPayload::State>();
    state->value = std::make_shared<const BindingProperty>(std::move(payload.Value()));
    ReadEventPlace(*state->value, state->uri, state->eventType);
    host.mLastSent = nullptr;
  }
  host.Publish(event->name, EventPayload(state), handle, state->uri, state->eventType);
}

void NALO_ABI_CALL Host::Impl::CoreSubscribe(const NaloCoreApi* core, const char* name,
                                             std::uint32_t pluginHandle, NaloEventCallback callback,
                                             void* userData, std::uint32_t flags) noexcept {
  if (core == nullptr || name == nullptr || callback == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  const std::uint32_t handle = AsTable(core)->handle;
  host.Record(CoreEntry::Subscribe, pluginHandle, name, flags);
  // One subscription per plugin and name: subscribing again replaces it.
  std::erase_if(host.mSubscriptions,
                [&](const Subscription& s) { return s.handle == handle && s.name == name; });
  host.mSubscriptions.push_back(
      {host.mNextSubscription++, name, handle, callback, userData, flags});
}

void NALO_ABI_CALL Host::Impl::CoreUnsubscribe(const NaloCoreApi* core, const char* name,
                                               std::uint32_t pluginHandle) noexcept {
  if (core == nullptr || name == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  const std::uint32_t handle = AsTable(core)->handle;
  host.Record(CoreEntry::Unsubscribe, pluginHandle, name);
  std::erase_if(host.mSubscriptions,
                [&](const Subscription& s) { return s.handle == handle && s.name == name; });
}

std::uint8_t NALO_ABI_CALL Host::Impl::CorePostTask(const NaloCoreApi* core, const char* label,
                                                    NaloTaskCallback callback, void* userData,
                                                    double delaySeconds,
                                                    std::uint32_t flags) noexcept {
  if (core == nullptr || callback == nullptr) {
    return 0;
  }
  Impl& host = HostOf(core);
  const std::uint32_t handle = AsTable(core)->handle;
  const std::string text = label != nullptr ? label : "";
  host.Record(CoreEntry::PostTask, handle, text, flags, delaySeconds);
  const double seconds = delaySeconds > 0 ? delaySeconds : 0;
  const auto delay = static_cast<std::uint64_t>(seconds * kNanosecondsPerSecond + 0.5);
  host.mQueue.Post(text, handle, delay, [callback, userData] { callback(userData); });
  return 1;
}

void NALO_ABI_CALL Host::Impl::CorePump(const NaloCoreApi* core) noexcept {
  if (core != nullptr) {
    HostOf(core).Pump(AsTable(core)->handle);
  }
}

void NALO_ABI_CALL Host::Impl::CoreBeginWait(const NaloCoreApi* core, const char* label,
                                             std::uint32_t /*reserved*/) noexcept {
  if (core == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  host.Record(CoreEntry::BeginWait, AsTable(core)->handle, label != nullptr ? label : "");
  if (host.mWaitDepth == 0) {
    host.mWaitStarted = std::chrono::steady_clock::now();
    host.mWaitLabel = label != nullptr ? label : "";
    host.mPumpsInWait = 0;
  }
  ++host.mWaitDepth;
  host.mIdlePumps = 0;
}

void NALO_ABI_CALL Host::Impl::CoreEndWait(const NaloCoreApi* core) noexcept {
  if (core == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  host.Record(CoreEntry::EndWait, AsTable(core)->handle, {});
  if (host.mWaitDepth > 0) {
    --host.mWaitDepth;
  }
  host.mIdlePumps = 0;
}

void NALO_ABI_CALL Host::Impl::CoreLog(const NaloCoreApi* core, std::uint32_t level,
                                       const char* message) noexcept {
  if (core == nullptr || message == nullptr) {
    return;
  }
  Impl& host = HostOf(core);
  std::string_view text = message;
  std::string_view groups;
  if (AsTable(core)->logGroups) {
    if (const std::size_t separator = text.find("| "); separator != std::string_view::npos) {
      groups = text.substr(0, separator);
      text.remove_prefix(separator + 2);
    }
  }
  host.Record(CoreEntry::Log, AsTable(core)->handle, text);
  host.Log(level, AsTable(core)->handle, text, groups);
}

// ---------------------------------------------------------------------------

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
    Response response;
    response.status = kBadRequest;
    response.reason = ReasonPhrase(kBadRequest);
    response.error =
        std::string(Failure(kBadRequest, Message::kUnknownMethod, {{"method", method}}).Message());
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
  return std::ranges::any_of(mImpl->mSubscriptions, [name](const auto& subscription) {
    return subscription.name == name;
  });
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
  return mImpl->mEvents;
}

const std::vector<CoreCall>& Host::CoreCalls() const noexcept {
  return mImpl->mCoreCalls;
}

void Host::ClearRecords() {
  mImpl->mLogLines.clear();
  mImpl->mEvents.clear();
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
