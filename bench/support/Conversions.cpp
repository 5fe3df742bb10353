#include "bench/support/Conversions.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <utility>

#include "bench/support/BenchmarkData.h"
#include "binding/BindingResult.h"
#include "binding/MessagePack.h"
#include "binding/Yaml.h"

namespace Nalo::Bench {
namespace {

class MessagePackWriter {
 public:
  std::string Write(const rapidjson::Value& root) {
    mBytes.clear();
    Value(root);
    return std::move(mBytes);
  }

 private:
  void Byte(std::uint8_t byte) { mBytes.push_back(static_cast<char>(byte)); }

  template <class T>
  void BigEndian(T value) {
    for (std::size_t shift = sizeof(T) * 8; shift != 0; shift -= 8) {
      Byte(static_cast<std::uint8_t>(value >> (shift - 8)));
    }
  }

  // A header for `count` items or bytes: the fix form when it fits `fixLimit`,
  // else the 8- (when `type8` is non-zero), 16- or 32-bit form.
  void Header(std::size_t count, std::uint8_t fixBase, std::size_t fixLimit, std::uint8_t type8,
              std::uint8_t type16, std::uint8_t type32) {
    if (count < fixLimit) {
      Byte(static_cast<std::uint8_t>(fixBase | count));
    } else if (type8 != 0 && count <= 0xFF) {
      Byte(type8);
      Byte(static_cast<std::uint8_t>(count));
    } else if (count <= 0xFFFF) {
      Byte(type16);
      BigEndian(static_cast<std::uint16_t>(count));
    } else {
      Byte(type32);
      BigEndian(static_cast<std::uint32_t>(count));
    }
  }

  void String(const char* text, std::size_t length) {
    Header(length, 0xA0, 32, 0xD9, 0xDA, 0xDB);
    mBytes.append(text, length);
  }

  void Unsigned(std::uint64_t value) {
    if (value <= 0x7F) {
      Byte(static_cast<std::uint8_t>(value));
    } else if (value <= 0xFF) {
      Byte(0xCC);
      Byte(static_cast<std::uint8_t>(value));
    } else if (value <= 0xFFFF) {
      Byte(0xCD);
      BigEndian(static_cast<std::uint16_t>(value));
    } else if (value <= 0xFFFFFFFF) {
      Byte(0xCE);
      BigEndian(static_cast<std::uint32_t>(value));
    } else {
      Byte(0xCF);
      BigEndian(value);
    }
  }

  void Signed(std::int64_t value) {
    if (value >= -32) {
      Byte(static_cast<std::uint8_t>(value));
    } else if (value >= INT8_MIN) {
      Byte(0xD0);
      Byte(static_cast<std::uint8_t>(value));
    } else if (value >= INT16_MIN) {
      Byte(0xD1);
      BigEndian(static_cast<std::uint16_t>(value));
    } else if (value >= INT32_MIN) {
      Byte(0xD2);
      BigEndian(static_cast<std::uint32_t>(value));
    } else {
      Byte(0xD3);
      BigEndian(static_cast<std::uint64_t>(value));
    }
  }

  void Value(const rapidjson::Value& value) {
    if (value.IsNull()) {
      Byte(0xC0);
    } else if (value.IsBool()) {
      Byte(value.GetBool() ? 0xC3 : 0xC2);
    } else if (value.IsUint64()) {
      Unsigned(value.GetUint64());
    } else if (value.IsInt64()) {
      Signed(value.GetInt64());
    } else if (value.IsDouble()) {
      std::uint64_t bits = 0;
      const double number = value.GetDouble();
      std::memcpy(&bits, &number, sizeof bits);
      Byte(0xCB);
      BigEndian(bits);
    } else if (value.IsString()) {
      String(value.GetString(), value.GetStringLength());
    } else if (value.IsArray()) {
      Header(value.Size(), 0x90, 16, 0, 0xDC, 0xDD);
      for (const rapidjson::Value& element : value.GetArray()) {
        Value(element);
      }
    } else {
      Header(value.MemberCount(), 0x80, 16, 0, 0xDE, 0xDF);
      for (const auto& member : value.GetObject()) {
        String(member.name.GetString(), member.name.GetStringLength());
        Value(member.value);
      }
    }
  }

  std::string mBytes;
};

class YamlWriter {
 public:
  std::string Write(const rapidjson::Value& root) {
    mText.clear();
    if (IsNonEmptyContainer(root)) {
      Block(root, 0);
    } else {
      Scalar(root);
      mText += '\n';
    }
    return std::move(mText);
  }

