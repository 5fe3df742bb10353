#include "routing/ParameterDecoding.h"

#include <algorithm>
#include <cstddef>

#include "binding/Json.h"
#include "binding/MessagePack.h"
#include "binding/PositionalFormat.h"
#include "binding/Yaml.h"
#include "routing/src/RoutingMessages.h"

namespace Nalo {

namespace {

// Compared as prefixes (MatchesContentType), so kMessagePack also takes
// "application/x-msgpack-ext".
namespace MediaTypes {
constexpr std::string_view kMessagePack = "application/x-msgpack";
constexpr std::string_view kJson = "application/json";
constexpr std::string_view kJsonApi = "application/vnd.api+json";
constexpr std::string_view kYamlBody = "application/x-yaml";
constexpr std::string_view kYamlParameter = "text/x-yaml";
constexpr std::string_view kOctetStream = "application/octet-stream";
}  // namespace MediaTypes

constexpr std::string_view kYamlDocumentStart = "---";

enum class Format : std::uint8_t { MessagePack, Json, Yaml, Blob, Text };

std::string_view WithoutLeadingSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// The format of a parameter without a content type, from its first bytes.
Format SniffStructured(std::string_view text) {
  if (!text.empty()) {
    const auto first = static_cast<unsigned char>(text.front());
    if ((first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF)) {
      return Format::MessagePack;
    }
  }
  const std::string_view trimmed = WithoutLeadingSpaces(text);
  if (trimmed.starts_with('{') || trimmed.starts_with('[')) {
    return Format::Json;
  }
  if (trimmed.starts_with(kYamlDocumentStart)) {
    return Format::Yaml;
  }
  return Format::Text;
}

Format ParameterFormat(std::string_view text, std::string_view contentType, ParameterShape shape) {
  if (contentType.empty()) {
    return shape == ParameterShape::Structured ? SniffStructured(text) : Format::Text;
  }
  if (MatchesContentType(contentType, MediaTypes::kMessagePack)) {
    return Format::MessagePack;
  }
  if (MatchesContentType(contentType, MediaTypes::kJson)) {
    return Format::Json;
  }
  if (MatchesContentType(contentType, MediaTypes::kYamlParameter)) {
    return Format::Yaml;
  }
  if (MatchesContentType(contentType, MediaTypes::kOctetStream)) {
    return Format::Blob;
  }
  return Format::Text;
}

std::span<const std::uint8_t> BytesOf(std::string_view text) noexcept {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

bool MatchesContentType(std::string_view contentType, std::string_view listed) noexcept {
  if (contentType.size() < listed.size()) {
    return false;
  }
  // Most peers write the listed spelling.
  if (contentType.starts_with(listed)) {
    return true;
  }
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::equal(listed.begin(), listed.end(), contentType.begin(),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

BindingResult DecodeBody(std::string_view contentType, std::span<const std::uint8_t> body) {
  if (MatchesContentType(contentType, MediaTypes::kMessagePack)) {
    MessagePackParse parsed = ParseMessagePack(body);
    if (parsed.result.Succeeded() && parsed.end != body.size()) {
      return BindingResult::Error(RoutingMessage::kExtraMessagePackBody);
    }
    return std::move(parsed.result);
  }
  const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
  if (MatchesContentType(contentType, MediaTypes::kJson) ||
      MatchesContentType(contentType, MediaTypes::kJsonApi)) {
    return ParseJson(text.data(), text.size());
  }
  if (MatchesContentType(contentType, MediaTypes::kYamlBody)) {
    return ParseYaml(text);
  }
  return BindingResult::Error(RoutingMessage::kUnsupportedBody);
}

BindingResult DecodeParameter(std::string_view text, std::string_view contentType,
                              ParameterShape shape, std::string_view parameterName,
                              std::string_view functionName) {
  BindingResult result;
  switch (ParameterFormat(text, contentType, shape)) {
    case Format::MessagePack: {
      MessagePackParse parsed = ParseMessagePack(BytesOf(text));
      if (parsed.result.Failed()) {
        result.Fail(FormatPositional(RoutingMessage::kMessagePackParameter,
                                     {parameterName, functionName, parsed.result.ErrorMessage()}));
      } else if (parsed.end != text.size()) {
        result.Fail(FormatPositional(
            RoutingMessage::kMessagePackParameter,
            {parameterName, functionName,
             FormatPositional(RoutingMessage::kExtraMessagePackParameter, {parsed.end})}));
      } else {
        result = std::move(parsed.result);
      }
      return result;
    }
    case Format::Json: {
      BindingResult parsed = ParseJson(text.data(), text.size());
      if (parsed.Failed()) {
        result.Fail(FormatPositional(RoutingMessage::kJsonParameter,
                                     {parameterName, functionName, parsed.ErrorMessage()}));
        return result;
      }
      return parsed;
    }
    case Format::Yaml: {
      BindingResult parsed = ParseYaml(text);
      if (parsed.Failed()) {
        result.Fail(FormatPositional(RoutingMessage::kYamlParameter,
                                     {parameterName, functionName, parsed.ErrorMessage()}));
        return result;
      }
      return parsed;
    }
    case Format::Blob:
      result.Value().SetBlob(BytesOf(text));
      return result;
    case Format::Text:
      result.Value().SetString(text);
      return result;
  }
  return result;
}

}  // namespace Nalo
