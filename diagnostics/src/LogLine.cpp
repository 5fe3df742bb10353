#include "diagnostics/LogLine.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "diagnostics/LogGroup.h"
#include "platform/Clock.h"
#include "platform/Platform.h"

namespace Nalo {
namespace {

constexpr char kFormatEscape = '#';
constexpr char kGroupSeparator = ';';

// Appends into a fixed buffer, dropping what does not fit. Two bytes stay free
// for the closing newline and the NUL.
class LineWriter {
 public:
  explicit LineWriter(std::span<char, kLogBufferSize> buffer) noexcept : mBuffer(buffer) {}

  void Append(std::string_view text) noexcept {
    const std::size_t room = kTextCapacity - mLength;
    const std::size_t count = text.size() < room ? text.size() : room;
    std::memcpy(mBuffer.data() + mLength, text.data(), count);
    mLength += count;
  }
  void Append(char character) noexcept { Append(std::string_view(&character, 1)); }

  template <typename... Args>
  void AppendFormatted(const char* format, Args... arguments) noexcept {
    char text[64];
    const int length = std::snprintf(text, sizeof text, format, arguments...);
    if (length > 0) {
      Append(std::string_view(text, std::min(static_cast<std::size_t>(length), sizeof text - 1)));
    }
  }

  std::string_view Finish() noexcept {
    if (mLength == 0 || mBuffer[mLength - 1] != '\n') {
      mBuffer[mLength++] = '\n';
    }
    mBuffer[mLength] = '\0';
    return std::string_view(mBuffer.data(), mLength);
  }

 private:
  static constexpr std::size_t kTextCapacity = kLogBufferSize - 2;

  std::span<char, kLogBufferSize> mBuffer;
  std::size_t mLength = 0;
};

void AppendGroups(LineWriter& writer, std::uint64_t groups) noexcept {
  bool first = true;
  while (groups != 0) {
    const auto index = static_cast<std::size_t>(std::countr_zero(groups));
    groups &= groups - 1;
    const std::string_view code = LogGroupCode(index);
    if (code.empty()) {
      continue;
    }
    if (!first) {
      writer.Append(kGroupSeparator);
    }
    writer.Append(code);
    first = false;
  }
}

void AppendElapsed(LineWriter& writer) noexcept {
  const auto milliseconds = static_cast<long long>(ElapsedSeconds() * 1000.0);
  writer.AppendFormatted("%06d.%03d", static_cast<int>(milliseconds / 1000),
                         static_cast<int>(milliseconds % 1000));
}

}  // namespace

std::string_view FormatLogLine(std::string_view format, const LogRecord& record,
                               std::string_view executableName,
                               std::span<char, kLogBufferSize> buffer) noexcept {
  LineWriter writer(buffer);
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char character = format[i];
    if (character != kFormatEscape || i + 1 == format.size()) {
      writer.Append(character);
      continue;
    }
    const char code = format[++i];
    switch (code) {
      case 'D': {
        const LocalTime& time = record.time;
        writer.AppendFormatted("%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month,
                               time.day, time.hour, time.minute, time.second, time.millisecond);
        break;
      }
      case 'E':
        writer.Append(executableName);
        break;
      case 'G':
        AppendGroups(writer, record.groups);
        break;
      case 'H':
        AppendElapsed(writer);
        break;
      case 'L':
        writer.Append(LogLevelText(record.level));
        break;
      case 'M':
        writer.Append(record.message);
        break;
      case 'T':
        // "0x" and lowercase hexadecimal digits on every system (a C library's %p
        // differs between them).
        writer.AppendFormatted(
            "0x%" PRIxPTR, reinterpret_cast<std::uintptr_t>(detail::Platform::CurrentThreadId()));
        break;
      default:
        writer.Append(code);
        break;
    }
  }
  return writer.Finish();
}

}  // namespace Nalo
