#include "routing/StatusReason.h"

#include <array>
#include <cstddef>

namespace Nalo {

namespace {

struct Reason {
  std::uint32_t status;
  std::string_view phrase;
};

// Every phrase is a literal, so its data() is a C string that lives for the
// process; the response writer recognises a table phrase by its address.
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
    Reason{429, "Too Many Requests"},
    Reason{431, "Request Header Fields Too Large"},
    Reason{500, "Internal Server Error"},
    Reason{501, "Not Implemented"},
    Reason{502, "Bad Gateway"},
    Reason{503, "Service Unavailable"},
    Reason{504, "Gateway Timeout"},
    Reason{505, "HTTP Version Not Supported"},
    Reason{507, "Insufficient Storage"},
};

// The one "no phrase" answer, so that its address is stable too.
constexpr std::string_view kNoPhrase = "";
constexpr std::uint32_t kFirstStatus = 100;
constexpr std::uint32_t kLastStatus = 599;

// Every response looks its phrase up, so the table is indexed directly by
// status: each entry is one plus the phrase's position in kReasons, 0 for
// none. A phrase for a status outside [kFirstStatus, kLastStatus] would index
// past the array, which stops the compilation.
constexpr auto kReasonByStatus = [] {
  std::array<std::uint8_t, kLastStatus - kFirstStatus + 1> positions{};
  for (std::size_t i = 0; i < kReasons.size(); ++i) {
    positions[kReasons[i].status - kFirstStatus] = static_cast<std::uint8_t>(i + 1);
  }
  return positions;
}();

static_assert(kReasons.size() < 255, "a phrase's position plus one fits a byte");

}  // namespace

std::string_view StatusReason(std::uint32_t status) noexcept {
  if (status < kFirstStatus || status > kLastStatus) {
    return kNoPhrase;
  }
  const std::uint8_t position = kReasonByStatus[status - kFirstStatus];
  return position != 0 ? kReasons[position - 1].phrase : kNoPhrase;
}

}  // namespace Nalo
