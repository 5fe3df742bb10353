#include "routing/src/ResponseWriter.h"

#include <cstring>
#include <new>
#include <utility>

#include "abi/HostValue.h"
#include "routing/StatusReason.h"

namespace Nalo {

namespace {

constexpr std::uint32_t kInternalErrorStatus = 500;
constexpr std::uint32_t kLowestStatus = 100;
constexpr std::uint32_t kHighestStatus = 599;
// The error of a response whose own message couldn't be allocated; never
// freed.
constexpr char kOutOfMemoryError[] = "Out of memory while writing the response.";

char* CopyText(std::string_view text) {
  char* block = new char[text.size() + 1];
  if (!text.empty()) {
    std::memcpy(block, text.data(), text.size());
  }
  block[text.size()] = '\0';
  return block;
}

// A reason that points into the status table is constant data.
bool IsTableReason(const NaloResponse& response) noexcept {
  return response.reason == StatusReason(response.status).data();
}

void NALO_ABI_CALL ReleaseResponse(NaloResponse* response) noexcept {
  if (response == nullptr) {
    return;
  }
  ReleaseHostValue(response->body);
  if (response->error != kOutOfMemoryError) {
    delete[] response->error;
  }
  response->error = nullptr;
  if (!IsTableReason(*response)) {
    delete[] response->reason;
  }
  response->reason = nullptr;
  const NaloHeader* headers = response->headers;
  for (std::size_t i = 0; i < response->headerCount; ++i) {
    delete[] headers[i].name;
    delete[] headers[i].value;
  }
  delete[] headers;
  response->headers = nullptr;
  response->headerCount = 0;
}

ResponseStream* StreamOf(void* handle) noexcept {
  return static_cast<ResponseStream*>(handle);
}

std::uint8_t NALO_ABI_CALL ReadStream(void* handle, std::uint8_t* buffer, std::size_t* count,
                                      std::uint8_t* more) noexcept {
  if (handle == nullptr || count == nullptr || more == nullptr || (buffer == nullptr && *count)) {
    return 0;
  }
  try {
    std::size_t delivered = 0;
    bool hasMore = false;
    const bool read =
        StreamOf(handle)->Read(std::span<std::uint8_t>(buffer, *count), delivered, hasMore);
    *count = read ? delivered : 0;
    *more = read && hasMore ? 1 : 0;
    return read ? 1 : 0;
  } catch (...) {
    // The core only learns that the read failed; the stream stays open for
    // its close.
    *count = 0;
    *more = 0;
    return 0;
  }
}

void NALO_ABI_CALL CloseStream(void* handle) noexcept {
  delete StreamOf(handle);
}

std::uint32_t StatusOf(const Failure& failure) {
  const std::uint32_t code = failure.Code();
  return code >= kLowestStatus && code <= kHighestStatus ? code : kInternalErrorStatus;
}

// The error text of a failure: its message, or the JSON form when it has
// fields worth sending.
std::string ErrorText(const Failure& failure) {
  const Failure::Fields& fields = failure.GetFields();
  const bool plain =
      fields.empty() || (fields.size() == 1 && fields.contains(kErrorFieldsFieldName));
  return plain ? std::string(failure.Message()) : failure.Text();
}

void SetReason(NaloResponse& response, std::string_view reason) {
  if (reason.empty()) {
    response.reason = StatusReason(response.status).data();
  } else {
    response.reason = CopyText(reason);
  }
}

}  // namespace

void WriteResponse(NaloResponse& response, MaybeType<Failure, CallResult> outcome,
                   const BindingTypeRegistry& registry) {
  response.release = &ReleaseResponse;
  if (outcome.HasFailure()) {
    const Failure& failure = outcome.GetFailure();
    response.status = StatusOf(failure);
    response.reason = StatusReason(response.status).data();
    response.error = CopyText(ErrorText(failure));
    return;
  }
  CallResult& result = outcome.Value();
  response.status = result.status;
  response.flags = result.flags;
  response.format = result.format >= 1 && result.format <= 3 ? result.format : 0;
  SetReason(response, result.reason);
  response.body = result.value.IsEmpty() ? result.written.Release()
                                         : ToHostValue(result.value, registry).Release();
  if (!result.headers.empty()) {
    auto* headers = new NaloHeader[result.headers.size()]();
    response.headers = headers;
    response.headerCount = result.headers.size();
    for (std::size_t i = 0; i < result.headers.size(); ++i) {
      headers[i].name = CopyText(result.headers[i].name);
      headers[i].value = CopyText(result.headers[i].value);
    }
  }
  if (result.stream != nullptr) {
    response.expectedBodySize = result.stream->ExpectedSize();
    response.read = &ReadStream;
    response.close = &CloseStream;
    response.stream = result.stream.release();
  }
}

void WriteErrorResponse(NaloResponse& response, std::uint32_t status,
                        std::string_view message) noexcept {
  ReleaseResponse(&response);
  response.release = &ReleaseResponse;
  response.status = status;
  response.reason = StatusReason(status).data();
  try {
    response.error = CopyText(message);
  } catch (...) {
    response.error = kOutOfMemoryError;
  }
}

}  // namespace Nalo
