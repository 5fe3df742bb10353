// Binding query parameters, headers, host values and bodies to handler
// arguments, and the messages of every binding rule. Each row is a request
// and the whole outcome: the arguments the handler saw (as JSON) or the
// failure.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistration.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "routing/ParameterDecoding.h"
#include "routing/RouteTable.h"
#include "support/FailureMatchers.h"

namespace Nalo {
namespace {

struct Outcome {
  std::string json;        // on success: what the handler received
  std::uint32_t code = 0;  // on failure
  std::string message;
};

Outcome Received(std::string_view json) {
  return {std::string(json), 0, {}};
}
Outcome Failed(std::uint32_t code, std::string_view message) {
  return {{}, code, std::string(message)};
}

void ExpectOutcome(const MaybeType<Failure, CallResult>& result, const Outcome& expected) {
  if (expected.code != 0) {
    EXPECT_THAT(result, IsFailure(expected.code, expected.message));
    return;
  }
  ASSERT_THAT(result, Succeeded());
  EXPECT_EQ(ToJson(result.Value().ValueTree()), expected.json);
}

// A GET /echo whose handler answers with the arguments it received.
class EchoTable {
 public:
  EchoTable() : mTable(mRegistry) {
    mTable.Get(
        "/echo",
        [](bool enabled, std::optional<std::int32_t> count, std::vector<std::int64_t> ids,
           BindingProperty filter, std::string requestId) {
          BindingProperty echo;
          echo.member("enabled").SetBool(enabled);
          if (count.has_value()) {
            echo.member("count").SetSigned(*count);
          }
          for (const std::int64_t id : ids) {
            echo.member("ids").at(echo.member("ids").size()).SetSigned(id);
          }
          echo.member("filter").assign(filter);
          echo.member("requestId").SetString(std::string_view(requestId));
          return echo;
        },
        InQuery("enabled"), InQuery("count"), Anywhere("ids").Optional(),
        InQuery("filter").Optional(), InHeader("requestId").Optional());
  }

  [[nodiscard]] MaybeType<Failure, CallResult> Get(std::string_view path,
                                                   std::span<const RequestHeader> headers = {}) {
    return mTable.Dispatch({.method = RequestMethod::Get, .path = path, .headers = headers});
  }

