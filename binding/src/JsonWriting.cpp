// Writing JSON: a value tree through RapidJSON's plain and pretty writers,
// and a registered native value straight into the caller's string
// (NativeJsonWriter). Reading is in JsonReading.cpp.

#include "binding/Json.h"

#include "binding/src/RapidJson.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include "binding/Base64.h"
#include "binding/BindingConvert.h"
#include "binding/BindingTypeDescriptor.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/BindingVisitor.h"
#include "binding/detail/BindingConversionRules.h"
#include "binding/detail/NativeJsonWriter.h"
#include "binding/detail/NativeWalk.h"
#include "diagnostics/Fatal.h"
#include "diagnostics/JsonAllocator.h"

namespace Nalo {
namespace {

// ToJson has no error result: a writer call can fail only for a string of
// 4 GiB or more (longer than the writer's 32-bit lengths) or through a bug in
// the visitor, and output missing a value must never be mistaken for JSON.
constexpr std::string_view kWriterRefusedExpression = "JsonWritingVisitor::Complete()";
constexpr std::string_view kWriterRefusedDescription =
    "The JSON writer refused a value; the output would not be the value's JSON.";

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

}  // namespace

std::optional<std::string> WalkToJson(const std::function<bool(BindingVisitor&)>& walk,
                                      const BindingTypeRegistry* registry) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  JsonWritingVisitor<rapidjson::Writer<rapidjson::StringBuffer>> visitor(writer, registry);
  if (!walk(visitor)) {
    return std::nullopt;
  }
  if (!visitor.Complete()) [[unlikely]] {
    FatalWithDescription(kWriterRefusedExpression, kWriterRefusedDescription);
  }
  return std::string(TakeWrittenText(buffer));
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
