#include "binding/MessagePack.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "binding/BindingLimits.h"
#include "binding/PositionalFormat.h"
#include "binding/detail/TreeBuilding.h"

namespace Nalo {
namespace {

// --- Messages. ----------------------------------------------------------------
// Positions count bytes from the start of the data; a value's type byte counts
// as consumed before the position of its payload is taken.

// A reserved, ext or fixext type byte (%1: the offset after it).
constexpr std::string_view kInvalidTypeMessage = "Invalid MessagePack data at position %1.";
// %1: the offset after the key's type byte.
constexpr std::string_view kKeyNotStringMessage =
    "Invalid MessagePack data at position %1. Map keys must be strings.";
// A fixed-size number, length or count cut off (%1: the offset where it starts).
constexpr std::string_view kTruncated8Message =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
constexpr std::string_view kTruncated16Message =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
constexpr std::string_view kTruncated32Message =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
constexpr std::string_view kTruncated64Message =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
// %1: the declared length, %2: the offset of the first payload byte.
constexpr std::string_view kStringTruncatedMessage =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr std::string_view kBinaryTruncatedMessage =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";
// %1: the offset after the container's type byte, %2: the limit.
constexpr std::string_view kNestingTooDeepMessage =
    "Invalid MessagePack data at position %1. Containers nested deeper than %2 levels are not "
    "supported.";
constexpr std::string_view kArrayTooLongMessage =
    "Invalid MessagePack data at position %1. Arrays longer than %2 elements are not supported.";

// Open containers reserved up front; deeper input grows the stack.
constexpr std::size_t kReservedFrames = 16;

// Unsigned big-endian number of sizeof(T) bytes at `bytes`.
template <class T>
T ReadBigEndian(const std::uint8_t* bytes) noexcept {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>((value << 8) | bytes[i]);
  }
  return value;
}

// Decodes one value tree. Each call of Read() uses a fresh reader.
//
// The stack holds the open containers. A frame's container pointer stays
// valid while the frame is open: structure members never move, and only the
// innermost open collection grows, so no open container is ever relocated.
class MessagePackReader {
 public:
  MessagePackReader(const std::uint8_t* data, std::size_t length, std::size_t offset) noexcept
      : mData(data), mLength(length), mOffset(offset) {}

  MessagePackParse Read() {
    BindingProperty& root = mRoot;
    mOpen.reserve(kReservedFrames);
    bool rootStarted = false;
    while (mOffset < mLength) {
      BindingProperty* target = nullptr;
      if (mOpen.empty()) {
        if (rootStarted) {
          break;
        }
        rootStarted = true;
        target = &root;
      } else {
        Frame& frame = mOpen.back();
        if (frame.remaining == 0) {
          mOpen.pop_back();
          continue;
        }
        --frame.remaining;
        mValueStart = mOffset;
        if (frame.isMap) {
          if (frame.expectsKey) {
            std::string_view key;
            if (!ReadKey(key)) {
              return Failure();
            }
            // A name ends at its first NUL.
            key = key.substr(0, detail::LengthBeforeNul(key));
            frame.pendingValue =
                &detail::TreeBuilding::Member(*frame.container, Cache().Intern(key));
            frame.expectsKey = false;
            continue;
          }
          target = frame.pendingValue;
          frame.expectsKey = true;
        } else {
          if (frame.index >= kMaxCollectionSize) [[unlikely]] {
            mError = FormatPositional(kArrayTooLongMessage, {mOffset + 1, kMaxCollectionSize});
            return Failure();
          }
          target = &detail::TreeBuilding::ElementAt(*frame.container, frame.index++);
        }
      }
      mValueStart = mOffset;
      if (!ReadValue(*target)) {
        return Failure();
      }
    }
    mCache.reset();
    return {BindingResult(std::move(root)), mOffset};
  }

 private:
  struct Frame {
    BindingProperty* container;
    // Items still expected; for a map, keys and values both count.
    std::uint64_t remaining;
    // The next element of an array.
    std::size_t index;
    // The member selected by the last key of a map.
    BindingProperty* pendingValue;
    bool isMap;
    bool expectsKey;
  };

  MessagePackParse Failure() { return {BindingResult::Error(mError), mValueStart}; }

