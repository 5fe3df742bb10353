// The payloads of published events (EventPayload in Host.h) and the copies
// kept of the records plugins send (SentPayloads.h).

#include "host/core/src/SentPayloads.h"

#include <utility>

#include "abi/HostValue.h"
#include "host/core/src/RecordCopy.h"

namespace Nalo::Host {

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

bool EventPayload::IsRead() const noexcept {
  return mState == nullptr || mState->value != nullptr;
}

namespace detail {

namespace {

constexpr std::uint32_t kInternalError = 500;

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

}  // namespace

MaybeType<Failure, std::shared_ptr<EventPayload::State>> SentPayloads::Take(
    const NaloHostValue& record, std::uint32_t sender) {
  if (RepeatsLastSend(record, sender)) {
    // Shared once, then forgotten: a plugin sends each publication twice
    // (under its resource's event name and as "OnJsonApiEvent"), and the
    // next record it sends is a new publication, often built where the last
    // one lay, which a comparison would read nearly whole before finding it
    // different. A record sent a third time is copied again.
    return std::exchange(mLast, nullptr);
  }
  if (std::shared_ptr<EventPayload::State> kept = Keep(record)) {
    mLastRecord = record;
    mLastSender = sender;
    mLast = kept;
    return kept;
  }
  BindingResult payload = FromHostValue(record, "payload");
  if (payload.Failed()) {
    return Failure(kInternalError, "{error}", {{"error", payload.ErrorMessage()}});
  }
  auto state = std::make_shared<EventPayload::State>();
  state->value = std::make_shared<const BindingProperty>(std::move(payload.Value()));
  ReadEventPlace(*state->value, state->uri, state->eventType);
  mLast = nullptr;
  return state;
}

bool SentPayloads::RepeatsLastSend(const NaloHostValue& record, std::uint32_t sender) const {
  return mLast != nullptr && sender == mLastSender && SamePlace(record, mLastRecord) &&
         SameRecord(record, mLast->record, 0);
}

std::shared_ptr<EventPayload::State> SentPayloads::Keep(const NaloHostValue& record) {
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
    mRoom.records = used(static_cast<std::size_t>(copier.records - start));
    mRoom.bytes = used(static_cast<std::size_t>(copier.bytes - (start + records)));
    return true;
  };
  if (mRoom.records + mRoom.bytes == 0 || !tryCopy(mRoom.records, mRoom.bytes)) {
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

}  // namespace detail
}  // namespace Nalo::Host
