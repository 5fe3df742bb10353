// The SDK's built-in types: asynchronous operation states and events, and the
// help model. Each is one table; the tags say which family it belongs to.

#include <initializer_list>
#include <string_view>

#include "binding/BindingHelp.h"
#include "binding/BindingRegistration.h"

namespace Nalo {

namespace {

// Built-in types have no name space prefix: their full name is their name.
constexpr std::string_view kBuiltinNameSpace = "";
constexpr std::string_view kBuiltinTag = "$builtin";
constexpr std::string_view kAsyncTag = "async";
constexpr std::string_view kHelpTag = "help";

constexpr std::string_view kCallbackEventName = "OnCallback";
constexpr std::string_view kCallbackEventNameSpace = "$builtin";
constexpr std::string_view kCallbackEventDescription = "Fired when a callback is invoked.";

void RegisterAsyncTypes(BindingTypeRegistry& registry) {
  const std::initializer_list<std::string_view> tags = {kBuiltinTag, kAsyncTag};
  // clang-format off
  RegisterEnum<BindingAsyncState>(registry, kBuiltinNameSpace, "BindingAsyncState",
      "Possible states of an asynchronous operation.", {
      {"None",       BindingAsyncState::None,       "Invalid state"},
      {"Running",    BindingAsyncState::Running,    "The operation is in flight"},
      {"Cancelling", BindingAsyncState::Cancelling, "A request to cancel the operation has been made"},
      {"Cancelled",  BindingAsyncState::Cancelled,  "The operation was cancelled"},
      {"Succeeded",  BindingAsyncState::Succeeded,  "The operation completed successfully"},
      {"Failed",     BindingAsyncState::Failed,     "The operation encountered an error"},
  }, tags);
  RegisterStruct<BindingGenericEvent>(registry, kBuiltinNameSpace, "BindingGenericEvent",
      "Represents generic data for an event.", {
      Field("data", &BindingGenericEvent::data, "Event data"),
  }, tags);
  RegisterStruct<BindingCallbackEvent>(registry, kBuiltinNameSpace, "BindingCallbackEvent",
      "Represents the parameters of a call to a provided callback.", {
      Field("id",         &BindingCallbackEvent::id,         "ID of the callback being invoked"),
      Field("parameters", &BindingCallbackEvent::parameters, "Callback parameters"),
  }, tags);
  RegisterStruct<BindingGenericAsyncEvent>(registry, kBuiltinNameSpace, "BindingGenericAsyncEvent",
      "Represents generic data for an asynchronous event.", {
      Field("asyncToken", &BindingGenericAsyncEvent::asyncToken, "Asynchronous operation token"),
      Field("data",       &BindingGenericAsyncEvent::data,       "Event data"),
  }, tags);
  RegisterStruct<BindingAsyncFailureEvent>(registry, kBuiltinNameSpace, "BindingAsyncFailureEvent",
      "Represents a failed asynchronous operation.", {
      Field("asyncToken", &BindingAsyncFailureEvent::asyncToken),
      Field("error",      &BindingAsyncFailureEvent::error, "Error message"),
  }, tags);
  RegisterStruct<BindingAsyncCancelEvent>(registry, kBuiltinNameSpace, "BindingAsyncCancelEvent",
      "Represents a cancelled asynchronous operation.", {
      Field("asyncToken", &BindingAsyncCancelEvent::asyncToken),
  }, tags);
  // clang-format on
}

void RegisterHelpTypes(BindingTypeRegistry& registry) {
  const std::initializer_list<std::string_view> tags = {kBuiltinTag, kHelpTag};
  // clang-format off
  RegisterEnum<BindingHelpFormat>(registry, kBuiltinNameSpace, "BindingHelpFormat",
      "Help format for binding functions and types.", {
      {"Full",    BindingHelpFormat::Full,    "Native help format"},
      {"Epytext", BindingHelpFormat::Epytext, "Python epytext format"},
  }, tags);
  RegisterStruct<BindingFullTypeIdentifier>(registry, kBuiltinNameSpace,
      "BindingFullTypeIdentifier", "Describes the type of a value.", {
      Field("type",        &BindingFullTypeIdentifier::type),
      Field("elementType", &BindingFullTypeIdentifier::elementType),
  }, tags);
  RegisterStruct<BindingFullArgumentHelp>(registry, kBuiltinNameSpace, "BindingFullArgumentHelp",
      "Describes a function parameter.", {
      Field("name",        &BindingFullArgumentHelp::name),
      Field("description", &BindingFullArgumentHelp::description),
      Field("type",        &BindingFullArgumentHelp::type),
      Field("optional",    &BindingFullArgumentHelp::optional),
  }, tags);
  RegisterStruct<BindingFullFunctionHelp>(registry, kBuiltinNameSpace, "BindingFullFunctionHelp",
      "Describes a function.", {
      Field("name",        &BindingFullFunctionHelp::name),
      Field("nameSpace",   &BindingFullFunctionHelp::nameSpace),
      Field("arguments",   &BindingFullFunctionHelp::arguments),
      Field("returns",     &BindingFullFunctionHelp::returns),
      Field("description", &BindingFullFunctionHelp::description),
      Field("help",        &BindingFullFunctionHelp::help),
      Field("threadSafe",  &BindingFullFunctionHelp::threadSafe),
      Field("async",       &BindingFullFunctionHelp::async),
      Field("tags",        &BindingFullFunctionHelp::tags),
  }, tags);
  RegisterStruct<BindingFullEnumValueHelp>(registry, kBuiltinNameSpace, "BindingFullEnumValueHelp",
      "Describes an enumerator.", {
      Field("name",        &BindingFullEnumValueHelp::name),
      Field("description", &BindingFullEnumValueHelp::description),
      Field("value",       &BindingFullEnumValueHelp::value),
  }, tags);
  RegisterStruct<BindingFullFieldHelp>(registry, kBuiltinNameSpace, "BindingFullFieldHelp",
      "Describes a member of a struct.", {
      Field("name",        &BindingFullFieldHelp::name),
      Field("description", &BindingFullFieldHelp::description),
      Field("offset",      &BindingFullFieldHelp::offset),
      Field("type",        &BindingFullFieldHelp::type),
      Field("optional",    &BindingFullFieldHelp::optional),
  }, tags);
  RegisterStruct<BindingFullTypeHelp>(registry, kBuiltinNameSpace, "BindingFullTypeHelp",
      "Describes a struct or enum type.", {
      Field("name",        &BindingFullTypeHelp::name),
      Field("nameSpace",   &BindingFullTypeHelp::nameSpace),
      Field("size",        &BindingFullTypeHelp::size),
      Field("description", &BindingFullTypeHelp::description),
      Field("tags",        &BindingFullTypeHelp::tags),
      Field("fields",      &BindingFullTypeHelp::fields),
      Field("values",      &BindingFullTypeHelp::values),
  }, tags);
  RegisterStruct<BindingFullEventHelp>(registry, kBuiltinNameSpace, "BindingFullEventHelp",
      "Describes an event.", {
      Field("name",        &BindingFullEventHelp::name),
      Field("nameSpace",   &BindingFullEventHelp::nameSpace),
      Field("type",        &BindingFullEventHelp::type),
      Field("description", &BindingFullEventHelp::description),
      Field("tags",        &BindingFullEventHelp::tags),
  }, tags);
  RegisterStruct<BindingFullApiHelp>(registry, kBuiltinNameSpace, "BindingFullApiHelp",
      "Describes the exposed native API.", {
      Field("functions", &BindingFullApiHelp::functions),
      Field("types",     &BindingFullApiHelp::types),
      Field("events",    &BindingFullApiHelp::events),
  }, tags);
  // clang-format on
}

}  // namespace

void RegisterBuiltinTypes(BindingTypeRegistry& registry) {
  RegisterAsyncTypes(registry);
  RegisterHelpTypes(registry);
}

std::vector<BindingEventInfo> BuiltinEvents(const BindingTypeRegistry& registry) {
  BindingEventInfo callback;
  callback.name = kCallbackEventName;
  callback.nameSpace = kCallbackEventNameSpace;
  callback.type = {BindingTypeId::Struct, BindingTypeId::None,
                   DescriptorOf<BindingCallbackEvent>(registry)};
  callback.description = kCallbackEventDescription;
  return {callback};
}

}  // namespace Nalo