  std::size_t BytesLeft() const noexcept { return mLength - mOffset; }

  // Reads an unsigned big-endian number of sizeof(T) bytes, or fails with the
  // truncation message of that width.
  template <class T>
  bool ReadNumber(T& value) {
    if (BytesLeft() < sizeof(T)) [[unlikely]] {
      constexpr std::string_view kMessage = sizeof(T) == 1   ? kTruncated8Message
                                            : sizeof(T) == 2 ? kTruncated16Message
                                            : sizeof(T) == 4 ? kTruncated32Message
                                                             : kTruncated64Message;
      mError = FormatPositional(kMessage, {mOffset});
      return false;
    }
    value = ReadBigEndian<T>(mData + mOffset);
    mOffset += sizeof(T);
    return true;
  }

  // Reads a length or count of sizeof(T) bytes.
  template <class T>
  bool ReadLength(std::size_t& length) {
    T value = 0;
    if (!ReadNumber(value)) {
      return false;
    }
    length = value;
    return true;
  }

  // Takes `length` payload bytes, checked against the bytes left first.
  bool TakeBytes(std::size_t length, std::string_view truncatedMessage, std::string_view& bytes) {
    if (BytesLeft() < length) [[unlikely]] {
      mError = FormatPositional(truncatedMessage, {length, mOffset});
      return false;
    }
    bytes = std::string_view(reinterpret_cast<const char*>(mData + mOffset), length);
    mOffset += length;
    return true;
  }

  static bool IsStringType(std::uint8_t type) noexcept {
    return (type >= 0xA0 && type <= 0xBF) || (type >= 0xD9 && type <= 0xDB);
  }

  // Reads the payload of a string whose type byte `type` (a string type) was
  // consumed.
  bool ReadString(std::uint8_t type, std::string_view& text) {
    std::size_t length = type & 0x1Fu;
    const bool lengthRead = type <= 0xBF   ? true
                            : type == 0xD9 ? ReadLength<std::uint8_t>(length)
                            : type == 0xDA ? ReadLength<std::uint16_t>(length)
                                           : ReadLength<std::uint32_t>(length);
    return lengthRead && TakeBytes(length, kStringTruncatedMessage, text);
  }

  bool ReadKey(std::string_view& key) {
    const std::uint8_t type = mData[mOffset++];
    if (!IsStringType(type)) [[unlikely]] {
      mError = FormatPositional(kKeyNotStringMessage, {mOffset});
      return false;
    }
    return ReadString(type, key);
  }

  // Makes `target` a container and opens a frame for its `count` items.
  bool Open(BindingProperty& target, std::size_t count, bool isMap) {
    if (mOpen.size() >= kMaxNestingDepth) [[unlikely]] {
      mError = FormatPositional(kNestingTooDeepMessage, {mValueStart + 1, kMaxNestingDepth});
      return false;
    }
    if (isMap) {
      target.MakeStructure();
    } else {
      target.MakeCollection();
      // Every element takes at least one byte, so a count beyond the bytes
      // left can't be met: reserve no more than could really arrive.
      const std::size_t plausible = std::min({count, BytesLeft(), kMaxCollectionSize});
      if (plausible != 0) {
        target.reserve(plausible);
      }
    }
    mOpen.push_back({&target, isMap ? std::uint64_t{count} * 2 : count, 0, nullptr, isMap, true});
    return true;
  }

