#pragma once
// EventBus: the plugins' subscriptions and the events the core carries to
// them. Publishing records the event and queues one delivery per
// subscriber as a task due now (deliveries are never nested in the
// publisher's call); a delivery whose subscription is gone by the time it
// runs is skipped.
//
//   EventBus bus(queue, registry);
//   bus.Subscribe(handle, "OnJsonApiEvent_peer_v1_thing", callback, userData, 0);
//   bus.Publish("OnJsonApiEvent_peer_v1_thing", payload, 0, "/peer/v1/thing", "Update");
//   queue.RunDue();                      // the callback runs here

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingTypeRegistry.h"
#include "host/core/Host.h"
#include "host/core/TaskQueue.h"

namespace Nalo::Host::detail {

class EventBus {
 public:
  // Both outlive the bus.
  EventBus(TaskQueue& queue, const BindingTypeRegistry& registry)
      : mQueue(queue), mRegistry(registry) {}

  // One subscription per plugin and name: subscribing again replaces it.
  void Subscribe(std::uint32_t handle, std::string_view name, NaloEventCallback callback,
                 void* userData, std::uint32_t flags);
  void Unsubscribe(std::uint32_t handle, std::string_view name);
  // Drops every subscription of the plugin `handle`.
  void UnsubscribeAll(std::uint32_t handle);
  [[nodiscard]] bool HasSubscriber(std::string_view name) const;

  // Records the event and queues its delivery to each subscriber of `name`.
  // `uri` (with its leading "/") and `eventType` describe a resource event;
  // `sender` is the plugin's handle, 0 for the host and its peers.
  void Publish(std::string_view name, EventPayload payload, std::uint32_t sender,
               std::string_view uri, std::string_view eventType);

  // Every event published since the start or the last ClearPublished().
  [[nodiscard]] const std::vector<PublishedEvent>& Published() const noexcept { return mEvents; }
  void ClearPublished() { mEvents.clear(); }

 private:
  struct Subscription {
    std::uint64_t id;
    std::string name;
    std::uint32_t handle;
    NaloEventCallback callback;
    void* userData;
    std::uint32_t flags;
  };

  // Runs one queued delivery of `payload` to the subscription `id`.
  void Deliver(std::uint64_t id, const EventPayload& payload) const;

  TaskQueue& mQueue;
  const BindingTypeRegistry& mRegistry;
  std::vector<Subscription> mSubscriptions;
  std::uint64_t mNextSubscription = 1;
  std::vector<PublishedEvent> mEvents;
};

}  // namespace Nalo::Host::detail
