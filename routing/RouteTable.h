#pragma once
// RouteTable: the plugin's endpoints, and the dispatch of the core's requests
// to them.
//
// Routes are declared once, at start-up, as one table: a method, a path
// template (PathTemplate.h), a handler and one RouteArgument per handler
// parameter. Handlers take typed parameters (anything the type registry can
// convert, BindingConverters.h) and return nothing, a value, a
// MaybeType<Failure, T>, MaybeType<Failure, void> or a CallResult.
//
//   Nalo::RouteTable table(registry, "TavGameflow");
//   auto routes = table.Bind(*this);
//   routes.Get ("/tav-gameflow/v1/session",      &GameflowPlugin::GetSession);
//   routes.Post("/tav-gameflow/v1/session/event", &GameflowPlugin::PostSessionEvent,
//               InBody("session"));
//   routes.Post("/tav-gameflow/v1/pre-end-game-transition",
//               &GameflowPlugin::SetPreEndGameTransition, InQuery("enabled"));
//
// A route's function is named after its method and path
// (BoundFunctionName.h): GetTavGameflowV1Session. One trailing "/" of a path
// longer than one character is dropped. A table that can't work (a template
// whose braces don't pair, a template parameter no path argument takes, two
// arguments of one name) is a programming error and ends the process at
// registration, naming the route.
//
// Dispatch of one request:
// 1. The path without its query is matched against every endpoint whose
//    method accepts the request (None accepts all; Call also needs the same
//    function name). Of several matches the one whose parameters captured the
//    fewest characters wins; on a tie the earlier one; a match that captured
//    nothing ends the search. No match: 404 "Invalid function".
// 2. Arguments are bound, in this order: request headers named like an
//    argument located Anywhere or in a Header (case-insensitive; the last of
//    repeated headers wins), path parameters (percent-decoded), query
//    parameters (QueryString.h), directly passed host values (by name, or by
//    position after the path parameters), and the body into the first body
//    argument (ParameterDecoding.h). A header, template parameter or query
//    key is cut at its first ".": the part before names the argument, the
//    rest selects a part of it ("ids.0", "filter.name"; so the template
//    "/x/{item.name}" fills the member "name" of the path argument "item").
//    A non-optional bool starts as false; a query key with no text sets a
//    bool to true, an object, struct or map to {} and a vector to []. Any
//    binding error answers 400 with its message and the handler isn't
//    called.
// 3. The values are converted to the handler's parameter types (400 with
//    the conversion's message on failure) and the handler runs.
// 4. A failure answers with its code (500 when it isn't an HTTP-style code)
//    and its message; a value is sent as a host value with status 200,
//    nothing with 204 (CallResult.h).
//
// Thread safety: registration happens before the first dispatch; dispatch
// keeps all its state on the stack and may run on any thread.

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingTypeRegistry.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "routing/CallResult.h"
#include "routing/Endpoint.h"
#include "routing/RequestMethod.h"
#include "routing/RouteArgument.h"
#include "routing/RouteRequest.h"
#include "routing/detail/TypedInvoker.h"

namespace Nalo {

template <class Owner>
class RouteBinder;

class RouteTable {
 public:
  // `registry` converts arguments and results and must outlive the table;
  // `nameSpace` is the name space help output gives the functions.
  explicit RouteTable(const BindingTypeRegistry& registry = BindingTypeRegistry::Shared(),
                      std::string_view nameSpace = {});
  // The route description and the core hold the table's address.
  RouteTable(const RouteTable&) = delete;
  RouteTable& operator=(const RouteTable&) = delete;
  RouteTable(RouteTable&&) = delete;
  RouteTable& operator=(RouteTable&&) = delete;
  ~RouteTable();

  // Adds an endpoint for `method` (None: every method) at `path`, calling
  // `handler` with one argument per declaration.
  template <class Handler, class... Declarations>
  void Add(RequestMethod method, std::string_view path, Handler handler,
           Declarations&&... declarations) {
    AddEndpoint(method, path, {},
                MakeFunction(std::move(handler), std::forward<Declarations>(declarations)...));
  }
  // Adds an endpoint for named calls (RequestMethod::Call) of `functionName`.
  template <class Handler, class... Declarations>
  void AddCall(std::string_view functionName, std::string_view path, Handler handler,
               Declarations&&... declarations) {
    AddEndpoint(RequestMethod::Call, path, functionName,
                MakeFunction(std::move(handler), std::forward<Declarations>(declarations)...));
  }