  bool ReadValue(BindingProperty& target) {
    const std::uint8_t type = mData[mOffset++];
    if (type <= 0x7F) {
      target.SetSigned(type);
      return true;
    }
    if (type >= 0xE0) {
      target.SetSigned(static_cast<std::int8_t>(type));
      return true;
    }
    if (type <= 0x8F) {
      return Open(target, type & 0x0Fu, true);
    }
    if (type <= 0x9F) {
      return Open(target, type & 0x0Fu, false);
    }
    if (type <= 0xBF) {
      return ReadStringValue(target, type);
    }
    std::size_t length = 0;
    switch (type) {
      case 0xC0:
        target.Reset();
        return true;
      case 0xC2:
        target.SetBool(false);
        return true;
      case 0xC3:
        target.SetBool(true);
        return true;
      case 0xC4:
        return ReadLength<std::uint8_t>(length) && ReadBlob(target, length);
      case 0xC5:
        return ReadLength<std::uint16_t>(length) && ReadBlob(target, length);
      case 0xC6:
        return ReadLength<std::uint32_t>(length) && ReadBlob(target, length);
      case 0xCA: {
        std::uint32_t bits = 0;
        if (!ReadNumber(bits)) {
          return false;
        }
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        target.SetFloat(value);
        return true;
      }
      case 0xCB: {
        std::uint64_t bits = 0;
        if (!ReadNumber(bits)) {
          return false;
        }
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        target.SetFloat(value);
        return true;
      }
      case 0xCC:
        return ReadUnsigned<std::uint8_t>(target);
      case 0xCD:
        return ReadUnsigned<std::uint16_t>(target);
      case 0xCE:
        return ReadUnsigned<std::uint32_t>(target);
      case 0xCF:
        return ReadUnsigned<std::uint64_t>(target);
      case 0xD0:
        return ReadSigned<std::uint8_t, std::int8_t>(target);
      case 0xD1:
        return ReadSigned<std::uint16_t, std::int16_t>(target);
      case 0xD2:
        return ReadSigned<std::uint32_t, std::int32_t>(target);
      case 0xD3:
        return ReadSigned<std::uint64_t, std::int64_t>(target);
      case 0xD9:
      case 0xDA:
      case 0xDB:
        return ReadStringValue(target, type);
      case 0xDC:
        return ReadLength<std::uint16_t>(length) && Open(target, length, false);
      case 0xDD:
        return ReadLength<std::uint32_t>(length) && Open(target, length, false);
      case 0xDE:
        return ReadLength<std::uint16_t>(length) && Open(target, length, true);
      case 0xDF:
        return ReadLength<std::uint32_t>(length) && Open(target, length, true);
      default:
        // 0xC1 (never used), ext 8/16/32 and fixext 1..16.
        mError = FormatPositional(kInvalidTypeMessage, {mOffset});
        return false;
    }
  }

  bool ReadStringValue(BindingProperty& target, std::uint8_t type) {
    std::string_view text;
    if (!ReadString(type, text)) {
      return false;
    }
    detail::TreeBuilding::SetString(target, Cache().InternValue(text));
    return true;
  }

  // Created with the first string or name, in the root's store.
  detail::InternCache& Cache() {
    if (!mCache) [[unlikely]] {
      mCache.emplace(detail::TreeBuilding::Store(mRoot));
    }
    return *mCache;
  }

  bool ReadBlob(BindingProperty& target, std::size_t length) {
    std::string_view bytes;
    if (!TakeBytes(length, kBinaryTruncatedMessage, bytes)) {
      return false;
    }
    target.SetBlob({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    return true;
  }

  template <class Bits>
  bool ReadUnsigned(BindingProperty& target) {
    Bits value = 0;
    if (!ReadNumber(value)) {
      return false;
    }
    target.SetUnsigned(value);
    return true;
  }

  template <class Bits, class Signed>
  bool ReadSigned(BindingProperty& target) {
    Bits value = 0;
    if (!ReadNumber(value)) {
      return false;
    }
    target.SetSigned(static_cast<Signed>(value));
    return true;
  }

  // Declared first: the cache holds references into the root's store.
  BindingProperty mRoot;
  std::optional<detail::InternCache> mCache;
  const std::uint8_t* mData;
  std::size_t mLength;
  std::size_t mOffset;
  // The type byte of the value being read, reported as the end on failure.
  std::size_t mValueStart = 0;
  std::vector<Frame> mOpen;
  std::string mError;
};

}  // namespace

MessagePackParse ParseMessagePack(const std::uint8_t* data, std::size_t length,
                                  std::size_t offset) {
  if (offset >= length) {
    return {BindingResult(), offset};
  }
  return MessagePackReader(data, length, offset).Read();
}

MessagePackParse ParseMessagePack(std::span<const std::uint8_t> data, std::size_t offset) {
  return ParseMessagePack(data.data(), data.size(), offset);
}

MessagePackParse ParseMessagePack(std::string_view data, std::size_t offset) {
  return ParseMessagePack(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), offset);
}

}  // namespace Nalo
