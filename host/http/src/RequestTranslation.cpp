#include "host/http/RequestTranslation.h"

#include <algorithm>
#include <cctype>

#include "FrontMessages.h"
#include "binding/BindingProperty.h"
#include "binding/BodyReading.h"
#include "binding/Json.h"

namespace Nalo::Host::Http {

namespace {

constexpr std::uint32_t kBadRequest = 400;
constexpr std::uint32_t kMethodNotAllowed = 405;
constexpr std::uint32_t kTargetTooLong = 414;
constexpr std::uint32_t kTooManyHeaders = 431;

namespace Message {
constexpr std::string_view kMethod = "The method {method} is not served.";
constexpr std::string_view kTargetLength =
    "The request target is {length} bytes long; at most {limit} are served.";
constexpr std::string_view kNotAbsolute = "The request target must be a path starting with \"/\".";
constexpr std::string_view kBadByte =
    "The request target holds a byte that must be percent-encoded at offset {offset}.";
constexpr std::string_view kBadEscape =
    "The request target holds an invalid percent-encoding at offset {offset}.";
constexpr std::string_view kContentType =
    "The body's content type {type} is not served: send JSON, MessagePack or YAML.";
}  // namespace Message

constexpr std::string_view kDefaultContentType = "application/json";
// The methods the core knows (MethodCode in Host.h), without linking the host.
constexpr std::string_view kMethods[] = {"DELETE", "GET",  "HEAD", "OPTIONS",
                                         "PATCH",  "POST", "PUT"};
// Content types a body may carry, compared without letter case over the
// listed text's length (a charset parameter may follow).
constexpr std::string_view kBodyTypes[] = {"application/json", "application/vnd.api+json",
                                           "application/x-msgpack", "application/x-yaml",
                                           "text/x-yaml"};

bool IsHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

MaybeType<Failure, void> CheckRequestLine(std::string_view method, std::string_view target,
                                          const TranslationLimits& limits) {
  if (std::find(std::begin(kMethods), std::end(kMethods), method) == std::end(kMethods)) {
    return Failure(kMethodNotAllowed, Message::kMethod, {{"method", method.substr(0, 32)}});
  }
  if (target.size() > limits.maxTargetLength) {
    return Failure(kTargetTooLong, Message::kTargetLength,
                   {{"length", std::to_string(target.size())},
                    {"limit", std::to_string(limits.maxTargetLength)}});
  }
  if (target.empty() || target.front() != '/') {
    return Failure(kBadRequest, Message::kNotAbsolute);
  }
  for (std::size_t i = 0; i < target.size(); ++i) {
    const auto byte = static_cast<unsigned char>(target[i]);
    if (byte <= 0x20 || byte == 0x7F || byte == '#') {
      return Failure(kBadRequest, Message::kBadByte, {{"offset", std::to_string(i)}});
    }
    if (byte == '%' && (i + 2 >= target.size() || !IsHex(target[i + 1]) || !IsHex(target[i + 2]))) {
      return Failure(kBadRequest, Message::kBadEscape, {{"offset", std::to_string(i)}});
    }
  }
  return {};
}

bool IsServedBodyType(std::string_view contentType) {
  const std::string type = Lower(contentType.substr(0, 64));
  return std::any_of(std::begin(kBodyTypes), std::end(kBodyTypes),
                     [&type](std::string_view known) { return type.starts_with(known); });
}

BindingResult ReadBody(std::string_view contentType, std::string_view body) {
  if (contentType.empty()) {
    contentType = kDefaultContentType;
  }
  if (!IsServedBodyType(contentType)) {
    return BindingResult::Error(
        Failure(kBadRequest, Message::kContentType, {{"type", contentType.substr(0, 100)}})
            .Message());
  }
  return ReadTypedBody(contentType, body);
}

MaybeType<Failure, TranslatedRequest> TranslateRequest(const IncomingRequest& request,
                                                       const TranslationLimits& limits) {
  if (auto checked = CheckRequestLine(request.method, request.target, limits);
      checked.HasFailure()) {
    return checked.GetFailure();
  }
  if (request.headers.size() > limits.maxHeaderCount) {
    return Failure(kTooManyHeaders, detail::Message::kHeaderCount,
                   {{"count", std::to_string(request.headers.size())},
                    {"limit", std::to_string(limits.maxHeaderCount)}});
  }
  TranslatedRequest translated;
  translated.method = request.method;
  translated.path = request.target;
  translated.body = request.body;
  translated.contentType = kDefaultContentType;
  translated.headers.reserve(request.headers.size());
  for (const auto& [name, value] : request.headers) {
    std::string lower = Lower(name);
    if (lower == "authorization" || lower == "cookie" || lower == "proxy-authorization") {
      continue;
    }
    if (lower == "content-type" && !value.empty()) {
      translated.contentType = value;
    }
    translated.headers.emplace_back(std::move(lower), value);
  }
  if (!translated.body.empty()) {
    if (!IsServedBodyType(translated.contentType)) {
      return Failure(kBadRequest, Message::kContentType,
                     {{"type", translated.contentType.substr(0, 100)}});
    }
  }
  return translated;
}

std::string ErrorJson(std::uint32_t status, std::string_view message) {
  BindingProperty error;
  // A plugin's failure arrives as the JSON of its fields ({"message": ...,
  // "name": ...}): they are answered as members, not as a quoted text.
  if (message.starts_with('{')) {
    BindingResult fields = ParseJson(message);
    if (fields.Succeeded() && fields.Value().Kind() == BindingKind::Structure &&
        fields.Value().Find("message") != nullptr) {
      error = std::move(fields.Value());
    }
  }
  if (error.IsEmpty()) {
    error.member("message").SetString(message);
  }
  error.member("httpStatus").SetUnsigned(status);
  return ToJson(error);
}

std::string ResponseJson(const Response& response) {
  if (!response.error.empty()) {
    return ErrorJson(response.status, response.error);
  }
  // A streamed body that wasn't JSON is kept as a string value: write it
  // as a JSON string, never as the raw text.
  if (response.body.Kind() == BindingKind::String &&
      response.body.StringValue() == response.bodyText) {
    return ToJson(response.body);
  }
  return response.bodyText.empty() ? ToJson(response.body) : response.bodyText;
}

}  // namespace Nalo::Host::Http
