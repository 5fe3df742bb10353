#pragma once
// Endpoint: one row of the route table: a method, a compiled path template,
// for named calls the function name a request must give, and the bound
// function. Endpoints are built by RouteTable registration and read-only
// afterwards.

#include <string>

#include "routing/BoundFunction.h"
#include "routing/PathTemplate.h"
#include "routing/RequestMethod.h"

namespace Nalo {

struct Endpoint {
  RequestMethod method = RequestMethod::None;  // None accepts every method
  PathTemplate path;
  std::string callName;  // RequestMethod::Call only
  BoundFunction function;
};

}  // namespace Nalo
