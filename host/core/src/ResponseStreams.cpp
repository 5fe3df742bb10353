#include "host/core/src/ResponseStreams.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "abi/HostValue.h"
#include "binding/Json.h"
#include "diagnostics/Failure.h"
#include "routing/StatusReason.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::uint32_t kInternalError = 500;
// The host reads a plugin's streamed response in blocks of this size.
constexpr std::size_t kDispatchReadBlock = 65536;
constexpr std::string_view kStreamFailed = "The response stream of {path} failed.";

// A body stream over a text, handed out in pieces of at most `piece` bytes.
struct TextStream {
  std::string text;
  std::size_t offset = 0;
  std::size_t piece = 0;
  BodyArrival arrival;
};

std::uint8_t NALO_ABI_CALL ReadTextStream(void* handle, std::uint8_t* buffer, std::size_t* count,
                                          std::uint8_t* more) noexcept {
  if (handle == nullptr || count == nullptr || more == nullptr) {
    return 0;
  }
  auto* stream = static_cast<TextStream*>(handle);
  if (stream->arrival.clock != nullptr && stream->arrival.clock->Now() < stream->arrival.readyAt) {
    *count = 0;  // not arrived yet: the reader yields and asks again
    *more = 1;
    return 1;
  }
  const std::size_t left = stream->text.size() - stream->offset;
  const std::size_t delivered = std::min({*count, stream->piece, left});
  if (delivered > 0) {
    if (buffer == nullptr) {
      return 0;
    }
    std::memcpy(buffer, stream->text.data() + stream->offset, delivered);
  }
  stream->offset += delivered;
  *count = delivered;
  *more = stream->offset < stream->text.size() ? 1 : 0;
  return 1;
}

void NALO_ABI_CALL CloseTextStream(void* handle) noexcept {
  auto* stream = static_cast<TextStream*>(handle);
  if (stream != nullptr && stream->arrival.stopAwaiting && *stream->arrival.stopAwaiting) {
    std::exchange(*stream->arrival.stopAwaiting, nullptr)();
  }
  delete stream;
}

// A plugin's value written as JSON without a tree on the way, when it can
// be (VisitHostValue); empty for no value.
std::optional<std::string> JsonWithoutTree(const NaloHostValue& body) {
  if (body.kind == NALO_HOST_VALUE_NULL) {
    return std::nullopt;
  }
  return WalkToJson([&body](BindingVisitor& visitor) { return VisitHostValue(body, visitor); });
}

}  // namespace

std::string_view ReasonPhrase(std::uint32_t status) {
  const std::string_view phrase = StatusReason(status);
  if (!phrase.empty()) {
    return phrase;
  }
  return status < 400 ? "OK" : "Error";
}

char* CopyText(std::string_view text) {
  char* block = new char[text.size() + 1];
  std::memcpy(block, text.data(), text.size());
  block[text.size()] = '\0';
  return block;
}

void NALO_ABI_CALL ReleaseHostResponse(NaloResponse* response) noexcept {
  if (response == nullptr) {
    return;
  }
  ReleaseHostValue(response->body);
  delete[] response->error;
  response->error = nullptr;
  delete[] response->reason;
  response->reason = nullptr;
}

void OpenTextStream(NaloResponse& response, std::string text, std::size_t piece,
                    BodyArrival arrival) {
  auto* stream =
      new TextStream{.text = std::move(text), .piece = piece, .arrival = std::move(arrival)};
  response.expectedBodySize = stream->text.size();
  response.stream = stream;
  response.read = &ReadTextStream;
  response.close = &CloseTextStream;
}

Response ReadPluginResponse(NaloResponse& raw, std::string_view path, bool textOnly) {
  Response response;
  response.status = raw.status;
  response.reason = raw.reason != nullptr ? raw.reason : std::string(ReasonPhrase(raw.status));
  if (raw.error != nullptr) {
    response.error = raw.error;
  }
  if (raw.stream != nullptr && raw.read != nullptr) {
    std::string text;
    std::string block(kDispatchReadBlock, '\0');
    bool failed = false;
    for (;;) {
      std::size_t count = block.size();
      std::uint8_t more = 0;
      if (raw.read(raw.stream, reinterpret_cast<std::uint8_t*>(block.data()), &count, &more) == 0) {
        failed = true;
        break;
      }
      text.append(block.data(), count);
      if (more == 0) {
        break;
      }
    }
    if (raw.close != nullptr) {
      raw.close(raw.stream);
    }
    if (failed) {
      response.status = kInternalError;
      response.error =
          std::string(Failure(kInternalError, kStreamFailed, {{"path", path}}).Message());
    }
    response.bodyText = std::move(text);
    BindingResult parsed = ParseJson(response.bodyText);
    if (parsed.Succeeded()) {
      response.body = std::move(parsed.Value());
    } else {
      response.body.SetString(std::string_view(response.bodyText));
    }
  } else if (std::optional<std::string> text =
                 textOnly ? JsonWithoutTree(raw.body) : std::nullopt) {
    response.bodyText = std::move(*text);
  } else {
    BindingResult value = FromHostValue(raw.body, "<response>");
    if (value.Succeeded()) {
      response.body = std::move(value.Value());
      if (!response.body.IsEmpty()) {
        response.bodyText = ToJson(response.body);
      }
    } else {
      response.error = std::string(value.ErrorMessage());
      response.status = kInternalError;
    }
  }
  if (raw.release != nullptr) {
    raw.release(&raw);
  }
  return response;
}

}  // namespace Nalo::Host::detail
