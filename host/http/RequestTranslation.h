#pragma once
// RequestTranslation: how an HTTP request becomes the request the stand-in
// core routes (method, path with its query, headers, content type and
// body), and how the core's response becomes the JSON an HTTP client reads.
// Pure functions, shared by the HTTP front and its fuzz target.
//
//   auto translated = Nalo::Host::Http::TranslateRequest(incoming, limits);
//   if (translated.HasFailure()) { ... status and message of the refusal ... }
//   host.Request(t.method, t.path, t.body, t.contentType, t.headers);

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/BindingResult.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "host/core/Host.h"

namespace Nalo::Host::Http {

// A request as the HTTP server read it: the request target exactly as sent
// (path and query, still percent-encoded), headers as sent.
struct IncomingRequest {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

struct TranslationLimits {
  // Longest request target (path and query) served; longer ones answer 414.
  std::size_t maxTargetLength = 4096;
  // Most headers passed on; more answer 431.
  std::size_t maxHeaderCount = 100;
};

// What the core is asked.
struct TranslatedRequest {
  std::string method;       // "GET", ...
  std::string path;         // percent-encoded, with its query: the router decodes
  std::string contentType;  // of the body; "application/json" when the client sent none
  std::string body;
  // Names in lower case; the credentials (Authorization, Cookie) are never
  // passed on, so a plugin can neither read nor log them.
  std::vector<Host::Header> headers;
};

// The checks of the method and the target that every route gets (the
// event stream and the control routes too): 405, 414 and 400 as below.
[[nodiscard]] MaybeType<Failure, void> CheckRequestLine(std::string_view method,
                                                        std::string_view target,
                                                        const TranslationLimits& limits);

// True for the content types a body may carry: JSON, MessagePack, YAML
// (letter case aside, parameters allowed).
[[nodiscard]] bool IsServedBodyType(std::string_view contentType);

// A body read as its content type says (JSON when it names none): fails
// for a type that isn't served and for a body that doesn't read.
[[nodiscard]] BindingResult ReadBody(std::string_view contentType, std::string_view body);

// Refusals: 405 for a method the core doesn't know, 414 for a target over
// the limit, 431 for too many headers, 400 for a target that isn't an
// absolute path (starts with "/"), holds a fragment, a control byte, a
// space or a "%" not followed by two hexadecimal digits, and for a body
// whose content type is neither JSON, MessagePack nor YAML.
[[nodiscard]] MaybeType<Failure, TranslatedRequest> TranslateRequest(
    const IncomingRequest& request, const TranslationLimits& limits);

// The JSON body answered for a core response: the response body as JSON
// (empty for no content), or for an error {"httpStatus": N, "message": text}.
[[nodiscard]] std::string ResponseJson(const Response& response);

// The JSON of a refusal made before the core saw the request.
[[nodiscard]] std::string ErrorJson(std::uint32_t status, std::string_view message);

// `text` in ASCII lower case, as header names and content types compare.
[[nodiscard]] std::string Lower(std::string_view text);

}  // namespace Nalo::Host::Http
