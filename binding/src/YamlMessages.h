#pragma once
// Every message ParseYaml can report. Private to the YAML reader.
//
// Placeholders are positional (FormatPositional). Lines and columns in the
// builder's own messages count from 1 (an event's start mark plus 1); in the
// parser-error message they are libyaml's problem mark, counted from 0.

#include <string_view>

namespace Nalo::detail {

inline constexpr std::string_view kYamlMultiDocumentMessage =
    "Multi-document YAML is not supported.";
inline constexpr std::string_view kYamlInvalidKeyMessage =
    "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2";
inline constexpr std::string_view kYamlSequenceAsKeyMessage =
    "Unexpected start of sequence. At line: %1 col: %2";
inline constexpr std::string_view kYamlMappingAsKeyMessage =
    "Unexpected start of mapping. At line: %1 col: %2";
// %1: the anchor or alias name.
inline constexpr std::string_view kYamlDuplicateAnchorMessage =
    "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3";
inline constexpr std::string_view kYamlCyclicAliasMessage =
    "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";
inline constexpr std::string_view kYamlUndefinedAliasMessage =
    "Undefined alias encountered: \"%1\". At line: %2 col: %3";
// %1: libyaml's problem text.
inline constexpr std::string_view kYamlParserErrorMessage =
    "YAML parser error: %1. At line: %2 col: %3";
// %1: the tag as libyaml reports it (shorthands such as !!int arrive expanded).
inline constexpr std::string_view kYamlUnsupportedTagMessage = "Unsupported YAML tag '%1'.";
// %1: the scalar's text.
inline constexpr std::string_view kYamlNotABoolMessage =
    "Value \"%1\" tagged as bool is not a bool word. At line: %2 col: %3";

// Limits (%1: the limit).
inline constexpr std::string_view kYamlNestingTooDeepMessage =
    "Nesting deeper than %1 levels is not supported. At line: %2 col: %3";
inline constexpr std::string_view kYamlSequenceTooLongMessage =
    "Sequences longer than %1 elements are not supported. At line: %2 col: %3";
inline constexpr std::string_view kYamlAliasExpansionMessage =
    "Aliases expand to more than %1 values. At line: %2 col: %3";
inline constexpr std::string_view kYamlAliasBytesMessage =
    "Aliases expand to more than %1 bytes of text. At line: %2 col: %3";

// Tagged numbers (%1: the text, %2: kYamlFieldName, %3: one of the type
// names below). The texts read like the type registry's, but the reader names
// the C++ types ("int64_t") where the registry names its own ("int64"), so
// it keeps them here and shares only the reading (NumberText.h).
inline constexpr std::string_view kYamlIncorrectFormatMessage =
    "Value %1 for '%2' of type %3 is in an incorrect format";
inline constexpr std::string_view kYamlOutOfRangeMessage =
    "Value %1 for '%2' of type %3 is out of range";
inline constexpr std::string_view kYamlFieldName = "yaml";
inline constexpr std::string_view kYamlSignedTypeName = "int64_t";
inline constexpr std::string_view kYamlUnsignedTypeName = "uint64_t";
inline constexpr std::string_view kYamlFloatTypeName = "double";

}  // namespace Nalo::detail