 private:
  BindingTypeRegistry mRegistry;
  RouteTable mTable;
};

constexpr std::string_view kNothing = R"({"enabled":false,"filter":null,"requestId":""})";

TEST(ArgumentBinding, QueryRules) {
  const std::string badJson =
      "Couldn't deserialize JSON value for parameter 'filter' of 'GetEcho': " +
      std::string(ParseJson("{bad").ErrorMessage());
  struct Case {
    std::string_view path;
    Outcome expected;
  };
  // clang-format off
  const Case cases[] = {
      {"/echo",                        Received(kNothing)},
      {"/echo?enabled",                Received(R"({"enabled":true,"filter":null,"requestId":""})")},
      {"/echo?enabled=",               Received(R"({"enabled":true,"filter":null,"requestId":""})")},
      {"/echo?enabled=0",              Received(kNothing)},
      {"/echo?enabled=yes",            Failed(400, "Value yes for 'enabled' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", \"0\".")},
      {"/echo?count",                  Failed(400, "Expected value for argument 'count'.")},
      {"/echo?count=0x10",             Received(R"({"count":16,"enabled":false,"filter":null,"requestId":""})")},
      {"/echo?count=1&count=2",        Received(R"({"count":2,"enabled":false,"filter":null,"requestId":""})")},
      {"/echo?count=12abc",            Failed(400, "Value 12abc for 'count' of type int32 is in an incorrect format")},
      {"/echo?&&count=3&",             Received(R"({"count":3,"enabled":false,"filter":null,"requestId":""})")},
      {"/echo?ids.0=5&ids.1=6",        Received(R"({"enabled":false,"filter":null,"ids":[5,6],"requestId":""})")},
      {"/echo?ids.1=6",                Received(R"({"enabled":false,"filter":null,"ids":[0,6],"requestId":""})")},
      {"/echo?ids=%5B7%2C8%5D",        Received(R"({"enabled":false,"filter":null,"ids":[7,8],"requestId":""})")},
      {"/echo?ids=",                   Received(kNothing)},
      {"/echo?ids=7",                  Failed(400, "Couldn't assign value to 'ids' of type vector because the input not a collection.")},
      {"/echo?filter.x1=a",            Received(R"({"enabled":false,"filter":{"x1":"a"},"requestId":""})")},
      {"/echo?filter.a.0.b=c",         Received(R"({"enabled":false,"filter":{"a":[{"b":"c"}]},"requestId":""})")},
      {"/echo?filter.0x2=a",           Received(R"({"enabled":false,"filter":[null,null,"a"],"requestId":""})")},
      {"/echo?filter=",                Received(R"({"enabled":false,"filter":{},"requestId":""})")},
      {"/echo?filter=%7B%22k%22%3A1%7D", Received(R"({"enabled":false,"filter":{"k":1},"requestId":""})")},
      {"/echo?filter=---%0Ak%3A+v",    Received(R"({"enabled":false,"filter":{"k":"v"},"requestId":""})")},
      {"/echo?filter=%81%A1k%01",      Received(R"({"enabled":false,"filter":{"k":1},"requestId":""})")},
      {"/echo?filter=plain",           Received(R"({"enabled":false,"filter":"plain","requestId":""})")},
      {"/echo?filter=%7Bbad",          Failed(400, badJson)},
      {"/echo?filter=%81%A1k%01%01",   Failed(400, "Couldn't deserialize MessagePack value for parameter 'filter' of 'GetEcho': Extra MessagePack data found after the value at position 4.")},
      {"/echo?filter.1x=a",            Failed(400, "Index 1x is in an incorrect format")},
      {"/echo?filter.08=a",            Failed(400, "Index 08 is in an incorrect format")},
      {"/echo?filter.0x80000000=a",    Failed(400, "Index 0x80000000 is out of range")},
      {"/echo?filter.99999999999999999999=a", Failed(400, "Index 99999999999999999999 is out of range")},
      {"/echo?filter.65536=a",         Failed(400, "Index 65536 is out of range")},
      {"/echo?filter.0.40000=a&filter.1.40000=b", Failed(400, "Index 40000 is out of range")},
      {"/echo?bogus=1",                Failed(400, "Unknown argument 'bogus' for 'GetEcho'.")},
      {"/echo?bogus.x=1",              Failed(400, "Unknown argument 'bogus' for 'GetEcho'.")},
      {"/echo?requestId=1",            Failed(400, "Argument 'requestId' for 'GetEcho' was specified in an invalid location.")},
  };
  // clang-format on
  EchoTable table;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ExpectOutcome(table.Get(c.path), c.expected);
  }
}

TEST(ArgumentBinding, MemberPathsAreBoundedInDepth) {
  EchoTable table;
  std::string path = "/echo?filter";
  for (int i = 0; i < 600; ++i) {
    path += ".a";
  }
  path += "=1";
  ExpectOutcome(table.Get(path),
                Failed(400,
                       "The member path of argument 'filter' for 'GetEcho' is deeper than "
                       "512 levels."));
}

TEST(ArgumentBinding, HeaderRules) {
  struct Case {
    std::string_view name;
    std::vector<RequestHeader> headers;
    std::string_view path;
    Outcome expected;
  };
  // clang-format off
  const Case cases[] = {
      {"lower-case name",      {{"requestid", "abc"}}, "/echo",
       Received(R"({"enabled":false,"filter":null,"requestId":"abc"})")},
      {"any case",             {{"RequestID", "abc"}}, "/echo",
       Received(R"({"enabled":false,"filter":null,"requestId":"abc"})")},
      {"last repeat wins",     {{"requestid", "a"}, {"requestid", "b"}}, "/echo",
       Received(R"({"enabled":false,"filter":null,"requestId":"b"})")},
      {"unrelated header",     {{"x-other", "1"}, {"content-length", "3"}}, "/echo",
       Received(kNothing)},
      {"anywhere argument",    {{"ids", "[1]"}}, "/echo",
       Received(R"({"enabled":false,"filter":null,"ids":[1],"requestId":""})")},
      {"query after headers",  {{"ids", "[1]"}}, "/echo?ids.0=2",
       Received(R"({"enabled":false,"filter":null,"ids":[2],"requestId":""})")},
      {"query-only argument",  {{"count", "1"}}, "/echo",
       Received(kNothing)},
  };
  // clang-format on
  EchoTable table;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectOutcome(table.Get(c.path, c.headers), c.expected);
  }
}

// Helpers for host-value rows.
NaloRequestArgument TextArgument(const char* name, std::string_view text) {
  NaloRequestArgument argument{};
  argument.name = name;
  argument.value.kind = NALO_HOST_VALUE_TEXT;
  argument.value.payload.text.data = text.data();
  argument.value.payload.text.length = text.size();
  return argument;
}
NaloRequestArgument SignedArgument(const char* name, std::int64_t value) {
  NaloRequestArgument argument{};
  argument.name = name;
  argument.value.kind = NALO_HOST_VALUE_SIGNED;
  argument.value.payload.signedInteger = value;
  return argument;
}

