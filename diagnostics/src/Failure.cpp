#include "diagnostics/Failure.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "diagnostics/JsonAllocator.h"
#include "diagnostics/Log.h"
#include "diagnostics/SystemError.h"

namespace Nalo {
namespace {

constexpr char kPlaceholderOpen = '{';
constexpr char kPlaceholderClose = '}';
constexpr char kOptionSeparator = ':';
constexpr std::string_view kTextOption = "str";
constexpr std::string_view kHexOption = "x";
// Type suffixes a placeholder may leave out when naming its argument.
constexpr std::string_view kTypeSuffixes[] = {"_bool", "_int", "_long", "_float", "_str", "_time"};
constexpr std::string_view kTrueText = "true";
constexpr std::string_view kFalseText = "false";

constexpr std::string_view kMessageMember = "message";
constexpr std::string_view kSystemErrorSeparator = ": ";
// A failure with a code prints as "<message> (<code>)".
constexpr std::string_view kCodeOpen = " (";
constexpr std::string_view kCodeClose = ")";
// A located failure reads "<function>: <file>(<line>): <message>".
constexpr std::string_view kLocatedFunctionEnd = ": ";
constexpr std::string_view kLocatedLineOpen = "(";
constexpr std::string_view kLocatedLineClose = "): ";

enum class PlaceholderOption { None, Text, Hex };

PlaceholderOption ParseOption(std::string_view option) {
  if (option == kTextOption) {
    return PlaceholderOption::Text;
  }
  if (option == kHexOption) {
    return PlaceholderOption::Hex;
  }
  return PlaceholderOption::None;
}

// Renders one argument value for a placeholder; every option of a non-text
// value without "x" is the "str" conversion.
void AppendValue(std::string& out, const FieldValue& value, PlaceholderOption option) {
  char number[32];
  auto appendNumber = [&](int length) {
    if (length > 0) {
      out.append(number, std::min(static_cast<std::size_t>(length), sizeof number - 1));
    }
  };
  auto appendHex = [&](std::uint64_t bits) {
    appendNumber(std::snprintf(number, sizeof number, "%016" PRIX64, bits));
  };
  std::visit(
      [&](const auto& alternative) {
        using Alternative = std::decay_t<decltype(alternative)>;
        if constexpr (std::is_same_v<Alternative, std::string>) {
          out.append(alternative);
        } else if constexpr (std::is_same_v<Alternative, bool>) {
          if (option == PlaceholderOption::Hex) {
            appendHex(alternative ? 1 : 0);
          } else {
            out.append(alternative ? kTrueText : kFalseText);
          }
        } else if constexpr (std::is_same_v<Alternative, double>) {
          appendNumber(std::snprintf(number, sizeof number, "%f", alternative));
        } else if (option == PlaceholderOption::Hex) {
          appendHex(static_cast<std::uint64_t>(alternative));
        } else if constexpr (std::is_same_v<Alternative, std::int64_t>) {
          appendNumber(std::snprintf(number, sizeof number, "%" PRId64, alternative));
        } else {
          appendNumber(std::snprintf(number, sizeof number, "%" PRIu64, alternative));
        }
      },
      value.Get());
}

const FieldValue* FindArgument(const Failure::Fields& fields, std::string_view name) {
  if (const auto exact = fields.find(name); exact != fields.end()) {
    return &exact->second;
  }
  for (const std::string_view suffix : kTypeSuffixes) {
    std::string suffixed(name);
    suffixed.append(suffix);
    if (const auto found = fields.find(suffixed); found != fields.end()) {
      return &found->second;
    }
  }
  return nullptr;
}

std::string FillTemplate(std::string_view messageTemplate, const Failure::Fields& fields) {
  std::string out;
  out.reserve(messageTemplate.size());
  std::size_t position = 0;
  while (position < messageTemplate.size()) {
    const std::size_t open = messageTemplate.find(kPlaceholderOpen, position);
    if (open == std::string_view::npos) {
      break;
    }
    out.append(messageTemplate.substr(position, open - position));
    const std::size_t close = messageTemplate.find(kPlaceholderClose, open + 1);
    const std::size_t nextOpen = messageTemplate.find(kPlaceholderOpen, open + 1);
    if (close == std::string_view::npos ||
        (nextOpen != std::string_view::npos && nextOpen < close)) {
      // Not a placeholder: keep the brace and look again after it.
      out.push_back(kPlaceholderOpen);
      position = open + 1;
      continue;
    }
    const std::string_view inside = messageTemplate.substr(open + 1, close - open - 1);
    const std::size_t separator = inside.find(kOptionSeparator);
    const std::string_view name = inside.substr(0, separator);
    const std::string_view option =
        separator == std::string_view::npos ? std::string_view() : inside.substr(separator + 1);
    const FieldValue* value = name.empty() ? nullptr : FindArgument(fields, name);
    if (value == nullptr) {
      out.append(messageTemplate.substr(open, close - open + 1));
    } else {
      AppendValue(out, *value, ParseOption(option));
    }
    position = close + 1;
  }
  if (position < messageTemplate.size()) {
    out.append(messageTemplate.substr(position));
  }
  return out;
}

Failure::Fields CollectFields(std::initializer_list<FailureArgument> arguments) {
  Failure::Fields fields;
  for (const FailureArgument& argument : arguments) {
    fields.insert_or_assign(std::string(argument.name), argument.value);
  }
  return fields;
}

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

bool WriteJsonValue(JsonWriter& writer, const FieldValue& value) {
  return std::visit(
      [&writer](const auto& alternative) {
        using Alternative = std::decay_t<decltype(alternative)>;
        if constexpr (std::is_same_v<Alternative, bool>) {
          return writer.Bool(alternative);
        } else if constexpr (std::is_same_v<Alternative, std::int64_t>) {
          return writer.Int64(alternative);
        } else if constexpr (std::is_same_v<Alternative, std::uint64_t>) {
          return writer.Uint64(alternative);
        } else if constexpr (std::is_same_v<Alternative, double>) {
          // JSON has no spelling for NaN and the infinities.
          return std::isfinite(alternative) ? writer.Double(alternative) : writer.Null();
        } else {
          return writer.String(alternative.data(),
                               static_cast<rapidjson::SizeType>(alternative.size()));
        }
      },
      value.Get());
}

bool WriteJsonString(JsonWriter& writer, std::string_view text) {
  return writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

// Returns false when the writer refused a call; every value written here is
// valid JSON, so that means a bug in this function.
bool WriteJson(rapidjson::StringBuffer& buffer, std::string_view message,
               const Failure::Fields& fields) {
  JsonWriter writer(buffer);
  bool written = writer.StartObject() && WriteJsonString(writer, kMessageMember) &&
                 WriteJsonString(writer, message);
  for (const auto& [name, value] : fields) {
    written = written && WriteJsonString(writer, name) && WriteJsonValue(writer, value);
  }
  return written && writer.EndObject();
}

std::string_view FileNameOf(std::string_view path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace

Failure::Failure(std::uint32_t code, std::string_view messageTemplate,
                 std::initializer_list<FailureArgument> arguments)
    : mCode(code), mFields(CollectFields(arguments)) {
  mMessage = FillTemplate(messageTemplate, mFields);
}

Failure::Failure(std::string_view messageTemplate, std::initializer_list<FailureArgument> arguments)
    : Failure(0, messageTemplate, arguments) {}

Failure::Failure(const Failure&) = default;
Failure::Failure(Failure&&) noexcept = default;
Failure& Failure::operator=(const Failure&) = default;
Failure& Failure::operator=(Failure&&) noexcept = default;
Failure::~Failure() = default;

Failure Failure::FromSystemError(std::uint32_t code, std::string_view context) {
  std::string message(context);
  if (!context.empty()) {
    message.append(kSystemErrorSeparator);
  }
  message.append(SystemErrorText(code));
  Failure failure(code);
  failure.mMessage = std::move(message);
  return failure;
}

Failure Failure::FromLastSystemError(std::string_view context) {
  const std::uint32_t code = LastSystemError();
  return FromSystemError(code, context);
}

Failure Failure::Located(std::string_view function, std::string_view file, std::int32_t line,
                         std::string_view message) {
  std::string text(function);
  text.append(kLocatedFunctionEnd).append(FileNameOf(file)).append(kLocatedLineOpen);
  text.append(std::to_string(line)).append(kLocatedLineClose).append(message);
  Log(LogLevel::Error, kLogGroupDebug, "%s", text.c_str());
  Failure failure;
  failure.mMessage = std::move(text);
  return failure;
}

std::string_view Failure::Message() const noexcept {
  return mMessage ? std::string_view(*mMessage) : std::string_view();
}

std::string Failure::Text() const {
  if (!mMessage) {
    return {};
  }
  const bool onlyErrorFields =
      mFields.size() == 1 && mFields.begin()->first == kErrorFieldsFieldName;
  if (!mFields.empty() && !onlyErrorFields) {
    rapidjson::StringBuffer buffer;
    if (WriteJson(buffer, *mMessage, mFields)) {
      return std::string(TakeWrittenText(buffer));
    }
  }
  if (mCode != 0) {
    std::string text(*mMessage);
    text.append(kCodeOpen).append(std::to_string(mCode)).append(kCodeClose);
    return text;
  }
  return *mMessage;
}

std::ostream& operator<<(std::ostream& stream, const Failure& failure) {
  return stream << failure.Text();
}

}  // namespace Nalo
