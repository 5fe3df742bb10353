// Fuzz target for the HTTP front's translation of a request into the
// core's request (host/http/RequestTranslation.h) and of answers into JSON.
//
// Input scheme, line by line ("\n"):
//   line 1      "METHOD TARGET" (split at the first space)
//   next lines  "name:value" headers, up to an empty line
//   the rest    the body
// Missing parts are empty.
//
// Whatever the input: a refusal has a status of 400, 405, 414 or 431 and a
// message; a translation keeps the target and the body as they came, passes
// no credentials, names headers in lower case, and has a content type. The
// JSON of an error answer with any text as its message reads back with that
// status.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "binding/Json.h"
#include "host/http/RequestTranslation.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "http_translation_fuzzer: %s\n", what);
    std::abort();
  }
}

std::string_view NextLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Nalo::Host::Http::IncomingRequest request;
  const std::string_view first = NextLine(input);
  const std::size_t space = first.find(' ');
  request.method = std::string(first.substr(0, space));
  if (space != std::string_view::npos) {
    request.target = std::string(first.substr(space + 1));
  }
  while (!input.empty()) {
    const std::string_view line = NextLine(input);
    if (line.empty()) {
      break;
    }
    const std::size_t colon = line.find(':');
    request.headers.emplace_back(
        std::string(line.substr(0, colon)),
        colon == std::string_view::npos ? std::string() : std::string(line.substr(colon + 1)));
  }
  request.body = std::string(input);

  Nalo::Host::Http::TranslationLimits limits;
  limits.maxTargetLength = 256;
  limits.maxHeaderCount = 8;
  auto translated = Nalo::Host::Http::TranslateRequest(request, limits);
  if (translated.HasFailure()) {
    const std::uint32_t code = translated.GetFailure().Code();
    Check(code == 400 || code == 405 || code == 414 || code == 431, "unexpected refusal status");
    Check(!translated.GetFailure().Message().empty(), "a refusal without a message");
    const std::string json = Nalo::Host::Http::ErrorJson(code, translated.GetFailure().Message());
    Check(Nalo::ParseJson(json).Succeeded(), "the refusal's JSON doesn't read back");
  } else {
    const auto& value = translated.Value();
    Check(value.path == request.target, "the target changed");
    Check(value.body == request.body, "the body changed");
    Check(!value.contentType.empty(), "no content type");
    Check(!value.path.empty() && value.path.front() == '/', "a target that isn't a path");
    for (const auto& [name, headerValue] : value.headers) {
      for (char c : name) {
        Check(std::tolower(static_cast<unsigned char>(c)) == static_cast<unsigned char>(c),
              "a header name not in lower case");
      }
      Check(name != "authorization" && name != "cookie", "credentials passed on");
    }
  }
  // Any text as an error message, a plugin failure's JSON included.
  const std::string message(reinterpret_cast<const char*>(data), size);
  auto answer = Nalo::ParseJson(Nalo::Host::Http::ErrorJson(404, message));
  Check(answer.Succeeded(), "an error answer that isn't JSON");
  const Nalo::BindingProperty* status = answer.Value().Find("httpStatus");
  Check(status != nullptr && status->AsUnsigned() == 404, "an error answer without its status");
  return 0;
}
