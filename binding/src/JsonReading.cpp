// Reading JSON text into a value tree: RapidJSON's reader over an in-place
// copy of the text, our whitespace scan, and a builder that bounds nesting
// and array length. Writing is in JsonWriting.cpp.

#include "binding/Json.h"

#include "binding/src/RapidJson.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define NALO_JSON_SSE2_WHITESPACE 1
#endif

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding/BindingLimits.h"
#include "binding/detail/TreeBuilding.h"
#include "diagnostics/JsonAllocator.h"

namespace Nalo::detail {

constexpr bool IsJsonWhitespaceByte(char c) noexcept {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// The bytes from `p` on up to the first that is not JSON whitespace, for a
// run of more than one byte. Indented documents spend much of their reading
// here, so runs are scanned 16 bytes at a time. The text ends in a NUL, which
// stops the scan, and 15 more bytes follow it in the buffer, so no load
// reaches past the buffer.
[[gnu::noinline]] char* SkipJsonWhitespaceRun(char* p) noexcept {
#if defined(NALO_JSON_SSE2_WHITESPACE)
  const __m128i spaces = _mm_set1_epi8(' ');
  const __m128i lineFeeds = _mm_set1_epi8('\n');
  const __m128i returns = _mm_set1_epi8('\r');
  const __m128i tabs = _mm_set1_epi8('\t');
  for (;; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i whitespace =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, spaces), _mm_cmpeq_epi8(block, lineFeeds)),
                     _mm_or_si128(_mm_cmpeq_epi8(block, returns), _mm_cmpeq_epi8(block, tabs)));
    const auto other = static_cast<unsigned>(~_mm_movemask_epi8(whitespace)) & 0xFFFFu;
    if (other != 0) {
      return p + std::countr_zero(other);
    }
  }
#else
  while (IsJsonWhitespaceByte(*p)) {
    ++p;
  }
  return p;
#endif
}

// Most runs are a single space or none at all: those stay inline.
inline char* SkipJsonWhitespace(char* p) noexcept {
  if (!IsJsonWhitespaceByte(*p)) {
    return p;
  }
  ++p;
  return IsJsonWhitespaceByte(*p) ? SkipJsonWhitespaceRun(p + 1) : p;
}

// RapidJSON's in-place stream over our working copy of a text, with the
// whitespace skip above.
struct JsonTextStream : rapidjson::InsituStringStream {
  using rapidjson::InsituStringStream::InsituStringStream;
};

}  // namespace Nalo::detail

namespace rapidjson {
template <>
struct StreamTraits<Nalo::detail::JsonTextStream> {
  enum { copyOptimization = 1 };
};
template <>
inline void SkipWhitespace(Nalo::detail::JsonTextStream& stream) {
  stream.src_ = Nalo::detail::SkipJsonWhitespace(stream.src_);
}
}  // namespace rapidjson

