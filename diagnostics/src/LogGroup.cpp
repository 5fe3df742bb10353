#include "diagnostics/LogGroup.h"

#include <atomic>
#include <cstring>

namespace Nalo {
namespace {

// A code is packed into one word, first character in the lowest byte, unused
// bytes zero; 0 marks a free entry. Entries are taken with a compare-and-swap,
// in index order, so the table needs no lock and never holds a code twice.
constexpr std::uint64_t Pack(std::string_view code) noexcept {
  std::uint64_t packed = 0;
  for (std::size_t i = 0; i < code.size(); ++i) {
    packed |= static_cast<std::uint64_t>(static_cast<unsigned char>(code[i])) << (8 * i);
  }
  return packed;
}

// Marks an entry whose text is being written. It matches no code: a code
// with this packed value would contain NUL bytes.
constexpr std::uint64_t kClaimed = std::uint64_t{1} << 63;

struct GroupTable {
  std::atomic<std::uint64_t> codes[kMaxLogGroups];
  // Unpacked copies for LogGroupCode; entry i is written before codes[i] is
  // published and never changes afterwards.
  char texts[kMaxLogGroups][kMaxLogGroupCodeLength + 1];
};

// The process-wide group table. The fixed groups sit at the indices their mask
// constants promise; it is built at compile time, so it is ready before any
// static constructor logs.
constinit GroupTable gGroupTable{{Pack("DBG"), Pack("GEN"), Pack("XTR"), Pack("PRF"), Pack("MEM"),
                                  Pack("DSK"), Pack("NET"), Pack("TST")},
                                 {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"}};

}  // namespace

std::uint64_t RegisterGroup(std::string_view code) noexcept {
  if (code.empty() || code.size() > kMaxLogGroupCodeLength ||
      code.find('\0') != std::string_view::npos) {
    return 0;
  }
  const std::uint64_t packed = Pack(code);
  GroupTable& table = gGroupTable;
  for (std::size_t index = 0; index < kMaxLogGroups; ++index) {
    std::uint64_t current = table.codes[index].load(std::memory_order_acquire);
    if (current == 0) {
      // Claim the entry, fill in the text, then publish the code.
      if (table.codes[index].compare_exchange_strong(current, kClaimed,
                                                     std::memory_order_acq_rel)) {
        std::memcpy(table.texts[index], code.data(), code.size());
        table.codes[index].store(packed, std::memory_order_release);
        return std::uint64_t{1} << index;
      }
    }
    // Another thread may be filling in this entry (a few byte copies); wait
    // until it is published so that two threads registering the same new code
    // get the same bit.
    while (current == kClaimed) {
      current = table.codes[index].load(std::memory_order_acquire);
    }
    if (current == packed) {
      return std::uint64_t{1} << index;
    }
  }
  return 0;
}

std::string_view LogGroupCode(std::size_t index) noexcept {
  if (index >= kMaxLogGroups) {
    return {};
  }
  const GroupTable& table = gGroupTable;
  const std::uint64_t packed = table.codes[index].load(std::memory_order_acquire);
  if (packed == 0 || packed == kClaimed) {
    return {};
  }
  return std::string_view(table.texts[index]);
}

}  // namespace Nalo
