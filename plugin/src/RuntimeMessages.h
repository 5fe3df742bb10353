#pragma once
// Every message text of the plugin runtime: failure templates ("{name}"),
// positional texts ("%1") and log formats ("%s").

#include <string_view>

namespace Nalo::detail {

// Handshake.
inline constexpr std::string_view kIncompatibleCoreFatal = "ALE-EECF0606";
inline constexpr std::string_view kIncompatibleCoreMessage =
    "%1 which supports plugin API %2 is not compatible with core's plugin API %3";
inline constexpr const char* kUnknownTypeLogFormat = "            Plugin Manager| %s";
inline constexpr std::string_view kUnknownTypeMessage =
    "GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type";
inline constexpr const char* kPluginCreationFailedFormat =
    "%s: The plugin object could not be created: %s";
inline constexpr const char* kCallbackExceptionFormat = "%s: %s ended with an exception: %s";
inline constexpr std::string_view kUserAgentFormat = "NaloClient/%1 (%2)";

// Events.
inline constexpr const char* kMissingAsyncHandlerFormat =
    "%s: Could not find registered handler for async service proxy event %s";
inline constexpr const char* kFulfilledServiceProxyFormat =
    "%s: Fulfilled service proxy request: %s";
inline constexpr std::string_view kPublishFailed = "Resource {uri} not published: {error}";
inline constexpr std::string_view kLcdsTaskLabel = "Event: OnLcdsEvent (%1)";

// Tasks and timers.
inline constexpr const char* kMissingTimerFormat = "%s: Couldn't find timer named %s";
inline constexpr std::string_view kTimerTaskLabel = "Timer: %1";
inline constexpr std::string_view kTimerIntervalRefused =
    "The timer {name} needs an interval above 0 seconds, not {interval}.";
inline constexpr std::string_view kYieldLabel = "Wait: yield";
inline constexpr std::string_view kFutureWaitLabel = "Wait: future<%1>";
inline constexpr std::string_view kFutureErrorFatal = "ALE-6D828C10";
inline constexpr std::string_view kFutureErrorMessage =
    "Caught std::future_error in AppModule::Await: (%1) %2";

// Requests.
inline constexpr std::string_view kRequestNotConverted =
    "Request not sent: Error converting parameters for {method} {url}: {error}";
inline constexpr std::string_view kErrorResponse = "Error response for {method} {url}: {error}";
inline constexpr std::string_view kStreamReadError = "Stream read error";
inline constexpr std::string_view kStreamedResponseError =
    "Error reading streamed response for {method} {url}: {error}";
inline constexpr std::string_view kResponseNotConverted =
    "Error converting response for {method} {url}: {error}";

// LCDS.
inline constexpr std::string_view kLcdsParametersNotConverted =
    "Couldn't convert LCDS call parameters: {error}";
inline constexpr std::string_view kLcdsUnexpectedClass =
    "Expected '{expected}' as LCDS response for {destination}.{method}, but got '{actual}'";
inline constexpr std::string_view kLcdsDtoNotConverted =
    "Couldn't convert LCDS DTO {name} to C++ from {json}";

}  // namespace Nalo::detail
