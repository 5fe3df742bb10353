#pragma once
// Response bodies across the plugin boundary, both ways: the core answers a
// plugin's request with a body stream that hands the JSON text out in
// pieces (and, for a delayed answer in virtual time, none of it before it
// arrives); and the core reads a plugin's answer, streamed or a host value,
// into a Response.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "abi/HostAbi.h"
#include "host/core/TaskQueue.h"
#include "host/peers/Response.h"

namespace Nalo::Host::detail {

// The status's phrase; a status without one reads "OK" below 400, else "Error".
[[nodiscard]] std::string_view ReasonPhrase(std::uint32_t status);

// A copy of `text`, zero-terminated, in a block that ReleaseHostResponse
// frees (new[]).
[[nodiscard]] char* CopyText(std::string_view text);

// The release entry of every response the core hands a plugin: frees the
// body value, the error and the reason. Safe on a response released before.
void NALO_ABI_CALL ReleaseHostResponse(NaloResponse* response) noexcept;

// When a delayed answer's body arrives: not before `clock` reads `readyAt`.
// `stopAwaiting`, while set, is called once, by the arrival or by closing the
// stream, whichever comes first.
struct BodyArrival {
  const TaskQueue* clock = nullptr;  // null: the body is there at once
  std::uint64_t readyAt = 0;
  std::shared_ptr<std::function<void()>> stopAwaiting;
};

// Gives `response` a stream over `text` that hands out at most `piece`
// bytes per read, and its expected size. The stream is the plugin's to
// close.
void OpenTextStream(NaloResponse& response, std::string text, std::size_t piece,
                    BodyArrival arrival = {});

// A plugin's answer to a request for `path` as a Response: a streamed body
// is read to its end and parsed as JSON (kept as text when it isn't), a
// host value body is read as a value. A stream that fails or a body that
// can't be read answers 500. Releases `raw`. `textOnly`: a host value body
// is written straight to `bodyText` when it can be, and `body` left empty.
[[nodiscard]] Response ReadPluginResponse(NaloResponse& raw, std::string_view path,
                                          bool textOnly = false);

}  // namespace Nalo::Host::detail
