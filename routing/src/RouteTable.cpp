#include "routing/RouteTable.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "binding/PositionalFormat.h"
#include "diagnostics/Fatal.h"
#include "routing/BoundFunctionName.h"
#include "routing/QueryString.h"
#include "routing/src/ArgumentBinding.h"
#include "routing/src/ResponseWriter.h"
#include "routing/src/RoutingMessages.h"

namespace Nalo {

namespace {

constexpr std::uint32_t kNoMatchStatus = 404;
constexpr std::uint32_t kUnhandledStatus = 500;
// Requests with at most this many arguments or headers don't allocate for
// them.
constexpr std::size_t kInlineArgumentCount = 6;
constexpr std::size_t kInlineHeaderCount = 16;

[[noreturn]] void FatalRoute(std::string_view description) noexcept {
  FatalWithDescription(RoutingMessage::kRouteTableExpression, description);
}

bool AcceptsMethod(const Endpoint& endpoint, const RouteRequest& request) noexcept {
  if (endpoint.method == RequestMethod::None) {
    return true;
  }
  if (endpoint.method != request.method) {
    return false;
  }
  return endpoint.method != RequestMethod::Call || endpoint.callName == request.functionName;
}

std::string_view TextOf(const char* text) noexcept {
  return text != nullptr ? text : "";
}

// Answers 500 naming what escaped the handler.
void WriteUnhandled(NaloResponse& response, std::string_view what) noexcept {
  try {
    WriteErrorResponse(response, kUnhandledStatus,
                       FormatPositional(RoutingMessage::kUnhandledException, {what}));
  } catch (...) {
    WriteErrorResponse(response, kUnhandledStatus, RoutingMessage::kUnknownException);
  }
}

// The empty argument values of one request, on the stack unless there are
// more than kInlineArgumentCount; only as many as the function takes are
// constructed.
class ArgumentValues {
 public:
  // mInline is left raw on purpose.
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init)
  explicit ArgumentValues(std::size_t count) : mCount(count) {
    if (count <= kInlineArgumentCount) {
      auto* first = reinterpret_cast<BindingProperty*>(mInline);
      std::uninitialized_value_construct_n(first, count);
      mValues = std::launder(first);
    } else {
      mHeap.resize(count);
      mValues = mHeap.data();
    }
  }
  ArgumentValues(const ArgumentValues&) = delete;
  ArgumentValues& operator=(const ArgumentValues&) = delete;
  ArgumentValues(ArgumentValues&&) = delete;
  ArgumentValues& operator=(ArgumentValues&&) = delete;
  ~ArgumentValues() {
    if (mHeap.empty()) {
      std::destroy_n(mValues, mCount);
    }
  }

  [[nodiscard]] std::span<BindingProperty> Values() noexcept { return {mValues, mCount}; }

 private:
  std::size_t mCount;
  BindingProperty* mValues = nullptr;
  std::vector<BindingProperty> mHeap;
  // Raw storage: the constructor builds the values it needs in it.
  alignas(BindingProperty) std::byte mInline[kInlineArgumentCount * sizeof(BindingProperty)];
};

}  // namespace

RouteTable::RouteTable(const BindingTypeRegistry& registry, std::string_view nameSpace)
    : mRegistry(&registry), mNameSpace(nameSpace) {}

RouteTable::~RouteTable() = default;

void RouteTable::AddEndpoint(RequestMethod method, std::string_view path, std::string_view callName,
                             BoundFunction function) {
  if (path.size() > 1 && path.ends_with('/')) {
    path.remove_suffix(1);
  }
  auto compiled = PathTemplate::Compile(path);
  if (compiled.HasFailure()) {
    FatalRoute(compiled.GetFailure().Message());
  }
  function.name = BoundFunctionName(method, path);
  const std::string_view methodName = RequestMethodName(method);

  std::set<std::string_view> names;
  for (const BoundArgument& argument : function.arguments) {
    if (!names.insert(argument.name).second) {
      FatalRoute(
          FormatPositional(RoutingMessage::kDuplicateArgument, {methodName, path, argument.name}));
    }
  }
  for (const std::string& parameter : compiled.Value().Parameters()) {
    // Like a query key, "{item.name}" fills the member "name" of "item".
    const std::ptrdiff_t index =
        function.FindArgument(std::string_view(parameter).substr(0, parameter.find('.')));
    const bool takesPath =
        index >= 0 &&
        (function.arguments[static_cast<std::size_t>(index)].location == ArgumentLocation::Path ||
         function.arguments[static_cast<std::size_t>(index)].location ==
             ArgumentLocation::Anywhere);
    if (!takesPath) {
      FatalRoute(
          FormatPositional(RoutingMessage::kUnboundParameter, {methodName, path, parameter}));
    }
  }

  Endpoint endpoint;
  endpoint.method = method;
  endpoint.path = std::move(compiled).Value();
  endpoint.callName = callName;
  endpoint.function = std::move(function);
  if (endpoint.path.IsLiteral()) {
    mLiteralEndpoints[std::string(endpoint.path.Text())].push_back(mEndpoints.size());
  } else {
    mPatternEndpoints.push_back(mEndpoints.size());
  }
  mEndpoints.push_back(std::move(endpoint));
}

