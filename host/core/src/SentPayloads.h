#pragma once
// SentPayloads: the payloads of the events plugins send, kept as copies of
// their host value records and read into values only when something asks
// (EventPayload in Host.h).
//
// A plugin publishes a resource twice in a row, under its event name and
// then under "OnJsonApiEvent", with the same record: the second send shares
// the payload kept for the first. The record's address alone proves nothing
// (the plugin may have freed it and built another there), so a record at
// the same place is compared with the kept copy (RepeatsLastSend).
//
//   SentPayloads sent;
//   auto kept = sent.Take(event->payload, handle);
//   if (kept.HasFailure()) { ... log kept.GetFailure().Message(), drop the event ... }
//   Publish(event->name, EventPayload(kept.Value()), handle, kept.Value()->uri, ...);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "abi/HostAbi.h"
#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "host/core/Host.h"

namespace Nalo::Host {

// A published payload: the copy of the record a plugin sent, read into
// `value` when first asked for, or a value from the start.
struct EventPayload::State {
  std::unique_ptr<std::byte[]> block;            // the copy's arrays, texts and names
  NaloHostValue record{};                        // the copy (kept records only)
  std::shared_ptr<const BindingProperty> value;  // null until read
  // The payload's "uri" (with a leading "/") and "eventType" texts.
  std::string uri;
  std::string eventType;
};

namespace detail {

class SentPayloads {
 public:
  // The payload of `record`, sent by the plugin `sender`: the one taken
  // last when this send repeats it, else a new copy of the record; a record
  // that can't be copied as it is is read into a value now. Fails (500,
  // naming why) when the record doesn't read as a value.
  [[nodiscard]] MaybeType<Failure, std::shared_ptr<EventPayload::State>> Take(
      const NaloHostValue& record, std::uint32_t sender);

 private:
  // The second-send check: whether `record`, from `sender`, is the record
  // taken last sent again unchanged (the same sender, the same place, and
  // the same contents as the kept copy).
  [[nodiscard]] bool RepeatsLastSend(const NaloHostValue& record, std::uint32_t sender) const;

  // The room the last copy took, and a quarter more: the next copy tries
  // that first (a publication is often much like the last one).
  struct Room {
    std::size_t records = 0;
    std::size_t bytes = 0;
  };

  // A copy of `record` in one block, not yet read; null when the record
  // can't be kept as it is. Tries mRoom first, and measures the record when
  // it doesn't fit.
  [[nodiscard]] std::shared_ptr<EventPayload::State> Keep(const NaloHostValue& record);

  NaloHostValue mLastRecord{};  // as the plugin sent it
  std::uint32_t mLastSender = 0;
  std::shared_ptr<EventPayload::State> mLast;  // null: nothing to share
  Room mRoom;
};

}  // namespace detail
}  // namespace Nalo::Host
