// The event stream of the HTTP front: GET /events answers a chunked
// text/event-stream that never ends on its own. The plugin thread hands
// each stream its events through a bounded queue (EventHub.h) and wakes it;
// the stream writes them on the connection's strand, a comment line when it
// is idle, and ends when its client goes or falls too far behind.

#include <string>
#include <string_view>

#include "FrontMessages.h"
#include "Session.h"
#include "binding/BindingProperty.h"
#include "binding/Json.h"
#include "routing/PercentDecoding.h"
#include "routing/QueryString.h"

namespace Nalo::Host::Http {

namespace asio = boost::asio;
namespace beast = boost::beast;
using namespace detail;

namespace {

// One server-sent event.
std::string FormatEvent(const StreamEvent& event) {
  std::string text;
  text.reserve(event.json.size() + event.name.size() + 40);
  text += "id: ";
  text += std::to_string(event.sequence);
  text += "\nevent: ";
  text += event.name;
  text += "\ndata: ";
  text += event.json;  // compact JSON holds no line break
  text += "\n\n";
  return text;
}

// `text` as one piece of a chunked body.
std::string Chunk(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string size;
  for (std::size_t n = text.size(); n > 0; n >>= 4) {
    size.insert(size.begin(), kDigits[n & 0xF]);
  }
  std::string chunk;
  chunk.reserve(size.size() + text.size() + 4);
  chunk.append(size).append("\r\n").append(text).append("\r\n");
  return chunk;
}

// The decoded value of the query parameter `name` of `target`; empty when
// it isn't there.
std::string QueryValue(std::string_view target, std::string_view name) {
  std::string value;
  static_cast<void>(VisitQueryString(target, [&](std::string_view key, std::string_view raw) {
    if (key != name) {
      return true;
    }
    value = percentDecode(raw);
    return false;
  }));
  return value;
}

}  // namespace

void Session::StartEvents(std::string_view target) {
  mEvents = mFront.mHub.Subscribe(QueryValue(target, "prefix"), mFront.mOptions.eventQueueLimit);
  detail::Answer head;
  AddCors(head);
  std::string text =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
      "X-Accel-Buffering: no\r\nTransfer-Encoding: chunked\r\n";
  for (const auto& [name, value] : head.headers) {
    text.append(name).append(": ").append(value).append("\r\n");
  }
  text += "\r\n";
  std::weak_ptr<Session> weak = weak_from_this();
  mEvents->SetWaker([weak, executor = Executor(), posted = mWakePosted]() {
    if (!posted->exchange(true)) {
      asio::post(executor, [weak] {
        if (auto self = weak.lock()) {
          self->PumpEvents();
        }
      });
    }
  });
  WriteStream(std::move(text), false);
  WatchClient();
}

void Session::WatchClient() {
  mStream.socket().async_read_some(
      asio::buffer(mDiscard), [self = shared_from_this()](beast::error_code error, std::size_t) {
        if (error) {
          self->EndEvents();
        } else {
          self->WatchClient();
        }
      });
}

void Session::PumpEvents() {
  if (mEnding || mWriting) {
    return;  // a write under way pumps again when it is done
  }
  mWakePosted->store(false);
  EventStream::Batch batch = mEvents->Wait(std::chrono::milliseconds(0));
  std::string text;
  for (const auto& event : batch.events) {
    text += FormatEvent(*event);
  }
  if (batch.dropped) {
    BindingProperty reason;
    reason.member("message").SetString(
        Failure(0, Message::kDropped, {{"limit", std::to_string(Options().eventQueueLimit)}})
            .Message());
    text += "event: dropped\ndata: " + ToJson(reason) + "\n\n";
  }
  const bool last = batch.dropped || batch.closed;
  if (text.empty() && !last) {
    return;
  }
  WriteStream(text.empty() ? std::string() : Chunk(text), last);
}

void Session::WriteStream(std::string text, bool last) {
  mOutgoing = std::move(text);
  if (last) {
    mOutgoing += "0\r\n\r\n";
  }
  mWriting = true;
  mStream.expires_after(Options().writeTimeout);
  asio::async_write(mStream, asio::buffer(mOutgoing),
                    [self = shared_from_this(), last](beast::error_code error, std::size_t) {
                      self->mWriting = false;
                      if (error || last) {
                        self->EndEvents();
                        return;
                      }
                      self->ArmKeepAlive();
                      self->PumpEvents();
                    });
}

void Session::ArmKeepAlive() {
  mKeepAlive.expires_after(Options().streamKeepAlive);
  mKeepAlive.async_wait([weak = weak_from_this()](beast::error_code error) {
    auto self = weak.lock();
    if (error || !self || self->mEnding || self->mWriting) {
      return;
    }
    self->WriteStream(Chunk(": keep-alive\n\n"), false);
  });
}

void Session::EndEvents() {
  if (mEnding) {
    return;
  }
  mEnding = true;
  mKeepAlive.cancel();
  mEvents->SetWaker(nullptr);
  mFront.mHub.Unsubscribe(mEvents);
  Shutdown();
}

}  // namespace Nalo::Host::Http
