#include "host/core/src/EventBus.h"

#include <algorithm>
#include <utility>

#include "abi/HostValue.h"

namespace Nalo::Host::detail {

namespace {

// The label of every event delivery in the task queue.
const std::string kDeliveryLabel = "Event delivery";

}  // namespace

void EventBus::Subscribe(std::uint32_t handle, std::string_view name, NaloEventCallback callback,
                         void* userData, std::uint32_t flags) {
  Unsubscribe(handle, name);
  mSubscriptions.push_back(
      {mNextSubscription++, std::string(name), handle, callback, userData, flags});
}

void EventBus::Unsubscribe(std::uint32_t handle, std::string_view name) {
  std::erase_if(mSubscriptions,
                [&](const Subscription& s) { return s.handle == handle && s.name == name; });
}

void EventBus::UnsubscribeAll(std::uint32_t handle) {
  std::erase_if(mSubscriptions, [handle](const Subscription& s) { return s.handle == handle; });
}

bool EventBus::HasSubscriber(std::string_view name) const {
  return std::ranges::any_of(mSubscriptions,
                             [name](const Subscription& s) { return s.name == name; });
}

void EventBus::Publish(std::string_view name, EventPayload payload, std::uint32_t sender,
                       std::string_view uri, std::string_view eventType) {
  for (const Subscription& subscription : mSubscriptions) {
    if (subscription.name != name) {
      continue;
    }
    mQueue.Post(kDeliveryLabel, subscription.handle, 0,
                [this, id = subscription.id, payload] { Deliver(id, payload); });
  }
  PublishedEvent& event = mEvents.emplace_back();
  event.name = name;
  event.payload = std::move(payload);
  event.uri = uri;
  event.eventType = eventType;
  event.atNanoseconds = mQueue.Now();
  event.senderHandle = sender;
}

void EventBus::Deliver(std::uint64_t id, const EventPayload& payload) const {
  auto found =
      std::ranges::find_if(mSubscriptions, [id](const Subscription& s) { return s.id == id; });
  if (found == mSubscriptions.end()) {
    return;  // unsubscribed since the event was sent
  }
  // A copy: the callback may subscribe or unsubscribe.
  const Subscription target = *found;  // NOLINT(performance-unnecessary-copy-initialization)
  HostValue value = ToHostValue(*payload, mRegistry);
  NaloEvent record{};
  record.name = target.name.c_str();
  record.payload = value.Record();
  record.userData = target.userData;
  target.callback(&record);
}

}  // namespace Nalo::Host::detail