TEST(ArgumentBinding, HostValueRules) {
  BindingTypeRegistry registry;
  RouteTable table(registry);
  table.Post(
      "/items/{id}",
      [](std::string id, std::int64_t count, std::string note) {
        return id + "," + std::to_string(count) + "," + note;
      },
      InPath("id"), Anywhere("count"), Anywhere("note").Optional());

  NaloRequestArgument unknownKind{};
  unknownKind.value.kind = 11;
  struct Case {
    std::string_view name;
    std::vector<NaloRequestArgument> arguments;
    Outcome expected;
  };
  // clang-format off
  const Case cases[] = {
      {"by name, over the query", {SignedArgument("count", 3)},             Received(R"("7,3,")")},
      {"by position after the path parameters",
                                 {SignedArgument(nullptr, 3), TextArgument(nullptr, "n")}, Received(R"("7,3,n")")},
      {"unknown name",           {SignedArgument("size", 3)},               Failed(400, "Unknown argument 'size' for 'PostItemsById'.")},
      {"position past the last", {SignedArgument(nullptr, 1), SignedArgument(nullptr, 2),
                                  SignedArgument(nullptr, 3)},              Failed(400, "Unknown argument '2' for 'PostItemsById'.")},
      {"unknown kind",           {unknownKind},                             Failed(400, "Couldn't assign value to 'count' of type object because the input is of an incompatible type ''.")},
      {"converted to the type",  {TextArgument("count", "0x10")},           Received(R"("7,16,")")},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectOutcome(table.Dispatch({.method = RequestMethod::Post,
                                  .path = "/items/7?count=9",
                                  .hostArguments = c.arguments}),
                  c.expected);
  }
}