MaybeType<Failure, CallResult> RouteTable::Dispatch(const RouteRequest& request) const {
  const std::string_view path = PathWithoutQuery(request.path);
  // The first literal endpoint of this path that accepts the request, if
  // any. It captures nothing, so it wins unless an endpoint registered
  // before it captures nothing too, and nothing registered after it can
  // beat it.
  std::size_t literal = mEndpoints.size();
  if (const auto found = mLiteralEndpoints.find(path); found != mLiteralEndpoints.end()) {
    for (const std::size_t position : found->second) {
      if (AcceptsMethod(mEndpoints[position], request)) {
        literal = position;
        break;
      }
    }
  }
  const Endpoint* best = nullptr;
  std::size_t bestLength = std::numeric_limits<std::size_t>::max();
  std::vector<std::string_view> captures;
  std::vector<std::string_view> bestCaptures;
  for (const std::size_t position : mPatternEndpoints) {
    if (position > literal) {
      break;
    }
    const Endpoint& endpoint = mEndpoints[position];
    if (!AcceptsMethod(endpoint, request) || !endpoint.path.Match(path, captures)) {
      continue;
    }
    std::size_t length = 0;
    for (const std::string_view capture : captures) {
      length += capture.size();
    }
    if (length < bestLength) {
      best = &endpoint;
      bestLength = length;
      bestCaptures.swap(captures);
    }
    if (length == 0) {
      break;
    }
  }
  if (literal < mEndpoints.size() && bestLength > 0) {
    best = &mEndpoints[literal];
    bestCaptures.clear();
  }
  if (best == nullptr) {
    return Failure(kNoMatchStatus, RoutingMessage::kInvalidFunction);
  }

  ArgumentValues values(best->function.arguments.size());
  auto bound = BindArguments(*best, bestCaptures, request, values.Values());
  if (bound.HasFailure()) {
    return std::move(bound).GetFailure();
  }
  return best->function.invoker->Invoke(values.Values(), best->function.arguments, *mRegistry);
}

void RouteTable::dispatch(NaloResponse& response, const NaloRequest& request) const noexcept {
  response = NaloResponse{};
  try {
    // The record is packed: read each field once, into aligned locals.
    const NaloHeader* headerRecords = request.headers;
    const std::size_t headerCount = headerRecords != nullptr ? request.headerCount : 0;
    std::array<RequestHeader, kInlineHeaderCount> inlineHeaders;
    std::vector<RequestHeader> heapHeaders;
    std::span<RequestHeader> headers(inlineHeaders.data(),
                                     std::min(headerCount, kInlineHeaderCount));
    if (headerCount > inlineHeaders.size()) {
      heapHeaders.resize(headerCount);
      headers = heapHeaders;
    }
    for (std::size_t i = 0; i < headerCount; ++i) {
      const NaloHeader header = headerRecords[i];
      headers[i] = {TextOf(header.name), TextOf(header.value)};
    }
    const NaloRequestArgument* arguments = request.arguments;
    const std::uint8_t* body = request.body;

    RouteRequest view;
    view.method = RequestMethodFromCode(request.method);
    view.path = TextOf(request.path);
    view.functionName = TextOf(request.functionName);
    view.headers = headers;
    if (arguments != nullptr) {
      view.hostArguments = {arguments, request.argumentCount};
    }
    view.contentType = TextOf(request.contentType);
    if (body != nullptr) {
      view.body = {body, request.bodyLength};
    }
    view.callContext = request.callContext;
    WriteResponse(response, Dispatch(view), *mRegistry);
  } catch (const std::exception& exception) {
    WriteUnhandled(response, exception.what());
  } catch (...) {
    WriteUnhandled(response, RoutingMessage::kUnknownException);
  }
}

void NALO_ABI_CALL RouteTable::DispatchEntry(void* handlerData, NaloResponse* response,
                                             const NaloRequest* request) noexcept {
  if (response == nullptr) {
    return;
  }
  if (handlerData == nullptr || request == nullptr) {
    *response = NaloResponse{};
    WriteErrorResponse(*response, kNoMatchStatus, RoutingMessage::kInvalidFunction);
    return;
  }
  static_cast<const RouteTable*>(handlerData)->dispatch(*response, *request);
}

}  // namespace Nalo
