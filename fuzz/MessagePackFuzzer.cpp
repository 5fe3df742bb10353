// Fuzz target for ParseMessagePack: any bytes are read. A failure must carry
// one of the reader's messages; a success must respect the nesting limit,
// report an end within the data, and read the same value again from exactly
// the bytes it consumed.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "binding/BindingLimits.h"
#include "binding/BindingResult.h"
#include "binding/MessagePack.h"

namespace {

[[noreturn]] void Report(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "MessagePack reader broken: %s %.*s\n", what,
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// Container levels of `value` (0 for a scalar).
std::size_t Depth(const Nalo::BindingProperty& value) {
  std::size_t deepest = 0;
  for (const Nalo::BindingProperty& element : value.Elements()) {
    const std::size_t depth = Depth(element);
    deepest = depth > deepest ? depth : deepest;
  }
  for (const auto member : value.Members()) {
    const std::size_t depth = Depth(member.value);
    deepest = depth > deepest ? depth : deepest;
  }
  const bool isContainer =
      value.Kind() == Nalo::BindingKind::Collection || value.Kind() == Nalo::BindingKind::Structure;
  return deepest + (isContainer ? 1 : 0);
}

// Same kinds and payloads, floats compared bit for bit (NaN included) and
// blobs byte for byte.
bool Same(const Nalo::BindingProperty& left, const Nalo::BindingProperty& right) {
  if (left.Kind() != right.Kind() || left.size() != right.size()) {
    return false;
  }
  switch (left.Kind()) {
    case Nalo::BindingKind::Float: {
      const double a = left.GetFloat(0);
      const double b = right.GetFloat(0);
      // Bit for bit on purpose: NaN equals itself, and -0 differs from 0.
      // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
      return std::memcmp(&a, &b, sizeof a) == 0;
    }
    case Nalo::BindingKind::Blob:
      return left.BlobValue().empty() ||
             std::memcmp(left.BlobValue().data(), right.BlobValue().data(), left.size()) == 0;
    case Nalo::BindingKind::Collection:
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (!Same(left.Elements()[i], right.Elements()[i])) {
          return false;
        }
      }
      return true;
    case Nalo::BindingKind::Structure: {
      auto other = right.Members().begin();
      for (const auto member : left.Members()) {
        const auto otherMember = *other;
        if (member.name != otherMember.name || !Same(member.value, otherMember.value)) {
          return false;
        }
        ++other;
      }
      return true;
    }
    default:
      return left == right;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Nalo::MessagePackParse parsed = Nalo::ParseMessagePack(data, size);
  if (parsed.result.Failed()) {
    if (parsed.result.ErrorMessage().rfind("Invalid MessagePack data", 0) != 0) {
      Report("an error without the reader's form:", parsed.result.ErrorMessage());
    }
    if (parsed.end >= size) {
      Report("a failure positioned past the data");
    }
    return 0;
  }
  if (parsed.end > size || (size != 0 && parsed.end == 0)) {
    Report("an end outside the data");
  }
  if (Depth(parsed.result.Value()) > Nalo::kMaxNestingDepth) {
    Report("a value nested past the limit");
  }
  const Nalo::MessagePackParse again = Nalo::ParseMessagePack(data, parsed.end);
  if (again.result.Failed() || again.end != parsed.end ||
      !Same(again.result.Value(), parsed.result.Value())) {
    Report("the consumed bytes alone read differently");
  }
  return 0;
}
