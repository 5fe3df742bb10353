#pragma once
// ArgumentLocation: where in a request a function argument may come from.
//
// The codes are part of the route description the core reads. Anywhere
// accepts a header, a path parameter and a query parameter alike, and is
// bound from directly passed host values as every argument is. Reserved (3)
// is passed through to the core and never bound by the router.

#include <cstdint>

namespace Nalo {

enum class ArgumentLocation : std::uint8_t {
  Anywhere = 0,
  Query = 1,
  Path = 2,
  Reserved = 3,
  Header = 4,
  Body = 5,
};

}  // namespace Nalo