  template <class Handler, class... Declarations>
  void Get(std::string_view path, Handler handler, Declarations&&... declarations) {
    Add(RequestMethod::Get, path, std::move(handler), std::forward<Declarations>(declarations)...);
  }
  template <class Handler, class... Declarations>
  void Post(std::string_view path, Handler handler, Declarations&&... declarations) {
    Add(RequestMethod::Post, path, std::move(handler), std::forward<Declarations>(declarations)...);
  }
  template <class Handler, class... Declarations>
  void Put(std::string_view path, Handler handler, Declarations&&... declarations) {
    Add(RequestMethod::Put, path, std::move(handler), std::forward<Declarations>(declarations)...);
  }
  template <class Handler, class... Declarations>
  void Delete(std::string_view path, Handler handler, Declarations&&... declarations) {
    Add(RequestMethod::Delete, path, std::move(handler),
        std::forward<Declarations>(declarations)...);
  }
  template <class Handler, class... Declarations>
  void Patch(std::string_view path, Handler handler, Declarations&&... declarations) {
    Add(RequestMethod::Patch, path, std::move(handler),
        std::forward<Declarations>(declarations)...);
  }

  // Registration of `owner`'s member functions: routes.Get(path, &Owner::F).
  // `owner` must outlive the table's dispatches.
  template <class Owner>
  [[nodiscard]] RouteBinder<Owner> Bind(Owner& owner) {
    return RouteBinder<Owner>(*this, owner);
  }

  // Serves `request` (steps 1 to 4 above). The failure's code is the status.
  [[nodiscard]] MaybeType<Failure, CallResult> Dispatch(const RouteRequest& request) const;

  // Serves the core's `request` and fills `response` (HostAbi.h): the
  // previous contents are ignored, and the core must call response.release
  // (and response.close for a stream) once. Never throws: an exception a
  // handler lets escape answers 500 with its text.
  void dispatch(NaloResponse& response, const NaloRequest& request) const noexcept;

  // The route description's dispatch entry; `handlerData` is the table.
  static void NALO_ABI_CALL DispatchEntry(void* handlerData, NaloResponse* response,
                                          const NaloRequest* request) noexcept;

  [[nodiscard]] std::span<const Endpoint> Endpoints() const noexcept { return mEndpoints; }
  [[nodiscard]] const BindingTypeRegistry& Registry() const noexcept { return *mRegistry; }
  [[nodiscard]] std::string_view NameSpace() const noexcept { return mNameSpace; }

 private:
  template <class Handler, class... Declarations>
  static BoundFunction MakeFunction(Handler handler, Declarations&&... declarations) {
    using Traits = detail::CallableTraits<std::remove_cvref_t<Handler>>;
    return detail::BoundFunctionFactory<typename Traits::Arguments>::template Make<
        typename Traits::Result>(std::move(handler), std::forward<Declarations>(declarations)...);
  }

  // Compiles the path, names the function and checks the row; fatal when
  // the row can't work.
  void AddEndpoint(RequestMethod method, std::string_view path, std::string_view callName,
                   BoundFunction function);

  struct PathHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view path) const noexcept {
      return std::hash<std::string_view>()(path);
    }
  };

  const BindingTypeRegistry* mRegistry;
  std::string mNameSpace;
  std::vector<Endpoint> mEndpoints;
  // Built at registration so that a request looks its path up once instead
  // of comparing every literal template: the positions in mEndpoints of the
  // literal endpoints of each path, and of every endpoint with parameters,
  // in registration order.
  std::unordered_map<std::string, std::vector<std::size_t>, PathHash, std::equal_to<>>
      mLiteralEndpoints;
  std::vector<std::size_t> mPatternEndpoints;
};

// Registers member functions of one owner object; made by RouteTable::Bind.
template <class Owner>
class RouteBinder {
 public:
  RouteBinder(RouteTable& table, Owner& owner) : mTable(&table), mOwner(&owner) {}

  template <class Method, class... Declarations>
  void Add(RequestMethod method, std::string_view path, Method function,
           Declarations&&... declarations) {
    mTable->Add(method, path, detail::BindMember(mOwner, function),
                std::forward<Declarations>(declarations)...);
  }
  template <class Method, class... Declarations>
  void Get(std::string_view path, Method function, Declarations&&... declarations) {
    Add(RequestMethod::Get, path, function, std::forward<Declarations>(declarations)...);
  }
  template <class Method, class... Declarations>
  void Post(std::string_view path, Method function, Declarations&&... declarations) {
    Add(RequestMethod::Post, path, function, std::forward<Declarations>(declarations)...);
  }
  template <class Method, class... Declarations>
  void Put(std::string_view path, Method function, Declarations&&... declarations) {
    Add(RequestMethod::Put, path, function, std::forward<Declarations>(declarations)...);
  }
  template <class Method, class... Declarations>
  void Delete(std::string_view path, Method function, Declarations&&... declarations) {
    Add(RequestMethod::Delete, path, function, std::forward<Declarations>(declarations)...);
  }

 private:
  RouteTable* mTable;
  Owner* mOwner;
};

}  // namespace Nalo
