#pragma once
// The names under which the core carries events, and the URI patterns of
// resource handlers.
//
//   ResourceEventName("/tav-gameflow/v1/session/x")  // "OnJsonApiEvent_tav-gameflow_v1_session"
//   LcdsEventName("com.example.GameDTO")             // "OnLcdsEvent_com_example_GameDTO"
//   MatchesUriPattern("/a/*/c", "/a/b/c")            // true

#include <string>
#include <string_view>

namespace Nalo {

inline constexpr std::string_view kJsonApiEventName = "OnJsonApiEvent";
inline constexpr std::string_view kLcdsEventName = "OnLcdsEvent";
inline constexpr std::string_view kServiceProxyUuidEventName = "OnServiceProxyUuidEvent";
inline constexpr std::string_view kServiceProxyMethodEventName = "OnServiceProxyMethodEvent";
inline constexpr std::string_view kServiceProxyAsyncEventName = "OnServiceProxyAsyncEvent";

// "OnJsonApiEvent" and the first 3 non-empty "/"-separated pieces of `uri`
// (5 when the first piece is "tav-platform-config"; fewer when there are
// fewer), joined with "_". Deeper URIs share their ancestor's name.
[[nodiscard]] std::string ResourceEventName(std::string_view uri);

// "OnLcdsEvent_" and `typeName` with every "." replaced by "_".
[[nodiscard]] std::string LcdsEventName(std::string_view typeName);

// Whether `uri` matches `pattern`. Ordinary characters must be equal; "*"
// consumes characters up to, not including, the next "/", or to the end of
// the URI after at least one character; both texts must be used up together.
// "/a/*/c" matches "/a/b/c" and "/a//c"; "/a/*" matches "/a/b" but neither
// "/a/" nor "/a/b/c".
[[nodiscard]] bool MatchesUriPattern(std::string_view pattern, std::string_view uri) noexcept;

// Whether `text` is a pattern (holds "*") rather than an exact URI.
[[nodiscard]] bool IsUriPattern(std::string_view text) noexcept;

}  // namespace Nalo
