#pragma once
// Log: the one logging call of the plugin.
//
// Writes a printf-style line through the process-wide LogManager, tagged with
// a level and a group mask (LogGroup.h). Never fails and never throws; calls
// below the manager's minimum level or in an excluded group cost a few
// comparisons and are not formatted.
//
//   Nalo::Log(Nalo::LogLevel::Error, Nalo::kLogGroupDebug,
//             "tav-gameflow: could not read %s (%d)", path, code);

#include <cstdint>

#include "diagnostics/LogGroup.h"
#include "diagnostics/LogLevel.h"

namespace Nalo {

void Log(LogLevel level, std::uint64_t groups, const char* format, ...) noexcept
    __attribute__((format(printf, 3, 4)));

}  // namespace Nalo
