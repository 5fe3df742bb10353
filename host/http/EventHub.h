#pragma once
// EventHub: the resource events the plugins and peers publish, handed to
// the HTTP front's event streams (GET /events).
//
// The plugin thread hands every publication to Publish(); each stream has a
// queue of its own with a bound, so a slow stream never slows the plugin
// thread: a stream whose queue is full is marked dropped and gets no more
// events (its reader ends it with a final event saying so). The hub keeps
// the latest value of every resource, so a stream that subscribes late
// starts with the current value of each resource under its prefix and then
// sees the changes, with nothing lost or repeated between the two.
//
//   auto stream = hub.Subscribe("/tav-gameflow/", 1024);
//   EventStream::Batch batch = stream->Wait(std::chrono::seconds(15));
//   ...
//   hub.Unsubscribe(stream);

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/Host.h"

namespace Nalo::Host::Http {

// One resource event as a stream writes it.
struct StreamEvent {
  std::uint64_t sequence = 0;  // 1, 2, ... in publication order
  std::string name;            // "OnJsonApiEvent_tav-gameflow_v1_session"
  std::string uri;
  std::string eventType;  // Create, Update, Delete
  std::string json;       // {"data":...,"eventType":...,"uri":...}
};

class EventStream {
 public:
  struct Batch {
    std::vector<std::shared_ptr<const StreamEvent>> events;
    bool dropped = false;  // the queue overflowed: end the stream
    bool closed = false;   // the hub closed: end the stream
  };

  EventStream(std::string prefix, std::size_t limit) : mPrefix(std::move(prefix)), mLimit(limit) {}

  // Waits at most `timeout` for events, then takes every queued one. An
  // empty batch that is neither dropped nor closed means the time ran out.
  [[nodiscard]] Batch Wait(std::chrono::milliseconds timeout);
  // For readers that don't block: `wake` runs (on the publishing thread,
  // under the stream's lock, so it must only hand the news on) whenever an
  // event is queued or the stream is dropped or closed; the reader then
  // takes the batch with Wait(0). Empty: no more calls.
  void SetWaker(std::function<void()> wake);

  [[nodiscard]] const std::string& Prefix() const noexcept { return mPrefix; }
  [[nodiscard]] std::size_t Limit() const noexcept { return mLimit; }

 private:
  friend class EventHub;
  // Under the hub's lock. False once the stream is dropped.
  bool Offer(std::shared_ptr<const StreamEvent> event);
  void Close();

  const std::string mPrefix;
  const std::size_t mLimit;
  std::mutex mMutex;
  std::condition_variable mWake;
  std::deque<std::shared_ptr<const StreamEvent>> mQueue;
  bool mDropped = false;
  bool mClosed = false;
  std::function<void()> mWaker;
};

class EventHub {
 public:
  // On the plugin thread: every resource event recorded (under its own
  // name; the "OnJsonApiEvent" copies and other events are skipped).
  void Publish(const PublishedEvent& event);

  // A stream of the resource events whose URI starts with `prefix` (empty:
  // all), holding at most `limit` unread events (>= 1), starting with the
  // current value of each such resource. After Close() the stream comes
  // back closed.
  [[nodiscard]] std::shared_ptr<EventStream> Subscribe(std::string_view prefix, std::size_t limit);
  void Unsubscribe(const std::shared_ptr<EventStream>& stream);
  // Ends every stream; later ones start closed.
  void Close();

  // On the plugin thread, after each round of work: publishes what the
  // host recorded since the last call and clears the host's records, so
  // that a host serving for hours keeps no history.
  void TakeRecords(Host& host);

  [[nodiscard]] std::size_t StreamCount() const;
  // The latest event of `uri`, if it has a value.
  [[nodiscard]] std::shared_ptr<const StreamEvent> Latest(std::string_view uri) const;

 private:
  mutable std::mutex mMutex;
  std::uint64_t mNextSequence = 1;
  std::map<std::string, std::shared_ptr<const StreamEvent>, std::less<>> mLatest;
  std::vector<std::shared_ptr<EventStream>> mStreams;
  bool mClosed = false;
};

}  // namespace Nalo::Host::Http
