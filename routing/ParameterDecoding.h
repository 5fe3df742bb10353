#pragma once
// Decoding request bodies and parameter texts by content type.
//
// A content type is compared with each listed type as a prefix, ignoring
// letter case, over the listed type's own length only: whatever follows it
// doesn't matter, so "application/json; charset=utf-8",
// "application/json charset=utf-8", "APPLICATION/JSON" and
// "application/json-patch+json" are all JSON, while "text/json" is not.
// Peers rely on this; keep it loose.
//
// Bodies (DecodeBody):
//   application/x-msgpack (and so application/x-msgpack-ext)
//                                                      MessagePack over exactly
//       the body's bytes; bytes left after the value: "Extra MessgePack data
//       found in body"
//   application/json, application/vnd.api+json       JSON, up to the first NUL
//   application/x-yaml                                 YAML
//   anything else                                      "Unsupported body content type"
//   A parser's error is returned with its own message.
//
// Parameters (DecodeParameter), with the parameter's and function's names
// for messages:
//   application/x-msgpack(-ext), or a structured value with no content type
//       whose first byte is 0x80-0x9F or 0xDC-0xDF       MessagePack
//   application/json, or structured with no content type starting (after
//       spaces) with "{" or "["                           JSON
//   text/x-yaml, or structured with no content type starting (after spaces)
//       with "---"                                        YAML
//   application/octet-stream                           the bytes as a blob
//   anything else                                      the text as a string
//   Errors read "Couldn't deserialize <format> value for parameter '<name>'
//   of '<function>': <parser's message>".

#include <cstdint>
#include <span>
#include <string_view>

#include "binding/BindingResult.h"

namespace Nalo {

// Whether a parameter's argument takes a structured value (object, struct,
// map, vector) or a plain one.
enum class ParameterShape : std::uint8_t { Plain, Structured };

// Whether `contentType` starts with `listed`, ignoring letter case (ASCII).
// An empty `listed` matches every content type.
[[nodiscard]] bool MatchesContentType(std::string_view contentType,
                                      std::string_view listed) noexcept;

[[nodiscard]] BindingResult DecodeBody(std::string_view contentType,
                                       std::span<const std::uint8_t> body);

[[nodiscard]] BindingResult DecodeParameter(std::string_view text, std::string_view contentType,
                                            ParameterShape shape, std::string_view parameterName,
                                            std::string_view functionName);

}  // namespace Nalo
