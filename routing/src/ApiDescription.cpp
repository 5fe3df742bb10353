#include "routing/ApiDescription.h"

#include <map>
#include <string_view>
#include <utility>

#include "binding/PositionalFormat.h"
#include "routing/RouteTable.h"
#include "routing/src/RoutingMessages.h"

namespace Nalo {

namespace {

constexpr std::uint32_t kDescriptionFailureCode = 500;
constexpr std::string_view kFunctionsMember = "functions";
constexpr std::string_view kTypesMember = "types";
constexpr std::string_view kEventsMember = "events";

BindingFunctionInfo FunctionInfo(const BoundFunction& function, std::string_view nameSpace,
                                 const BindingTypeRegistry& registry) {
  BindingFunctionInfo info;
  info.name = function.name;
  info.nameSpace = nameSpace;
  for (const BoundArgument& argument : function.arguments) {
    info.arguments.push_back(
        {argument.name, argument.description, argument.describe(registry), argument.optional});
  }
  if (function.describeResult != nullptr) {
    info.returns = function.describeResult(registry);
  }
  info.async = function.async;
  return info;
}

}  // namespace

MaybeType<Failure, std::unique_ptr<ApiDescription>> describeApi(
    const RouteTable& routes, std::span<const BindingEventInfo> events) {
  auto description = std::make_unique<ApiDescription>();
  ApiDescription& out = *description;
  const BindingTypeRegistry& registry = routes.Registry();
  auto keep = [&out](std::string_view text) { return out.mTexts.emplace_back(text).c_str(); };

  // Endpoints grouped by template, in order of first appearance.
  std::map<std::string_view, std::size_t> routeOfTemplate;
  std::vector<const Endpoint*> firstOfRoute;
  for (const Endpoint& endpoint : routes.Endpoints()) {
    const auto [position, added] =
        routeOfTemplate.try_emplace(endpoint.path.Text(), firstOfRoute.size());
    if (added) {
      firstOfRoute.push_back(&endpoint);
      out.mMethodLists.emplace_back();
    }
    std::vector<const char*>& names = out.mNameLists.emplace_back();
    std::vector<std::uint8_t>& locations = out.mLocationLists.emplace_back();
    for (const BoundArgument& argument : endpoint.function.arguments) {
      names.push_back(keep(argument.name));
      locations.push_back(static_cast<std::uint8_t>(argument.location));
    }
    NaloRouteMethod method{};
    method.method = static_cast<std::uint32_t>(endpoint.method);
    method.functionName = keep(endpoint.function.name);
    method.callName = endpoint.method == RequestMethod::Call ? keep(endpoint.callName) : nullptr;
    method.argumentLocations = locations.data();
    method.argumentNames = names.data();
    method.argumentCount = names.size();
    out.mMethodLists[position->second].push_back(method);
    out.mFunctions.push_back(FunctionInfo(endpoint.function, routes.NameSpace(), registry));
  }

  out.mRoutes.reserve(firstOfRoute.size());
  for (std::size_t i = 0; i < firstOfRoute.size(); ++i) {
    const PathTemplate& path = firstOfRoute[i]->path;
    std::vector<const char*>& parameterNames = out.mNameLists.emplace_back();
    for (const std::string& parameter : path.Parameters()) {
      parameterNames.push_back(keep(parameter));
    }
    NaloRoute route{};
    route.recordSize = sizeof(NaloRoute);
    route.methodCount = out.mMethodLists[i].size();
    route.handlerData = const_cast<RouteTable*>(&routes);
    route.pathTemplate = keep(path.Text());
    route.methods = out.mMethodLists[i].data();
    route.restriction = nullptr;
    route.pattern = path.IsLiteral() ? nullptr : keep(path.Pattern());
    route.parameterNames = parameterNames.empty() ? nullptr : parameterNames.data();
    route.parameterCount = parameterNames.size();
    route.dispatch = &RouteTable::DispatchEntry;
    out.mRoutes.push_back(route);
  }

  const std::vector<const BindingTypeDescriptor*> types = registry.Descriptors();
  BindingResult help = renderHelp(out.mFunctions, types, events, BindingHelpFormat::Full, registry);
  if (help.Failed()) {
    return Failure(kDescriptionFailureCode,
                   FormatPositional(RoutingMessage::kDescriptionFailed, {help.ErrorMessage()}));
  }
  out.mFunctionHelp = ToHostValue(*help.Value().Find(kFunctionsMember), registry);
  out.mTypeHelp = ToHostValue(*help.Value().Find(kTypesMember), registry);
  out.mEventHelp = ToHostValue(*help.Value().Find(kEventsMember), registry);

  out.mRecord.recordSize = sizeof(NaloApiDescription);
  out.mRecord.routes = out.mRoutes.data();
  out.mRecord.routeCount = out.mRoutes.size();
  out.mRecord.functions = out.mFunctionHelp.Record();
  out.mRecord.types = out.mTypeHelp.Record();
  out.mRecord.events = out.mEventHelp.Record();
  return description;
}

}  // namespace Nalo
