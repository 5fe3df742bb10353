// Request routing: a request goes to the plugin one of whose routes matches
// its path (else whose short name is its first segment), or, when no
// plugin serves it, to the peers. Injected faults answer first either way.

#include <utility>

#include "abi/HostValue.h"
#include "binding/BodyReading.h"
#include "binding/Json.h"
#include "host/core/src/HostImpl.h"
#include "host/core/src/ResponseStreams.h"

namespace Nalo::Host {

namespace detail {

namespace {

namespace Message {
constexpr std::string_view kUnknownMethod = "Unknown method {method}.";
constexpr std::string_view kUnreadableBody = "The request body can't be read: {error}";
constexpr std::string_view kBadArgument = "A request argument can't be read: {error}";
}  // namespace Message

std::string_view WithoutQuery(std::string_view path) {
  return path.substr(0, path.find('?'));
}

// The first of `routes` that matches `bare` (a path without query); null
// when none does.
const CompiledRoute* MatchRoute(std::span<const CompiledRoute> routes, const std::string& bare) {
  for (const CompiledRoute& route : routes) {
    if (route.pattern ? std::regex_match(bare, *route.pattern)
                      : bare == route.record->pathTemplate) {
      return &route;
    }
  }
  return nullptr;
}

Response Refusal(std::uint32_t status, std::string_view message,
                 std::initializer_list<FailureArgument> arguments) {
  Response response;
  response.status = status;
  response.error = std::string(Failure(status, message, arguments).Message());
  return response;
}

}  // namespace

Response RefuseMethod(std::string_view method) {
  return Refusal(kBadRequest, Message::kUnknownMethod, {{"method", method}});
}

}  // namespace detail

namespace {

// The plugin that serves a path, and the route its dispatch goes through.
struct RouteTarget {
  Host::Impl::Plugin* plugin = nullptr;
  const detail::CompiledRoute* route = nullptr;
};

// The plugin a route of which matches `path`, in load order; else the one
// whose short name is the path's first segment (through its first route,
// whose dispatch answers for paths it doesn't know). None when neither.
RouteTarget FindTarget(std::span<const std::unique_ptr<Host::Impl::Plugin>> plugins,
                       std::string_view path) {
  const std::string bare(detail::WithoutQuery(path));
  for (const auto& plugin : plugins) {
    if (const detail::CompiledRoute* route = detail::MatchRoute(plugin->routes, bare)) {
      return {plugin.get(), route};
    }
  }
  for (const auto& plugin : plugins) {
    if (bare.starts_with("/" + plugin->shortName + "/") && !plugin->routes.empty()) {
      return {plugin.get(), &plugin->routes.front()};
    }
  }
  return {};
}

Response Dispatch(const detail::CompiledRoute& route, std::uint32_t method, std::string_view path,
                  std::span<const NaloRequestArgument> arguments, std::string_view contentType,
                  std::string_view body, std::uint32_t caller,
                  std::span<const NaloHeader> outsideHeaders, bool textOnly) {
  const std::string pathText(path);
  const std::string contentTypeText(contentType);
  NaloRequest request{};
  request.method = method;
  request.path = pathText.c_str();
  request.arguments = arguments.data();
  request.argumentCount = arguments.size();
  request.contentType = body.empty() ? nullptr : contentTypeText.c_str();
  request.body = reinterpret_cast<const std::uint8_t*>(body.data());
  request.bodyLength = body.size();
  request.pluginHandle = caller;
  if (caller == 0 && !outsideHeaders.empty()) {
    request.headers = outsideHeaders.data();
    request.headerCount = outsideHeaders.size();
  }
  NaloResponse raw{};
  route.record->dispatch(route.record->handlerData, &raw, &request);
  return detail::ReadPluginResponse(raw, path, textOnly);
}

}  // namespace

Response Host::Impl::Route(std::uint32_t method, std::string_view path,
                           std::span<const NaloRequestArgument> arguments,
                           std::string_view contentType, std::string_view body,
                           std::uint32_t caller) {
  using detail::kBadRequest;
  if (MethodName(method).empty()) {
    return detail::RefuseMethod(std::to_string(method));
  }
  if (const RouteTarget target = FindTarget(mPlugins, path); target.plugin != nullptr) {
    if (std::optional<Response> fault = mPeers.TakeFault(path)) {
      fault->reason = detail::ReasonPhrase(fault->status);
      return std::move(*fault);
    }
    const bool textOnly = caller == 0 && std::exchange(mTextOnly, false);
    return Dispatch(*target.route, method, path, arguments, contentType, body, caller,
                    mOutsideHeaders, textOnly);
  }
  // To the peers: whatever the answer, the request is recorded.
  std::vector<BindingProperty> values;
  Response response;
  for (const NaloRequestArgument& argument : arguments) {
    BindingResult value = FromHostValue(argument.value, "argument");
    if (value.Failed()) {
      response = detail::Refusal(kBadRequest, detail::Message::kBadArgument,
                                 {{"error", value.ErrorMessage()}});
      break;
    }
    values.push_back(std::move(value.Value()));
  }
  if (response.status == 0 && values.empty() && !body.empty()) {
    BindingResult parsed = ReadTypedBody(contentType, body);
    if (parsed.Failed()) {
      response = detail::Refusal(kBadRequest, detail::Message::kUnreadableBody,
                                 {{"error", parsed.ErrorMessage()}});
    } else {
      values.push_back(std::move(parsed.Value()));
    }
  }
  if (response.status == 0) {
    if (std::optional<Response> fault = mPeers.TakeFault(path)) {
      response = std::move(*fault);
    } else {
      response = mPeers.Handle(method, path, values);
    }
  }
  mPeers.Record(method, path, values.empty() ? BindingProperty() : values.front(), caller,
                response.status);
  if (mRequestEcho) {
    mRequestEcho(mPeers.Requests().back());
  }
  response.reason = detail::ReasonPhrase(response.status);
  if (!response.body.IsEmpty()) {
    response.bodyText = ToJson(response.body);
  }
  return response;
}

}  // namespace Nalo::Host
