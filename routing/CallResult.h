#pragma once
// CallResult: what a route handler produces on success, before the router
// writes it into the core's response.
//
// Most handlers never build one: they return a value (or nothing) and the
// router makes the result (status 200 with the value, or 204 with no
// content). A handler that needs its own status, headers or a streamed body
// returns MaybeType<Failure, CallResult>. Failures are not call results: a
// handler returns a Failure, whose code becomes the status and whose message
// the error text.
//
//   Nalo::CallResult result = Nalo::CallResult::WithValue(std::move(value));
//   result.status = 201;
//   result.headers.push_back({"Location", "/tav-gameflow/v1/session"});

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "abi/HostValue.h"
#include "binding/BindingProperty.h"

namespace Nalo {

struct ResponseHeader {
  std::string name;
  std::string value;

  friend bool operator==(const ResponseHeader&, const ResponseHeader&) = default;
};

// A response body delivered in pieces. The core reads it on the plugin
// thread after the dispatch returned, then closes it, which destroys it.
class ResponseStream {
 public:
  virtual ~ResponseStream() = default;

  // Copies up to `buffer.size()` bytes into `buffer`; sets `delivered` to
  // the number copied and `more` to whether more data follows. Returns false
  // when the body can't be read; the core then stops reading.
  [[nodiscard]] virtual bool Read(std::span<std::uint8_t> buffer, std::size_t& delivered,
                                  bool& more) = 0;
  // The body's full size as far as known, else 0.
  [[nodiscard]] virtual std::uint64_t ExpectedSize() const { return 0; }
};

struct CallResult {
  static constexpr std::uint32_t kValueStatus = 200;
  static constexpr std::uint32_t kNoContentStatus = 204;

  // A result carrying `value` with status 200.
  [[nodiscard]] static CallResult WithValue(BindingProperty value) {
    CallResult result;
    result.value = std::move(value);
    return result;
  }
  // A result carrying a value already in the core's form, status 200.
  [[nodiscard]] static CallResult WithWritten(HostValue written) {
    CallResult result;
    result.written = std::move(written);
    return result;
  }
  // A result without a value, status 204.
  [[nodiscard]] static CallResult NoContent() {
    CallResult result;
    result.status = kNoContentStatus;
    return result;
  }

  BindingProperty value;  // empty: no content (unless `written` holds it)
  // A handler's native value, written straight in the core's form (no tree
  // is built on the way); used when `value` is empty.
  HostValue written;
  std::uint32_t status = kValueStatus;
  std::string reason;  // empty: the status's phrase (StatusReason.h)
  std::vector<ResponseHeader> headers;
  std::uint8_t flags = 0;   // passed to the core as it is
  std::uint8_t format = 0;  // 1, 2 or 3 are passed on; anything else as 0
  std::unique_ptr<ResponseStream> stream;

  // The value as a tree, in whichever form it was given (a native value
  // written for the core is read back); empty for no content.
  [[nodiscard]] BindingProperty ValueTree() const;
};

}  // namespace Nalo