namespace Nalo {
namespace {

// --- Messages. ----------------------------------------------------------------

// Every reading failure: the reason, then the byte offset where it was found.
constexpr const char* kParseFailureTemplate = "Error: %s at offset %zu.";

// The reader's English reasons, indexed by rapidjson::ParseErrorCode.
constexpr const char* kParseErrorReasons[] = {
    "No error.",
    "The document is empty.",
    "The document root must not be followed by other values.",
    "Invalid value.",
    "Missing a name for object member.",
    "Missing a colon after a name of object member.",
    "Missing a comma or '}' after an object member.",
    "Missing a comma or ']' after an array element.",
    "Incorrect hex digit after \\u escape in string.",
    "The surrogate pair in string is invalid.",
    "Invalid escape character in string.",
    "Missing a closing quotation mark in string.",
    "Invalid encoding in string.",
    "Number too big to be stored in double.",
    "Miss fraction part in number.",
    "Miss exponent in number.",
    "Terminate parsing due to Handler error.",
    "Unspecific syntax error.",
};
constexpr const char* kUnknownParseErrorReason = "Unknown error.";
static_assert(std::size(kParseErrorReasons) == rapidjson::kParseErrorUnspecificSyntaxError + 1,
              "one reason per reader error code");

// Reasons of our own, reported when the builder stops the reader.
constexpr const char* kNestingTooDeepReason = "Nesting deeper than %zu levels is not supported";
constexpr const char* kCollectionTooLongReason =
    "Arrays longer than %zu elements are not supported";

// --- Reading. -----------------------------------------------------------------

constexpr bool IsJsonWhitespace(char c) noexcept {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Why the builder refused an event (the reader then reports "Terminate
// parsing due to Handler error.", which we replace by the real reason).
enum class BuilderRefusal : std::uint8_t { None, NestingTooDeep, CollectionTooLong, NumberTooBig };

// Receives the reader's events and builds the value in place.
//
// The builder keeps the open containers on a stack and a slot pointer: the
// value that receives the next scalar or container. Inside a structure the
// slot is the member selected by the last key; inside a collection a fresh
// element is appended for each value. Because a key selects member(name), a
// repeated name reuses its member: a scalar replaces it, an object is merged
// into it (MakeStructure keeps a structure) and an array appends to it
// (MakeCollection keeps a collection).
//
// The elements of open collections wait on one stack and move into their
// collection when it closes, exactly sized. Structure members never move, so
// the stack of open containers holds their addresses; an open container that
// is itself a pending element is held by its index on the element stack.
class JsonTreeBuilder {
 public:
  using Ch = char;

  // `root` must outlive the builder: the builder's cache holds references
  // into its store until the builder goes.
  // `mayDecodeNul`: the text holds a \u0000 escape somewhere.
  JsonTreeBuilder(BindingProperty& root, bool mayDecodeNul)
      : mRoot(root), mSlot(&root), mMayDecodeNul(mayDecodeNul) {
    mOpen.reserve(32);
  }

  [[nodiscard]] BuilderRefusal Refusal() const noexcept { return mRefusal; }

  // Drops the cache's references; call before the root is handed on.
  void Finish() noexcept { mCache.reset(); }

  bool Null() {
    return Store([](BindingProperty& slot) { slot.Reset(); });
  }
  bool Bool(bool value) {
    return Store([value](BindingProperty& slot) { slot.SetBool(value); });
  }
  // The reader reports a number with a minus sign through Int/Int64 and one
  // without through Uint/Uint64, so "-0" is signed and "0" unsigned.
  bool Int(int value) { return Int64(value); }
  bool Uint(unsigned value) { return Uint64(value); }
  bool Int64(std::int64_t value) {
    return Store([value](BindingProperty& slot) { slot.SetSigned(value); });
  }
  bool Uint64(std::uint64_t value) {
    return Store([value](BindingProperty& slot) { slot.SetUnsigned(value); });
  }
  bool Double(double value) {
    // At normal precision the reader turns some overflowing numbers, such as
    // 7387904e308, into infinity instead of reporting them. We report them as
    // it does the others: JSON can't carry infinity, and a tree built from
    // JSON must write back as JSON.
    if (!std::isfinite(value)) [[unlikely]] {
      mRefusal = BuilderRefusal::NumberTooBig;
      return false;
    }
    return Store([value](BindingProperty& slot) { slot.SetFloat(value); });
  }
  // Only called with kParseNumbersAsStringsFlag, which we never pass.
  bool RawNumber(const Ch* /*text*/, rapidjson::SizeType /*length*/, bool /*copy*/) {
    assert(false && "numbers are parsed, never delivered as text");
    return false;
  }
  bool String(const Ch* text, rapidjson::SizeType length, bool /*copy*/) {
    BindingProperty* slot = Slot();
    if (slot == nullptr) [[unlikely]] {
      return false;
    }
    detail::TreeBuilding::SetString(*slot, Cache().InternValue(UpToFirstNul(text, length)));
    return true;
  }

  bool StartObject() { return Open(BindingKind::Structure); }
  bool Key(const Ch* name, rapidjson::SizeType length, bool /*copy*/) {
    mSlot = &detail::TreeBuilding::Member(Container(mOpen.back()),
                                          Cache().Intern(UpToFirstNul(name, length)));
    return true;
  }
  bool EndObject(rapidjson::SizeType /*memberCount*/) {
    Close();
    return true;
  }
  bool StartArray() { return Open(BindingKind::Collection); }
  bool EndArray(rapidjson::SizeType /*elementCount*/) {
    Close();
    return true;
  }

 private:
  static constexpr std::size_t kNotPending = static_cast<std::size_t>(-1);

  struct OpenContainer {
    // Where the container is: its address, or, for an element of a
    // collection still open, its index among the pending elements (their
    // stack moves as it grows).
    BindingProperty* container;
    std::size_t pendingIndex;
    // Collections only: elements held so far, and where this collection's
    // own pending elements start.
    std::size_t elementCount;
    std::size_t pendingStart;
    bool isCollection;
  };

  BindingProperty& Container(const OpenContainer& open) noexcept {
    return open.pendingIndex == kNotPending ? *open.container : mPending.At(open.pendingIndex);
  }

  // Hands the slot for the next value to `set`; false when there is none.
  template <class Setter>
  bool Store(const Setter& set) {
    BindingProperty* slot = Slot();
    if (slot == nullptr) [[unlikely]] {
      return false;
    }
    set(*slot);
    return true;
  }

  // The value that receives the next event, or null (with mRefusal set) when
  // the innermost collection is full. Inside a collection it is a new
  // pending element.
  BindingProperty* Slot() {
    if (!mInCollection) {
      return mSlot;
    }
    OpenContainer& open = mOpen.back();
    if (open.elementCount >= kMaxCollectionSize) [[unlikely]] {
      mRefusal = BuilderRefusal::CollectionTooLong;
      return nullptr;
    }
    ++open.elementCount;
    return &mPending.Append(Container(open));
  }

  bool Open(BindingKind kind) {
    BindingProperty* slot = Slot();
    if (slot == nullptr) {
      return false;
    }
    // Refusing here also bounds the reader's own recursion: it stops at the
    // level whose start we refuse.
    if (mOpen.size() >= kMaxNestingDepth) [[unlikely]] {
      mRefusal = BuilderRefusal::NestingTooDeep;
      return false;
    }
    const std::size_t pendingIndex = mInCollection ? mPending.Size() - 1 : kNotPending;
    const bool isCollection = kind == BindingKind::Collection;
    if (isCollection) {
      // A repeated member name appends to the collection it already holds.
      slot->MakeCollection();
      mOpen.push_back({slot, pendingIndex, slot->size(), mPending.Size(), true});
    } else {
      slot->MakeStructure();
      mOpen.push_back({slot, pendingIndex, 0, 0, false});
    }
    mInCollection = isCollection;
    return true;
  }

  void Close() {
    const OpenContainer& open = mOpen.back();
    if (open.isCollection) {
      mPending.MoveInto(Container(open), open.pendingStart);
    }
    mOpen.pop_back();
    mInCollection = !mOpen.empty() && mOpen.back().isCollection;
  }

  // A \u0000 escape ends a string or a member name. A text without that
  // escape decodes to strings without NULs.
  std::string_view UpToFirstNul(const Ch* text, std::size_t length) const noexcept {
    if (!mMayDecodeNul) {
      return {text, length};
    }
    const void* nul = std::memchr(text, '\0', length);
    return {text,
            nul == nullptr ? length : static_cast<std::size_t>(static_cast<const Ch*>(nul) - text)};
  }

  // Created with the first string or name, in the root's store.
  detail::InternCache& Cache() {
    if (!mCache) [[unlikely]] {
      mCache.emplace(detail::TreeBuilding::Store(mRoot));
    }
    return *mCache;
  }

  BindingProperty& mRoot;
  BindingProperty* mSlot;
  std::optional<detail::InternCache> mCache;
  detail::PendingElements mPending;
  std::vector<OpenContainer> mOpen;
  bool mMayDecodeNul;
  bool mInCollection = false;
  BuilderRefusal mRefusal = BuilderRefusal::None;
};

std::string FormatParseFailure(rapidjson::ParseErrorCode code, std::size_t offset,
                               BuilderRefusal refusal) {
  char reason[96];
  const char* reasonText = kUnknownParseErrorReason;
  if (code == rapidjson::kParseErrorTermination && refusal != BuilderRefusal::None) {
    switch (refusal) {
      case BuilderRefusal::NestingTooDeep:
        std::snprintf(reason, sizeof reason, kNestingTooDeepReason, kMaxNestingDepth);
        reasonText = reason;
        break;
      case BuilderRefusal::CollectionTooLong:
        std::snprintf(reason, sizeof reason, kCollectionTooLongReason, kMaxCollectionSize);
        reasonText = reason;
        break;
      case BuilderRefusal::NumberTooBig:
        reasonText = kParseErrorReasons[rapidjson::kParseErrorNumberTooBig];
        break;
      case BuilderRefusal::None:
        break;
    }
  } else if (static_cast<std::size_t>(code) < std::size(kParseErrorReasons)) {
    reasonText = kParseErrorReasons[code];
  }
  char message[192];
  const int length =
      std::snprintf(message, sizeof message, kParseFailureTemplate, reasonText, offset);
  assert(length > 0 && static_cast<std::size_t>(length) < sizeof message &&
         "every reason fits the message buffer");
  return std::string(message, static_cast<std::size_t>(length));
}

// Reads a text that is not all whitespace, decoding its strings in place
// inside the stream's own copy of it.
BindingResult ParseStream(detail::JsonTextStream& stream, bool mayDecodeNul) {
  BindingProperty root;
  JsonTreeBuilder builder(root, mayDecodeNul);
  rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator> reader;
  if (!reader.Parse<rapidjson::kParseInsituFlag>(stream, builder)) {
    return BindingResult::Error(
        FormatParseFailure(reader.GetParseErrorCode(), reader.GetErrorOffset(), builder.Refusal()));
  }
  builder.Finish();
  return BindingResult(std::move(root));
}

// The reader's working copy of a text, zero-terminated; it decodes strings
// in place inside it. 15 NULs follow the terminating one, for the whitespace
// scan's 16-byte loads.
class InsituText {
 public:
  static constexpr std::size_t kPadding = 16;

  InsituText(const char* data, std::size_t length)
      : mBytes(std::make_unique_for_overwrite<char[]>(length + kPadding)) {
    std::memcpy(mBytes.get(), data, length);
    std::memset(mBytes.get() + length, 0, kPadding);
  }

  [[nodiscard]] char* Data() noexcept { return mBytes.get(); }

 private:
  std::unique_ptr<char[]> mBytes;
};

BindingResult ParseText(const char* data, std::size_t length) {
  // An all-whitespace text is an empty value, not an empty document.
  if (std::all_of(data, data + length, IsJsonWhitespace)) {
    return BindingResult();
  }
  const bool mayDecodeNul =
      std::string_view(data, length).find("\\u0000") != std::string_view::npos;
  InsituText text(data, length);
  detail::JsonTextStream stream(text.Data());
  return ParseStream(stream, mayDecodeNul);
}

}  // namespace

BindingResult ParseJson(const char* text) {
  if (text == nullptr) {
    return BindingResult();
  }
  return ParseText(text, std::strlen(text));
}

BindingResult ParseJson(const char* data, std::size_t length) {
  if (length == 0) {
    return BindingResult();
  }
  // The text ends at its first NUL byte.
  if (const void* nul = std::memchr(data, '\0', length)) {
    length = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
  }
  return ParseText(data, length);
}

BindingResult ParseJson(std::string_view text) {
  return ParseJson(text.data(), text.size());
}

}  // namespace Nalo
