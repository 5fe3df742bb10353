#pragma once
// Private to the binding library: the JSON writer behind ToJson of a native
// value (BindingConvert.h), driven by the field converters straight from the
// native record, with no value tree in between. Its output is byte for byte
// what ToJson writes for the tree ToProperty would build: the same
// separators, escapes and number texts as RapidJSON's writer, whose number
// formatting it uses.
//
// It writes into the caller's string, reusing the capacity that string
// already has, and grows it only when a write would not fit; every write
// first reserves the most it can take, then stores without checks.

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace Nalo {
class BindingProperty;
class BindingTypeDescriptor;
class BindingTypeRegistry;
}  // namespace Nalo

namespace Nalo::detail {

class NativeJsonWriter {
 public:
  // Makes the writer's text the only content of `text`, which it clears.
  // `registry` names enumerators and is only read; both must outlive the
  // writer.
  NativeJsonWriter(const BindingTypeRegistry& registry, std::string& text);
  NativeJsonWriter(const NativeJsonWriter&) = delete;
  NativeJsonWriter& operator=(const NativeJsonWriter&) = delete;
  NativeJsonWriter(NativeJsonWriter&&) = delete;
  NativeJsonWriter& operator=(NativeJsonWriter&&) = delete;
  ~NativeJsonWriter() = default;

  [[nodiscard]] const BindingTypeRegistry& Registry() const noexcept { return mRegistry; }

  void Null() {
    ValuePrefix(4);
    Put("null", 4);
  }
  void Bool(bool value) {
    ValuePrefix(5);
    if (value) {
      Put("true", 4);
    } else {
      Put("false", 5);
    }
  }
  void Int64(std::int64_t value);
  void Uint64(std::uint64_t value);
  void Double(double value);
  void String(std::string_view bytes) {
    ValuePrefix(QuotedRoom(bytes));
    WriteQuoted(bytes);
  }
  void Blob(std::span<const std::uint8_t> bytes);
  void Enum(std::int32_t value, const BindingTypeDescriptor* descriptor);
  void StartArray(std::size_t /*count*/ = 0) {
    ValuePrefix(1);
    *mCursor++ = '[';
    mNeedsComma = false;
  }
  void EndArray() { Close(']'); }
  void StartObject(std::size_t /*count*/ = 0) {
    ValuePrefix(1);
    *mCursor++ = '{';
    mNeedsComma = false;
  }
  void Key(std::string_view name) {
    ValuePrefix(QuotedRoom(name) + 1);
    WriteQuoted(name);
    *mCursor++ = ':';
    mNeedsComma = false;
  }
  void EndObject() { Close('}'); }
  // The walk's element and member boundaries: nothing to write.
  void StartElement() noexcept {}
  void EndElement() noexcept {}
  void EndMember() noexcept {}

  // A held value, written as ToJson writes it.
  void Value(const BindingProperty& value);
  // A registered structure, member by member in name order. Fails as the
  // structure conversion does (no descriptor).
  [[nodiscard]] bool Struct(const void* native, const BindingTypeDescriptor* descriptor);
  // A structure through the value tree ToProperty builds (no descriptor, or
  // fields that share a name).
  [[nodiscard]] bool StructThroughTree(const void* native, const BindingTypeDescriptor* descriptor);

  // Records `message` as the failure; returns false.
  bool Fail(std::string_view message);
  [[nodiscard]] const std::string& Error() const noexcept { return mError; }
  // Cuts the text to what was written. The writer must not be used after.
  void Finish();

 private:
  // Room for `count` more bytes, and for the comma before them.
  void Reserve(std::size_t count) {
    if (static_cast<std::size_t>(mEnd - mCursor) < count + 1) [[unlikely]] {
      Grow(count + 1);
    }
  }
  void Grow(std::size_t count);
  void ValuePrefix(std::size_t count) {
    Reserve(count);
    if (mNeedsComma) {
      *mCursor++ = ',';
    }
    mNeedsComma = true;
  }
  void Close(char bracket) {
    Reserve(1);
    *mCursor++ = bracket;
    mNeedsComma = true;
  }
  void Put(const char* bytes, std::size_t count) {
    std::memcpy(mCursor, bytes, count);
    mCursor += count;
  }
  // The most `bytes` take between quotes: every byte escaped as \u00XX.
  static std::size_t QuotedRoom(std::string_view bytes) noexcept { return 2 + 6 * bytes.size(); }
  // `bytes` between quotes, escaped, into room already reserved.
  void WriteQuoted(std::string_view bytes);

  const BindingTypeRegistry& mRegistry;
  std::string& mText;
  char* mCursor = nullptr;
  char* mEnd = nullptr;
  bool mNeedsComma = false;
  std::string mError;
};

}  // namespace Nalo::detail
