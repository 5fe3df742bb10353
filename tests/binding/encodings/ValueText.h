#pragma once
// A compact, kind-revealing text of a BindingProperty for test tables:
//   ~ empty, true/false, s-7 signed, u42 unsigned, f3.5 float,
//   "text" string (bytes outside printable ASCII as \xHH), b'00ff' blob,
//   e3 enum, [a, b] collection, {key: value, ...} structure (members in
//   byte order).

#include <cstdio>
#include <string>

#include "binding/BindingProperty.h"
#include "binding/PositionalFormat.h"

namespace Nalo {

inline void AppendValueText(const BindingProperty& value, std::string& text) {
  char hex[8];
  switch (value.Kind()) {
    case BindingKind::Empty:
      text += '~';
      return;
    case BindingKind::Bool:
      text += value.BoolValue() ? "true" : "false";
      return;
    case BindingKind::Signed:
      text += 's' + std::to_string(value.GetSigned(0));
      return;
    case BindingKind::Unsigned:
      text += 'u' + std::to_string(value.GetUnsigned(0));
      return;
    case BindingKind::Float:
      text += 'f' + FloatingText(value.GetFloat(0));
      return;
    case BindingKind::String:
      text += '"';
      for (const char c : value.StringValue()) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
          text += c;
        } else {
          std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
          text += hex;
        }
      }
      text += '"';
      return;
    case BindingKind::Blob:
      text += "b'";
      for (const std::uint8_t byte : value.BlobValue()) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text += hex;
      }
      text += '\'';
      return;
    case BindingKind::Enum:
      text += 'e' + std::to_string(value.EnumValue());
      return;
    case BindingKind::Collection: {
      text += '[';
      const char* separator = "";
      for (const BindingProperty& element : value.Elements()) {
        text += separator;
        AppendValueText(element, text);
        separator = ", ";
      }
      text += ']';
      return;
    }
    case BindingKind::Structure: {
      text += '{';
      const char* separator = "";
      for (const auto member : value.Members()) {
        text += separator;
        text += member.name;
        text += ": ";
        AppendValueText(member.value, text);
        separator = ", ";
      }
      text += '}';
      return;
    }
  }
}

inline std::string ValueText(const BindingProperty& value) {
  std::string text;
  AppendValueText(value, text);
  return text;
}

}  // namespace Nalo
