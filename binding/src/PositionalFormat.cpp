#include "binding/PositionalFormat.h"

#include <charconv>

namespace Nalo {

namespace {

template <class T>
void AppendNumber(std::string& output, T value) {
  // 24 bytes hold any 64-bit integer and any shortest double text.
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  if (error == std::errc()) {
    output.append(buffer, end);
  }
}

}  // namespace

void FormatArgument::AppendTo(std::string& output) const {
  switch (mKind) {
    case Kind::Signed:
      AppendNumber(output, mValue.signedValue);
      break;
    case Kind::Unsigned:
      AppendNumber(output, mValue.unsignedValue);
      break;
    case Kind::Floating:
      AppendNumber(output, mValue.floatingValue);
      break;
    case Kind::Text:
      output.append(mValue.text);
      break;
  }
}

std::string FloatingText(double value) {
  std::string text;
  AppendNumber(text, value);
  return text;
}

std::string FormatPositional(std::string_view format,
                             std::initializer_list<FormatArgument> arguments) {
  std::string output;
  output.reserve(format.size());
  for (std::size_t i = 0; i < format.size() && output.size() < kMaxFormattedLength; ++i) {
    const char c = format[i];
    const char next = i + 1 < format.size() ? format[i + 1] : '\0';
    if (c != '%' || (next != '%' && (next < '1' || next > '9'))) {
      output.push_back(c);
      continue;
    }
    ++i;
    if (next == '%') {
      output.push_back('%');
      continue;
    }
    const auto index = static_cast<std::size_t>(next - '1');
    if (index >= arguments.size()) {
      break;
    }
    arguments.begin()[index].AppendTo(output);
  }
  if (output.size() > kMaxFormattedLength) {
    output.resize(kMaxFormattedLength);
  }
  return output;
}

}  // namespace Nalo
