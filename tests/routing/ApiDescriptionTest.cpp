// The route description the core reads: grouping by template, what each
// method record carries, and that its dispatch entry serves requests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "abi/HostValue.h"
#include "binding/BindingHelp.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "routing/ApiDescription.h"
#include "routing/RouteTable.h"
#include "support/FailureMatchers.h"

namespace Nalo {
namespace {

// One line per route: template, pattern, parameters, then per method its
// code, function, argument names with locations.
std::string DescribeRoutes(const NaloApiDescription& description) {
  std::string text;
  for (std::size_t r = 0; r < description.routeCount; ++r) {
    const NaloRoute& route = description.routes[r];
    text += route.pathTemplate;
    text += route.pattern != nullptr ? std::string(" ~ ") + route.pattern : std::string();
    for (std::size_t p = 0; p < route.parameterCount; ++p) {
      text += std::string(" $") + route.parameterNames[p];
    }
    for (std::size_t m = 0; m < route.methodCount; ++m) {
      const NaloRouteMethod& method = route.methods[m];
      text += " | " + std::to_string(method.method) + " " + method.functionName;
      if (method.callName != nullptr) {
        text += std::string(" call=") + method.callName;
      }
      for (std::size_t a = 0; a < method.argumentCount; ++a) {
        text += std::string(" ") + method.argumentNames[a] + "@" +
                std::to_string(method.argumentLocations[a]);
      }
    }
    text += "\n";
  }
  return text;
}

std::string FunctionNamesOf(const NaloHostValue& functions) {
  BindingResult value = FromHostValue(functions, "functions");
  std::string names;
  for (const BindingProperty& function : value.Value().Elements()) {
    names += std::string(function.Find("name")->StringValue()) + " ";
  }
  return names;
}

TEST(DescribeApi, GroupsEndpointsByTemplate) {
  BindingTypeRegistry registry;
  RegisterBuiltinTypes(registry);
  RouteTable table(registry, "Test");
  table.Get(
      "/items/{id}", [](std::string) {}, InPath("id"));
  table.Get("/items", [] { return true; });
  table.Post(
      "/items/{id}/", [](std::string, BindingProperty) {}, InPath("id"), InBody("item"));
  table.AddCall(
      "Ping", "/call", [](bool) {}, InHeader("loud"));

  auto described = describeApi(table, BuiltinEvents(registry));
  ASSERT_THAT(described, Succeeded());
  const NaloApiDescription& record = described.Value()->Record();
  // The records are packed: read their fields by value.
  const std::uint32_t recordSize = record.recordSize;
  EXPECT_EQ(recordSize, sizeof(NaloApiDescription));
  EXPECT_EQ(DescribeRoutes(record),
            "/items/{id} ~ /items/([^/]*) $id | 2 GetItemsById id@2 | 6 PostItemsById id@2 item@5\n"
            "/items | 2 GetItems\n"
            "/call | 8 Call call=Ping loud@4\n");
  for (std::size_t r = 0; r < record.routeCount; ++r) {
    const NaloRoute route = record.routes[r];
    const void* handlerData = route.handlerData;
    const NaloDispatchFunction dispatch = route.dispatch;
    const std::uint32_t routeSize = route.recordSize;
    EXPECT_EQ(handlerData, &table);
    EXPECT_EQ(dispatch, &RouteTable::DispatchEntry);
    EXPECT_EQ(routeSize, sizeof(NaloRoute));
  }
  // Help records are sorted by name.
  EXPECT_EQ(FunctionNamesOf(record.functions), "Call GetItems GetItemsById PostItemsById ");

  BindingResult events = FromHostValue(record.events, "events");
  EXPECT_EQ(ToJson(events.Value()),
            R"([{"description":"Fired when a callback is invoked.","name":"OnCallback",)"
            R"("nameSpace":"$builtin","tags":[],"type":{"elementType":"","type":)"
            R"("BindingCallbackEvent"}}])");
}

TEST(DescribeApi, FunctionRecordsCarryTypes) {
  BindingTypeRegistry registry;
  RegisterBuiltinTypes(registry);
  RouteTable table(registry, "Test");
  table.Post(
      "/x", [](std::vector<std::int32_t>, std::optional<bool>) { return BindingHelpFormat::Full; },
      InBody("ids").Describe("The ids"), InQuery("dry").Optional());
  auto described = describeApi(table, {});
  ASSERT_THAT(described, Succeeded());
  BindingResult functions = FromHostValue(described.Value()->Record().functions, "functions");
  EXPECT_EQ(ToJson(functions.Value()),
            R"([{"arguments":[{"description":"The ids","name":"ids","optional":false,"type":)"
            R"({"elementType":"int32","type":"vector"}},{"description":"","name":"dry",)"
            R"("optional":true,"type":{"elementType":"","type":"bool"}}],"async":"",)"
            R"("description":"","help":"","name":"PostX","nameSpace":"Test","returns":)"
            R"({"elementType":"","type":"BindingHelpFormat"},"tags":[],"threadSafe":false}])");
}

TEST(DescribeApi, NeedsTheHelpTypes) {
  BindingTypeRegistry registry;
  RouteTable table(registry);
  table.Get("/x", [] {});
  EXPECT_THAT(describeApi(table, {}),
              IsFailure(500,
                        "Couldn't describe the API: Couldn't convert native value because "
                        "it's an unregistered structure."));
}

TEST(DescribeApi, TheDispatchEntryServesRequests) {
  BindingTypeRegistry registry;
  RegisterBuiltinTypes(registry);
  RouteTable table(registry);
  table.Get("/answer", [] { return std::int64_t{42}; });
  auto described = describeApi(table, {});
  ASSERT_THAT(described, Succeeded());
  const NaloRoute& route = described.Value()->Record().routes[0];

  NaloRequest request{};
  request.method = NALO_METHOD_GET;
  request.path = "/answer";
  NaloResponse response{};
  route.dispatch(route.handlerData, &response, &request);
  const std::uint32_t status = response.status;
  const char* error = response.error;
  const NaloHostValue body = response.body;
  const NaloHostValueKind kind = body.kind;
  const std::int64_t number = body.payload.signedInteger;
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(kind, NALO_HOST_VALUE_SIGNED);
  EXPECT_EQ(number, 42);
  response.release(&response);
}

}  // namespace
}  // namespace Nalo
