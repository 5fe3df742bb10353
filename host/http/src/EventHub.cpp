#include "host/http/EventHub.h"

#include <algorithm>
#include <utility>

#include "binding/BindingProperty.h"
#include "binding/Json.h"

namespace Nalo::Host::Http {

namespace {
constexpr std::string_view kAllResourceEvents = "OnJsonApiEvent";
constexpr std::string_view kDelete = "Delete";
}  // namespace

EventStream::Batch EventStream::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mMutex);
  mWake.wait_for(lock, timeout, [this] { return !mQueue.empty() || mDropped || mClosed; });
  Batch batch;
  batch.events.assign(std::make_move_iterator(mQueue.begin()),
                      std::make_move_iterator(mQueue.end()));
  mQueue.clear();
  batch.dropped = mDropped;
  batch.closed = mClosed;
  return batch;
}

void EventStream::SetWaker(std::function<void()> wake) {
  std::lock_guard lock(mMutex);
  mWaker = std::move(wake);
}

bool EventStream::Offer(std::shared_ptr<const StreamEvent> event) {
  {
    std::lock_guard lock(mMutex);
    if (mDropped || mClosed) {
      return false;
    }
    if (mQueue.size() >= mLimit) {
      // Events already queued are still written; then the stream ends.
      mDropped = true;
    } else {
      mQueue.push_back(std::move(event));
    }
    if (mWaker) {
      mWaker();
    }
  }
  mWake.notify_one();
  return !mDropped;
}

void EventStream::Close() {
  {
    std::lock_guard lock(mMutex);
    mClosed = true;
    if (mWaker) {
      mWaker();
    }
  }
  mWake.notify_all();
}

void EventHub::Publish(const PublishedEvent& event) {
  if (event.uri.empty() || event.eventType.empty() || event.name == kAllResourceEvents) {
    return;
  }
  auto stream = std::make_shared<StreamEvent>();
  stream->name = event.name;
  stream->uri = event.uri;
  stream->eventType = event.eventType;
  BindingProperty record;
  record.member("uri").SetString(std::string_view(event.uri));
  record.member("eventType").SetString(std::string_view(event.eventType));
  if (const BindingProperty* data = event.Data()) {
    record.member("data").assign(*data);
  } else {
    record.member("data");
  }
  stream->json = ToJson(record);

  std::lock_guard lock(mMutex);
  stream->sequence = mNextSequence++;
  std::shared_ptr<const StreamEvent> shared = std::move(stream);
  if (shared->eventType == kDelete) {
    if (auto found = mLatest.find(shared->uri); found != mLatest.end()) {
      mLatest.erase(found);
    }
  } else {
    mLatest[shared->uri] = shared;
  }
  for (const auto& subscriber : mStreams) {
    if (shared->uri.starts_with(subscriber->Prefix())) {
      // A dropped stream stays until its reader ends it and unsubscribes.
      static_cast<void>(subscriber->Offer(shared));
    }
  }
}

std::shared_ptr<EventStream> EventHub::Subscribe(std::string_view prefix, std::size_t limit) {
  auto stream = std::make_shared<EventStream>(std::string(prefix), std::max<std::size_t>(limit, 1));
  std::lock_guard lock(mMutex);
  if (mClosed) {
    stream->Close();
    return stream;
  }
  // Under the hub's lock no publication slips between the current values
  // and the first change.
  std::vector<std::shared_ptr<const StreamEvent>> current;
  for (auto it = mLatest.lower_bound(prefix); it != mLatest.end() && it->first.starts_with(prefix);
       ++it) {
    current.push_back(it->second);
  }
  std::sort(current.begin(), current.end(),
            [](const auto& a, const auto& b) { return a->sequence < b->sequence; });
  for (auto& event : current) {
    static_cast<void>(stream->Offer(std::move(event)));
  }
  mStreams.push_back(stream);
  return stream;
}

void EventHub::Unsubscribe(const std::shared_ptr<EventStream>& stream) {
  std::lock_guard lock(mMutex);
  std::erase(mStreams, stream);
}

void EventHub::Close() {
  std::lock_guard lock(mMutex);
  mClosed = true;
  for (const auto& stream : mStreams) {
    stream->Close();
  }
}

void EventHub::TakeRecords(Host& host) {
  for (const PublishedEvent& event : host.PublishedEvents()) {
    Publish(event);
  }
  host.ClearRecords();
}

std::size_t EventHub::StreamCount() const {
  std::lock_guard lock(mMutex);
  return mStreams.size();
}

std::shared_ptr<const StreamEvent> EventHub::Latest(std::string_view uri) const {
  std::lock_guard lock(mMutex);
  auto found = mLatest.find(uri);
  return found != mLatest.end() ? found->second : nullptr;
}

}  // namespace Nalo::Host::Http
