#pragma once
// Every message the router sends back, filled by FormatPositional. Private
// to the routing module.

#include <string_view>

namespace Nalo::RoutingMessage {

inline constexpr std::string_view kInvalidFunction = "Invalid function";
inline constexpr std::string_view kUnknownArgument = "Unknown argument '%1' for '%2'.";
inline constexpr std::string_view kInvalidLocation =
    "Argument '%1' for '%2' was specified in an invalid location.";
inline constexpr std::string_view kIndexFormat = "Index %1 is in an incorrect format";
inline constexpr std::string_view kIndexRange = "Index %1 is out of range";
inline constexpr std::string_view kMemberPathTooDeep =
    "The member path of argument '%1' for '%2' is deeper than %3 levels.";
inline constexpr std::string_view kExpectedValue = "Expected value for argument '%1'.";
inline constexpr std::string_view kExtraMessagePackBody = "Extra MessgePack data found in body";
inline constexpr std::string_view kUnsupportedBody = "Unsupported body content type";
inline constexpr std::string_view kMessagePackParameter =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
inline constexpr std::string_view kJsonParameter =
    "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
inline constexpr std::string_view kYamlParameter =
    "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
// The parser's part of kMessagePackParameter when bytes follow the value.
inline constexpr std::string_view kExtraMessagePackParameter =
    "Extra MessagePack data found after the value at position %1.";
inline constexpr std::string_view kUnhandledException =
    "Unhandled exception while serving the request: %1";
inline constexpr std::string_view kUnknownException = "unknown exception";
inline constexpr std::string_view kDescriptionFailed = "Couldn't describe the API: %1";

// Registration mistakes; these end the process.
inline constexpr std::string_view kBadTemplate = "The path template '%1' is malformed: %2.";
inline constexpr std::string_view kUnclosedParameter = "a parameter is not closed";
inline constexpr std::string_view kNestedParameter = "a parameter contains '{'";
inline constexpr std::string_view kUnopenedParameter = "'}' closes no parameter";
inline constexpr std::string_view kUnnamedParameter = "a parameter has no name";
inline constexpr std::string_view kUnboundParameter =
    "Route %1 %2: no path argument takes the template parameter '%3'.";
inline constexpr std::string_view kDuplicateArgument = "Route %1 %2 declares argument '%3' twice.";
inline constexpr std::string_view kRouteTableExpression = "route table";

}  // namespace Nalo::RoutingMessage
