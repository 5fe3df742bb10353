#pragma once
// Log groups: which part of the plugin a line is about.
//
// A log call carries a 64-bit mask; bit i stands for the group with index i.
// Groups are named by short codes (three letters by convention) kept in one
// process-wide table of 64 entries. The first eight are fixed (the constants
// below); further codes are added by RegisterGroup, which hands out the next
// free bit. The "#G" format code prints the codes of a mask's bits.
//
//   static const std::uint64_t kLocaleGroup = Nalo::RegisterGroup("LOC");
//   Nalo::Log(Nalo::LogLevel::Okay, kLocaleGroup, "wrote %s", path);

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Nalo {

inline constexpr std::uint64_t kLogGroupDebug = 1;        // "DBG"
inline constexpr std::uint64_t kLogGroupGeneral = 2;      // "GEN"
inline constexpr std::uint64_t kLogGroupExtra = 4;        // "XTR"
inline constexpr std::uint64_t kLogGroupPerformance = 8;  // "PRF"
inline constexpr std::uint64_t kLogGroupMemory = 16;      // "MEM"
inline constexpr std::uint64_t kLogGroupDisk = 32;        // "DSK"
inline constexpr std::uint64_t kLogGroupNetwork = 64;     // "NET"
inline constexpr std::uint64_t kLogGroupTest = 128;       // "TST"

inline constexpr std::size_t kMaxLogGroups = 64;
// Longest code the table stores; codes are packed into one 64-bit word.
inline constexpr std::size_t kMaxLogGroupCodeLength = 8;

// Returns the mask of the group named `code`: its existing bit when the code is
// known, else the next free bit, taken atomically (lock-free, any thread). Two
// threads registering the same new code get the same bit. Returns 0 (a line
// with mask 0 belongs to no group and passes every group filter) when `code` is
// empty, longer than kMaxLogGroupCodeLength, contains a NUL, or all 64 entries
// are taken.
[[nodiscard]] std::uint64_t RegisterGroup(std::string_view code) noexcept;

// The code of the group with index `index` (0-63), or an empty view when that
// index is not registered. The view points into the process-wide table and
// stays valid for the life of the process.
[[nodiscard]] std::string_view LogGroupCode(std::size_t index) noexcept;

}  // namespace Nalo
