#include "binding/Json.h"

// RapidJSON 1.1's internal stack computes `null + size` before its first
// allocation (its capacity check in Stack::Reserve). The pointer is never
// used, but clang's UBSan reports it on every parse; the check is switched
// off for RapidJSON's functions only.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define NALO_JSON_SSE2_WHITESPACE 1
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "binding/Base64.h"
#include "binding/BindingConvert.h"
#include "binding/BindingLimits.h"
#include "binding/BindingTypeDescriptor.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/BindingVisitor.h"
#include "binding/detail/BindingConversionRules.h"
#include "binding/detail/NativeJsonWriter.h"
#include "binding/detail/NativeWalk.h"
#include "binding/detail/TreeBuilding.h"
#include "diagnostics/Fatal.h"
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

// ToJson has no error result: a writer call can fail only for a string of
// 4 GiB or more (longer than the writer's 32-bit lengths) or through a bug in
// the visitor, and output missing a value must never be mistaken for JSON.
constexpr std::string_view kWriterRefusedExpression = "JsonWritingVisitor::Complete()";
constexpr std::string_view kWriterRefusedDescription =
    "The JSON writer refused a value; the output would not be the value's JSON.";

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

// --- Writing. -----------------------------------------------------------------

// Drives one of RapidJSON's writers from a value walk. The writer's calls
// report misuse and unwritable values by returning false; we record that
// instead of ignoring it, and the caller checks Complete() once at the end.
template <class Writer>
class JsonWritingVisitor final : public BindingVisitor {
 public:
  JsonWritingVisitor(Writer& writer, const BindingTypeRegistry* registry) noexcept
      : mWriter(writer), mRegistry(registry) {}

  // True when every call succeeded and exactly one root value was written.
  [[nodiscard]] bool Complete() const { return mAllWritten && mWriter.IsComplete(); }

  void Null() override { Record(mWriter.Null()); }
  void Bool(bool value) override { Record(mWriter.Bool(value)); }
  void Int64(std::int64_t value) override { Record(mWriter.Int64(value)); }
  void Uint64(std::uint64_t value) override { Record(mWriter.Uint64(value)); }
  void Double(double value) override {
    // The writer refuses NaN and infinities (after writing a separator), so
    // they never reach it: null keeps the document valid JSON.
    if (!std::isfinite(value)) {
      Record(mWriter.Null());
      return;
    }
    Record(mWriter.Double(value));
  }
  void String(std::string_view bytes) override { WriteString(bytes); }
  void Blob(std::span<const std::uint8_t> bytes) override { WriteString(EncodeBase64(bytes)); }
  void Enum(std::int32_t value, const BindingTypeDescriptor* descriptor) override {
    if (mRegistry != nullptr && descriptor != nullptr) {
      if (const std::optional<std::string_view> name =
              mRegistry->enumeratorName(*descriptor, value)) {
        WriteString(*name);
        return;
      }
    }
    Record(mWriter.Int64(value));
  }
  void StartArray(std::size_t /*count*/) override { Record(mWriter.StartArray()); }
  void EndArray() override { Record(mWriter.EndArray()); }
  void StartObject(std::size_t /*count*/) override { Record(mWriter.StartObject()); }
  void Key(std::string_view name) override {
    if (!FitsSizeType(name)) {
      mAllWritten = false;
      return;
    }
    Record(mWriter.Key(name.data(), static_cast<rapidjson::SizeType>(name.size())));
  }
  void EndObject() override { Record(mWriter.EndObject()); }

 private:
  static bool FitsSizeType(std::string_view text) noexcept {
    return text.size() <= std::numeric_limits<rapidjson::SizeType>::max();
  }
  void WriteString(std::string_view text) {
    if (!FitsSizeType(text)) {
      mAllWritten = false;
      return;
    }
    Record(mWriter.String(text.data(), static_cast<rapidjson::SizeType>(text.size())));
  }
  void Record(bool written) noexcept { mAllWritten = mAllWritten && written; }

  Writer& mWriter;
  const BindingTypeRegistry* mRegistry;
  bool mAllWritten = true;
};

