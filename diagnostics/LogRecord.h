#pragma once
// LogRecord: one log line as the manager hands it to its targets.
//
// The message is already formatted from the caller's printf arguments; targets
// render the record with their own line format (see LogLine.h) or pass its
// parts on as they are.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "diagnostics/LogLevel.h"

namespace Nalo {

// Size of every fixed logging buffer, terminating NUL included: a message keeps
// at most 4095 characters and a formatted line likewise.
inline constexpr std::size_t kLogBufferSize = 4096;

// Local wall-clock time of a record, field by field (month 1-12, day 1-31).
struct LocalTime {
  std::int32_t year = 0;
  std::int32_t month = 0;
  std::int32_t day = 0;
  std::int32_t hour = 0;
  std::int32_t minute = 0;
  std::int32_t second = 0;
  std::int32_t millisecond = 0;
};

struct LogRecord {
  LocalTime time;
  LogLevel level = LogLevel::Okay;
  std::uint64_t groups = 0;
  // Points into the caller's buffer and is valid only during Write. It is
  // NUL-terminated (message.data()[message.size()] == '\0') when it comes from
  // the log manager, so it may be handed on to C interfaces.
  std::string_view message;
};

}  // namespace Nalo
