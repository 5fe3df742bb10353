#pragma once
// RouteArgument: the declaration of one handler argument in a route table
// row: its name, where it comes from, its description and whether it may be
// left out.
//
//   routes.Post("/tav-gameflow/v1/session/dodge", &GameflowPlugin::Dodge, InBody("dodgeData"));
//   routes.Get("/items/{id}", &Items::Find, InPath("id"), InQuery("verbose").Optional());
//
// An argument that is left out converts from an empty value: a bool that is
// not optional reads false, a std::optional reads nullopt, an optional
// argument keeps its type's default value, and anything else fails with "A
// value for '<name>' is required.".

#include <string>
#include <string_view>
#include <utility>

#include "routing/ArgumentLocation.h"

namespace Nalo {

struct RouteArgument {
  std::string name;
  ArgumentLocation location = ArgumentLocation::Anywhere;
  std::string description;
  bool optional = false;

  // The same argument, marked as one that may be left out.
  [[nodiscard]] RouteArgument Optional() && {
    optional = true;
    return std::move(*this);
  }
  // The same argument with a description for help output.
  [[nodiscard]] RouteArgument Describe(std::string_view text) && {
    description = text;
    return std::move(*this);
  }
};

[[nodiscard]] inline RouteArgument InQuery(std::string_view name) {
  return {std::string(name), ArgumentLocation::Query, {}, false};
}
[[nodiscard]] inline RouteArgument InPath(std::string_view name) {
  return {std::string(name), ArgumentLocation::Path, {}, false};
}
[[nodiscard]] inline RouteArgument InHeader(std::string_view name) {
  return {std::string(name), ArgumentLocation::Header, {}, false};
}
[[nodiscard]] inline RouteArgument InBody(std::string_view name) {
  return {std::string(name), ArgumentLocation::Body, {}, false};
}
// From a header, a path parameter or a query parameter, whichever the
// request has.
[[nodiscard]] inline RouteArgument Anywhere(std::string_view name) {
  return {std::string(name), ArgumentLocation::Anywhere, {}, false};
}

}  // namespace Nalo