template <class Writer>
void WriteValue(Writer& writer, const BindingProperty& value, const BindingTypeRegistry* registry) {
  JsonWritingVisitor<Writer> visitor(writer, registry);
  value.accept(visitor);
  if (!visitor.Complete()) [[unlikely]] {
    FatalWithDescription(kWriterRefusedExpression, kWriterRefusedDescription);
  }
}

// Parses `length` bytes holding no NUL.
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

std::string ToJson(const BindingProperty& value, const BindingTypeRegistry* registry,
                   std::string_view lineSeparator) {
  if (value.IsEmpty()) {
    return {};
  }
  rapidjson::StringBuffer buffer;
  if (lineSeparator.empty()) {
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    WriteValue(writer, value, registry);
    return std::string(TakeWrittenText(buffer));
  }
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 4);
  WriteValue(writer, value, registry);
  const std::string_view written = TakeWrittenText(buffer);
  if (lineSeparator == kJsonLineFeed) {
    return std::string(written);
  }
  // Strings escape their own line feeds, so every raw line feed in the output
  // is one the pretty writer put between items.
  std::string text;
  text.reserve(written.size());
  std::size_t start = 0;
  for (std::size_t feed = written.find('\n'); feed != std::string_view::npos;
       feed = written.find('\n', start)) {
    text.append(written.substr(start, feed - start));
    text.append(lineSeparator);
    start = feed + 1;
  }
  text.append(written.substr(start));
  return text;
}

// --- Writing native values. ----------------------------------------------------