TEST(ArgumentBinding, PathParameterRules) {
  struct Item {
    std::string name;
    std::uint64_t id = 0;
  };
  BindingTypeRegistry registry;
  RegisterStruct<Item>(registry, "Test", "Item", "",
                       {Field("name", &Item::name), Field("id", &Item::id)});
  RouteTable table(registry);
  table.Get(
      "/x/{item.name}", [](BindingProperty item) { return item; }, InPath("item"));
  table.Get(
      "/items/{item.id}/{item.name}",
      [](const Item& item) { return item.name + "#" + std::to_string(item.id); }, Anywhere("item"));
  table.Get(
      "/ids/{ids.1}/{ids.0}", [](std::vector<std::string> ids) { return ids; }, InPath("ids"));
  table.Get(
      "/deep/{item.a.0x1.b}", [](BindingProperty item) { return item; }, InPath("item"));

  struct Case {
    std::string_view path;
    Outcome expected;
  };
  // clang-format off
  const Case cases[] = {
      {"/x/abc",              Received(R"({"name":"abc"})")},
      {"/x/a%2Fb+c",          Received(R"({"name":"a/b c"})")},
      {"/x/",                 Received(R"({"name":""})")},
      {"/x/abc?item.id=7",    Failed(400, "Argument 'item' for 'GetXByItemName' was specified in an invalid location.")},
      {"/items/0x10/abc",     Received(R"("abc#16")")},
      {"/items/1/abc?item.id=7", Received(R"("abc#7")")},
      {"/items/x/abc",        Failed(400, "Value x for 'id' of type uint64 is in an incorrect format")},
      {"/ids/b/a",            Received(R"(["a","b"])")},
      {"/deep/v",             Received(R"({"a":[null,{"b":"v"}]})")},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ExpectOutcome(table.Dispatch({.method = RequestMethod::Get, .path = c.path}), c.expected);
  }
}

TEST(ArgumentBinding, BodyRules) {
  BindingTypeRegistry registry;
  RouteTable table(registry);
  table.Post(
      "/body", [](BindingProperty payload) { return payload; }, InBody("payload"));
  table.Post("/no-body", [] { return std::string("ignored"); });

  const std::string badJson(ParseJson("{").ErrorMessage());
  struct Case {
    std::string_view name;
    std::string_view path;
    std::string_view contentType;
    std::string body;
    Outcome expected;
  };
  // clang-format off
  const Case cases[] = {
      {"json",                 "/body", "application/json",                 R"({"a":1})", Received(R"({"a":1})")},
      {"json up to a NUL",     "/body", "application/json",                 std::string("[1]\0]", 5), Received("[1]")},
      {"json error",           "/body", "application/json",                 "{",          Failed(400, badJson)},
      {"yaml",                 "/body", "application/x-yaml",               "a: [1]\n",   Received(R"({"a":[1]})")},
      {"msgpack",              "/body", "application/x-msgpack",            "\x81\xA1k\x01", Received(R"({"k":1})")},
      {"msgpack trailing byte", "/body", "application/x-msgpack",           "\x92\x01\x02\x03", Failed(400, "Extra MessgePack data found in body")},
      {"no body argument",     "/no-body", "text/json",                     "[1]",        Received(R"("ignored")")},
      {"empty body",           "/body", "text/json",                        "",           Received("")},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::span<const std::uint8_t> body(reinterpret_cast<const std::uint8_t*>(c.body.data()),
                                             c.body.size());
    ExpectOutcome(table.Dispatch({.method = RequestMethod::Post,
                                  .path = c.path,
                                  .contentType = c.contentType,
                                  .body = body}),
                  c.expected);
  }
}

// A content type picks the format when it starts with a listed type,
// ignoring case, over that type's length; what follows doesn't matter.
TEST(ArgumentBinding, ContentTypes) {
  BindingTypeRegistry registry;
  RouteTable table(registry);
  table.Post(
      "/body", [](BindingProperty payload) { return payload; }, InBody("payload"));
  constexpr std::string_view kUnsupported = "Unsupported body content type";
  struct Case {
    std::string_view contentType;
    std::string body;
    Outcome expected;
  };
  // clang-format off
  const Case bodies[] = {
      {"application/json; charset=utf-8", "[1]",            Received("[1]")},
      {"application/json charset=utf-8",  "[1]",            Received("[1]")},
      {"APPLICATION/JSON",                "[1]",            Received("[1]")},
      {"application/json-patch+json",     "[1]",            Received("[1]")},
      {"Application/Vnd.Api+Json",        "[1]",            Received("[1]")},
      {"application/x-msgpack-ext",       "\x92\x01\x02",  Received("[1,2]")},
      {"APPLICATION/X-MSGPACK;q=1",       "\x92\x01\x02",  Received("[1,2]")},
      {"application/x-yamlish",           "a: 1\n",         Received(R"({"a":1})")},
      {"text/json",                       "[1]",            Failed(400, kUnsupported)},
      {"application/jso",                 "[1]",            Failed(400, kUnsupported)},
      {" application/json",               "[1]",            Failed(400, kUnsupported)},
      {"text/x-yaml",                     "a: 1\n",         Failed(400, kUnsupported)},
      {"",                                "[1]",            Failed(400, kUnsupported)},
  };
  // clang-format on
  for (const Case& c : bodies) {
    SCOPED_TRACE(c.contentType);
    const std::span<const std::uint8_t> body(reinterpret_cast<const std::uint8_t*>(c.body.data()),
                                             c.body.size());
    ExpectOutcome(table.Dispatch({.method = RequestMethod::Post,
                                  .path = "/body",
                                  .contentType = c.contentType,
                                  .body = body}),
                  c.expected);
  }

  struct ParameterCase {
    std::string_view contentType;
    std::string text;
    std::string expected;  // the decoded value as JSON, or the error
  };
  // clang-format off
  const ParameterCase parameters[] = {
      {"application/json; charset=utf-8", "[1]",            "[1]"},
      {"Application/JSON-patch+json",     "[1]",            "[1]"},
      {"application/json",                "{",              "Couldn't deserialize JSON value for parameter 'p' of 'F': " + std::string(ParseJson("{").ErrorMessage())},
      {"application/x-msgpack-ext",       "\x92\x01\x02",  "[1,2]"},
      {"TEXT/X-YAML; charset=utf-8",      "a: 1",           R"({"a":1})"},
      {"application/octet-streamy",       "abc",            R"("YWJj")"},
      {"application/x-yaml",              "a: 1",           R"("a: 1")"},
      {"text/json",                       "[1]",            R"("[1]")"},
  };
  // clang-format on
  for (const ParameterCase& c : parameters) {
    SCOPED_TRACE(c.contentType);
    BindingResult decoded = DecodeParameter(c.text, c.contentType, ParameterShape::Plain, "p", "F");
    EXPECT_EQ(decoded.Failed() ? std::string(decoded.ErrorMessage()) : ToJson(decoded.Value()),
              c.expected);
  }
}

}  // namespace
}  // namespace Nalo
