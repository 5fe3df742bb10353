#pragma once
// MessagePack bytes to BindingProperty.
//
// Request bodies sent as "application/x-msgpack" and structured parameters
// that carry MessagePack are decoded by ParseMessagePack into a value tree.
// The reader walks the bytes once, without recursion (open containers live on
// an explicit stack), and builds the values in place. There is no MessagePack
// writer: results leave the plugin as host values.
//
//   const Nalo::MessagePackParse parsed = Nalo::ParseMessagePack(body);
//   if (parsed.result.Failed()) {
//     return parsed.result;  // {"error": "Invalid MessagePack data at position 3."}
//   }
//   if (parsed.end != body.size()) {
//     // a complete value followed by more bytes: the caller decides
//   }
//
// What each type byte produces:
// - positive and negative fixint, int 8/16/32/64: "signed"; uint 8/16/32/64:
//   "unsigned" (so 0x05 is signed 5, 0xCC 0x05 unsigned 5);
// - nil: empty; false/true: "bool"; float 32 (widened) and float 64: "float";
// - fixstr, str 8/16/32: "string", every byte kept (NULs included);
// - bin 8/16/32: "blob";
// - fixarray, array 16/32: "collection"; fixmap, map 16/32: "structure" whose
//   keys must be strings. A repeated key reuses its member: a later scalar
//   replaces it, a later map merges into an earlier map, and a later array
//   writes its elements over the earlier one's from index 0.
// - ext 8/16/32, fixext 1..16 and the unused byte 0xC1 are refused.
//
// Data that ends inside an open container yields the containers filled so
// far, with success; data that ends inside a scalar, a length or a count is an
// error. Every length and count is checked against the bytes left before
// anything is allocated for it, and containers nested deeper than
// kMaxNestingDepth (BindingLimits.h) are refused with a message naming it.
//
// Messages (positions are byte offsets from the start of `data`):
//   "Invalid MessagePack data at position 1."                       (0xC1, ext)
//   "Invalid MessagePack data at position 2. Map keys must be strings."
//   "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."
//   "Invalid MessagePack data. String of size 3 at position 1 is truncated."
//   "Invalid MessagePack data. Raw bytes of size 9 at position 2 are truncated."
//   "Invalid MessagePack data at position 514. Containers nested deeper than
//    512 levels are not supported."

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding/BindingResult.h"

namespace Nalo {

// What ParseMessagePack returns: the value (or the error result) and where
// reading stopped.
struct [[nodiscard]] MessagePackParse {
  BindingResult result;
  // On success, the offset just after the last byte consumed; compare it with
  // the length to detect trailing data. On failure, the offset of the type
  // byte of the value that could not be read.
  std::size_t end = 0;
};

// Decodes one MessagePack value that starts `offset` bytes into the `length`
// bytes at `data`. `data` may be null only when `length` is 0. An offset at or
// past the length reads nothing: an empty value with success and `end` equal
// to `offset`. Never throws on bad input (allocation failure still throws
// std::bad_alloc, as everywhere in the value model).
MessagePackParse ParseMessagePack(const std::uint8_t* data, std::size_t length,
                                  std::size_t offset = 0);
MessagePackParse ParseMessagePack(std::span<const std::uint8_t> data, std::size_t offset = 0);
// The bytes of `data`, for bodies held as text.
MessagePackParse ParseMessagePack(std::string_view data, std::size_t offset = 0);

}  // namespace Nalo