namespace detail {

namespace {

// What follows the backslash of each byte's escape, as RapidJSON's writer
// escapes: 'u' for \u00XX, 0 for a byte written as it is.
constexpr std::array<char, 256> kEscapes = [] {
  std::array<char, 256> escapes{};
  for (int byte = 0; byte < 0x20; ++byte) {
    escapes[static_cast<std::size_t>(byte)] = 'u';
  }
  escapes['\b'] = 'b';
  escapes['\t'] = 't';
  escapes['\n'] = 'n';
  escapes['\f'] = 'f';
  escapes['\r'] = 'r';
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  return escapes;
}();

// Whether any of the eight bytes of `word` needs an escape: a control byte,
// a quote or a backslash.
constexpr bool NeedsEscape(std::uint64_t word) noexcept {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  const std::uint64_t quotes = word ^ (kOnes * '"');
  const std::uint64_t backslashes = word ^ (kOnes * '\\');
  const std::uint64_t found = ((word - kOnes * 0x20) & ~word) | ((quotes - kOnes) & ~quotes) |
                              ((backslashes - kOnes) & ~backslashes);
  return (found & kHighs) != 0;
}

}  // namespace

NativeJsonWriter::NativeJsonWriter(const BindingTypeRegistry& registry, std::string& text)
    : mRegistry(registry), mText(text) {
  mText.resize(mText.capacity());
  mCursor = mText.data();
  mEnd = mCursor + mText.size();
}

void NativeJsonWriter::Grow(std::size_t count) {
  const std::size_t used = static_cast<std::size_t>(mCursor - mText.data());
  mText.resize(std::max(mText.size() * 2, used + count + 256));
  mCursor = mText.data() + used;
  mEnd = mText.data() + mText.size();
}

namespace {

// Writes `count` bytes from `in` to `out`, escaping those that need it.
char* EscapeBytes(const char* in, std::size_t count, char* out) noexcept {
  for (const char* stop = in + count; in != stop; ++in) {
    const auto byte = static_cast<unsigned char>(*in);
    const char escape = kEscapes[byte];
    if (escape == 0) {
      *out++ = static_cast<char>(byte);
      continue;
    }
    *out++ = '\\';
    *out++ = escape;
    if (escape == 'u') {
      constexpr char kHexDigits[] = "0123456789ABCDEF";
      *out++ = '0';
      *out++ = '0';
      *out++ = kHexDigits[byte >> 4];
      *out++ = kHexDigits[byte & 0xF];
    }
  }
  return out;
}

}  // namespace

void NativeJsonWriter::WriteQuoted(std::string_view bytes) {
  char* out = mCursor;
  *out++ = '"';
  const char* in = bytes.data();
  std::size_t left = bytes.size();
  // Eight bytes at a time; a run that holds a byte to escape goes byte by
  // byte.
  for (; left >= 8; left -= 8, in += 8) {
    std::uint64_t word;
    std::memcpy(&word, in, sizeof word);
    if (NeedsEscape(word)) [[unlikely]] {
      out = EscapeBytes(in, 8, out);
      continue;
    }
    std::memcpy(out, &word, sizeof word);
    out += 8;
  }
  // The last few bytes, one by one.
  out = EscapeBytes(in, left, out);
  *out++ = '"';
  mCursor = out;
}

void NativeJsonWriter::Int64(std::int64_t value) {
  ValuePrefix(20);
  mCursor = rapidjson::internal::i64toa(value, mCursor);
}

void NativeJsonWriter::Uint64(std::uint64_t value) {
  ValuePrefix(20);
  mCursor = rapidjson::internal::u64toa(value, mCursor);
}

void NativeJsonWriter::Double(double value) {
  // As the tree's writer: NaN and infinities are written as null.
  if (!std::isfinite(value)) {
    Null();
    return;
  }
  ValuePrefix(25);
  mCursor = rapidjson::internal::dtoa(value, mCursor);
}

void NativeJsonWriter::Blob(std::span<const std::uint8_t> bytes) {
  String(EncodeBase64(bytes));
}

void NativeJsonWriter::Enum(std::int32_t value, const BindingTypeDescriptor* descriptor) {
  if (descriptor != nullptr) {
    if (const std::optional<std::string_view> name = mRegistry.enumeratorName(*descriptor, value)) {
      String(*name);
      return;
    }
  }
  Int64(value);
}

void NativeJsonWriter::Value(const BindingProperty& value) {
  switch (value.Kind()) {
    case BindingKind::Empty:
      Null();
      return;
    case BindingKind::Bool:
      Bool(value.BoolValue());
      return;
    case BindingKind::Signed:
      Int64(value.GetSigned(0));
      return;
    case BindingKind::Unsigned:
      Uint64(value.GetUnsigned(0));
      return;
    case BindingKind::Float:
      Double(value.GetFloat(0));
      return;
    case BindingKind::String:
      String(value.StringValue());
      return;
    case BindingKind::Blob:
      Blob(value.BlobValue());
      return;
    case BindingKind::Enum:
      Enum(value.EnumValue(), value.EnumDescriptor());
      return;
    case BindingKind::Collection:
      StartArray();
      for (const BindingProperty& element : value.Elements()) {
        Value(element);
      }
      EndArray();
      return;
    case BindingKind::Structure:
      StartObject();
      for (const auto member : value.Members()) {
        Key(member.name);
        Value(member.value);
      }
      EndObject();
      return;
  }
}

bool NativeJsonWriter::Struct(const void* native, const BindingTypeDescriptor* descriptor) {
  return WriteNativeStruct(*this, native, descriptor);
}

bool NativeJsonWriter::StructThroughTree(const void* native,
                                         const BindingTypeDescriptor* descriptor) {
  const BindingResult converted = toProperty(native, descriptor, mRegistry);
  if (converted.Failed()) {
    return Fail(converted.ErrorMessage());
  }
  Value(converted.Value());
  return true;
}

bool NativeJsonWriter::Fail(std::string_view message) {
  mError.assign(message);
  return false;
}

void NativeJsonWriter::Finish() {
  mText.resize(static_cast<std::size_t>(mCursor - mText.data()));
}

}  // namespace detail

BindingResult BindingFieldConverter::ToJsonText(const void* field,
                                                const BindingTypeDescriptor* descriptor,
                                                const BindingTypeRegistry& registry,
                                                std::string& text) const {
  // An empty root is written as nothing, as ToJson writes an empty value.
  if (Classify(field, descriptor) == NativeValueClass::Empty) {
    text.clear();
    return BindingResult();
  }
  detail::NativeJsonWriter writer(registry, text);
  if (!WriteJson(writer, field, descriptor)) {
    text.clear();
    return BindingResult::Error(writer.Error());
  }
  writer.Finish();
  return BindingResult();
}

}  // namespace Nalo
