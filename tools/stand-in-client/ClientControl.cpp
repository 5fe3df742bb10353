#include "tools/stand-in-client/ClientControl.h"

#include <algorithm>
#include <charconv>

namespace Nalo::StandIn {

std::string_view Trim(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) {
    return {};
  }
  const std::size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

namespace {

std::optional<std::int64_t> ParseNumber(std::string_view text) {
  std::int64_t value = 0;
  const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || next != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<bool> ParseYesNo(std::string_view text) {
  if (text == "yes") {
    return true;
  }
  if (text == "no") {
    return false;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Ending> ParseEnding(std::string_view text) {
  if (text == "wait") {
    return Ending{};
  }
  if (text == "hang") {
    return Ending{.kind = Ending::Kind::Hang};
  }
  if (text == "crash segv") {
    return Ending{.kind = Ending::Kind::CrashSegv};
  }
  if (text == "crash abort") {
    return Ending{.kind = Ending::Kind::CrashAbort};
  }
  if (text.starts_with("exit ")) {
    const std::optional<std::int64_t> code = ParseNumber(Trim(text.substr(5)));
    if (code && *code >= 0 && *code <= 255) {
      return Ending{.kind = Ending::Kind::Exit, .exitCode = static_cast<int>(*code)};
    }
  }
  return std::nullopt;
}

std::optional<std::string> ParseControl(std::string_view text, Control& control) {
  while (!text.empty()) {
    const std::size_t lineEnd = std::min(text.find('\n'), text.size());
    const std::string_view line = Trim(text.substr(0, lineEnd));
    text.remove_prefix(std::min(lineEnd + 1, text.size()));
    if (line.empty() || line.front() == '#') {
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return std::string(line);
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    bool understood = false;
    if (key == "window-delay-ms" || key == "end-delay-ms") {
      const std::optional<std::int64_t> delay = ParseNumber(value);
      understood = delay && *delay >= 0;
      (key == "window-delay-ms" ? control.windowDelayMilliseconds : control.endDelayMilliseconds) =
          delay.value_or(0);
    } else if (key == "window" || key == "foreground") {
      const std::optional<bool> flag = ParseYesNo(value);
      understood = flag.has_value();
      (key == "window" ? control.openWindow : control.bringToForeground) = flag.value_or(false);
    } else if (key == "end") {
      const std::optional<Ending> ending = ParseEnding(value);
      understood = ending.has_value();
      control.ending = ending.value_or(Ending{});
    }
    if (!understood) {
      return std::string(line);
    }
  }
  return std::nullopt;
}

}  // namespace Nalo::StandIn
