#pragma once
// The answers the HTTP front writes, and their bytes (private to
// host/http/src): an Answer says what to answer, a Rendering what the bytes
// depend on beside it (the request's method and version, keep-alive, CORS),
// and Render writes the status line, headers and body. The status line's
// phrase is the house's (routing/StatusReason.h).

#include <boost/beast/core/string.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Nalo::Host::Http::detail {

// An answer the front writes.
struct Answer {
  unsigned status = 200;
  std::string reason;       // X-Status-Reason; empty: the status's own phrase
  std::string json;         // the body; empty for none
  std::string contentType;  // the body's type; empty: JSON
  std::vector<std::pair<std::string, std::string>> headers;
  bool close = false;  // end the connection after it
};

// A JSON error answer that ends the connection.
[[nodiscard]] Answer Refusal(unsigned status, std::string_view message);

// What an answer's bytes depend on beside the answer itself.
struct Rendering {
  bool head = false;       // a HEAD request: no body
  bool version10 = false;  // an HTTP/1.0 request
  bool keepAlive = false;  // the connection may serve another request
  std::vector<std::pair<std::string, std::string>> headers;  // CORS
};

// The bytes of an answer: status line, headers, body. A status outside
// 200-599 is written as 500 (the core failed to answer).
[[nodiscard]] std::string Render(const Answer& answer, const Rendering& rendering);

// A header value as sent on: control bytes (a line break in a plugin's
// reason phrase) become spaces, and at most 256 bytes are kept.
[[nodiscard]] std::string HeaderSafe(std::string_view text);

// Beast's text views as the standard's.
[[nodiscard]] inline std::string_view View(boost::beast::string_view text) noexcept {
  return {text.data(), text.size()};
}

}  // namespace Nalo::Host::Http::detail
