#pragma once
// The HTTP front's constants and message templates, shared by its rooms
// (private to host/http/src).

#include <chrono>
#include <cstddef>
#include <string_view>

namespace Nalo::Host::Http::detail {

constexpr unsigned kBadRequest = 400;
constexpr unsigned kUnauthorized = 401;
constexpr unsigned kForbidden = 403;
constexpr unsigned kNotFound = 404;
constexpr unsigned kConflict = 409;
constexpr unsigned kTooLarge = 413;
constexpr unsigned kTargetTooLong = 414;
constexpr unsigned kHeadersTooLarge = 431;
constexpr unsigned kUnavailable = 503;
constexpr std::string_view kJson = "application/json";
constexpr std::string_view kEventsPath = "/events";
constexpr std::string_view kControlPrefix = "/host/v1/";
constexpr std::string_view kAccessFileName = "http-front.json";
// A connection closed after a refusal first reads (and drops) what the
// client still sends, for this long and up to this much, so that its
// unread request doesn't turn the close into a reset that loses the answer.
constexpr std::chrono::seconds kLingerTime{1};
constexpr std::size_t kLingerBytes = std::size_t{2} * 1024 * 1024;

namespace Message {
constexpr std::string_view kUnauthorized =
    "This host needs its token: send \"Authorization: Bearer <token>\" or the token as the "
    "password of HTTP Basic.";
constexpr std::string_view kForeignOrigin = "This origin may not call the host.";
constexpr std::string_view kBusy = "The host holds {count} connections at once; try again.";
constexpr std::string_view kStopping = "The host is stopping.";
constexpr std::string_view kBind = "Can't listen on {address}:{port}: {error}";
constexpr std::string_view kAccessFile = "Can't write {path}: {error}";
constexpr std::string_view kNoControl = "There is no host control route {method} {path}.";
constexpr std::string_view kBadControlBody = "The body of {path} can't be read: {error}";
constexpr std::string_view kMissing = "The body of {path} needs the member {member}.";
constexpr std::string_view kRealClock =
    "Time moves by itself on this host's real clock; start it with --virtual-clock to advance "
    "it.";
constexpr std::string_view kBodyTooLarge = "The request body is larger than {limit} bytes.";
constexpr std::string_view kHeadersTooLarge =
    "The request's headers are larger than {limit} bytes.";
constexpr std::string_view kHeaderCount =
    "The request has {count} headers; at most {limit} are read.";
constexpr std::string_view kTargetTooLong = "The request target is longer than {limit} bytes.";
constexpr std::string_view kUnreadable = "The request can't be read as HTTP/1.1.";
constexpr std::string_view kTransferCoding =
    "The transfer coding {coding} is not read: send the body chunked or with a Content-Length.";
constexpr std::string_view kFaultStatus = "A fault's status lies between 100 and 599.";
constexpr std::string_view kFaultCount = "A fault's count is at least 1.";
constexpr std::string_view kDropped =
    "This stream fell more than {limit} events behind and was dropped; connect again.";
}  // namespace Message

}  // namespace Nalo::Host::Http::detail
