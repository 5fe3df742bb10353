// Fuzz target for request dispatch: any bytes become one request, served by
// a fixed table of routes with path, query, header, host-value and body
// arguments through the core's records (RouteTable::DispatchEntry).
//
// Input scheme, line by line ("\n"):
//   line 1      first byte: method code (its value modulo 9); the rest: the path
//   next lines  "name:value" headers, up to an empty line; a name starting
//               with "@" is a host-value argument instead (the text after "@"
//               names it; "@" alone passes it by position), its value a text,
//               or, after "~", an object of the comma-separated "key=text"
//               members in their order (unsorted, repeated keys allowed)
//   next line   the body's content type
//   the rest    the body
// Missing parts are empty.
//
// Whatever the input, the response must be well-formed: a status from 100 to
// 599 and a reason; on success no error and a body value that reads back; on
// failure an error text; and the response releases cleanly. The C++ entry
// must agree with the record entry on the status.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "abi/HostValue.h"
#include "binding/BindingHelp.h"
#include "binding/BindingRegistration.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "routing/ApiDescription.h"
#include "routing/RouteTable.h"

namespace {

using Nalo::BindingProperty;
using Nalo::Failure;
using Nalo::MaybeType;

enum class Color { Red = 0, Green = 1 };

struct Item {
  std::string name;
  std::int32_t count = 0;
  std::vector<std::string> tags;
  Color color = Color::Red;
  std::optional<double> weight;
};

[[noreturn]] void ReportFault(const char* what, std::string_view detail) {
  std::fprintf(stderr, "dispatch fault: %s: %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

struct Fixture {
  Nalo::BindingTypeRegistry registry;
  Nalo::RouteTable table{registry, "Fuzz"};
  std::unique_ptr<Nalo::ApiDescription> description;

  Fixture() {
    using namespace Nalo;
    RegisterBuiltinTypes(registry);
    RegisterEnum<Color>(registry, "Fuzz", "Color", "",
                        {{"Red", Color::Red}, {"Green", Color::Green}});
    RegisterStruct<Item>(
        registry, "Fuzz", "Item", "",
        {Field("name", &Item::name, kRequired), Field("count", &Item::count),
         Field("tags", &Item::tags), Field("color", &Item::color), Field("weight", &Item::weight)});
    // The handlers take their arguments by value, as plugins' handlers do:
    // that binding path is the one fuzzed.
    // NOLINTBEGIN(performance-unnecessary-value-param)
    // clang-format off
    table.Get("/v1/session", [] {});
    table.Get("/v1/items/{id}",
        [](std::string id, bool verbose, std::string requestId) { return id + requestId + (verbose ? "!" : ""); },
        InPath("id"), InQuery("verbose"), InHeader("requestId").Optional());
    table.Post("/v1/items/{id}",
        [](std::int32_t id, Item item) -> MaybeType<Failure, Item> {
          if (id < 0) { return Failure(403, "Item {id} is locked.", {{"id", id}}); }
          return item;
        },
        InPath("id"), InBody("item"));
    table.Patch("/v1/items/{item.name}/{item.tags.0x1}", [](Item item) { return item; },
        InPath("item"));
    table.Get("/v1/files/{+rest}", [](std::string rest) { return rest; }, InPath("rest"));
    table.Put("/v1/doc{#part}", [](std::string part) { return part.size(); }, InPath("part"));
    table.Post("/v1/filter",
        [](BindingProperty filter, std::vector<std::int64_t> ids,
           std::unordered_map<std::string, std::int32_t> options, Color color) {
          filter.member("ids").SetUnsigned(ids.size());
          filter.member("options").SetUnsigned(options.size());
          filter.member("color").SetSigned(static_cast<std::int32_t>(color));
          return filter;
        },
        Anywhere("filter").Optional(), InQuery("ids").Optional(), InQuery("options").Optional(),
        Anywhere("color").Optional());
    table.Add(RequestMethod::None, "/v1/any/{a}/{b}",
        [](std::string a, std::optional<std::uint16_t> b) { return a + std::to_string(b.value_or(0)); },
        InPath("a"), InPath("b"));
    table.AddCall("Ping", "/v1/call", [](std::vector<std::uint8_t> bytes) { return bytes; },
        InBody("bytes").Optional());
    // clang-format on
    // NOLINTEND(performance-unnecessary-value-param)
    description =
        describeApi(table, BuiltinEvents(registry)).OrFatal("the help types are registered");
  }
};

// Destroyed at exit, so that the leak checker (which can't see pointers
// stored unaligned in packed records) finds nothing left.
const Fixture& Routes() {
  static const Fixture fixture;
  return fixture;
}

// Splits off the text up to the next "\n" (all of it when there is none).
std::string_view NextLine(std::string_view& rest) {
  const std::size_t end = rest.find('\n');
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

void CheckResponse(const NaloResponse& response) {
  if (response.status < 100 || response.status > 599) {
    ReportFault("status out of range", std::to_string(response.status));
  }
  if (response.reason == nullptr || response.release == nullptr) {
    ReportFault("no reason or release function", {});
  }
  if (response.error == nullptr) {
    const NaloHostValue body = response.body;
    const Nalo::BindingResult value = Nalo::FromHostValue(body, "body");
    if (value.Failed()) {
      ReportFault("the body doesn't read back", value.ErrorMessage());
    }
    // Written out without the tree, as the HTTP front writes it, the body
    // is the tree's JSON.
    const std::optional<std::string> walked = Nalo::WalkToJson(
        [&body](Nalo::BindingVisitor& visitor) { return Nalo::VisitHostValue(body, visitor); });
    if (walked && value.Succeeded() && !value.Value().IsEmpty() &&
        *walked != Nalo::ToJson(value.Value())) {
      ReportFault("the body walked without its tree writes other JSON", *walked);
    }
  } else if (NaloHostValue body = response.body; body.kind != NALO_HOST_VALUE_NULL) {
    ReportFault("an error response with a body", response.error);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Fixture& fixture = Routes();
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view first = NextLine(rest);
  // Texts handed to the C records must end in NUL; keep copies.
  const std::uint32_t method =
      first.empty() ? 0 : static_cast<std::uint32_t>(static_cast<unsigned char>(first[0]) % 9);
  const std::string path(first.empty() ? first : first.substr(1));

  std::vector<std::string> texts;
  std::vector<std::pair<std::size_t, std::size_t>> headerTexts;
  std::vector<std::pair<std::size_t, std::size_t>> argumentTexts;  // name index or npos, value
  // For an object argument: its members' (key, text) indices; empty for a text.
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> argumentMembers;
  texts.reserve(size / 2 + 4);
  while (!rest.empty()) {
    const std::string_view line = NextLine(rest);
    if (line.empty()) {
      break;
    }
    const std::size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    const std::string_view value =
        colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    if (name.starts_with('@')) {
      std::size_t nameIndex = std::string::npos;
      if (name.size() > 1) {
        nameIndex = texts.size();
        texts.emplace_back(name.substr(1));
      }
      texts.emplace_back(value);
      argumentTexts.emplace_back(nameIndex, texts.size() - 1);
      std::vector<std::pair<std::size_t, std::size_t>> members;
      if (value.starts_with('~')) {
        std::string_view pieces = value.substr(1);
        while (!pieces.empty()) {
          const std::size_t comma = pieces.find(',');
          const std::string_view piece = pieces.substr(0, comma);
          pieces = comma == std::string_view::npos ? std::string_view() : pieces.substr(comma + 1);
          const std::size_t equals = piece.find('=');
          texts.emplace_back(piece.substr(0, equals));
          texts.emplace_back(equals == std::string_view::npos ? std::string_view()
                                                              : piece.substr(equals + 1));
          members.emplace_back(texts.size() - 2, texts.size() - 1);
        }
      }
      argumentMembers.push_back(std::move(members));
    } else {
      texts.emplace_back(name);
      texts.emplace_back(value);
      headerTexts.emplace_back(texts.size() - 2, texts.size() - 1);
    }
  }
  const std::string contentType(NextLine(rest));
  const std::string_view body = rest;

  std::vector<NaloHeader> headers;
  headers.reserve(headerTexts.size());
  for (const auto& [name, value] : headerTexts) {
    headers.push_back({texts[name].c_str(), texts[value].c_str()});
  }
  std::vector<NaloRequestArgument> arguments;
  std::vector<std::vector<NaloHostMember>> memberRecords(argumentTexts.size());
  for (std::size_t i = 0; i < argumentTexts.size(); ++i) {
    const auto& [name, value] = argumentTexts[i];
    NaloRequestArgument argument{};
    argument.name = name == std::string::npos ? nullptr : texts[name].c_str();
    argument.value.kind = NALO_HOST_VALUE_TEXT;
    argument.value.payload.text.data = texts[value].data();
    argument.value.payload.text.length = texts[value].size();
    if (!argumentMembers[i].empty()) {
      for (const auto& [key, text] : argumentMembers[i]) {
        NaloHostMember member{};
        member.name = texts[key].c_str();
        member.value.kind = NALO_HOST_VALUE_TEXT;
        member.value.payload.text.data = texts[text].data();
        member.value.payload.text.length = texts[text].size();
        memberRecords[i].push_back(member);
      }
      argument.value = NaloHostValue{};
      argument.value.kind = NALO_HOST_VALUE_OBJECT;
      argument.value.payload.object.members = memberRecords[i].data();
      argument.value.payload.object.count = memberRecords[i].size();
    }
    arguments.push_back(argument);
  }

  NaloRequest request{};
  request.method = method;
  request.path = path.c_str();
  request.headers = headers.data();
  request.headerCount = headers.size();
  request.arguments = arguments.data();
  request.argumentCount = arguments.size();
  request.contentType = contentType.c_str();
  request.body = reinterpret_cast<const std::uint8_t*>(body.data());
  request.bodyLength = body.size();
  request.functionName = "Ping";

  const NaloRoute& route = fixture.description->Record().routes[0];
  NaloResponse response;
  route.dispatch(route.handlerData, &response, &request);
  CheckResponse(response);
  const std::uint32_t status = response.status;
  response.release(&response);
  const NaloHostValue released = response.body;
  if (response.error != nullptr || response.headers != nullptr ||
      released.kind != NALO_HOST_VALUE_NULL) {
    ReportFault("release left blocks behind", {});
  }

  std::vector<Nalo::RequestHeader> views;
  views.reserve(headers.size());
  for (const NaloHeader& header : headers) {
    views.push_back({header.name, header.value});
  }
  Nalo::RouteRequest view;
  view.method = Nalo::RequestMethodFromCode(method);
  view.path = path.c_str();  // the record entry reads up to the first NUL
  view.functionName = "Ping";
  view.headers = views;
  view.hostArguments = arguments;
  view.contentType = contentType.c_str();
  view.body = std::span<const std::uint8_t>(request.body, body.size());
  const auto direct = fixture.table.Dispatch(view);
  const std::uint32_t directStatus =
      direct.HasFailure() ? (direct.GetFailure().Code() >= 100 && direct.GetFailure().Code() <= 599
                                 ? direct.GetFailure().Code()
                                 : 500)
                          : direct.Value().status;
  if (directStatus != status) {
    ReportFault("the two entries disagree", path);
  }
  return 0;
}
