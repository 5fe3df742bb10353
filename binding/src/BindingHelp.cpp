// renderHelp: the Full records of the help model and epytext docstrings.

#include "binding/BindingHelp.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

#include "binding/BindingConvert.h"
#include "binding/BindingTypeDescriptor.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/PositionalFormat.h"

namespace Nalo {

namespace {

// Member names of the rendered structure.
constexpr std::string_view kFunctionsMember = "functions";
constexpr std::string_view kTypesMember = "types";
constexpr std::string_view kEventsMember = "events";

// Epytext pieces. Lines end in CR LF; a paragraph is followed by an empty line.
namespace Epytext {
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kParagraphEnd = "\r\n\r\n";
constexpr std::string_view kEscapedLeadingMinus = "E{-}";
constexpr std::string_view kEscapedOpenBrace = "E{lb}";
constexpr std::string_view kEscapedCloseBrace = "E{rb}";
constexpr std::string_view kBlobName = "bytearray";
constexpr std::string_view kList = "list[%1]";
constexpr std::string_view kDictionary = "dict[%1]";
constexpr std::string_view kLink = "L{%1}";
constexpr std::string_view kParameter = "@param %1: ";
constexpr std::string_view kOptional = "(optional) ";
constexpr std::string_view kType = "@type %1: %2";
constexpr std::string_view kReturnType = "@rtype: %1";
constexpr std::string_view kTags = "@tags: %1";
constexpr std::string_view kTagSeparator = ",";
constexpr std::string_view kThreadSafe = "@threadsafe: true";
constexpr std::string_view kAsync = "@async: %1";
constexpr std::string_view kInstanceVariable = "@ivar %1: %2";
constexpr std::string_view kClassVariable = "@cvar %1: (%2)";
constexpr std::string_view kSize = "@size: %1";
}  // namespace Epytext

// The element of a container identifier, when the field gives none apart.
BindingTypeIdentifier ElementOf(const BindingTypeIdentifier& container) {
  return {container.elementType, BindingTypeId::None, container.descriptor};
}

BindingFullTypeIdentifier FullIdentifier(const BindingTypeIdentifier& type) {
  BindingTypeDisplay display = DisplayType(type);
  return {std::move(display.type), std::move(display.elementType)};
}

std::string EpytextName(const BindingTypeIdentifier& type, const BindingTypeIdentifier& element) {
  switch (type.type) {
    case BindingTypeId::Blob:
      return std::string(Epytext::kBlobName);
    case BindingTypeId::Vector:
    case BindingTypeId::Map: {
      const BindingTypeIdentifier inner =
          element.type != BindingTypeId::None ? element : ElementOf(type);
      const std::string_view format =
          type.type == BindingTypeId::Vector ? Epytext::kList : Epytext::kDictionary;
      if (inner.type == BindingTypeId::None) {
        return std::string(format.substr(0, format.find('[')));
      }
      return FormatPositional(format, {EpytextName(inner, {})});
    }
    case BindingTypeId::Enum:
    case BindingTypeId::Struct:
      if (type.descriptor != nullptr) {
        return FormatPositional(Epytext::kLink, {type.descriptor->FullName()});
      }
      return std::string(BindingTypeIdName(type.type));
    default:
      return std::string(BindingTypeIdName(type.type));
  }
}

void AppendParagraph(std::string& out, std::string_view text) {
  if (!text.empty()) {
    out += EscapeEpytext(text);
    out += Epytext::kParagraphEnd;
  }
}

void AppendLine(std::string& out, std::string_view line) {
  out += line;
  out += Epytext::kLineEnd;
}

template <class Tags>
void AppendTags(std::string& out, const Tags& tags) {
  if (tags.empty()) {
    return;
  }
  std::string joined;
  for (const auto& tag : tags) {
    if (!joined.empty()) {
      joined += Epytext::kTagSeparator;
    }
    joined += tag;
  }
  AppendLine(out, FormatPositional(Epytext::kTags, {joined}));
}

std::string FunctionDocstring(const BindingFunctionInfo& function) {
  std::string out;
  AppendParagraph(out, function.description);
  AppendParagraph(out, function.help);
  for (const BindingArgumentInfo& argument : function.arguments) {
    if (!argument.description.empty()) {
      std::string line = FormatPositional(Epytext::kParameter, {argument.name});
      if (argument.optional) {
        line += Epytext::kOptional;
      }
      line += EscapeEpytext(argument.description);
      AppendLine(out, line);
    }
    AppendLine(out,
               FormatPositional(Epytext::kType, {argument.name, EpytextTypeName(argument.type)}));
  }
  const std::string returns =
      function.returns.type != BindingTypeId::None ? EpytextTypeName(function.returns) : "";
  if (!returns.empty()) {
    AppendLine(out, FormatPositional(Epytext::kReturnType, {returns}));
  }
  AppendTags(out, function.tags);
  if (function.threadSafe) {
    AppendLine(out, Epytext::kThreadSafe);
  }
  if (function.async) {
    AppendLine(out, FormatPositional(Epytext::kAsync, {returns}));
  }
  return out;
}

// Enumerators by ascending value; equal values by name.
std::vector<const BindingEnumValue*> EnumeratorsByValue(const BindingTypeDescriptor& type) {
  std::vector<const BindingEnumValue*> values;
  values.reserve(type.Enumerators().size());
  for (const auto& [name, value] : type.Enumerators()) {
    values.push_back(&value);
  }
  std::stable_sort(values.begin(), values.end(),
                   [](const BindingEnumValue* left, const BindingEnumValue* right) {
                     return left->value < right->value;
                   });
  return values;
}

std::string TypeDocstring(const BindingTypeDescriptor& type) {
  std::string out;
  AppendParagraph(out, type.Description());
  if (type.IsEnum()) {
    for (const BindingEnumValue* value : EnumeratorsByValue(type)) {
      std::string line = FormatPositional(Epytext::kClassVariable, {value->name, value->value});
      if (!value->description.empty()) {
        line += ' ';
        line += value->description;
      }
      AppendLine(out, line);
    }
    AppendTags(out, type.Tags());
    AppendLine(out, FormatPositional(Epytext::kSize, {type.Size()}));
    return out;
  }
  for (const BindingFieldDescriptor& field : type.Fields()) {
    AppendLine(out, FormatPositional(Epytext::kInstanceVariable,
                                     {field.name, EscapeEpytext(field.description)}));
    AppendLine(out, FormatPositional(Epytext::kType,
                                     {field.name, EpytextName(field.type, field.elementType)}));
  }
  AppendTags(out, type.Tags());
  return out;
}

std::string EventDocstring(const BindingEventInfo& event) {
  std::string out;
  AppendParagraph(out, event.description);
  AppendTags(out, event.tags);
  return out;
}

BindingFullFunctionHelp FullFunction(const BindingFunctionInfo& function) {
  BindingFullFunctionHelp help;
  help.name = function.name;
  help.nameSpace = function.nameSpace;
  for (const BindingArgumentInfo& argument : function.arguments) {
    help.arguments.push_back(
        {argument.name, argument.description, FullIdentifier(argument.type), argument.optional});
  }
  help.returns = FullIdentifier(function.returns);
  help.description = function.description;
  help.help = function.help;
  help.threadSafe = function.threadSafe;
  if (function.async) {
    help.async = help.returns.type;
  }
  help.tags = function.tags;
  return help;
}

BindingFullTypeHelp FullType(const BindingTypeDescriptor& type) {
  BindingFullTypeHelp help;
  help.name = type.FullName();
  help.nameSpace = type.NameSpace();
  help.size = type.Size();
  help.description = type.Description();
  help.tags.assign(type.Tags().begin(), type.Tags().end());
  for (const BindingFieldDescriptor& field : type.Fields()) {
    help.fields.push_back({field.name, field.description, field.offset, FullIdentifier(field.type),
                           (field.flags & kRequired) == 0});
  }
  if (type.IsEnum()) {
    for (const BindingEnumValue* value : EnumeratorsByValue(type)) {
      help.values.push_back({value->name, value->description, value->value});
    }
  }
  return help;
}

BindingFullEventHelp FullEvent(const BindingEventInfo& event) {
  return {event.name, event.nameSpace, FullIdentifier(event.type), event.description, event.tags};
}

template <class T, class Name>
std::vector<const T*> SortedByName(std::span<const T> items, Name name) {
  std::vector<const T*> sorted;
  sorted.reserve(items.size());
  for (const T& item : items) {
    sorted.push_back(&item);
  }
  std::stable_sort(sorted.begin(), sorted.end(), [&](const T* left, const T* right) {
    return std::string_view(name(*left)) < std::string_view(name(*right));
  });
  return sorted;
}

std::vector<const BindingTypeDescriptor*> TypesByName(
    std::span<const BindingTypeDescriptor* const> types) {
  std::vector<const BindingTypeDescriptor*> sorted(types.begin(), types.end());
  std::erase(sorted, nullptr);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const BindingTypeDescriptor* left, const BindingTypeDescriptor* right) {
                     return left->FullName() < right->FullName();
                   });
  return sorted;
}

