#pragma once
// Copies of the host value records a plugin sends with an event, so that the
// core can keep a payload without reading it into a value first, and can
// tell a record sent again from a new one.
//
//   RecordSize size;
//   if (size.Measure(record, 0)) {
//     auto block = std::make_unique<std::byte[]>(size.records + size.bytes);
//     RecordCopier copier{block.get(), block.get() + size.records,
//                         block.get() + size.records, block.get() + size.records + size.bytes};
//     NaloHostValue copy{};
//     copier.Copy(record, copy, 0);       // true: `copy` lives in `block`
//   }

#include <cstddef>
#include <cstdint>

#include "abi/HostAbi.h"

namespace Nalo::Host::detail {

// Whether two records have the same kind and point at the same block: the
// cheap test before SameRecord.
[[nodiscard]] bool SamePlace(const NaloHostValue& left, const NaloHostValue& right);

// The room a copy of a record takes: its element and member arrays, then its
// texts, bytes and names. Measure() is false for anything FromHostValue
// refuses, and (conservatively) for an object of more than
// kMaxCollectionSize members, which is then read at once instead.
struct RecordSize {
  std::size_t records = 0;
  std::size_t bytes = 0;

  [[nodiscard]] bool Measure(const NaloHostValue& record, std::size_t depth);
};

// Copies a record into one block: arrays from `records` on, texts and
// names from `bytes` on. Empty texts and bytes point nowhere. Copy() is
// false, with the copy unfinished, when the record is not one Measure()
// accepts or doesn't fit in the room left. The pointers move past what was
// copied.
struct RecordCopier {
  std::byte* records;
  std::byte* recordsEnd;
  std::byte* bytes;
  std::byte* bytesEnd;

  [[nodiscard]] bool Copy(const NaloHostValue& from, NaloHostValue& to, std::size_t depth);

 private:
  [[nodiscard]] bool CopyBytes(const void* data, std::size_t length, const void*& copied);
};

// Whether the record a plugin sends (`sent`) is the one kept before
// (`kept`, a RecordCopier copy): the same kinds, scalars, texts, bytes,
// names and counts, in the same order. Anything FromHostValue would refuse
// in `sent` makes it different.
[[nodiscard]] bool SameRecord(const NaloHostValue& sent, const NaloHostValue& kept,
                              std::size_t depth);

}  // namespace Nalo::Host::detail