 private:
  static bool IsNonEmptyContainer(const rapidjson::Value& value) {
    return (value.IsObject() && value.MemberCount() != 0) || (value.IsArray() && !value.Empty());
  }

  void Block(const rapidjson::Value& value, std::size_t indent) {
    if (value.IsObject()) {
      for (const auto& member : value.GetObject()) {
        mText.append(indent, ' ');
        Quoted(std::string_view(member.name.GetString(), member.name.GetStringLength()));
        mText += ':';
        Child(member.value, indent);
      }
      return;
    }
    for (const rapidjson::Value& element : value.GetArray()) {
      mText.append(indent, ' ');
      mText += '-';
      Child(element, indent);
    }
  }

  void Child(const rapidjson::Value& value, std::size_t indent) {
    if (IsNonEmptyContainer(value)) {
      mText += '\n';
      Block(value, indent + 2);
      return;
    }
    mText += ' ';
    Scalar(value);
    mText += '\n';
  }

  void Scalar(const rapidjson::Value& value) {
    char number[32];
    if (value.IsNull()) {
      mText += "null";
    } else if (value.IsBool()) {
      mText += value.GetBool() ? "true" : "false";
    } else if (value.IsInt64()) {
      std::snprintf(number, sizeof number, "%lld", static_cast<long long>(value.GetInt64()));
      mText += number;
    } else if (value.IsUint64()) {
      std::snprintf(number, sizeof number, "%llu",
                    static_cast<unsigned long long>(value.GetUint64()));
      mText += number;
    } else if (value.IsDouble()) {
      std::snprintf(number, sizeof number, "%.17g", value.GetDouble());
      mText += number;
    } else if (value.IsString()) {
      Quoted(std::string_view(value.GetString(), value.GetStringLength()));
    } else {
      mText += value.IsObject() ? "{}" : "[]";
    }
  }

  // A double-quoted scalar. Control characters are escaped; everything else,
  // UTF-8 included, is written as it is.
  void Quoted(std::string_view text) {
    mText += '"';
    for (const char c : text) {
      switch (c) {
        case '"':
          mText += "\\\"";
          break;
        case '\\':
          mText += "\\\\";
          break;
        case '\n':
          mText += "\\n";
          break;
        case '\t':
          mText += "\\t";
          break;
        default:
          if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
            mText += escape;
          } else {
            mText += c;
          }
      }
    }
    mText += '"';
  }

  std::string mText;
};

using Converter = std::string (*)(const rapidjson::Value& root);
using Check = void (*)(std::string_view fileName, const std::string& converted);

// Converts each file once per process, on first use, and checks the result.
const std::string& ConvertedDataFile(std::map<std::string, std::string, std::less<>>& converted,
                                     std::string_view fileName, Converter convert, Check check) {
  if (const auto found = converted.find(fileName); found != converted.end()) {
    return found->second;
  }
  rapidjson::Document document;
  ParseDataFile(fileName, document);
  std::string text = convert(document);
  check(fileName, text);
  return converted.emplace(fileName, std::move(text)).first->second;
}

std::string DataFilePath(std::string_view fileName) {
  return std::string(NALO_BENCH_DATA_DIR) + "/" + std::string(fileName);
}

// Every reader must take the whole encoding, or its timing means nothing.
void CheckMessagePack(std::string_view fileName, const std::string& bytes) {
  const MessagePackParse check = ParseMessagePack(bytes);
  if (check.result.Failed() || check.end != bytes.size()) {
    Abort(DataFilePath(fileName) + " as MessagePack: " + std::string(check.result.ErrorMessage()) +
          " (read " + std::to_string(check.end) + " of " + std::to_string(bytes.size()) +
          " bytes)");
  }
}

void CheckYaml(std::string_view fileName, const std::string& text) {
  const BindingResult check = ParseYaml(text);
  if (check.Failed()) {
    Abort(DataFilePath(fileName) + " as YAML: " + std::string(check.ErrorMessage()));
  }
}

}  // namespace

std::string MessagePackFromJson(const rapidjson::Value& root) {
  return MessagePackWriter().Write(root);
}

std::string YamlFromJson(const rapidjson::Value& root) {
  return YamlWriter().Write(root);
}

const std::string& MessagePackDataFile(std::string_view fileName) {
  static std::map<std::string, std::string, std::less<>> converted;
  return ConvertedDataFile(converted, fileName, MessagePackFromJson, CheckMessagePack);
}

const std::string& YamlDataFile(std::string_view fileName) {
  static std::map<std::string, std::string, std::less<>> converted;
  return ConvertedDataFile(converted, fileName, YamlFromJson, CheckYaml);
}

}  // namespace Nalo::Bench
