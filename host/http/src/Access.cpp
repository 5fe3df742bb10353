// Who may use the HTTP front: the token (made, and checked in constant
// time), the access file that hands it to the user, and the screen every
// request passes before the routes (the dashboard's files and CORS
// preflights need no token; everything else does).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "FrontMessages.h"
#include "Session.h"
#include "binding/BindingProperty.h"
#include "binding/Json.h"

namespace Nalo::Host::Http {

namespace http = boost::beast::http;
using namespace detail;

namespace {

// Decodes standard Base64; nullopt for anything else.
std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  std::size_t padding = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=') {
      ++padding;
      continue;
    } else {
      return std::nullopt;
    }
    if (padding > 0) {
      return std::nullopt;  // data after padding
    }
    buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

// Compares in time that depends on the length of `expected` only.
bool ConstantTimeEquals(std::string_view given, std::string_view expected) noexcept {
  unsigned difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char mine = i < given.size() ? given[i] : 0;
    difference |= static_cast<unsigned char>(mine ^ expected[i]);
  }
  return difference == 0;
}

}  // namespace

std::optional<detail::Answer> Session::Screen() {
  const auto& request = Request();
  const std::string_view target = View(request.target());
  if (auto file =
          mFront.mUi.Answer(View(request.method_string()), target.substr(0, target.find('?')))) {
    detail::Answer page;
    page.status = static_cast<unsigned>(file->status);
    page.json = std::move(file->body);
    page.contentType = std::move(file->contentType);
    page.headers = std::move(file->headers);
    page.close = !mParser->is_done();  // a body sent with it is not read
    return page;
  }
  // A preflight carries no credentials: it is answered for the named
  // origin only, and says which methods and headers it may send.
  if (!Options().corsOrigin.empty() && request.method() == http::verb::options &&
      request.count(http::field::access_control_request_method) > 0) {
    if (request[http::field::origin] != Options().corsOrigin) {
      return Refusal(kForbidden, Message::kForeignOrigin);
    }
    detail::Answer preflight;
    preflight.status = 204;
    preflight.close = !mParser->is_done();
    preflight.headers = {
        {"Access-Control-Allow-Methods", "GET, HEAD, POST, PUT, PATCH, DELETE, OPTIONS"},
        {"Access-Control-Allow-Headers", "Authorization, Content-Type"},
        {"Access-Control-Max-Age", "600"}};
    return preflight;
  }
  bool authorized = false;
  for (auto [it, end] = request.equal_range(http::field::authorization); it != end && !authorized;
       ++it) {
    authorized = AuthorizationMatches(View(it->value()), Options().token);
  }
  if (!authorized) {
    detail::Answer refused = Refusal(kUnauthorized, Message::kUnauthorized);
    refused.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"nalo-host\"");
    return refused;
  }
  return std::nullopt;
}

std::string GenerateToken() {
  std::random_device source;  // the system's random source (getrandom)
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 8; ++i) {
    std::uint32_t word = source();
    for (int j = 0; j < 8; ++j) {
      token.push_back(kDigits[word & 0xF]);
      word >>= 4;
    }
  }
  return token;
}

bool AuthorizationMatches(std::string_view header, std::string_view token) noexcept {
  try {
    while (!header.empty() && header.front() == ' ') {
      header.remove_prefix(1);
    }
    const std::size_t space = header.find(' ');
    if (space == std::string_view::npos || token.empty()) {
      return false;
    }
    const std::string scheme = Lower(header.substr(0, space));
    std::string_view credentials = header.substr(space + 1);
    while (!credentials.empty() && (credentials.back() == ' ' || credentials.front() == ' ')) {
      credentials = credentials.front() == ' ' ? credentials.substr(1)
                                               : credentials.substr(0, credentials.size() - 1);
    }
    if (scheme == "bearer") {
      return ConstantTimeEquals(credentials, token);
    }
    if (scheme == "basic") {
      const std::optional<std::string> decoded = DecodeBase64(credentials);
      if (!decoded) {
        return false;
      }
      const std::size_t colon = decoded->find(':');
      return colon != std::string::npos &&
             ConstantTimeEquals(std::string_view(*decoded).substr(colon + 1), token);
    }
    return false;
  } catch (...) {
    return false;  // out of memory decoding a header: not authorised
  }
}

MaybeType<Failure, std::filesystem::path> WriteAccessFile(const std::filesystem::path& folder,
                                                          std::string_view url,
                                                          std::string_view token) {
  const std::filesystem::path path = folder / kAccessFileName;
  const auto failed = [&path](std::string_view error) {
    return Failure(500, Message::kAccessFile, {{"path", path.string()}, {"error", error}});
  };
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  BindingProperty record;
  record.member("url").SetString(url);
  record.member("token").SetString(token);
  record.member("authorization").SetString("Bearer " + std::string(token));
  record.member("example").SetString("curl -H 'Authorization: Bearer " + std::string(token) + "' " +
                                     std::string(url) + "/tav-gameflow/v1/session");
  const std::string text = ToJson(record, nullptr, "\n") + "\n";
  // Written beside the file and renamed over it, created 0600 from the
  // start, so that no other user can ever read the token in it.
  const std::filesystem::path temporary = path.string() + ".tmp";
  const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (descriptor < 0) {
    return failed(std::strerror(errno));
  }
  bool written = ::fchmod(descriptor, 0600) == 0;
  std::size_t offset = 0;
  while (written && offset < text.size()) {
    const ssize_t count = ::write(descriptor, text.data() + offset, text.size() - offset);
    written = count > 0;
    offset += count > 0 ? static_cast<std::size_t>(count) : 0;
  }
  written = ::close(descriptor) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    ::unlink(temporary.c_str());
    return failed(reason);
  }
  return path;
}

}  // namespace Nalo::Host::Http
