#include "routing/StatusReason.h"

#include <algorithm>
#include <array>
#include <utility>

namespace Nalo {

namespace {

struct Reason {
  std::uint32_t status;
  std::string_view phrase;
};

// Sorted by status. Every phrase is a literal, so its data() is a C string
// that lives for the process (the response writer relies on it).
constexpr std::array kReasons = {
    Reason{100, "Continue"},
    Reason{101, "Switching Protocols"},
    Reason{102, "Processing"},
    Reason{200, "OK"},
    Reason{201, "Created"},
    Reason{202, "Accepted"},
    Reason{203, "Non-Authoritative Information"},
    Reason{204, "No Content"},
    Reason{205, "Reset Content"},
    Reason{206, "Partial Content"},
    Reason{207, "207 Multi-Status"},
    Reason{300, "Multiple Choices"},
    Reason{301, "Moved Permanently"},
    Reason{302, "Found"},
    Reason{303, "See Other"},
    Reason{304, "Not Modified"},
    Reason{305, "Use Proxy"},
    Reason{307, "Temporary Redirect"},
    Reason{400, "Bad Request"},
    Reason{401, "Unauthorized"},
    Reason{402, "Payment Required"},
    Reason{403, "Forbidden"},
    Reason{404, "Not Found"},
    Reason{405, "Method Not Allowed"},
    Reason{406, "Not Acceptable"},
    Reason{407, "Proxy Authentication Required"},
    Reason{408, "Request Timeout"},
    Reason{409, "Conflict"},
    Reason{410, "Gone"},
    Reason{411, "Length Required"},
    Reason{412, "Precondition Failed"},
    Reason{413, "Request Entity Too Large"},
    Reason{414, "Request-URI Too Long"},
    Reason{415, "Unsupported Media Type"},
    Reason{416, "Requested Range Not Satisfiable"},
    Reason{417, "Expectation Failed"},
    Reason{422, "Unprocessable Entity"},
    Reason{423, "Locked"},
    Reason{424, "Failed Dependency"},
    Reason{500, "Internal Server Error"},
    Reason{501, "Not Implemented"},
    Reason{502, "Bad Gateway"},
    Reason{503, "Service Unavailable"},
    Reason{504, "Gateway Timeout"},
    Reason{505, "HTTP Version Not Supported"},
    Reason{507, "Insufficient Storage"},
};

static_assert(std::is_sorted(kReasons.begin(), kReasons.end(),
                             [](const Reason& left, const Reason& right) {
                               return left.status < right.status;
                             }),
              "the reason table is searched by bisection");

}  // namespace

std::string_view StatusReason(std::uint32_t status) noexcept {
  const auto found = std::lower_bound(
      kReasons.begin(), kReasons.end(), status,
      [](const Reason& reason, std::uint32_t wanted) { return reason.status < wanted; });
  return found != kReasons.end() && found->status == status ? found->phrase : std::string_view("");
}

}  // namespace Nalo