// Appends `record` converted through the registry to the collection
// `target`; false with `result` failed when it can't be converted.
template <class Record>
bool AppendRecord(BindingResult& result, BindingProperty& target, const Record& record,
                  const BindingTypeRegistry& registry) {
  BindingResult converted = ToProperty(record, registry);
  if (converted.Failed()) {
    result = std::move(converted);
    return false;
  }
  target.at(target.size()).assign(converted.Value());
  return true;
}

}  // namespace

std::string EscapeEpytext(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '-' && i == 0) {
      out += Epytext::kEscapedLeadingMinus;
    } else if (c == '{') {
      out += Epytext::kEscapedOpenBrace;
    } else if (c == '}') {
      out += Epytext::kEscapedCloseBrace;
    } else {
      out += c;
    }
  }
  return out;
}

std::string EpytextTypeName(const BindingTypeIdentifier& type) {
  return EpytextName(type, {});
}

BindingResult renderHelp(std::span<const BindingFunctionInfo> functions,
                         std::span<const BindingTypeDescriptor* const> types,
                         std::span<const BindingEventInfo> events, BindingHelpFormat format,
                         const BindingTypeRegistry& registry) {
  const auto sortedFunctions = SortedByName(
      functions, [](const BindingFunctionInfo& f) -> const std::string& { return f.name; });
  const auto sortedTypes = TypesByName(types);
  const auto sortedEvents =
      SortedByName(events, [](const BindingEventInfo& e) -> const std::string& { return e.name; });

  BindingResult result;
  BindingProperty& root = result.Value();
  BindingProperty& functionsOut = root.member(kFunctionsMember);
  BindingProperty& typesOut = root.member(kTypesMember);
  BindingProperty& eventsOut = root.member(kEventsMember);

  if (format == BindingHelpFormat::Epytext) {
    functionsOut.MakeStructure();
    typesOut.MakeStructure();
    eventsOut.MakeStructure();
    for (const BindingFunctionInfo* function : sortedFunctions) {
      functionsOut.member(function->name).SetString(std::string_view(FunctionDocstring(*function)));
    }
    for (const BindingTypeDescriptor* type : sortedTypes) {
      typesOut.member(type->FullName()).SetString(std::string_view(TypeDocstring(*type)));
    }
    for (const BindingEventInfo* event : sortedEvents) {
      eventsOut.member(event->name).SetString(std::string_view(EventDocstring(*event)));
    }
    return result;
  }

  functionsOut.MakeCollection();
  typesOut.MakeCollection();
  eventsOut.MakeCollection();
  for (const BindingFunctionInfo* function : sortedFunctions) {
    if (!AppendRecord(result, functionsOut, FullFunction(*function), registry)) {
      return result;
    }
  }
  for (const BindingTypeDescriptor* type : sortedTypes) {
    if (!AppendRecord(result, typesOut, FullType(*type), registry)) {
      return result;
    }
  }
  for (const BindingEventInfo* event : sortedEvents) {
    if (!AppendRecord(result, eventsOut, FullEvent(*event), registry)) {
      return result;
    }
  }
  return result;
}

}  // namespace Nalo
