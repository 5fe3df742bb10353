#pragma once
// describeApi: the route description the core reads (NaloApiDescription,
// HostAbi.h), built once at start-up from the route table, the type registry
// and the events the plugin fires.
//
//   auto description = Nalo::describeApi(table, events).OrFatal("help types are registered");
//   registration->description = &description->Record();
//
// Endpoints are grouped by path template, in the order each template was
// first registered: one NaloRoute per template, one NaloRouteMethod per
// endpoint, with its function's name and its arguments' names and location
// codes. Every route hands the table back as its handler data and has
// RouteTable::DispatchEntry as its dispatch entry. Beside the routes stand
// the functions, every registered type and the events as Full help records
// (BindingHelp.h).

#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "abi/HostAbi.h"
#include "abi/HostValue.h"
#include "binding/BindingHelp.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo {

class RouteTable;

// Owns every block of one route description. Immovable: the core keeps
// pointers into it.
class ApiDescription {
 public:
  ApiDescription() = default;
  ApiDescription(const ApiDescription&) = delete;
  ApiDescription& operator=(const ApiDescription&) = delete;
  ApiDescription(ApiDescription&&) = delete;
  ApiDescription& operator=(ApiDescription&&) = delete;
  ~ApiDescription() = default;

  // The record for the core, valid for the life of this object.
  [[nodiscard]] const NaloApiDescription& Record() const noexcept { return mRecord; }
  // The functions as renderHelp describes them.
  [[nodiscard]] std::span<const BindingFunctionInfo> Functions() const noexcept {
    return mFunctions;
  }

 private:
  friend MaybeType<Failure, std::unique_ptr<ApiDescription>> describeApi(
      const RouteTable& routes, std::span<const BindingEventInfo> events);

  std::deque<std::string> mTexts;
  std::deque<std::vector<const char*>> mNameLists;
  std::deque<std::vector<std::uint8_t>> mLocationLists;
  std::deque<std::vector<NaloRouteMethod>> mMethodLists;
  std::vector<NaloRoute> mRoutes;
  std::vector<BindingFunctionInfo> mFunctions;
  HostValue mFunctionHelp;
  HostValue mTypeHelp;
  HostValue mEventHelp;
  NaloApiDescription mRecord{};
};

// Describes `routes`, every type of its registry and `events`. The table and
// the registry must outlive the description. Fails (code 500) when the help
// records can't be converted, which happens when the registry doesn't know
// the built-in help types (RegisterBuiltinTypes).
[[nodiscard]] MaybeType<Failure, std::unique_ptr<ApiDescription>> describeApi(
    const RouteTable& routes, std::span<const BindingEventInfo> events);

}  // namespace Nalo
