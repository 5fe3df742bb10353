#pragma once
// Help output: how the exposed API describes itself, and the SDK's built-in
// types.
//
// The built-in types are registered once, at start-up, by
// RegisterBuiltinTypes: the states and events of asynchronous operations and
// callbacks (tag "async"), and the help model (tag "help"), all tagged
// "$builtin". renderHelp then turns lists of functions, types and events into
// a structure {"functions", "types", "events"}, either as records of the
// help model (Full) or as epytext docstrings keyed by name (Epytext).
//
//   Nalo::RegisterBuiltinTypes(registry);
//   Nalo::BindingResult help = Nalo::renderHelp(functions, registry.Descriptors(),
//                                               Nalo::BuiltinEvents(),
//                                               Nalo::BindingHelpFormat::Epytext, registry);
//   help.Value().Find("types")->Find("BindingHelpFormat")->StringValue()
//     // "Help format for binding functions and types.\r\n\r\n@cvar Full: (1) ..."

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"
#include "binding/BindingTypeIdentifier.h"

namespace Nalo {

class BindingTypeDescriptor;
class BindingTypeRegistry;

// --- Built-in types. ----------------------------------------------------------

enum class BindingAsyncState : std::int32_t {
  None = 0,
  Running = 1,
  Cancelling = 2,
  Cancelled = 3,
  Succeeded = 4,
  Failed = 5,
};

struct BindingGenericEvent {
  BindingProperty data;
};

struct BindingCallbackEvent {
  std::uint32_t id = 0;
  std::vector<BindingProperty> parameters;
};

struct BindingGenericAsyncEvent {
  std::uint32_t asyncToken = 0;
  BindingProperty data;
};

struct BindingAsyncFailureEvent {
  std::uint32_t asyncToken = 0;
  std::string error;
};

struct BindingAsyncCancelEvent {
  std::uint32_t asyncToken = 0;
};

enum class BindingHelpFormat : std::int32_t {
  Full = 1,
  Epytext = 2,
};

// The help model: what Full help is made of.

struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};

struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;  // the return type of an asynchronous function, else empty
  std::vector<std::string> tags;
};

struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  std::int32_t value = 0;
};

struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  std::uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;  // not flagged required
};

struct BindingFullTypeHelp {
  std::string name;  // the registered full name
  std::string nameSpace;
  std::uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;      // structures only
  std::vector<BindingFullEnumValueHelp> values;  // enumerations only, by ascending value
};

struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};

struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};

// Registers every built-in type above in `registry`, with its description,
// field descriptions and tags. Repeating it changes nothing.
void RegisterBuiltinTypes(BindingTypeRegistry& registry);

// --- What renderHelp describes. -------------------------------------------------

struct BindingArgumentInfo {
  std::string name;
  std::string description;
  BindingTypeIdentifier type;
  bool optional = false;
};

// A callable function of the API (the router's bound functions).
struct BindingFunctionInfo {
  std::string name;
  std::string nameSpace;
  std::vector<BindingArgumentInfo> arguments;
  BindingTypeIdentifier returns;  // type None: returns nothing
  std::string description;
  std::string help;
  bool threadSafe = false;
  bool async = false;
  std::vector<std::string> tags;
};

// An event the API fires.
struct BindingEventInfo {
  std::string name;
  std::string nameSpace;
  BindingTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};

// The built-in events: "OnCallback" in the name space "$builtin", whose
// payload is a BindingCallbackEvent as `registry` knows it.
[[nodiscard]] std::vector<BindingEventInfo> BuiltinEvents(const BindingTypeRegistry& registry);

// The structure {"functions", "types", "events"} describing the three lists,
// each sorted by name (byte order; types by full name). Full: each member is
// a collection of help-model records, converted through `registry`, which
// must know the built-in types (else the conversion's failure is returned).
// Epytext: each member is a structure from name to docstring. Any other
// format is treated as Full.
[[nodiscard]] BindingResult renderHelp(std::span<const BindingFunctionInfo> functions,
                                       std::span<const BindingTypeDescriptor* const> types,
                                       std::span<const BindingEventInfo> events,
                                       BindingHelpFormat format,
                                       const BindingTypeRegistry& registry);

// Epytext form of free text: a leading "-" becomes "E{-}", "{" "E{lb}" and
// "}" "E{rb}".
[[nodiscard]] std::string EscapeEpytext(std::string_view text);

// Epytext name of a type: scalar names as they are, a blob "bytearray",
// "list[...]" and "dict[...]" around the element's name, and "L{<full
// name>}" for a registered enum or struct.
[[nodiscard]] std::string EpytextTypeName(const BindingTypeIdentifier& type);

}  // namespace Nalo
